// What the dialogs of the UI module share: the owner window of a call, the
// guard of every exported function, the status icons and the texts of the
// result codes.
#pragma once

#include "include/qzcom.h"

#include <QIcon>
#include <QString>

#include <cstdint>
#include <utility>

class QLabel;
class QWidget;

namespace tarmin::tmnui {

// The caller's owner window (a QWidget*), else the active window.
QWidget *ownerOf(QZ_HWND owner);

// Runs the body of an exported function; an exception becomes the trace
// line and the failure result.
template <typename F> auto guarded(const char *traceText, decltype(std::declval<F>()()) failed, F &&body) {
    try {
        return body();
    } catch (...) {
        QZ_Trace("%s", traceText);
        return failed;
    }
}

enum class StatusIcon { none, ok, error, information };
QIcon statusIcon(StatusIcon kind);
// A label showing the icon (empty for none); its property "icon" names the
// kind ("ok", "error", "information", ""), for tests.
void showStatusIcon(QLabel *label, StatusIcon kind, int size = 16);

// The text of a result code (0 "OK" .. 4 "Ошибка"); other codes: "Ошибка".
QString resultCodeText(int32_t code);

// A font of the system's dialogs: family, points, bold.
void setDialogFont(QWidget *widget, const QString &family, int points, bool bold);

} // namespace tarmin::tmnui
