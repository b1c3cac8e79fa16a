#include "monitor/views/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace tarmin::monitor {

void runOnGuiThread(const std::function<void()> &work) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

} // namespace tarmin::monitor

#include <QEventLoop>
#include <QTimer>

namespace tarmin::monitor {

void waitWhile(const std::function<bool()> &busy) {
    constexpr int kPollMs = 10;
    while (busy()) {
        QEventLoop loop;
        QTimer::singleShot(kPollMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

} // namespace tarmin::monitor
