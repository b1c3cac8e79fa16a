// Message boxes of the job writers, without a window system: the writers hand
// each text to one presenter that the program installs (the Qt application
// forwards to its message box; tests record and read the texts). Without an
// installed presenter the text goes to standard error in UTF-8.
//
// Texts are Windows-1251. Packet jobs are written on a worker thread, so a
// presenter is called from that thread and must bring the box to the
// user-interface thread itself (and wait for it to be closed).
#pragma once

#include <cstdint>
#include <string>

namespace tarmin::monitor {

enum class JobMessageIcon { Error, Information };

class JobMessagePresenter {
public:
    virtual ~JobMessagePresenter() = default;
    // Shows the text and returns when the operator has closed the box.
    virtual void show(const std::string &text, JobMessageIcon icon) = 0;
};

// Installs the presenter (null restores the standard-error one) and returns
// the previous one (null for the standard-error one). The caller keeps
// ownership; install it before any job is written.
JobMessagePresenter *setJobMessagePresenter(JobMessagePresenter *presenter);

// Shows a text through the installed presenter.
void showJobMessage(const std::string &text, JobMessageIcon icon);

// Formats the message (printf format, Windows-1251 arguments), appends a line
// feed and the system's text for the error code, and shows it in an error box.
void ShowSystemError(uint32_t error, const char *format, ...) __attribute__((format(printf, 2, 3)));

} // namespace tarmin::monitor
