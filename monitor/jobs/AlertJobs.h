// Alert jobs: plain notifications to the administrator that the gateway
// sends as e-mail, written into the gateway's output directory as a directory
// "TO<tick count>..." holding only the information file "tmninfo.txt".
//
// The output directory is used as the caller read it (a Windows-1251 text,
// turned into a file-system path); a "/" is appended unless it ends in "/" or
// "\" (either counts as a separator). The directory is made with a plain
// creation, so a directory of the same name that exists already makes the
// alert fail. It is 0750 and its file 0640, in the output directory's group;
// the information file is written under a temporary name and renamed, so a
// failed alert leaves no "tmninfo.txt" behind. Failures are not shown: they are reported as
// event 0xE00E0003 (system error, failed operation "CreateDirectory",
// "fopen" or "fclose", writer) followed by 0xE00E0004 (overdue alert) or
// 0xE00E0006 (numerous-error alert); a partly written directory stays.
// Texts are Windows-1251.
#pragma once

#include <cstdint>
#include <string>

namespace tarmin::monitor {

// An overdue-receipt alert. The directory name ends in the first 16
// characters of the letter's hash text. Returns the alert directory, empty
// when the alert could not be written.
std::string SendMailAboutOverdue(const std::string &outputDirectory, const std::string &adminAddress,
                                 int timeoutMinutes, const std::string &letterId, const std::string &sendTime,
                                 const std::string &sendDate, const std::string &letterHash);

// A numerous-error alert for an error code that occurred `count` times, the
// last time on `date` ("dd/mm/yyyy") at `time` ("hh:mm:ss") with `text`. The
// directory name ends in "%X%02d%02d%02d" of the code and the time. Writes
// nothing when the date or the time is empty. Returns the alert directory,
// empty when nothing was written.
std::string SendMailAboutNumerousError(const std::string &outputDirectory, const std::string &adminAddress,
                                       uint32_t errorCode, int count, const std::string &date,
                                       const std::string &time, const std::string &text);

} // namespace tarmin::monitor
