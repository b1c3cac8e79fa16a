// The operator's cryptographic context: a qzms context initialised with the
// operator's own certificate, that certificate with its issuer-and-serial
// record, and its subject name. The application opens one at start-up when
// ProtectionFlags asks for it; the signing and distribution wizards open one
// of their own the same way when there is none.
#pragma once

#include "qzms.h"

#include <cstdint>

namespace tarmin::monitor {

// The qzms functions that opening and releasing call. qzmsCalls() gives the
// library's own; tests pass recording ones.
struct CapiCalls {
    int32_t (*createContext)(CapiContext **ctx);
    int32_t (*init)(CapiContext *ctx);
    int32_t (*getMyCert)(CapiContext *ctx, PCCERT_CONTEXT *cert, SignerSerial **serial);
    int32_t (*getNameCert)(CapiContext *ctx, PCCERT_CONTEXT cert, char **name);
    const char *(*getTextError)(CapiContext *ctx);
    const char *(*getDebugError)(CapiContext *ctx);
    int32_t (*freeText)(CapiContext *ctx, void *p);
    int32_t (*serialFree)(CapiContext *ctx, SignerSerial *serial);
    int32_t (*certFree)(CapiContext *ctx, PCCERT_CONTEXT cert);
    int32_t (*finalize)(CapiContext *ctx);
    int32_t (*closeContext)(CapiContext *ctx);
};
const CapiCalls &qzmsCalls();

class OperatorContext {
public:
    // How far the context is open; the values continue the application's
    // initialisation stages (1: common services initialised, nothing opened).
    static constexpr int kStageClosed = 1;
    static constexpr int kStageCreated = 2;          // CCA_create_context
    static constexpr int kStageLibrary = 3;          // CCA_init
    static constexpr int kStageOwnCertificate = 4;   // CCA_get_my_cert
    static constexpr int kStageSubjectName = 5;      // CCA_get_name_cert

    explicit OperatorContext(const CapiCalls &calls = qzmsCalls());
    ~OperatorContext();
    OperatorContext(const OperatorContext &) = delete;
    OperatorContext &operator=(const OperatorContext &) = delete;

    // Creates the context, initialises the library, takes the own certificate
    // and its subject name, in this order, stopping at the first step that
    // fails. A failure is reported as events (the library's trace and
    // operator texts, then the failed step) and its result returned; the
    // stage stays at the last step reached. 0 when all four succeeded.
    // A context already open is released first.
    int32_t open();
    // Undoes exactly the steps that the stage shows, last first; the stage
    // becomes kStageClosed.
    void release();

    int stage() const { return m_stage; }
    bool isOpen() const { return m_stage == kStageSubjectName; }
    CapiContext *handle() const { return m_context; }
    PCCERT_CONTEXT certificate() const { return m_cert; }
    SignerSerial *serial() const { return m_serial; }
    // The own certificate's subject name (Windows-1251); null below stage 5.
    const char *subjectName() const { return m_subjectName; }

private:
    int32_t failed(int32_t result, const char *step, const char *caller);

    const CapiCalls &m_calls;
    int m_stage = kStageClosed;
    CapiContext *m_context = nullptr;
    PCCERT_CONTEXT m_cert = nullptr;
    SignerSerial *m_serial = nullptr;
    char *m_subjectName = nullptr;
};

} // namespace tarmin::monitor
