#include "monitor/app/CAboutDlg.h"

#include "monitor/resources/MonitorIcons.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#ifndef TMNMON_VERSION_MAJOR
#error "the build passes the program's version as TMNMON_VERSION_MAJOR..TMNMON_VERSION_BUILD"
#endif

namespace tarmin::monitor {

namespace {
const char *const kProductCaption = "Тармин-Оператор";
}

QString CAboutDlg::versionText() {
    return QStringLiteral("Версия %1.%2.%3.%4")
        .arg(TMNMON_VERSION_MAJOR)
        .arg(TMNMON_VERSION_MINOR)
        .arg(TMNMON_VERSION_PATCH)
        .arg(TMNMON_VERSION_BUILD);
}

QString CAboutDlg::webAddress() { return QStringLiteral("https://www.kelvoria.example/tarmin/"); }

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("О программе ") + QString::fromUtf8(kProductCaption));

    auto *icon = new QLabel(this);
    icon->setPixmap(MonitorIcons::large(kImageApplication));

    m_link = new QLabel(this);
    m_link->setObjectName(QStringLiteral("link"));
    m_link->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(webAddress(), QString::fromUtf8(kProductCaption)));
    m_link->setTextFormat(Qt::RichText);
    m_link->setOpenExternalLinks(true);
    m_link->setTextInteractionFlags(Qt::TextBrowserInteraction);

    m_version = new QLabel(versionText(), this);
    m_version->setObjectName(QStringLiteral("version"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(m_link, 0, 1);
    layout->addWidget(m_version, 1, 1);
    layout->addWidget(buttons, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace tarmin::monitor
