#include "monitor/app/ScreenshotRun.h"

#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/RecordTableModel.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>

#include <cstdio>

namespace tarmin::monitor {

namespace {
constexpr int kShotWidth = 1280;
constexpr int kShotHeight = 720;
} // namespace

HeadlessPrompts::HeadlessPrompts()
    : m_previousMessages(setMessageBoxHandler(this)), m_previousModal(setModalHook(this)) {}

HeadlessPrompts::~HeadlessPrompts() {
    setMessageBoxHandler(m_previousMessages);
    setModalHook(m_previousModal);
}

int HeadlessPrompts::show(const MessageRequest &request) {
    const QString caption = request.caption.isEmpty() ? programCaption() : request.caption;
    std::fprintf(stderr, "tmngwmon: %s: %s\n", caption.toUtf8().constData(), request.text.toUtf8().constData());
    m_interrupted = true;
    switch (request.buttons) {
    case MsgButtons::Ok: return kAnswerOk;
    case MsgButtons::YesNo: return kAnswerNo;
    default: return kAnswerCancel;
    }
}

int HeadlessPrompts::run(QDialog &dialog) {
    std::fprintf(stderr, "tmngwmon: the window \"%s\" needs an operator; not shown\n",
                 dialog.windowTitle().toUtf8().constData());
    m_interrupted = true;
    return QDialog::Rejected;
}

void selectInitialCategory(CMainApp &app) {
    const int category = app.commandLine().initialCategory();
    if (category > 0 && app.mainFrame()) app.mainFrame()->leftView()->selectCategory(category);
}

int runScreenshot(CMainApp &app) {
    CMainFrame *frame = app.mainFrame();
    const std::string &file = app.commandLine().screenshotFile();
    if (!frame->isMaximized()) frame->resize(kShotWidth, kShotHeight);
    // The notifications are read only once receipt tracking has caught up.
    while (app.catchUpPending()) app.RunReceiptCatchUp();
    selectInitialCategory(app); // the list reads the category before this returns
    QApplication::processEvents();
    const QPixmap shot = frame->grab();
    const bool saved = shot.save(QString::fromStdString(file), "PNG");
    frame->destroyWithoutSaving(); // a screenshot leaves the saved placement alone
    if (!saved) {
        std::fprintf(stderr, "tmngwmon: cannot write the screenshot to %s\n", file.c_str());
        return 1;
    }
    std::fprintf(stderr, "tmngwmon: screenshot written to %s (category %d, %d rows)\n", file.c_str(),
                 frame->monView()->category(), frame->monView()->recordModel()->rowCount());
    if (app.headlessInterrupted()) {
        std::fprintf(stderr, "tmngwmon: a message came up while the screenshot was taken\n");
        return 1;
    }
    return 0;
}

} // namespace tarmin::monitor
