/*
 * qzms.h - the CryptoAPI interface library of the Tarmin suite (GOST).
 *
 * A caller creates a context, optionally sets flags, initialises it (which
 * opens the personal store "MY", selects the own certificate, loads its
 * private key, fixes the algorithms and proves the key with a test
 * signature), then signs, checks, hashes and looks up certificates with it,
 * and finally releases it:
 *
 *     CapiContext *ctx;
 *     CCA_create_context(&ctx);
 *     if (CCA_init(ctx) != 0) { report CCA_get_text_error(ctx); ... }
 *     CCA_sign_mem_sep(ctx, &data, NULL, &sig);  ...  CCA_free(ctx, sig.pbData);
 *     CCA_final(ctx);
 *     CCA_close_context(ctx);
 *
 * Conventions
 *   - Every function returns a signed 32-bit status: 0 success, -1 failure,
 *     unless told otherwise. After a failure the context keeps the error:
 *     CCA_get_code_error, CCA_get_text_error (operator text) and
 *     CCA_get_debug_error (trace text). A successful call does not clear it.
 *   - Output parameters are set to empty at entry; on failure nothing is
 *     handed out.
 *   - Everything the library hands out is released through it: blocks and
 *     texts with CCA_free, certificates with CCA_cert_free, issuer-and-serial
 *     records with CCA_serial_free.
 *   - Output blocks have 8 zero bytes after their length, so texts are
 *     zero-terminated. Texts are Windows-1251.
 *   - A context is used by one thread at a time; different contexts may be
 *     used in parallel. No C++ exception leaves the library.
 *
 * Provider and stores: OpenSSL 3 with the GOST engine, certificate stores
 * under $TARMIN_HOME/certstores (see tools/tmncert for managing them).
 *
 * What the formats do NOT protect (do not rely on them for these):
 *   - Session blobs (CCA_get_session / CCA_put_session) are wrapped under a
 *     key that every copy of this library derives from a constant built into
 *     it. Anyone with the library, or with this header and the constant,
 *     unwraps them: a session blob IS the plaintext key. Keep it as secret
 *     as the key, never store or send it unprotected, and release it with
 *     CCA_free (which wipes it).
 *   - File and session containers (CCA_encrypt_file, CCA_encrypt_session)
 *     carry a 4-byte MAC (the GOST 28147-89 imitation insert) of the
 *     plaintext only. It does not cover the plaintext's length: the MAC pads
 *     with zero bytes, so plaintexts that differ only in trailing zero bytes
 *     within the last 8-byte block have the same MAC, and a cut container
 *     may open. It does not cover the vector or the length fields either,
 *     and 32 bits leave one chance in 2^32 to an altered container. Store
 *     the length apart, or sign the data, where that matters.
 *   - Enveloped data (CCA_encrypt_mem) has no integrity check at all: the
 *     content cipher (GOST 28147-89 in CFB mode) is malleable, so a changed
 *     ciphertext bit changes the same plaintext bit (and garbles the block
 *     after it) and CCA_decrypt_mem still succeeds. Nor does it name or
 *     authenticate a sender (CCA_sender_encrypted_data). Sign the content
 *     (CCA_sign_mem_sep) before encrypting it, and check the signature after
 *     decrypting, to know that it is unchanged and who sent it.
 */
#ifndef TARMIN_QZMS_H
#define TARMIN_QZMS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QZMS_API __attribute__((visibility("default")))

/* A data block: pointer, then length. */
typedef struct CapiBlob {
    unsigned char *pbData;
    uint32_t cbData;
} CapiBlob;

/* A byte blob of the certificate structures: length, then pointer. */
typedef struct CRYPT_DATA_BLOB {
    uint32_t cbData;
    unsigned char *pbData;
} CRYPT_INTEGER_BLOB, CERT_NAME_BLOB;

typedef struct QZMS_FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} QZMS_FILETIME;

/* The parts of a certificate that callers read. SerialNumber holds the
 * serial's bytes least significant first; Issuer and Subject are DER names. */
typedef struct CERT_INFO {
    uint32_t dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CERT_NAME_BLOB Issuer;
    QZMS_FILETIME NotBefore;
    QZMS_FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
} CERT_INFO;

/* An issuer-and-serial record: a CERT_INFO, all zero but SerialNumber and
 * Issuer (private copies). Released with CCA_serial_free. */
typedef CERT_INFO SignerSerial;

/* A certificate reference; owned by the receiver, released with CCA_cert_free. */
typedef struct CERT_CONTEXT {
    uint32_t dwCertEncodingType; /* X509_ASN_ENCODING | PKCS_7_ASN_ENCODING */
    unsigned char *pbCertEncoded; /* DER */
    uint32_t cbCertEncoded;
    CERT_INFO *pCertInfo;
    void *hCertStore; /* always null */
} CERT_CONTEXT;
typedef const CERT_CONTEXT *PCCERT_CONTEXT;

/* The opaque context. */
typedef struct CapiContext CapiContext;

/* Result of a signature check. */
#define CCD_CORRECT 0
typedef struct CheckResult {
    int32_t Status;          /* CCD_CORRECT when correct; 4 until then */
    PCCERT_CONTEXT SignerCert; /* owned by the caller (CCA_cert_free) */
    int64_t SignTime;        /* seconds since 1970-01-01 UTC */
} CheckResult;

/* Flags of CCA_set_flag. */
#define CCA_FLAG_INCLUDE_CERT 0x01u  /* signatures carry the signer's certificate */
#define CCA_FLAG_ADDRESS_BOOK 0x02u  /* CCA_put_cert also stores new certificates in "AddressBook" */
#define CCA_FLAG_COLLECT_ALL 0x08u   /* searches collect up to 64 matches (always set) */
#define CCA_FLAG_VERIFY_ONLY 0x10u   /* CCA_init loads no own certificate or key */

/* Flags of CCA_test_check_signature. */
#define CCD_NOT_CERT 0x01u   /* no certificate given: fails with 0x404E */
#define CCD_CHECK_ONLY 0x02u /* no protocol */
#define CCD_SHORT_DUMP 0x04u /* the document's middle lines dumped as dots */

/* Address types of CCA_find_cert_by_address. */
#define CCA_ADDRESS_EX 0u
#define CCA_ADDRESS_SMTP 1u
#define CCA_ADDRESS_NOTES 2u

#define CCA_MAX_CERTS 64

/* ---- Context (creation, initialisation, release) ----------------------- */

/* Sets *ctx to null, then to a new zero-filled context. -1 when memory is
 * exhausted. */
QZMS_API int32_t CCA_create_context(CapiContext **ctx);
/* Flags = flags | CCA_FLAG_COLLECT_ALL. Returns 0 (-1 for a null context). */
QZMS_API int32_t CCA_set_flag(CapiContext *ctx, uint32_t flags);
/* Keeps a value for the caller; the library never reads it. */
QZMS_API void CCA_set_email_to_context(CapiContext *ctx, void *value);
/* Initialises the context. 0 success; 4 the personal store cannot be opened
 * or the own certificate is not found or not chosen (the operator chooses it
 * in a list prompt when none is remembered, and the choice is remembered in
 * the settings under the product key + "\SKZIpath"); 1 the private key cannot
 * be loaded; -1 any other failure. A failed call leaves the context as it
 * was after creation. With CCA_FLAG_VERIFY_ONLY only the in-memory store of
 * learned certificates is opened. */
QZMS_API int32_t CCA_init(CapiContext *ctx);
/* A new reference to the own certificate and its issuer-and-serial record.
 * 0x4059 when the context has no own certificate. */
QZMS_API int32_t CCA_get_my_cert(CapiContext *ctx, PCCERT_CONTEXT *cert, SignerSerial **serial);
/* Releases what CCA_init acquired; harmless twice or before CCA_init. Returns 0. */
QZMS_API int32_t CCA_final(CapiContext *ctx);
/* Frees the context (null allowed); call CCA_final first. Returns 0. */
QZMS_API int32_t CCA_close_context(CapiContext *ctx);
/* Release functions (null allowed); return 0. A certificate reference is
 * checked against the references the library handed out before anything is
 * read through it: a released one (or one the library did not make) is
 * refused by every function, and releasing it again does nothing. */
QZMS_API int32_t CCA_free(CapiContext *ctx, void *p);
QZMS_API int32_t CCA_cert_free(CapiContext *ctx, PCCERT_CONTEXT cert);
QZMS_API int32_t CCA_serial_free(CapiContext *ctx, SignerSerial *serial);
/* Session control of other tool kits: do nothing, return 0. */
QZMS_API int32_t CCA_init_vcert_for_load_key_only(void *params);
QZMS_API int32_t CCA_final_vcert_for_load_key_only(void *params);
QZMS_API int32_t CCA_ctrl_session(void *params);

/* Lets the operator choose the own certificate from "MY" (the remembered one
 * preselected) and remembers the choice. 1 when chosen and remembered, else 0. */
QZMS_API int QZMS_SetMyCert(void);

/* ---- Signing, verification, hashing ------------------------------------ */

/* Detached signature of data with cert (null: the own certificate). The
 * signature carries the signing time; the hash follows the key's generation
 * (GOST R 34.11-2012 for 2012 keys, 34.11-94 otherwise). */
QZMS_API int32_t CCA_sign_mem_sep(CapiContext *ctx, const CapiBlob *data, PCCERT_CONTEXT cert, CapiBlob *signature);
/* Checks a detached signature against the given certificate. The signing
 * time must be present (0x4021). */
QZMS_API int32_t CCA_check_mem_sep(CapiContext *ctx, const CapiBlob *data, const CapiBlob *signature,
                                   PCCERT_CONTEXT cert, CheckResult *result);
/* Checks a signed message holding its content and hands the content out. */
QZMS_API int32_t CCA_check_mem_attach(CapiContext *ctx, const CapiBlob *message, CapiBlob *content,
                                      PCCERT_CONTEXT cert, CheckResult *result);
/* Reads the signer and the signing time (a FILETIME in UTC in a 64-bit slot)
 * of a detached signature without checking it; carried certificates are
 * learned (CCA_put_cert). 0x4023 when it has not exactly one signer. */
QZMS_API int32_t CCA_sender_signed_data(CapiContext *ctx, const CapiBlob *signature, SignerSerial **serial,
                                        int64_t *sign_time);
QZMS_API int32_t CCA_sender_signed_data_attach(CapiContext *ctx, const CapiBlob *message, SignerSerial **serial,
                                               int64_t *sign_time);
/* Hash of data with the context's hash algorithm (GOST R 34.11-94); empty
 * data gives 32 zero bytes. */
QZMS_API int32_t CCA_hash_mem(CapiContext *ctx, const CapiBlob *data, CapiBlob *hash);
/* Fills buffer with length random bytes. */
QZMS_API int32_t CCA_get_random(CapiContext *ctx, uint32_t length, void *buffer);
/* Checks a detached signature with a DER certificate, without a context, and
 * writes the readable protocol (unless CCD_CHECK_ONLY). Returns 0 when the
 * signature is correct, else the error code; then *text gets the operator
 * text (CCA_free(NULL, *text)). */
QZMS_API int32_t CCA_test_check_signature(uint32_t flags, const CapiBlob *document, const CapiBlob *signature,
                                          const CapiBlob *certificate, CapiBlob *protocol, char **text);

/* ---- Certificate lookup, information, CRL ------------------------------ */

QZMS_API int32_t CCA_find_cert_by_serial(CapiContext *ctx, uint32_t unused, const SignerSerial *serial,
                                         PCCERT_CONTEXT *cert);
/* Certificates for an address (type CCA_ADDRESS_*), at most CCA_MAX_CERTS
 * into certs, their number into *count. Redirections and aliases of the
 * installation's "extadr.cfg" and forwarding addresses are followed. */
QZMS_API int32_t CCA_find_cert_by_address(CapiContext *ctx, uint32_t unused, uint32_t type, const char *address,
                                          PCCERT_CONTEXT *certs, uint32_t *count);
QZMS_API int32_t CCA_is_address_in_cert(CapiContext *ctx, const char *email, PCCERT_CONTEXT cert, int32_t *flag);
QZMS_API int32_t CCA_get_name_cert(CapiContext *ctx, PCCERT_CONTEXT cert, char **name);
QZMS_API int32_t CCA_get_auten_name(CapiContext *ctx, PCCERT_CONTEXT cert, char **name, int32_t *flag);
QZMS_API int32_t CCA_get_cert(CapiContext *ctx, PCCERT_CONTEXT cert, unsigned char **der, uint32_t *length);
/* Makes a certificate from DER, checks its chain and revocation, learns it. */
QZMS_API int32_t CCA_put_cert(CapiContext *ctx, const unsigned char *der, uint32_t length, PCCERT_CONTEXT *cert);
/* *result 0 when both records name the same issuer and serial, else 1. */
QZMS_API int32_t CCA_compare_serial(CapiContext *ctx, const SignerSerial *a, const SignerSerial *b, int32_t *result);
/* Forgets the own certificate and the learned certificates that a
 * revocation list of any store names. */
QZMS_API int32_t CCA_update_crl(CapiContext *ctx);
/* Viewers (dialogs of the crypto UI library). */
QZMS_API int32_t CCA_view_cert(CapiContext *ctx, PCCERT_CONTEXT cert);
QZMS_API int32_t CCA_show_cert(CapiContext *ctx, const unsigned char *der, uint32_t length);
QZMS_API int32_t CCA_show_crl(CapiContext *ctx, const unsigned char *der, uint32_t length);
/* Not supported: records 0x404C and returns -1. */
QZMS_API int32_t CCA_struct_cert(CapiContext *ctx);

/* ---- Errors ------------------------------------------------------------ */

/* The last error code of the context; -1 for a null context. */
QZMS_API int32_t CCA_get_code_error(CapiContext *ctx);
/* The operator text / trace text of the last error (into the context; valid
 * until the next failure or closing); "" for a null context. */
QZMS_API const char *CCA_get_text_error(CapiContext *ctx);
QZMS_API const char *CCA_get_debug_error(CapiContext *ctx);

/* ---- Encryption and decryption ----------------------------------------- */

/* A session key of the provider: GOST 28147-89 with its vector (KP_IV).
 * Owned by the caller and released with CCA_session_free; it ends at the
 * latest with CCA_final of the context it was made on, after which the
 * handle is refused (and freeing it again is harmless). A handle is an
 * opaque number, not an address, and no number is handed out twice in a
 * process: a freed handle never names another key. */
typedef struct CapiKey *HCRYPTKEY;

/* Enveloped data (PKCS #7, DER) of data for the recipients, content
 * encryption GOST 28147-89 ("1.2.643.2.2.21"), without any integrity check:
 * sign what must arrive unchanged (see the top of this header). The own
 * certificate (null:
 * the context's) and every recipient must be valid now and allow encipherment
 * or key agreement (0x4057 otherwise) before anything is encrypted; the own
 * certificate is not a recipient unless it is listed. */
QZMS_API int32_t CCA_encrypt_mem(CapiContext *ctx, const CapiBlob *data, PCCERT_CONTEXT own,
                                 const PCCERT_CONTEXT *recipients, uint32_t count, CapiBlob *enveloped);
/* The content of enveloped data, opened with the private key of cert (null:
 * the own certificate), found in "MY". The fourth argument is not used. */
QZMS_API int32_t CCA_decrypt_mem(CapiContext *ctx, const CapiBlob *enveloped, PCCERT_CONTEXT cert,
                                 PCCERT_CONTEXT unused, CapiBlob *content);
/* 0 when the issuer-and-serial record names a recipient of the enveloped
 * data; 0x4030 when it has no recipients, 0x4031 when it is not one of them. */
QZMS_API int32_t CCA_is_recipient_encrypted_data(CapiContext *ctx, const CapiBlob *enveloped,
                                                 const SignerSerial *serial);
/* Enveloped data names no sender: *serial = null, returns 0. */
QZMS_API int32_t CCA_sender_encrypted_data(CapiContext *ctx, const CapiBlob *enveloped, SignerSerial **serial);
/* File container of data: ciphertext under a fresh session key, that key
 * wrapped under key (a SIMPLEBLOB, see below), the vector, the MAC of the
 * plaintext (which does not cover its length, see the top of this header). key becomes a key-export key (KP_ALGID 0x661F). Empty data is
 * refused (0x4041): its container could not be opened. */
QZMS_API int32_t CCA_encrypt_file(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY key, CapiBlob *container);
/* The plaintext of a file container made with the same key. 0x4044 for a
 * container of the wrong shape, 0x403D when the wrapped key does not open
 * under key, 0x4043 when the MAC does not match; no plaintext then. */
QZMS_API int32_t CCA_decrypt_file(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY key, CapiBlob *data);

/*
 * File container, all lengths unsigned 32-bit little-endian, read from the end:
 *     ciphertext (>= 1 byte) | wrapped key (K <= 1024) | K | vector (V <= 256) | V |
 *     MAC (M <= 256) | M
 * The wrapped key is a SIMPLEBLOB of 71 bytes: 01 20 00 00, 0x661E, magic
 * 0x374A51FD, 0x661E, UKM (8), the key wrapped with the CryptoPro key wrap of
 * RFC 4357 (32), its MAC (4), DER of the parameter set 1.2.643.2.2.31.1 (11).
 * Vectors are 8 bytes, MACs 4 bytes (the GOST 28147-89 imitation insert).
 */

/* ---- Session keys ------------------------------------------------------ */

/* A fresh exportable session key. */
QZMS_API int32_t CCA_create_session(CapiContext *ctx, HCRYPTKEY *key);
/* Destroys a session key unless it is null or the context's file key.
 * Returns 0. */
QZMS_API int32_t CCA_session_free(CapiContext *ctx, HCRYPTKEY key);
/* The session blob of key: V (4 bytes, little-endian), the vector (V bytes),
 * the key exported as a SIMPLEBLOB under the session-wrapping key that every
 * party derives from the library's constant. Freed with CCA_free. The
 * wrapping key is the same in every copy of the library: treat the blob as
 * the plaintext key (see the top of this header). */
QZMS_API int32_t CCA_get_session(CapiContext *ctx, HCRYPTKEY key, unsigned char **blob, uint32_t *length);
/* The session key of a session blob (0x403F for a blob whose vector length
 * does not fit, 0x403D when the key does not unwrap). */
QZMS_API int32_t CCA_put_session(CapiContext *ctx, const unsigned char *blob, uint32_t length, HCRYPTKEY *key);
/* A new key derived from the hash of both keys' values (the order matters),
 * with key1's vector. */
QZMS_API int32_t CCA_xor_session(CapiContext *ctx, HCRYPTKEY key1, HCRYPTKEY key2, HCRYPTKEY *key);
/* Session container of data under key: ciphertext (>= 1 byte) | vector (V) |
 * V | MAC (M) | M, lengths 32-bit little-endian. Every container gets a
 * fresh vector; the key's own vector is left as it is. Empty data is refused
 * (0x4041). The fourth argument is not used. The MAC covers the plaintext
 * but not its length (see the top of this header). */
QZMS_API int32_t CCA_encrypt_session(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY key, void *unused,
                                     CapiBlob *container);
/* The plaintext of a session container, decrypted with the container's
 * vector; the key itself is left as it is. 0x4044 wrong shape, 0x4043 MAC
 * mismatch; no plaintext then. */
QZMS_API int32_t CCA_decrypt_session(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY key, void *unused,
                                     CapiBlob *data);
/* The context's file key (not a copy: CCA_session_free leaves it alone);
 * 0x4045 when the context has none. */
QZMS_API int32_t CCA_file_session(CapiContext *ctx, HCRYPTKEY *key);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_QZMS_H */
