/*
 * tmnsmime.h - the S/MIME processing library of the Tarmin suite.
 *
 * A gateway host turns the parts of an e-mail into a signed and/or encrypted
 * S/MIME message with the suite's own X- headers, and back:
 *
 *     MhaContext *ctx;
 *     MHA_create_context(&ctx);                 binds a qzms context
 *     MHA_vcert_init(ctx);                      opens the own certificate
 *     MHA_encode_init(ctx, MHA_ENCRYPT | MHA_SIGN);
 *     MHA_encode_add(ctx, &start); ... MHA_encode_add(ctx, &end);
 *     MHA_encode_final(ctx, &smime);            ... MHA_smime_free(ctx, smime);
 *     MHA_vcert_final(ctx);
 *     MHA_close_context(ctx);
 *
 * Conventions
 *   - Functions return a signed 32-bit status: 0 success, -1 failure, unless
 *     told otherwise. A failure is reported through the common services
 *     (qzcom.h: QZ_ReportEvent, level 1 the failed step, level 3 the code the
 *     host shows) before the function returns; the host shows the reports
 *     with QZ_ShowReports.
 *   - Texts are Windows-1251 and zero-terminated.
 *   - Memory: the texts and buffers a host puts into an MhaObject it hands to
 *     the library are allocated with malloc (the library releases them with
 *     free in MHA_object_free). Everything the library hands out is released
 *     through the library: MHA_smime_free, MHA_object_free, MHA_result_free,
 *     MHA_free, DSS_free_*.
 *   - A context is used by one thread at a time; contexts on different
 *     threads do not share state. No C++ exception leaves the library.
 *   - Settings are read under the product and profile key of the common
 *     services (QZ_GetRegistryKeyString), which the host initialises first.
 *
 * What the protection covers: the message signature covers the raw bytes of
 * every part (attachments, description documents and signature files, in
 * order), not their MIME text; headers outside the parts (X-Confirmation,
 * X-Charset, the rendering positions) are not signed. Enveloped data (GOST
 * 28147-89 in CMS) has no integrity check of its own: an encrypted message
 * that is not also signed can be altered undetected.
 */
#ifndef TARMIN_TMNSMIME_H
#define TARMIN_TMNSMIME_H

#include <stdint.h>

#include "qzms.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TMNSMIME_API __attribute__((visibility("default")))

/* ---- Context -------------------------------------------------------------- */

/* The first members of every context, for the host. The rest is private.
 * AskToContinue is the host's: when non-zero, a failed crypto
 * initialisation in MHA_vcert_init asks the user (QZ_MessageBox) whether to
 * go on without cryptography; the library never sets it. */
typedef struct MhaContextHead {
    CapiContext *CryptoContext;   /* the qzms context */
    int32_t CryptoContextCreated; /* 1 while CryptoContext is open */
    int32_t NotUseSkzi;           /* 1: the mode without cryptography */
    int32_t AskToContinue;        /* set by the host only */
} MhaContextHead;

typedef struct MhaContext MhaContext;

/* The host's view of the context's first members. */
#define MHA_CONTEXT_HEAD(ctx) ((MhaContextHead *)(void *)(ctx))

/* One e-mail address. TypeAddress is "SMTP", "EX" or "NOTES" (any case). */
typedef struct MhaAddress {
    char *TypeAddress;
    char *Name;
    char *Address;
    struct MhaAddress *next;
} MhaAddress;

/* Windows file time: 100-nanosecond intervals since 1601-01-01 UTC. */
typedef struct MHA_FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} MHA_FILETIME;

/* ---- Message objects ------------------------------------------------------ */

#define MHA_OBJ_START 0u
#define MHA_OBJ_END 1u
#define MHA_OBJ_NESTED_START 2u
#define MHA_OBJ_NESTED_END 3u
#define MHA_OBJ_BODY 4u
#define MHA_OBJ_ATTACHMENT 5u
#define MHA_OBJ_FROM 6u
#define MHA_OBJ_TO 7u
#define MHA_OBJ_CC 8u
#define MHA_OBJ_BCC 9u
#define MHA_OBJ_DATE 10u
#define MHA_OBJ_SUBJECT 11u
#define MHA_OBJ_RAW 12u
#define MHA_OBJ_HTML 13u

/* One message object. Each type uses only its own fields; the others stay
 * zero. Owned fields are released by MHA_object_free (types 4 to 9, 11, 13);
 * the raw data of type 12 belongs to the host. */
typedef struct MhaObject {
    uint32_t Type;
    int32_t NestedRenderingPosition;      /* 2 */
    char *Body;                           /* 4, owned */
    uint32_t BodyLength;                  /* 4 */
    uint32_t AttachMethod;                /* 5 */
    int32_t AttachRenderingPosition;      /* 5 */
    char *AttachName;                     /* 5, owned */
    char *AttachContentId;                /* 5, owned, may be empty or null */
    unsigned char *AttachData;            /* 5, owned */
    uint32_t AttachLength;                /* 5 */
    char *FromTypeAddress, *FromName, *FromAddress; /* 6, owned */
    char *ToTypeAddress, *ToName, *ToAddress;       /* 7, owned */
    char *CcTypeAddress, *CcName, *CcAddress;       /* 8, owned */
    char *BccTypeAddress, *BccName, *BccAddress;    /* 9, owned */
    MHA_FILETIME SendDate;                /* 10, UTC */
    char *Subject;                        /* 11, owned */
    const unsigned char *RawData;         /* 12, not owned */
    uint32_t RawLength;                   /* 12 */
    unsigned char *HtmlData;              /* 13, owned */
    uint32_t HtmlLength;                  /* 13 */
} MhaObject;

/* A finished message (encoder output, decoder input). */
typedef struct MhaSmime {
    unsigned char *Data;   /* the message text, owned by the record */
    uint32_t Length;
    char ContentType[128]; /* "multipart/signed", "application/octet-stream" or "" */
    unsigned char Hash[128]; /* encoder: the hash bytes; decoder: the X-Message-Hash text */
    uint32_t HashLength;
} MhaSmime;

/* Encoding flags of MHA_encode_init. */
#define MHA_ENCRYPT 0x1u
#define MHA_SIGN 0x2u
#define MHA_COMPRESS 0x4u          /* accepted; the encoder never compresses */
#define MHA_CONFIRM 0x8u           /* the sender asks for a receipt */
#define MHA_NO_ATTACH_SIGN 0x40u   /* no attached signature file */
#define MHA_PASS_THROUGH 0x80u     /* one ready-made raw message (type 12), only enveloped */
#define MHA_DROP_OUTER_HEADER 0x800u /* with pass-through: from the second "MIME-Version: 1.0" */

/* ---- Decoding results ----------------------------------------------------- */

/* Flags of MHA_decode_init (in and out). */
#define MHD_ENCRYPTED_DATA 0x1u
#define MHD_SIGNED_DATA 0x2u
#define MHD_COMPRESSED_DATA 0x4u
#define MHD_CONFIRM 0x8u
#define MHD_KEEP_RESULT 0x10u         /* keep the result detail, archive incoming attachments */
#define MHD_RETURN_INNER 0x20u        /* hand back the decrypted message */
#define MHD_NO_ATTACH_CHECK 0x100u    /* do not verify attachment signatures */
#define MHD_SKIP_SIGN_FILES 0x200u    /* MHA_decode_extract skips signature files */
#define MHD_NO_MESSAGE_CHECK 0x400u   /* do not verify the message signature */

/* One signer of attachments. */
typedef struct MhaAttachSigner {
    int32_t Status;
    char *SignerName;
    PCCERT_CONTEXT SignerCert;
    struct MhaAttachSigner *next;
} MhaAttachSigner;

/* The outcome of MHA_decode_init. Status values: -1 not encrypted / not
 * signed; decryption 0 done, 1 failed; signature 0 correct, 1 wrong, 2 signer
 * not found, 3 signer's certificate failed its check, 4 verification error. */
typedef struct MhaResult {
    int32_t DecryptStatus;
    char *EncryptorName;
    PCCERT_CONTEXT EncryptorCert;
    int32_t SignStatus;
    char *SignerName;
    PCCERT_CONTEXT SignerCert;
    int64_t CheckValue;
    char *FromText;
    char *ToText;
    char *DateText;
    char *CcText;
    char *Subject;
    MhaAttachSigner *AttachSigners;
    char *ResultDetail;
} MhaResult;

/* ---- Signature files ------------------------------------------------------ */

typedef struct MhaFile {
    unsigned char *Data;
    uint32_t Length;
    char Name[516];
} MhaFile;

/* ---- Signed notes --------------------------------------------------------- */

typedef struct DssBlob {
    unsigned char *pbData;
    uint32_t cbData;
} DssBlob;

typedef struct DssSigner {
    PCCERT_CONTEXT Cert;     /* null when the signer was not identified */
    char *NotesName;         /* null when the certificate has no NOTES name */
    char *Name;              /* "Unknown" when not identified */
    char *AutenName;         /* "" when not identified */
    int64_t SignTime;        /* Windows file time from the signature */
    int32_t Own;             /* 1: the own certificate */
} DssSigner;

typedef struct DssVerification {
    DssSigner Signer;
    int32_t Status;          /* 0 correct .. 4 verification error */
    char *StatusText;
} DssVerification;

/* ---- Context and certificate session -------------------------------------- */

TMNSMIME_API int32_t MHA_create_context(MhaContext **context);
TMNSMIME_API int32_t MHA_close_context(MhaContext *context);
TMNSMIME_API int32_t MHA_set_email_to_context(MhaContext *context, void *email);
/* Open the certificate session. Further arguments are accepted and unused.
 * Returns 0, -1, or the crypto library's own non-zero code of CCA_init. */
TMNSMIME_API int32_t MHA_vcert_init(MhaContext *context, ...);
TMNSMIME_API int32_t MHA_vcert_init_profile(MhaContext *context, ...);
TMNSMIME_API int32_t MHA_vcert_init_ext(MhaContext *context, void *a, void *b, void *c);
TMNSMIME_API int32_t MHA_vcert_final(MhaContext *context);
/* parameters: a record whose first member is followed by three pointer-sized
 * values, handed on to CCA_init_vcert_for_load_key_only. */
TMNSMIME_API int32_t MHA_vcert_init_load_key(void *parameters, ...);
TMNSMIME_API int32_t MHA_vcert_final_load_key(void *parameters, ...);
TMNSMIME_API int32_t MHA_NotUseSkzi(MhaContext *context);
TMNSMIME_API const char *MHA_get_owner(MhaContext *context);
/* 0 when a certificate exists for the address; the type text is turned to
 * upper case in place. */
TMNSMIME_API int32_t MHA_is_cert_by_address(MhaContext *context, MhaAddress *address);
TMNSMIME_API int32_t MHA_vcert_crl_refresh(MhaContext *context);
TMNSMIME_API int32_t MHA_vcert_view_cert(MhaContext *context, PCCERT_CONTEXT cert, ...);
TMNSMIME_API int32_t MHA_CheckExpiringCertKey(void *unused, ...);
TMNSMIME_API int32_t MHA_CheckRAUpdate(void *unused, ...);

TMNSMIME_API int32_t MHA_free(void *memory);
TMNSMIME_API int32_t MHA_smime_free(MhaContext *context, MhaSmime *smime);
TMNSMIME_API int32_t MHA_object_free(MhaContext *context, MhaObject *object);
TMNSMIME_API int32_t MHA_result_free(MhaContext *context, MhaResult *result);

/* ---- Encoding ------------------------------------------------------------- */

TMNSMIME_API int32_t MHA_encode_init(MhaContext *context, uint32_t flags);
/* Adds one object (the object stays the host's). A recipient without a
 * certificate (when encrypting) gives -1 and leaves the message open; any
 * other failure ends the message. */
TMNSMIME_API int32_t MHA_encode_add(MhaContext *context, MhaObject *object);
TMNSMIME_API int32_t MHA_encode_final(MhaContext *context, MhaSmime **smime);
TMNSMIME_API int32_t MHA_encode_free(MhaContext *context);

/* ---- Decoding ------------------------------------------------------------- */

/* Returns 0 (all verified), 1 (a signature did not verify; *result tells
 * why, no objects), 0xE0030011 (format error) or -1. */
TMNSMIME_API int32_t MHA_decode_init(MhaContext *context, MhaSmime *smime, uint32_t *flags, MhaResult **result,
                                     MhaSmime **inner);
TMNSMIME_API int32_t MHA_decode_extract(MhaContext *context, MhaObject **object);
TMNSMIME_API int32_t MHA_decode_final(MhaContext *context);
TMNSMIME_API int32_t MHA_smime_info(MhaContext *context, MhaSmime *smime, uint32_t *flags);
TMNSMIME_API int32_t MHA_get_smime_from_tnef(MhaContext *context, const CapiBlob *tnef, MhaSmime *smime,
                                             uint32_t *flags);

/* ---- Signature files ------------------------------------------------------ */

TMNSMIME_API int32_t MHA_make_tmnsign(MhaContext *context, const MhaFile *files, uint32_t count,
                                      const CapiBlob *existing, MhaFile *out);
TMNSMIME_API int32_t MHA_decode_extract_tmnfile(MhaContext *context, MhaObject **object);

/* ---- Notification texts --------------------------------------------------- */

TMNSMIME_API int32_t MHA_init_text(MhaContext *context);
TMNSMIME_API int32_t MHA_add_to_text(MhaContext *context, MhaObject *object);
TMNSMIME_API int32_t MHA_final_text(MhaContext *context, MhaSmime **text);

/* ---- Signed notes and KOI8-R ---------------------------------------------- */

TMNSMIME_API int32_t DSS_sign_note(MhaContext *context, uint32_t length, const void *data, DssBlob *signature);
TMNSMIME_API int32_t DSS_check_note(MhaContext *context, uint32_t length, const void *data,
                                    const DssBlob *signature, DssVerification **verification);
TMNSMIME_API int32_t DSS_get_signer(MhaContext *context, const DssBlob *signature, DssSigner *signer);
TMNSMIME_API int32_t DSS_get_current_user(MhaContext *context, DssSigner *signer);
TMNSMIME_API int32_t DSS_test_sign_format(MhaContext *context, const DssBlob *signature);
TMNSMIME_API int32_t DSS_free_signature(MhaContext *context, DssBlob *signature);
TMNSMIME_API int32_t DSS_free_signer(MhaContext *context, DssSigner *signer);
TMNSMIME_API int32_t DSS_free_verification(MhaContext *context, DssVerification *verification);
/* output: room for strlen(input) + 1 bytes. */
TMNSMIME_API void DOP_koi8r_to_windows(const char *input, char *output);
TMNSMIME_API void DOP_windows_to_koi8r(const char *input, char *output);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_TMNSMIME_H */
