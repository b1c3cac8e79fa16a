#include "moncfg/gui/CfgUi.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace tarmin::moncfg {

namespace {

UiHook *g_hook = nullptr;

QMessageBox::Icon boxIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Stop: return QMessageBox::Critical;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

UiHook *setUiHook(UiHook *hook) {
    UiHook *previous = g_hook;
    g_hook = hook;
    return previous;
}

int messageBox(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) {
    if (g_hook) return g_hook->messageBox(parent, text, icon, buttons);
    QMessageBox box(boxIcon(icon), QGuiApplication::applicationDisplayName(), text,
                    buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    if (buttons == MsgButtons::YesNo) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    default: return kAnswerOk;
    }
}

int runModal(QDialog &dialog) { return g_hook ? g_hook->runDialog(dialog) : dialog.exec(); }

} // namespace tarmin::moncfg
