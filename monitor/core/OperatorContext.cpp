#include "monitor/core/OperatorContext.h"

#include "qzcom.h"

namespace tarmin::monitor {

namespace {

constexpr QZ_DWORD kEventCryptoLibrary = 0xE0030001;
constexpr QZ_DWORD kEventFailedStep = 0xE0030015;
// The opening runs as one function; its first step is named after the
// start-up that calls it.
constexpr const char *kCallerOfCreate = "InitInstance";
constexpr const char *kCaller = "SecurityInit";

const CapiCalls kQzms{
    CCA_create_context, CCA_init,        CCA_get_my_cert, CCA_get_name_cert, CCA_get_text_error, CCA_get_debug_error,
    CCA_free,           CCA_serial_free, CCA_cert_free,   CCA_final,         CCA_close_context,
};

} // namespace

const CapiCalls &qzmsCalls() { return kQzms; }

OperatorContext::OperatorContext(const CapiCalls &calls) : m_calls(calls) {}

OperatorContext::~OperatorContext() { release(); }

int32_t OperatorContext::open() {
    release();
    if (int32_t rc = m_calls.createContext(&m_context); rc != 0) {
        m_context = nullptr;
        return failed(rc, "CCA_create_context", kCallerOfCreate);
    }
    m_stage = kStageCreated;
    if (int32_t rc = m_calls.init(m_context); rc != 0) return failed(rc, "CCA_init", kCaller);
    m_stage = kStageLibrary;
    if (int32_t rc = m_calls.getMyCert(m_context, &m_cert, &m_serial); rc != 0) {
        m_cert = nullptr;
        m_serial = nullptr;
        return failed(rc, "CCA_get_my_cert", kCaller);
    }
    m_stage = kStageOwnCertificate;
    if (int32_t rc = m_calls.getNameCert(m_context, m_cert, &m_subjectName); rc != 0) {
        m_subjectName = nullptr;
        return failed(rc, "CCA_get_name_cert", kCaller);
    }
    m_stage = kStageSubjectName;
    return 0;
}

int32_t OperatorContext::failed(int32_t result, const char *step, const char *caller) {
    // Once created, the context holds the library's account of the failure:
    // the trace text for the details, the operator text for the summary.
    if (m_stage >= kStageCreated) {
        QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventCryptoLibrary, m_calls.getDebugError(m_context));
        QZ_ReportEvent(QZ_LEVEL_SUMMARY, kEventCryptoLibrary, m_calls.getTextError(m_context));
    }
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventFailedStep, step, caller);
    return result;
}

void OperatorContext::release() {
    if (m_stage >= kStageSubjectName) m_calls.freeText(m_context, m_subjectName);
    if (m_stage >= kStageOwnCertificate) {
        m_calls.serialFree(m_context, m_serial);
        m_calls.certFree(m_context, m_cert);
    }
    if (m_stage >= kStageLibrary) m_calls.finalize(m_context);
    if (m_stage >= kStageCreated) m_calls.closeContext(m_context);
    m_subjectName = nullptr;
    m_serial = nullptr;
    m_cert = nullptr;
    m_context = nullptr;
    m_stage = kStageClosed;
}

} // namespace tarmin::monitor
