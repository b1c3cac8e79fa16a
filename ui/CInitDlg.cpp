#include "ui/CInitDlg.h"

#include "cryptoui/ui_session.h"
#include "ui/ui_common.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace tarmin::tmnui;

namespace {

QLabel *text(const char *name, const QString &value, QWidget *parent) {
    auto *l = new QLabel(value, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

// The picture on the left: the key medium.
QLabel *picture(QWidget *parent) {
    auto *l = new QLabel(parent);
    l->setObjectName(QStringLiteral("Picture"));
    l->setPixmap(QApplication::style()->standardIcon(QStyle::SP_DriveFDIcon).pixmap(48, 48));
    l->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return l;
}

QLabel *title(const QString &value, QWidget *parent) {
    auto *l = text("Title", value, parent);
    setDialogFont(l, QStringLiteral("Arial"), 16, true);
    return l;
}

} // namespace

QString CInitDlg::statusMessage(int status) {
    // The messages are numbered 50 + status; status -1 takes number 56.
    switch (status == -1 ? 56 : 50 + status) {
    case 50: return QStringLiteral("Персональный справочник защищен и проверен. Система готова к работе.");
    case 51: return QStringLiteral("Ошибка инициализации системы криптографической защиты.");
    case 52:
        return QStringLiteral("Персональный справочник пользователя не создан. Для его создания необходимо запустить "
                              "менеджер сертификатов.");
    case 53:
        return QStringLiteral("Отсутствует локальный справочник пользователя. Для его создания необходимо запустить "
                              "менеджер сертификатов.");
    case 54:
        return QStringLiteral("Отсутствует личный сертификат пользователя. Для добавления личного сертификата в "
                              "справочник необходимо запустить менеджер сертификатов.");
    case 55:
        return QStringLiteral("Ошибка проверки персонального справочника пользователя. Необходимо запустить менеджер "
                              "сертификатов.");
    case 56: return QStringLiteral("Ошибка инициализации. Необходимо запустить менеджер сертификатов.");
    default: return {};
    }
}

CInitDlg::CInitDlg(const QString &text1, const QString &text2, int status, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CInitDlg"));
    setWindowTitle(QStringLiteral("Инициализация"));
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("StatusIcon"));
    showStatusIcon(icon, status != 0 ? StatusIcon::error : StatusIcon::information, 32);
    auto *message = text("Status", statusMessage(status), this);
    auto *hint = text("Hint",
                      status != 0 ? QStringLiteral("Для определения причины возникновения ошибки посмотрите протокол работы "
                                                   "системы. После этого необходимо нажать кнопку \"OK\" и перезапустить "
                                                   "приложение.")
                                  : QStringLiteral("Для продолжения инициализации нажмите кнопку \"OK\"."),
                      this);
    // The manager of the template is not offered from here.
    auto *manager = new QPushButton(QStringLiteral("Менеджер сертификатов..."), this);
    manager->setObjectName(QStringLiteral("Manager"));
    manager->hide();
    QDialogButtonBox *buttons = tarmin::qzvoui::okCancelButtons(this, false);

    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(icon, 0, Qt::AlignTop);
    statusRow->addWidget(message, 1);
    auto *right = new QVBoxLayout;
    right->addWidget(title(QStringLiteral("Система Тармин\nИнициализация"), this));
    right->addWidget(text("Text1", text1, this));
    right->addWidget(text("Text2", text2, this));
    right->addLayout(statusRow);
    right->addWidget(hint);
    right->addStretch(1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(manager);
    buttonRow->addStretch(1);
    buttonRow->addWidget(buttons);
    right->addLayout(buttonRow);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(picture(this));
    layout->addLayout(right, 1);
    resize(520, 300);
}

CUnmodalInitWnd::CUnmodalInitWnd(const QString &text1, const QString &text2, const QString &text3, QWidget *parent)
    : QWidget(parent, Qt::Dialog) {
    setObjectName(QStringLiteral("CUnmodalInitWnd"));
    setWindowTitle(QStringLiteral("Инициализация"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto *right = new QVBoxLayout;
    right->addWidget(title(QStringLiteral("Система \"Тармин\"\nИнициализация"), this));
    right->addWidget(text("Prompt", QStringLiteral("Вставьте ключевую дискету"), this));
    right->addWidget(text("Text1", text1, this));
    right->addWidget(text("Text2", text2, this));
    right->addWidget(text("Text3", text3, this));
    right->addStretch(1);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(picture(this));
    layout->addLayout(right, 1);
    resize(420, 220);
}
