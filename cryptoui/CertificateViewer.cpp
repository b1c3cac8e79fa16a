#include "cryptoui/CertificateViewer.h"

#include "common/codepage.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString text(const std::string &cp1251) { return QString::fromStdString(tarmin::cp::cp1251_to_utf8(cp1251)); }

QString when(time_t t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t)).toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString hex(const tarmin::crypto::Bytes &b) {
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<int>(b.size())).toHex(' ')).toUpper();
}

QString usage_text(std::optional<uint8_t> ku) {
    using namespace tarmin::crypto;
    if (!ku) return QStringLiteral("не указано");
    QStringList parts;
    if (*ku & kKuDigitalSignature) parts << QStringLiteral("Цифровая подпись");
    if (*ku & kKuNonRepudiation) parts << QStringLiteral("Неотрекаемость");
    if (*ku & kKuKeyEncipherment) parts << QStringLiteral("Шифрование ключей");
    if (*ku & kKuDataEncipherment) parts << QStringLiteral("Шифрование данных");
    if (*ku & kKuKeyAgreement) parts << QStringLiteral("Согласование ключей");
    if (*ku & kKuKeyCertSign) parts << QStringLiteral("Подписывание сертификатов");
    if (*ku & kKuCrlSign) parts << QStringLiteral("Подписывание списков отзыва");
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" (%1)").arg(*ku, 2, 16, QLatin1Char('0'));
}

QLabel *value_label(const QString &v, QWidget *parent) {
    auto *l = new QLabel(v, parent);
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setWordWrap(true);
    return l;
}

QDialogButtonBox *close_button(QDialog *d) {
    auto *b = new QDialogButtonBox(QDialogButtonBox::Close, d);
    QObject::connect(b, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return b;
}

} // namespace

CFieldsPage::CFieldsPage(QWidget *parent) : QWidget(parent) {
    table_ = new QTableWidget(0, 2, this);
    table_->setObjectName(QStringLiteral("fields"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Поле"), QStringLiteral("Значение")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    value_ = new QPlainTextEdit(this);
    value_->setObjectName(QStringLiteral("value"));
    value_->setReadOnly(true);
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
        auto *item = row >= 0 ? table_->item(row, 1) : nullptr;
        value_->setPlainText(item ? item->text() : QString());
    });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(value_);
}

void CFieldsPage::addField(const QString &name, const QString &value) {
    int row = table_->rowCount();
    table_->insertRow(row);
    table_->setItem(row, 0, new QTableWidgetItem(name));
    table_->setItem(row, 1, new QTableWidgetItem(value));
}

CCertificateViewer::CCertificateViewer(const tarmin::crypto::Certificate &cert, unsigned, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CertificateViewer"));
    setWindowTitle(QStringLiteral("Сертификат"));
    auto *tabs = new QTabWidget(this);

    auto *general = new QWidget(tabs);
    auto *form = new QFormLayout(general);
    QString mail = text(cert.mail_name());
    form->addRow(QStringLiteral("Кому выдан:"), value_label(text(cert.subject_name()), general));
    form->addRow(QStringLiteral("Кем выдан:"), value_label(text(cert.issuer_name()), general));
    form->addRow(QStringLiteral("Действителен с:"), value_label(when(cert.not_before()), general));
    form->addRow(QStringLiteral("Действителен по:"), value_label(when(cert.not_after()), general));
    form->addRow(QStringLiteral("Серийный номер:"), value_label(text(cert.serial_hex()), general));
    if (!mail.isEmpty()) form->addRow(QStringLiteral("Адрес электронной почты:"), value_label(mail, general));
    form->addRow(QStringLiteral("Назначение ключа:"), value_label(usage_text(cert.key_usage()), general));
    tabs->addTab(general, QStringLiteral("Общие"));

    auto *fields = new CFieldsPage(tabs);
    fields->addField(QStringLiteral("Версия"), QString::number(X509_get_version(cert.x509()) + 1));
    fields->addField(QStringLiteral("Серийный номер"), text(cert.serial_hex()));
    fields->addField(QStringLiteral("Алгоритм подписи"), QString::fromStdString(cert.signature_oid()));
    fields->addField(QStringLiteral("Издатель"), text(cert.issuer_name()));
    fields->addField(QStringLiteral("Действителен с"), when(cert.not_before()));
    fields->addField(QStringLiteral("Действителен по"), when(cert.not_after()));
    fields->addField(QStringLiteral("Субъект"), text(cert.subject_name()));
    fields->addField(QStringLiteral("Алгоритм открытого ключа"), QString::fromStdString(cert.public_key_oid()));
    fields->addField(QStringLiteral("Использование ключа"), usage_text(cert.key_usage()));
    if (!mail.isEmpty()) fields->addField(QStringLiteral("Адрес электронной почты"), mail);
    for (const auto &o : cert.other_names())
        fields->addField(QStringLiteral("Другое имя (%1)").arg(QString::fromStdString(o.oid)),
                         o.decoded ? text(o.value) : QStringLiteral("(не строка)"));
    fields->addField(QStringLiteral("Отпечаток (SHA-1)"), QString::fromStdString(cert.thumbprint()));
    fields->addField(QStringLiteral("Сертификат (DER)"), hex(cert.der()));
    tabs->addTab(fields, QStringLiteral("Состав"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(close_button(this));
}

CCrlViewer::CCrlViewer(const tarmin::crypto::Crl &crl, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CrlViewer"));
    setWindowTitle(QStringLiteral("Список отозванных сертификатов"));
    auto *tabs = new QTabWidget(this);

    auto *general = new QWidget(tabs);
    auto *form = new QFormLayout(general);
    form->addRow(QStringLiteral("Издатель:"), value_label(text(crl.issuer_name()), general));
    form->addRow(QStringLiteral("Вступает в силу:"), value_label(when(crl.this_update()), general));
    if (crl.next_update())
        form->addRow(QStringLiteral("Следующее обновление:"), value_label(when(crl.next_update()), general));
    auto *serials = new QListWidget(general);
    serials->setObjectName(QStringLiteral("serials"));
    auto revoked = crl.revoked_serials();
    for (const auto &s : revoked) serials->addItem(text(s));
    form->addRow(QStringLiteral("Серийный номер сертификата"), serials);
    form->addRow(QStringLiteral("Всего отозвано сертификатов:"),
                 value_label(QString::number(static_cast<int>(revoked.size())), general));
    tabs->addTab(general, QStringLiteral("Общие"));

    auto *fields = new CFieldsPage(tabs);
    fields->addField(QStringLiteral("Версия"), QString::number(crl.version()));
    fields->addField(QStringLiteral("Алгоритм подписи"), QString::fromStdString(crl.signature_oid()));
    fields->addField(QStringLiteral("Издатель"), text(crl.issuer_name()));
    fields->addField(QStringLiteral("Действителен с"), when(crl.this_update()));
    if (crl.next_update()) fields->addField(QStringLiteral("Следующее обновление"), when(crl.next_update()));
    fields->addField(QStringLiteral("Список (DER)"), hex(crl.der()));
    tabs->addTab(fields, QStringLiteral("Состав"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(close_button(this));
}
