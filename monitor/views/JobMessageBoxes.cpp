#include "monitor/views/JobMessageBoxes.h"

#include "monitor/jobs/JobMessages.h"
#include "monitor/views/GuiThread.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/QtText.h"

#include <QApplication>

namespace tarmin::monitor {

namespace {

class QtJobMessagePresenter final : public JobMessagePresenter {
public:
    void show(const std::string &text, JobMessageIcon icon) override {
        const QString shown = qtText(text);
        const MsgIcon boxIcon = icon == JobMessageIcon::Information ? MsgIcon::Information : MsgIcon::Error;
        runOnGuiThread([shown, boxIcon] { messageBox(QApplication::activeWindow(), shown, boxIcon); });
    }
};

QtJobMessagePresenter g_presenter;

} // namespace

void installJobMessagePresenter() {
    JobMessagePresenter *previous = setJobMessagePresenter(&g_presenter);
    if (previous && previous != &g_presenter) setJobMessagePresenter(previous);
}

} // namespace tarmin::monitor
