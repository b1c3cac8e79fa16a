#include "moncfg/qzvocfg/CProviderSettingsDlg.h"

#include "common/codepage.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::qzvocfg {

namespace {

QString text1251(const std::string &text) { return QString::fromStdString(cp::cp1251_to_utf8(text)); }

QTreeWidgetItem *group(QTreeWidget *view, const QString &title) {
    auto *item = new QTreeWidgetItem(view, {title});
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
    return item;
}

void row(QTreeWidgetItem *parent, const QString &name, const QString &value) {
    new QTreeWidgetItem(parent, {name, value});
}

QString yesNo(bool value) { return value ? QStringLiteral("да") : QStringLiteral("нет"); }

} // namespace

CProviderSettingsDlg::CProviderSettingsDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ProviderSettings"));
    setWindowTitle(QStringLiteral("Настройка СКЗИ"));
    m_report = new QTreeWidget(this);
    m_report->setObjectName(QStringLiteral("report"));
    m_report->setHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Значение")});
    m_report->setRootIsDecorated(false);
    m_report->setSelectionMode(QAbstractItemView::NoSelection);
    m_report->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(this);
    m_forget = buttons->addButton(QStringLiteral("Забыть сертификат оператора"), QDialogButtonBox::ActionRole);
    m_forget->setObjectName(QStringLiteral("forget"));
    m_forget->setToolTip(QStringLiteral("При следующем открытии криптографического контекста сертификат "
                                        "оператора будет выбран заново"));
    buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(m_forget, &QPushButton::clicked, this, &CProviderSettingsDlg::forget);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_report, 1);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(720, 560);
    showReport();
}

void CProviderSettingsDlg::showReport() {
    const ProviderReport report = collectProviderReport();
    m_report->clear();

    QTreeWidgetItem *engine = group(m_report, QStringLiteral("Криптопровайдер"));
    row(engine, QStringLiteral("Имя провайдера"), QString::fromStdString(report.providerName));
    row(engine, QStringLiteral("OpenSSL"), QString::fromStdString(report.engine.opensslVersion));
    if (report.engine.loaded) {
        row(engine, QStringLiteral("Модуль ГОСТ"),
            QStringLiteral("%1 (%2)").arg(QString::fromStdString(report.engine.name),
                                          QString::fromStdString(report.engine.id)));
        row(engine, QStringLiteral("Файл модуля"), QString::fromStdString(report.engine.module));
        row(engine, QStringLiteral("Версия модуля"),
            report.engine.packageVersion.empty()
                ? QStringLiteral("неизвестна")
                : QStringLiteral("%1 (пакет libengine-gost-openssl)").arg(QString::fromStdString(report.engine.packageVersion)));
    } else {
        row(engine, QStringLiteral("Модуль ГОСТ"),
            QStringLiteral("не загружен: %1").arg(QString::fromStdString(report.engine.error)));
    }

    QTreeWidgetItem *algorithms = group(m_report, QStringLiteral("Алгоритмы"));
    if (!report.algorithmsFixed)
        row(algorithms, QStringLiteral("—"), QStringLiteral("для этого провайдера алгоритмы не устанавливаются"));
    for (const AlgorithmSetting &setting : report.algorithms)
        row(algorithms, QString::fromLatin1(setting.setting),
            QStringLiteral("%1 — %2").arg(QString::fromStdString(setting.value), text1251(setting.name)));

    QTreeWidgetItem *own = group(m_report, QStringLiteral("Сертификат оператора"));
    if (!report.own.remembered) {
        row(own, QStringLiteral("Выбор"), QStringLiteral("не сделан: будет предложен при открытии контекста"));
    } else {
        row(own, QStringLiteral("Издатель"), text1251(report.own.issuer));
        row(own, QStringLiteral("Серийный номер"), QString::fromStdString(report.own.serial));
        if (!report.own.found) {
            row(own, QStringLiteral("В хранилище MY"), QStringLiteral("не найден"));
        } else {
            row(own, QStringLiteral("Владелец"), text1251(report.own.subject));
            row(own, QStringLiteral("Отпечаток"), QString::fromStdString(report.own.thumbprint));
            row(own, QStringLiteral("Алгоритм ключа"), text1251(report.own.keyAlgorithm));
            if (!report.own.keyParameters.empty())
                row(own, QStringLiteral("Параметры ключа"), text1251(report.own.keyParameters));
            row(own, QStringLiteral("Хэширование подписи"), text1251(report.own.hashAlgorithm));
            row(own, QStringLiteral("Закрытый ключ"), yesNo(report.own.hasPrivateKey));
            row(own, QStringLiteral("Действителен до"),
                QDateTime::fromSecsSinceEpoch(report.own.notAfter).toString(QStringLiteral("dd.MM.yyyy hh:mm")));
        }
    }
    m_forget->setEnabled(report.own.remembered);

    QTreeWidgetItem *stores = group(m_report, QStringLiteral("Хранилища сертификатов"));
    row(stores, QStringLiteral("Каталог"), QString::fromStdString(report.storesRoot));
    for (const StoreInfo &store : report.stores) {
        QString count = QStringLiteral("сертификатов: %1").arg(store.certificates);
        if (store.privateKeys) count += QStringLiteral(", закрытых ключей: %1").arg(store.privateKeys);
        row(stores, QStringLiteral("%1\\%2").arg(QString::fromStdString(store.location), text1251(store.name)), count);
    }
    m_report->expandAll();
}

void CProviderSettingsDlg::forget() {
    if (forgetOwnCertificate()) {
        m_status->setText(QStringLiteral("Выбор сертификата оператора забыт: он будет предложен заново."));
    } else {
        m_status->setText(QStringLiteral("Настройки не изменены: хранилище настроек недоступно для записи."));
    }
    showReport();
}

} // namespace tarmin::qzvocfg
