#include "cryptoui/ui_session.h"

#include "common/codepage.h"
#include "include/qzvoui.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

namespace tarmin::qzvoui {

namespace {

UiHook *g_hook = nullptr;

bool displayAvailable() {
    auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The arguments of an application made for one call; QApplication keeps
// references to them, so they live as long as the process.
int g_argc = 1;
char g_arg0[] = "qzvoui";
char *g_argv[] = {g_arg0, nullptr};

// Only one call at a time makes the process's application.
QApplication *g_ownApp = nullptr;

QMessageBox::Icon iconOf(uint32_t flags) {
    switch (flags & 0xF0u) {
    case TMN_MB_ICONERROR: return QMessageBox::Critical;
    case TMN_MB_ICONWARNING: return QMessageBox::Warning;
    case TMN_MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

UiHook *setUiHook(UiHook *hook) {
    UiHook *previous = g_hook;
    g_hook = hook;
    return previous;
}

int runModal(QDialog &dialog) {
    if (g_hook) return g_hook->runDialog(dialog);
    return dialog.exec();
}

int showMessageBox(const QString &text, const QString &caption, uint32_t flags) {
    if (g_hook) return g_hook->messageBox(text, caption, flags);
    QMessageBox box(iconOf(flags), caption, text, QMessageBox::Ok, activeOwner());
    if (flags & TMN_MB_SETFOREGROUND) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.raise();
        box.activateWindow();
    }
    box.exec();
    return 1;
}

UiScope::UiScope() {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        if (!displayAvailable()) return;
        g_ownApp = new (std::nothrow) QApplication(g_argc, g_argv);
        if (!g_ownApp) return;
        owns_ = true;
        ok_ = true;
        return;
    }
    // Widgets need a GUI application and its thread.
    ok_ = qobject_cast<QApplication *>(app) != nullptr && QThread::currentThread() == app->thread();
}

UiScope::~UiScope() {
    if (owns_) {
        delete g_ownApp;
        g_ownApp = nullptr;
    }
}

QWidget *activeOwner() {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return nullptr;
    return QApplication::activeWindow();
}

QString fromCp1251(const char *text) {
    if (!text) return {};
    return QString::fromStdString(cp::cp1251_to_utf8(text));
}

QString fromCp1251(const std::string &text) { return QString::fromStdString(cp::cp1251_to_utf8(text)); }

} // namespace tarmin::qzvoui
