// Reporting of the library: every failure goes to the common services, level 1
// for the failed step (trace 0xE0030015 with the step and the function), level 3
// for the code the host shows, as the codes below.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "include/qzcom.h"
#include "include/qzms.h"

namespace tarmin::smime {

enum Code : QZ_DWORD {
    kCryptoError = 0xE0030001,
    kNoMemory = 0xE0030002,
    kCreateFile = 0xE0030003,
    kWriteTemp = 0xE0030004,
    kFileTime = 0xE0030005,
    kTempSize = 0xE0030006,
    kReadTemp = 0xE0030007,
    kCloseTemp = 0xE0030008,
    kCompress = 0xE0030009,
    kDecompress = 0xE003000A,
    kReadDword = 0xE003000B,
    kAddressType = 0xE003000C,
    kWriteFile = 0xE003000D,
    kCloseFile = 0xE003000E,
    kReadSetting = 0xE003000F,
    kCreateDirectory = 0xE0030010,
    kFormat = 0xE0030011,
    kTrace = 0xE0030015,
    kSignLength = 0xE0030016,
    kCryptLength = 0xE0030017,
    kAttachLength = 0xE0030018,
    kNoRecipients = 0xE0030019,
    kRegistryKey = 0xE003001A,
    kUnsigned = 0xE003001E,
    kAddressNotInCert = 0xE003001F,
    kAddressHeader = 0xE0030021,
    kSignatureFailed = 0xE0030026,
    kNoCrypto = 0xE0030027,
    kNoteNoMemory = 0xE00B0001,
    kNoteTrace = 0xE00B0003,
};

// The value -1 of the statuses, as the unsigned code some returns carry.
constexpr int32_t kFailed = -1;

// Level 1: the failed step and the function in which it failed.
void trace(const char *step, const char *function);
inline void trace(const std::string &step, const char *function) { trace(step.c_str(), function); }
// The same for the signed-note functions (0xE00B0003).
void note_trace(const char *step, const char *function);
// Level 3 with the code's arguments (see common/event_texts.h for their types).
template <class... Args> void report(QZ_DWORD code, Args... args) { QZ_ReportEvent(QZ_LEVEL_SUMMARY, code, args...); }
// A system error number (errno) at level 1, before the step that failed.
void report_system_error(int error);
// A crypto library failure: 0xE0030001 at level 3 with the operator text and
// at level 1 with the trace text, then the trace of the step.
void report_crypto(CapiContext *crypto, const char *step, const char *function);
void report_crypto_note(CapiContext *crypto, const char *step, const char *function);
// Memory exhausted in a step: the trace, then 0xE0030002.
void report_no_memory(const char *step, const char *function);

// Runs the body of an exported function: no exception leaves it; exhausted
// memory is reported, anything else is a failure with a trace.
template <class F> int32_t guarded(const char *function, F &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        try {
            report_no_memory("malloc", function);
        } catch (...) {
        }
        return kFailed;
    } catch (...) {
        try {
            trace("exception", function);
        } catch (...) {
        }
        return kFailed;
    }
}

} // namespace tarmin::smime
