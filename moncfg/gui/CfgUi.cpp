#include "moncfg/gui/CfgUi.h"

#include "common/codepage.h"
#include "moncfg/ConfigTexts.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

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

QString fromCp1251(std::string_view text) { return QString::fromStdString(cp::cp1251_to_utf8(text)); }

std::optional<std::string> toCp1251(const QString &text) {
    std::string out;
    if (!cp::try_utf8_to_cp1251(text.toStdString(), out)) return std::nullopt;
    return out;
}

QString outsideCodePageMessage(const QString &label, const QString &text) {
    return QString::fromStdString(texts::outsideCodePageMessage(label.toStdString(), text.toStdU32String()));
}

bool acceptsCp1251(QWidget *field, const QString &label, const QString &text) {
    const QString message = outsideCodePageMessage(label, text);
    if (message.isEmpty()) return true;
    messageBox(field ? field->window() : nullptr, message, MsgIcon::Stop);
    if (field) field->setFocus();
    return false;
}

} // namespace tarmin::moncfg
