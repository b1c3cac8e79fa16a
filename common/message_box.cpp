// Message boxes of the libraries: one small interface through which every
// question or notice that a library (not a program's own window) puts to the
// user goes. A GUI program installs a presenter that shows a real box; tests
// install one that reads the text and answers; without a presenter the box is
// written to standard error in UTF-8 and answered with its most cautious
// button, since there is nobody to ask.
#include <cstdio>
#include <mutex>
#include <string>

#include "common/codepage.h"
#include "qzcom.h"

namespace {

std::mutex g_mutex;
QZ_MESSAGE_BOX_PRESENTER g_presenter = nullptr;
void *g_presenter_user = nullptr;

// The answer of a box nobody can see: the button that changes nothing.
int cautious_answer(QZ_DWORD flags) {
    switch (flags & 0xFu) {
    case QZ_MB_OKCANCEL:
    case QZ_MB_YESNOCANCEL:
    case QZ_MB_RETRYCANCEL: return QZ_IDCANCEL;
    case QZ_MB_YESNO: return QZ_IDNO;
    default: return QZ_IDOK;
    }
}

int present_on_stderr(QZ_HWND, const char *text, const char *caption, QZ_DWORD flags, void *) {
    using tarmin::cp::cp1251_to_utf8;
    std::string line = cp1251_to_utf8(caption ? caption : "") + ": " + cp1251_to_utf8(text ? text : "") + "\n";
    std::fputs(line.c_str(), stderr);
    return cautious_answer(flags);
}

} // namespace

void QZ_SetMessageBoxPresenter(QZ_MESSAGE_BOX_PRESENTER presenter, void *user) {
    std::lock_guard lock(g_mutex);
    g_presenter = presenter;
    g_presenter_user = user;
}

int QZ_MessageBox(QZ_HWND owner, const char *text, const char *caption, QZ_DWORD flags) {
    QZ_MESSAGE_BOX_PRESENTER presenter;
    void *user;
    {
        std::lock_guard lock(g_mutex);
        presenter = g_presenter ? g_presenter : present_on_stderr;
        user = g_presenter_user;
    }
    try {
        return presenter(owner, text, caption, flags, user);
    } catch (...) {
        return cautious_answer(flags);
    }
}
