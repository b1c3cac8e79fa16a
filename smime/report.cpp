#include "smime/report.h"

namespace tarmin::smime {

void trace(const char *step, const char *function) { QZ_ReportEvent(QZ_LEVEL_DETAIL, kTrace, step, function); }

void note_trace(const char *step, const char *function) {
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kNoteTrace, step, function);
}

void report_system_error(int error) {
    if (error > 0) QZ_ReportEvent(QZ_LEVEL_DETAIL, static_cast<QZ_DWORD>(error));
}

static void report_crypto_texts(CapiContext *crypto) {
    QZ_ReportEvent(QZ_LEVEL_SUMMARY, kCryptoError, CCA_get_text_error(crypto));
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kCryptoError, CCA_get_debug_error(crypto));
}

void report_crypto(CapiContext *crypto, const char *step, const char *function) {
    report_crypto_texts(crypto);
    trace(step, function);
}

void report_crypto_note(CapiContext *crypto, const char *step, const char *function) {
    report_crypto_texts(crypto);
    note_trace(step, function);
}

void report_no_memory(const char *step, const char *function) {
    trace(step, function);
    report(kNoMemory);
}

} // namespace tarmin::smime
