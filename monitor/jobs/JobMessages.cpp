#include "monitor/jobs/JobMessages.h"

#include "common/codepage.h"
#include "platform/lasterror.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace tarmin::monitor {

namespace {

class StderrPresenter final : public JobMessagePresenter {
public:
    void show(const std::string &text, JobMessageIcon) override {
        std::string line = cp::cp1251_to_utf8(text);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
};

StderrPresenter g_stderrPresenter;
std::atomic<JobMessagePresenter *> g_presenter{&g_stderrPresenter};

std::string vformat(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string withSystemText(std::string text, uint32_t error) {
    text += '\n';
    text += platform::error_text(error);
    return text;
}

} // namespace

JobMessagePresenter *setJobMessagePresenter(JobMessagePresenter *presenter) {
    JobMessagePresenter *previous = g_presenter.exchange(presenter ? presenter : &g_stderrPresenter);
    return previous == &g_stderrPresenter ? nullptr : previous;
}

void showJobMessage(const std::string &text, JobMessageIcon icon) { g_presenter.load()->show(text, icon); }

void ShowSystemError(uint32_t error, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    showJobMessage(withSystemText(std::move(text), error), JobMessageIcon::Error);
}

} // namespace tarmin::monitor
