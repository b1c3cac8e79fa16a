// Recorders of the job tests: the job writers' message boxes and the reports
// shown through the common services.
#pragma once

#include "monitor/jobs/JobMessages.h"
#include "qzcom.h"

#include <string>
#include <vector>

namespace tarmin::test {

struct ShownBox {
    std::string text; // Windows-1251
    monitor::JobMessageIcon icon;
    size_t reportCallsBefore; // report windows shown before this box
};

struct ShownReports {
    QZ_HWND owner;
    int mode;
    std::vector<QZ_DWORD> codes;
    std::vector<std::string> texts;
};

// Installs itself for the message boxes and the reports while it lives.
class JobRecorder : public monitor::JobMessagePresenter {
public:
    JobRecorder() {
        QZ_ClearReports(3);
        monitor::setJobMessagePresenter(this);
        QZ_SetReportPresenter(&JobRecorder::present, this);
    }
    ~JobRecorder() override {
        monitor::setJobMessagePresenter(nullptr);
        QZ_SetReportPresenter(nullptr, nullptr);
        QZ_ClearReports(3);
    }
    void show(const std::string &text, monitor::JobMessageIcon icon) override {
        boxes.push_back({text, icon, reports.size()});
    }
    static void present(QZ_HWND owner, int mode, const QZ_REPORT *list, size_t count, void *user) {
        ShownReports shown{owner, mode, {}, {}};
        for (size_t i = 0; i < count; ++i) {
            shown.codes.push_back(list[i].code);
            shown.texts.push_back(list[i].text);
        }
        static_cast<JobRecorder *>(user)->reports.push_back(shown);
    }
    // Reports still kept (alert writers report without showing).
    ShownReports takeKept() {
        size_t before = reports.size();
        QZ_ShowReports(nullptr, 1);
        if (reports.size() == before) return {};
        ShownReports r = reports.back();
        reports.pop_back();
        return r;
    }

    std::vector<ShownBox> boxes;
    std::vector<ShownReports> reports;
};

} // namespace tarmin::test
