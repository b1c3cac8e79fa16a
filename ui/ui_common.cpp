#include "ui/ui_common.h"

#include "cryptoui/ui_session.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>

namespace tarmin::tmnui {

QWidget *ownerOf(QZ_HWND owner) { return owner ? static_cast<QWidget *>(owner) : qzvoui::activeOwner(); }

QIcon statusIcon(StatusIcon kind) {
    QStyle *style = QApplication::style();
    switch (kind) {
    case StatusIcon::ok: return style->standardIcon(QStyle::SP_DialogApplyButton);
    case StatusIcon::error: return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case StatusIcon::information: return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case StatusIcon::none: break;
    }
    return {};
}

void showStatusIcon(QLabel *label, StatusIcon kind, int size) {
    static const char *const kNames[] = {"", "ok", "error", "information"};
    label->setProperty("icon", QString::fromLatin1(kNames[static_cast<int>(kind)]));
    if (kind == StatusIcon::none) {
        label->clear();
        return;
    }
    label->setPixmap(statusIcon(kind).pixmap(size, size));
}

QString resultCodeText(int32_t code) {
    switch (code) {
    case 0: return QStringLiteral("OK");
    case 1: return QStringLiteral("Подпись неверна");
    case 2: return QStringLiteral("Открытый ключ не найден");
    case 3: return QStringLiteral("Неверный открытый ключ ");
    default: return QStringLiteral("Ошибка");
    }
}

void setDialogFont(QWidget *widget, const QString &family, int points, bool bold) {
    QFont f(family, points);
    f.setBold(bold);
    widget->setFont(f);
}

} // namespace tarmin::tmnui
