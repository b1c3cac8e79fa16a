#include "cryptoui/ui_session.h"

#include "common/codepage.h"
#include "cryptoui/CSaveAsDialog.h"
#include "include/qzcom.h"
#include "include/qzvoui.h"
#include "platform/files.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    case TMN_MB_ICONQUESTION: return QMessageBox::Question;
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
    return showMessageBox(text, caption, flags, nullptr);
}

int showMessageBox(const QString &text, const QString &caption, uint32_t flags, QWidget *owner) {
    if (g_hook) return g_hook->messageBox(text, caption, flags);
    QMessageBox box(iconOf(flags), caption, text, QMessageBox::NoButton, owner ? owner : activeOwner());
    // The buttons of the system's box, each answering with its number.
    struct Button {
        QMessageBox::StandardButton button;
        int answer;
    };
    std::vector<Button> buttons;
    switch (flags & 0xFu) {
    case TMN_MB_OKCANCEL: buttons = {{QMessageBox::Ok, TMN_IDOK}, {QMessageBox::Cancel, TMN_IDCANCEL}}; break;
    case TMN_MB_YESNOCANCEL:
        buttons = {{QMessageBox::Yes, TMN_IDYES}, {QMessageBox::No, TMN_IDNO}, {QMessageBox::Cancel, TMN_IDCANCEL}};
        break;
    case TMN_MB_YESNO: buttons = {{QMessageBox::Yes, TMN_IDYES}, {QMessageBox::No, TMN_IDNO}}; break;
    default: buttons = {{QMessageBox::Ok, TMN_IDOK}}; break;
    }
    for (const Button &b : buttons) box.addButton(b.button);
    // The system's Russian button texts.
    if (auto *b = box.button(QMessageBox::Cancel)) b->setText(QStringLiteral("Отмена"));
    if (auto *b = box.button(QMessageBox::Yes)) b->setText(QStringLiteral("Да"));
    if (auto *b = box.button(QMessageBox::No)) b->setText(QStringLiteral("Нет"));
    if (!box.parentWidget() || (flags & TMN_MB_TASKMODAL)) box.setWindowModality(Qt::ApplicationModal);
    if (flags & (TMN_MB_SETFOREGROUND | TMN_MB_TOPMOST)) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.raise();
        box.activateWindow();
    }
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const Button &b : buttons)
        if (b.button == clicked) return b.answer;
    // Closed with Escape or the window's close button: the box's cancelling answer.
    return (flags & 0xFu) == TMN_MB_YESNO ? TMN_IDNO : (flags & 0xFu) == TMN_MB_OK ? TMN_IDOK : TMN_IDCANCEL;
}

QDialogButtonBox *okCancelButtons(QDialog *dialog, bool withCancel) {
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("IDOK"));
    if (withCancel)
        buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("IDCANCEL"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLabel *valueLabel(const char *name, const QString &text, QWidget *parent) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setWordWrap(true);
    return l;
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

bool toCp1251(const QString &text, std::string &out) { return cp::try_utf8_to_cp1251(text.toStdString(), out); }

std::string fileTimeText(uint32_t low, uint32_t high, int format) {
    QZ_FILETIME ft{low, high};
    char *text = nullptr;
    std::string out;
    if (QZ_FormatFileTime(&ft, format, &text) == 0 && text) out = text;
    QZ_Free(text);
    return out;
}

std::string timeText(std::time_t t, int format) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(t, &ft);
    return fileTimeText(ft.dwLowDateTime, ft.dwHighDateTime, format);
}

QString askSaveFileName(QWidget *owner, const QString &title, const QString &directory, const QString &fileName,
                        const QString &defaultExt, const QString &filter) {
    CSaveAsDialog dialog(owner ? owner : activeOwner(), title, directory, fileName, defaultExt, filter);
    if (runModal(dialog) != QDialog::Accepted) return {};
    return dialog.chosenPath();
}

WriteOutcome writeChosenFile(const QString &path, const std::string &bytes) {
    const std::string name = path.toStdString();
    // Without waiting: a named pipe put in the file's place would hold the
    // window until something reads it. Only a regular file is written.
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return WriteOutcome::openFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return WriteOutcome::openFailed;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    platform::File file;
    file.adopt(fd, name);
    if (!file.write(bytes)) return WriteOutcome::writeFailed;
    return file.close() ? WriteOutcome::written : WriteOutcome::writeFailed;
}

bool readChosenFile(const QString &path, std::size_t limit, std::string &out) {
    const std::string name = path.toStdString();
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > limit) {
        ::close(fd);
        return false;
    }
    platform::File file;
    file.adopt(fd, name);
    auto content = file.read_all();
    // The size is checked again: the file may have grown since fstat.
    if (!content || content->size() > limit) return false;
    out = std::move(*content);
    return true;
}

} // namespace tarmin::qzvoui
