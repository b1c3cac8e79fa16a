// The operator event files: one line per reported event, appended to
// "tarmin-operator" + start date (+ "_N") + ".csv" in the directory of the
// `Filename` setting, with a new file per day, per month or per size as
// "Update period" asks, and files older than "DeleteFilePeriod" days removed.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "qzcom.h"

#define QZCOM_INTERNAL __attribute__((visibility("default")))

namespace tarmin::qzcom {

// Bits of "Update period".
inline constexpr QZ_DWORD kRotateNever = 1u << 0;
inline constexpr QZ_DWORD kRotateBySize = 1u << 1;
inline constexpr QZ_DWORD kRotateDaily = 1u << 2;
inline constexpr QZ_DWORD kRotateMonthly = 1u << 3;

// File names: kEventFilePrefix + "yyyymmdd" [+ "_N"] + kEventFileSuffix.
inline constexpr std::string_view kEventFilePrefix = "tarmin-operator";
inline constexpr std::string_view kEventFileSuffix = ".csv";

struct EventFileSettings {
    std::string directory;          // expanded, without a trailing separator
    QZ_DWORD update_period = kRotateNever;
    QZ_DWORD max_size_kb = 512;     // with kRotateBySize
    QZ_DWORD delete_after_days = 30; // 0 keeps every file
};

// The settings of the event files from the settings key: "Filename"
// (default "%TEMP%\", environment references expanded), "Update period"
// (default 1), "Maximum file size" (KB, default 512), "DeleteFilePeriod"
// (days, default 30). False before the services are initialised.
QZCOM_INTERNAL bool read_event_file_settings(EventFileSettings &settings);

// The line of one event: "dd/mm/yyyy,hh:mm:ss,0x%X,level,text\n" in local
// time; control characters of the text become blanks so that the event stays
// one line.
QZCOM_INTERNAL std::string event_line(std::time_t when, int level, QZ_DWORD code, std::string_view text);

// Appends a line to the current event file of the directory (created when
// missing), first deleting the product's event files older than the keeping
// period and starting a new file when the update period asks for it. Safe
// against other threads and processes that write the same directory. Returns
// false when nothing could be written; *written receives the file's path.
QZCOM_INTERNAL bool append_event_line(const EventFileSettings &settings, std::time_t now, std::string_view line,
                                      std::string *written = nullptr);

// The clock of events and reports. Tests install their own; null restores
// the system clock.
using EventClock = std::time_t (*)();
QZCOM_INTERNAL void set_event_clock(EventClock clock);
QZCOM_INTERNAL std::time_t event_clock_now();

} // namespace tarmin::qzcom
