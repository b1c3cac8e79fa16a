#include "cryptoui/CVerbaSheets.h"

#include "cryptoui/CertificateViewer.h"
#include "cryptoui/ui_session.h"
#include "cryptoui/verba_text.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace tarmin::qzvoui;

namespace {

QLabel *heading(const QString &text, QWidget *parent) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("Heading"));
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QString when(const QZ_FILETIME &ft) { return fromCp1251(fileTimeText(ft.dwLowDateTime, ft.dwHighDateTime, 5)); }

void addFields(CFieldsPage *page, const std::vector<VerbaField> &fields) {
    for (const VerbaField &f : fields) page->addField(fromCp1251(f.name), fromCp1251(f.value));
}

// A default file name from a name that may hold the directory separator.
QString fileNameOf(const char *name) {
    QString s = fromCp1251(name);
    s.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("%1.txt").arg(s);
}

} // namespace

CVerbaFieldsPage::CVerbaFieldsPage(const QString &headingText, const std::string &printout, const QString &defaultName,
                                   QWidget *parent)
    : QWidget(parent), printout_(printout), defaultName_(defaultName) {
    fields_ = new CFieldsPage(this);
    auto *print = new QPushButton(QStringLiteral("Рас&печатать ..."), this);
    print->setObjectName(QStringLiteral("Print"));
    auto *save = new QPushButton(QStringLiteral("Сохранить в файл..."), this);
    save->setObjectName(QStringLiteral("Save"));
    // Both write the printout into a text file that the operator prints.
    connect(print, &QPushButton::clicked, this, &CVerbaFieldsPage::savePrintout);
    connect(save, &QPushButton::clicked, this, &CVerbaFieldsPage::savePrintout);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(print);
    buttons->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(headingText, this));
    layout->addWidget(fields_, 1);
    layout->addLayout(buttons);
}

void CVerbaFieldsPage::savePrintout() {
    const QString path = askSaveFileName(this, QStringLiteral("Выбор файла для сохранения распечатки"), {}, defaultName_,
                                         QStringLiteral("txt"), QStringLiteral("Файл распечатки (*.txt)|*.txt||"));
    if (path.isEmpty()) return;
    const WriteOutcome outcome = writeChosenFile(path, printout_);
    if (outcome == WriteOutcome::written) return;
    const QString text = outcome == WriteOutcome::openFailed ? QStringLiteral("Ошибка открытия файла %1")
                                                             : QStringLiteral("Ошибка записи в файл %1");
    showMessageBox(text.arg(path), window()->windowTitle(), TMN_MB_ICONERROR, this);
}

CVerbaCertSheet::CVerbaCertSheet(const TMN_VERBA_CERT *owner, const TMN_VERBA_CERT &cert, QWidget *parent)
    : QDialog(parent), owner_(owner) {
    setObjectName(QStringLiteral("CVerbaCertSheet"));
    setWindowTitle(QStringLiteral("Сертификат"));
    auto *tabs = new QTabWidget(this);

    auto *general = new QWidget(tabs);
    auto *form = new QFormLayout;
    const struct {
        const char *label, *name;
        QString text;
    } rows[] = {
        {"Владелец:", "Owner", fromCp1251(cert.Owner)},
        {"Серийный номер владельца:", "OwnerSerial", fromCp1251(cert.OwnerSerial)},
        {"Серийный номер издателя:", "IssuerSerial", fromCp1251(cert.IssuerSerial)},
        {"Ключ действителен с:", "KeyFrom", when(cert.Times[TMN_VERBA_TIME_START])},
        {"Ключ действителен по:", "KeyTo", when(cert.Times[TMN_VERBA_TIME_KEY_END])},
        {"Сертификат действителен с:", "CertFrom", when(cert.Times[TMN_VERBA_TIME_START])},
        {"Сертификат действителен по:", "CertTo", when(cert.Times[TMN_VERBA_TIME_CERT_END])},
    };
    for (const auto &r : rows) form->addRow(QString::fromUtf8(r.label), valueLabel(r.name, r.text, general));
    auto *emails = new QTreeWidget(general);
    emails->setObjectName(QStringLiteral("emails"));
    emails->setRootIsDecorated(false);
    emails->setHeaderLabels({QStringLiteral("Тип"), QStringLiteral("Адрес электронной почты")});
    emails->setColumnWidth(0, 40);
    emails->setColumnWidth(1, 300);
    for (uint32_t i = 0; cert.Emails && i < cert.EmailCount; ++i)
        emails->addTopLevelItem(new QTreeWidgetItem({fromCp1251(cert.Emails[i].Type), fromCp1251(cert.Emails[i].Address)}));
    auto *caButton = new QPushButton(QStringLiteral("Сертификат ЦС..."), general);
    caButton->setObjectName(QStringLiteral("CaCert"));
    caButton->setVisible(owner != nullptr);
    connect(caButton, &QPushButton::clicked, this, [this] {
        if (!owner_) return;
        CVerbaCertSheet ca(nullptr, *owner_, this);
        runModal(ca);
    });
    auto *generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(heading(QStringLiteral("Сведения о сертификате"), general));
    generalLayout->addLayout(form);
    generalLayout->addWidget(new QLabel(QStringLiteral("Список адресов электронной почты владельца:"), general));
    generalLayout->addWidget(emails, 1);
    auto *caRow = new QHBoxLayout;
    caRow->addStretch(1);
    caRow->addWidget(caButton);
    generalLayout->addLayout(caRow);
    general->setObjectName(QStringLiteral("GeneralPage"));
    tabs->addTab(general, QStringLiteral("Общие"));

    auto *fields = new CVerbaFieldsPage(QStringLiteral("Состав сертификата:"), certPrintout(cert), fileNameOf(cert.Owner), tabs);
    addFields(fields->fields(), certFields(cert));
    fields->fields()->table()->setColumnWidth(0, 220);
    fields->setObjectName(QStringLiteral("FieldsPage"));
    tabs->addTab(fields, QStringLiteral("Состав"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(okCancelButtons(this)); // without Apply and Help
    resize(560, 480);
}

CVerbaCrlSheet::CVerbaCrlSheet(const TMN_VERBA_CRL &crl, const std::vector<std::string> &serials, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CVerbaCrlSheet"));
    setWindowTitle(QStringLiteral("Список отозванных сертификатов"));
    auto *tabs = new QTabWidget(this);

    auto *general = new QWidget(tabs);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Издатель:"), valueLabel("Issuer", fromCp1251(crl.Issuer), general));
    form->addRow(QStringLiteral("Вступает в силу:"), valueLabel("ThisUpdate", when(crl.Time), general));
    // The record has no time of the next list: the line stays hidden.
    auto *nextLabel = new QLabel(QStringLiteral("Следующее обновление:"), general);
    auto *next = valueLabel("NextUpdate", {}, general);
    form->addRow(nextLabel, next);
    nextLabel->hide();
    next->hide();
    auto *list = new QTreeWidget(general);
    list->setObjectName(QStringLiteral("serials"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("Серийный номер сертификата")});
    list->setColumnWidth(0, 340);
    for (const std::string &s : serials) list->addTopLevelItem(new QTreeWidgetItem({fromCp1251(s)}));
    auto *countRow = new QFormLayout;
    countRow->addRow(QStringLiteral("Всего отозвано сертификатов:"),
                     valueLabel("Count", QString::asprintf("%d", static_cast<int>(serials.size())), general));
    auto *generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(heading(QStringLiteral("Сведения о списке отозванных сертификатов"), general));
    generalLayout->addLayout(form);
    generalLayout->addWidget(list, 1);
    generalLayout->addLayout(countRow);
    general->setObjectName(QStringLiteral("GeneralPage"));
    tabs->addTab(general, QStringLiteral("Общие"));

    auto *fields = new CVerbaFieldsPage(QStringLiteral("Состав списка отозванных сертификатов:"), crlPrintout(crl),
                                        fileNameOf(crl.Issuer), tabs);
    addFields(fields->fields(), crlFields(crl));
    fields->fields()->table()->setColumnWidth(0, 170);
    fields->fields()->table()->setColumnWidth(1, 170);
    fields->setObjectName(QStringLiteral("FieldsPage"));
    tabs->addTab(fields, QStringLiteral("Состав"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(okCancelButtons(this)); // without Apply and Help
    resize(480, 440);
}
