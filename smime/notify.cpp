// Notification texts: the fixed Russian frame of the notice that the gateway
// sends when the cryptographic processing of a received message failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/codepage.h"
#include "smime/certs.h"
#include "smime/context.h"
#include "smime/hooks.h"
#include "smime/mime_text.h"
#include "smime/report.h"

using namespace tarmin::cp::literals;
using namespace tarmin::smime;

namespace tarmin::smime {

void release_notify(MhaContext *ctx) {
    NotifyState &n = st(ctx).notify;
    n.text.release();
    n.to_started = n.cc_started = false;
}

// "Sun, 5 Jan 2025 10:01:02 +0300": the broken-down time tm and the offset
// from UTC of the local zone at that local time (daylight saving included).
std::string local_date_text(const std::tm &tm, long offset_seconds) {
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long minutes = (offset_seconds < 0 ? -offset_seconds : offset_seconds) / 60;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %s%02ld%02ld", kDays[tm.tm_wday % 7], tm.tm_mday,
                  kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  offset_seconds >= 0 ? "+" : "-", minutes / 60, minutes % 60);
    return buf;
}

// The offset of the local zone for a local wall-clock time.
long local_offset_at(std::tm wall) {
    wall.tm_isdst = -1;
    std::time_t t = mktime(&wall);
    std::tm local{};
    if (t == static_cast<std::time_t>(-1) || !localtime_r(&t, &local)) return 0;
    return local.tm_gmtoff;
}

} // namespace tarmin::smime

namespace {

constexpr const char *kInit = "MHA_init_text";
constexpr const char *kAddText = "MHA_add_to_text";
constexpr const char *kFinalText = "MHA_final_text";

int32_t fail_text(MhaContext *ctx, const char *step, const char *function) {
    trace(step, function);
    release_notify(ctx);
    return kFailed;
}

// The address part: the address alone for SMTP, else "TYPE:address"; the
// caller's type text is upper-cased in place.
std::string address_part(char *type, const char *address) {
    std::string t;
    if (type) {
        t = tarmin::cp::upper_1251(type);
        store_upper_type(type, t);
    }
    std::string a = address ? address : "";
    return t == "SMTP" ? a : t + ":" + a;
}

bool date_line(const MhaObject *o, std::string &line) {
    const uint64_t ft = (uint64_t(o->SendDate.dwHighDateTime) << 32) | o->SendDate.dwLowDateTime;
    if (ft >> 63) return false;
    // The file time is printed as it stands: its value read as a wall-clock time.
    std::time_t t = filetime_to_time(ft);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return false;
    line = "Дата отправления: "_w + local_date_text(tm, local_offset_at(tm)) + "\r\n";
    return true;
}

} // namespace

extern "C" {

int32_t MHA_init_text(MhaContext *ctx) {
    if (!ctx) return kFailed;
    return guarded(kInit, [&]() -> int32_t {
        release_notify(ctx);
        NotifyState &n = st(ctx).notify;
        if (!n.text.create("TMT", kInit, crypto(ctx))) return fail_text(ctx, "create_tempfile", kInit);
        std::time_t now = current_time();
        std::tm tm{};
        localtime_r(&now, &tm);
        std::string head = "Уведомление системы PKI\r\n"_w;
        head += "Дата отправления уведомления: "_w + local_date_text(tm, tm.tm_gmtoff) + "\r\n";
        head += "\r\nУведомление отправлено на следующее сообщение:\r\n"_w;
        if (!n.text.write(head)) return fail_text(ctx, "write_string_to_tempfile", kInit);
        return 0;
    });
}

int32_t MHA_add_to_text(MhaContext *ctx, MhaObject *o) {
    if (!ctx) return kFailed;
    return guarded(kAddText, [&]() -> int32_t {
        NotifyState &n = st(ctx).notify;
        if (!n.text.is_open()) {
            trace("MHA_init_text", kAddText);
            return kFailed;
        }
        if (!o) return fail_text(ctx, "object == NULL", kAddText);
        std::string line;
        switch (o->Type) {
        case MHA_OBJ_FROM:
            line = "Отправитель: "_w + std::string(o->FromName ? o->FromName : "") + " <" +
                   address_part(o->FromTypeAddress, o->FromAddress) + ">\r\n";
            break;
        case MHA_OBJ_TO:
            line = (n.to_started ? ", " : "Получатель: "_w) + std::string(o->ToName ? o->ToName : "") + " <" +
                   address_part(o->ToTypeAddress, o->ToAddress) + ">\r\n";
            n.to_started = true;
            break;
        case MHA_OBJ_CC:
            line = (n.cc_started ? ", " : "Копия: "_w) + std::string(o->CcName ? o->CcName : "") + " <" +
                   address_part(o->CcTypeAddress, o->CcAddress) + ">\r\n";
            n.cc_started = true;
            break;
        case MHA_OBJ_DATE:
            if (!date_line(o, line)) {
                trace("FileTimeToSystemTime", "convert_local_time");
                report(kFileTime);
                return fail_text(ctx, "convert_local_time", kAddText);
            }
            break;
        case MHA_OBJ_SUBJECT: line = "Тема: "_w + std::string(o->Subject ? o->Subject : "") + "\r\n"; break;
        default: return 0;
        }
        if (!n.text.write(line)) return fail_text(ctx, "write_string_to_tempfile", kAddText);
        return 0;
    });
}

int32_t MHA_final_text(MhaContext *ctx, MhaSmime **out) {
    if (out) *out = nullptr;
    if (!ctx) return kFailed;
    return guarded(kFinalText, [&]() -> int32_t {
        NotifyState &n = st(ctx).notify;
        if (!n.text.is_open()) {
            trace("MHA_init_text", kFinalText);
            return kFailed;
        }
        if (!out) return fail_text(ctx, "out == NULL", kFinalText);
        if (!n.text.write("\r\nПри выполнении криптографической обработки данного почтового сообщения\r\n"
                          "произошла следующая ошибка:\r\n"_w))
            return fail_text(ctx, "write_string_to_tempfile", kFinalText);
        unsigned char *data = nullptr;
        uint32_t length = 0;
        if (!n.text.read_back(data, length)) return fail_text(ctx, "save_tempfile", kFinalText);
        if (!n.text.close()) {
            std::free(data);
            return fail_text(ctx, "close_tempfile", kFinalText);
        }
        auto *record = static_cast<MhaSmime *>(std::calloc(1, sizeof(MhaSmime)));
        if (!record) {
            std::free(data);
            report_no_memory("malloc", kFinalText);
            release_notify(ctx);
            return kFailed;
        }
        record->Data = data;
        record->Length = length;
        *out = record;
        release_notify(ctx);
        return 0;
    });
}

} // extern "C"
