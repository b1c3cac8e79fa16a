#include "monitor/views/CSignWizard.h"
#include "monitor/views/WizardButtons.h"

#include "monitor/core/OperatorContext.h"
#include "monitor/core/MonitorContext.h"
#include "monitor/jobs/GatewayJob.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/views/QtText.h"
#include "qzcom.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tarmin::monitor {

namespace {

constexpr int kSubjectLimit = 255;
constexpr int kBodyLimit = 16384;
constexpr int kFromLimit = 255;
constexpr int kSizeTextLength = 128;
// Item data: the entry's own bytes (Windows-1251 text, or a file-system path).
constexpr int kBytesRole = Qt::UserRole;

QString id(int control) { return QStringLiteral("c%1").arg(control); }

QLabel *titleLabel(const QString &text, const QString &family, int pixels, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(id(1000));
    QFont font(family);
    font.setBold(true);
    font.setPixelSize(pixels);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

QPushButton *button(const QString &text, int control, QWidget *parent) {
    auto *b = new QPushButton(text, parent);
    b->setObjectName(id(control));
    return b;
}

// A report list with full-row selection and the given columns.
QTreeWidget *reportList(int control, const QStringList &columns, const QList<int> &widths, QWidget *parent) {
    auto *list = new QTreeWidget(parent);
    list->setObjectName(id(control));
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setHeaderLabels(columns);
    for (int i = 0; i < widths.size(); ++i) list->setColumnWidth(i, widths[i]);
    return list;
}

std::vector<std::string> itemBytes(const QTreeWidget *list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out.push_back(list->topLevelItem(i)->data(0, kBytesRole).toByteArray().toStdString());
    return out;
}

void removeSelected(QTreeWidget *list) {
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->isSelected()) delete list->takeTopLevelItem(i);
}

QTreeWidgetItem *textItem(const std::string &cp1251) {
    auto *item = new QTreeWidgetItem(QStringList{qtText(cp1251)});
    item->setData(0, kBytesRole, QByteArray::fromStdString(cp1251));
    return item;
}

} // namespace

CWPSignIntro::CWPSignIntro(QWidget *parent) : QWizardPage(parent) {
    setObjectName(QStringLiteral("CWPSignIntro"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel(QStringLiteral("Мастер выполнения ЭП документа"), QStringLiteral("Arial"), 16, this));
    auto *text = new QLabel(QStringLiteral("Мастер подписывает электронный документ с вложениями и отправляет "
                                           "результат выбранным абонентам ПК <Тармин-Шлюз>."),
                            this);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    layout->addStretch(1);
    layout->addWidget(new QLabel(QStringLiteral("Для продолжения нажмите кнопку \"Далее\"."), this));
}

CWPSignMsg::CWPSignMsg(const std::vector<std::string> &subjects, std::string &lastDir, QWidget *parent)
    : QWizardPage(parent), m_lastDir(lastDir), m_subject(new QComboBox(this)), m_body(new QPlainTextEdit(this)),
      m_from(new QLineEdit(this)),
      m_attachments(reportList(1007, {QStringLiteral("Имя файла"), QStringLiteral("Размер")}, {260, 80}, this)) {
    setObjectName(QStringLiteral("CWPSignMsg"));
    setTitle(QStringLiteral("Создание защищенного сообщения"));

    m_subject->setObjectName(id(1004));
    m_subject->setEditable(true);
    m_subject->setInsertPolicy(QComboBox::NoInsert);
    m_subject->lineEdit()->setMaxLength(kSubjectLimit);
    QStringList choices;
    for (const auto &subject : subjects) choices << qtText(subject);
    choices.sort();
    m_subject->addItems(choices);
    m_subject->setCurrentIndex(-1);
    m_subject->setEditText(QString());

    m_body->setObjectName(id(1009));
    connect(m_body, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_body->toPlainText();
        if (text.size() > kBodyLimit) m_body->setPlainText(text.left(kBodyLimit));
    });
    m_from->setObjectName(id(1034));
    m_from->setMaxLength(kFromLimit);

    QPushButton *add = button(QStringLiteral("&Добавить..."), 1003, this);
    QPushButton *remove = button(QStringLiteral("&Удалить"), 1002, this);
    connect(add, &QPushButton::clicked, this, &CWPSignMsg::OnAdd);
    connect(remove, &QPushButton::clicked, this, &CWPSignMsg::OnRemove);

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Тема:"), this), 0, 0);
    layout->addWidget(m_subject, 0, 1, 1, 2);
    layout->addWidget(m_body, 1, 0, 1, 3);
    layout->addWidget(new QLabel(QStringLiteral("Адрес отправителя:"), this), 2, 0);
    layout->addWidget(m_from, 2, 1, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("Список вложений:"), this), 3, 0, 1, 3);
    layout->addWidget(m_attachments, 4, 0, 2, 2);
    layout->addWidget(add, 4, 2);
    layout->addWidget(remove, 5, 2, Qt::AlignTop);
}

void CWPSignMsg::OnAdd() {
    QFileDialog dialog(this, QStringLiteral("Добавление файла"));
    dialog.setObjectName(QStringLiteral("AddFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Every file, with or without an extension.
    dialog.setNameFilter(QStringLiteral("Все файлы (*)"));
    if (!m_lastDir.empty()) dialog.setDirectory(qtText(m_lastDir));
    if (runModal(dialog) != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return;
    const QString first = files.first();
    m_lastDir = cp1251Text(first.left(first.lastIndexOf(QLatin1Char('/')) + 1));

    std::vector<std::string> selected;
    for (const QString &file : files) selected.push_back(QFile::encodeName(file).toStdString());
    // A name the gateway cannot take, or a second file of a name listed, stops
    // the adding there; the files before it are added.
    const std::size_t duplicate = firstDuplicateAttachment(itemBytes(m_attachments), selected);
    const std::size_t unrepresentable = firstUnrepresentableAttachment(selected);
    const std::size_t stop = std::min(duplicate, unrepresentable);
    for (std::size_t i = 0; i < stop; ++i) {
        const QFileInfo info(files[static_cast<int>(i)]);
        if (!info.exists()) continue;
        char size[kSizeTextLength] = "";
        QZ_FormatSize(size, kSizeTextLength, static_cast<QZ_DWORD>(info.size()));
        auto *item = new QTreeWidgetItem(QStringList{files[static_cast<int>(i)], qtText(size)});
        item->setIcon(0, MonitorIcons::attachment());
        item->setData(0, kBytesRole, QByteArray::fromStdString(selected[i]));
        m_attachments->insertTopLevelItem(0, item);
    }
    if (unrepresentable < duplicate)
        messageBox(this, qtText(unrepresentableAttachmentMessage(selected[unrepresentable])), MsgIcon::Warning);
    else if (duplicate < selected.size())
        messageBox(this, qtText(duplicateAttachmentMessage()), MsgIcon::Warning);
}

void CWPSignMsg::OnRemove() { removeSelected(m_attachments); }

bool CWPSignMsg::validatePage() {
    if (m_attachments->topLevelItemCount() == 0) OnAdd();
    if (m_attachments->topLevelItemCount() == 0) {
        messageBox(this, qtText(noAttachmentMessage()), MsgIcon::Error);
        return false;
    }
    return true;
}

void CWPSignMsg::fill(SignMessageData &data) const {
    data.subject = cp1251Text(m_subject->currentText());
    data.body = cp1251Text(m_body->toPlainText());
    data.from = cp1251Text(m_from->text());
    data.attachments = itemBytes(m_attachments);
}

CWPSignTo::CWPSignTo(QWidget *parent)
    : QWizardPage(parent),
      m_book(reportList(1008, {QStringLiteral("Тип:адрес электронной почты")}, {170}, this)),
      m_recipients(reportList(1014, {QStringLiteral("Тип:адрес электронной почты")}, {170}, this)),
      m_sign(new QCheckBox(QStringLiteral("Выполнить ЭП сообщения на шлюзе"), this)),
      m_crypt(new QCheckBox(QStringLiteral("Зашифровать сообщение на шлюзе"), this)) {
    setObjectName(QStringLiteral("CWPSignTo"));
    setTitle(QStringLiteral("Выбор абонента"));
    m_sign->setObjectName(id(1010));
    m_crypt->setObjectName(id(1011));
    m_sign->setChecked(true);
    m_crypt->setChecked(true);
    QPushButton *to = button(QStringLiteral("Кому ->"), 1015, this);
    QPushButton *remove = button(QStringLiteral("<- &Удалить"), 1002, this);
    connect(to, &QPushButton::clicked, this, &CWPSignTo::OnTo);
    connect(remove, &QPushButton::clicked, this, &CWPSignTo::OnRemove);

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Список всех адресов:"), this), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Получатели сообщения:"), this), 0, 2);
    layout->addWidget(m_book, 1, 0, 3, 1);
    layout->addWidget(to, 1, 1);
    layout->addWidget(remove, 2, 1, Qt::AlignTop);
    layout->addWidget(m_recipients, 1, 2, 3, 1);
    layout->addWidget(m_sign, 4, 0, 1, 3);
    layout->addWidget(m_crypt, 5, 0, 1, 3);
}

void CWPSignTo::initializePage() {
    m_finishHere = false;
    if (m_loaded) return;
    m_loaded = true;
    const AddressBook book = readAddressBook();
    if (!book.opened) {
        messageBox(this, qtText(addressBookMissingMessage()), MsgIcon::Error);
        return;
    }
    for (const auto &entry : book.entries) m_book->addTopLevelItem(textItem(entry));
}

void CWPSignTo::OnTo() {
    for (int i = 0; i < m_book->topLevelItemCount(); ++i) {
        QTreeWidgetItem *entry = m_book->topLevelItem(i);
        if (entry->isSelected())
            m_recipients->insertTopLevelItem(0, textItem(entry->data(0, kBytesRole).toByteArray().toStdString()));
    }
}

void CWPSignTo::OnRemove() { removeSelected(m_recipients); }

void CWPSignTo::fill(SignMessageData &data) const {
    data.recipients = itemBytes(m_recipients);
    data.signOnGateway = m_sign->isChecked();
    data.encryptOnGateway = m_crypt->isChecked();
}

CWPSignFinish::CWPSignFinish(QWidget *parent) : QWizardPage(parent), m_summary(new QListWidget(this)) {
    setObjectName(QStringLiteral("CWPSignFinish"));
    m_summary->setObjectName(id(1017));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel(QStringLiteral("Завершение работы мастера выполнения ЭП сообщения"),
                                 QStringLiteral("Arial"), 16, this));
    layout->addWidget(new QLabel(QStringLiteral("Выбраны следующие опции подписи:"), this));
    layout->addWidget(m_summary);
}

void CWPSignFinish::initializePage() {
    m_summary->clear();
    for (const auto &line : signSummaryLines(static_cast<CSignWizard *>(wizard())->data()))
        m_summary->addItem(qtText(line));
}

void CWPSignFinish::cleanupPage() {
    if (auto *to = qobject_cast<CWPSignTo *>(wizard()->page(CSignWizard::kRecipientPage))) to->setFinishHere(true);
}

CSignWizard::CSignWizard(const std::vector<std::string> &subjects, std::string &lastDir, QWidget *parent)
    : QWizard(parent), m_message(new CWPSignMsg(subjects, lastDir)), m_recipients(new CWPSignTo) {
    setObjectName(QStringLiteral("CSignWizard"));
    setWindowTitle(QStringLiteral("Мастер выполнения ЭП"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setWizardButtonTexts(*this);
    setPage(kIntroPage, new CWPSignIntro);
    setPage(kMessagePage, m_message);
    setPage(kRecipientPage, m_recipients);
    setPage(kFinishPage, new CWPSignFinish);
    setStartId(kIntroPage);
}

SignMessageData CSignWizard::data() const {
    SignMessageData data;
    m_message->fill(data);
    m_recipients->fill(data);
    return data;
}

void placeSignedMessage(MonitorContext &context, QWidget *owner) {
    SignMessageData data;
    {
        CSignWizard wizard(context.receipts ? context.receipts->subjects() : std::vector<std::string>(),
                           context.lastDialogDirectory, owner);
        if (runModal(wizard) != QDialog::Accepted) return;
        data = wizard.data();
    }
    struct WaitCursor {
        WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    } wait;
    // A context of its own when none was opened at start-up, released when
    // the job has ended.
    OperatorContext own;
    const OperatorContext *operatorContext = context.operatorContext;
    if (!operatorContext || !operatorContext->isOpen()) {
        if (own.open() != 0) {
            QZ_ReportEvent(QZ_LEVEL_SUMMARY, 0xE0070006);
            QZ_ShowReports(owner, 3);
            own.release();
            return;
        }
        operatorContext = &own;
    }
    GatewayJob job = messageJob(data, operatorContext->handle(), operatorContext->certificate(),
                                operatorContext->subjectName());
    job.owner = owner;
    const int result = WriteGatewayJob(job);
    own.release();
    if (result == kJobWritten) showMessageJobPlaced();
}

} // namespace tarmin::monitor
