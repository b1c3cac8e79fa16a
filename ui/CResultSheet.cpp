#include "ui/CResultSheet.h"

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"
#include "ui/ui_common.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

using namespace tarmin::tmnui;
using tarmin::qzvoui::fromCp1251;
using tarmin::qzvoui::valueLabel;

namespace {

QLabel *iconLabel(const char *name, StatusIcon kind, QWidget *parent) {
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFixedSize(18, 18);
    showStatusIcon(l, kind);
    return l;
}

// Shows a certificate through the S/MIME library; what it reports when it
// cannot (a context without cryptography) is shown to the operator here.
void viewCertificate(MhaContext *context, PCCERT_CONTEXT cert, QWidget *owner) {
    if (!cert) return;
    if (MHA_vcert_view_cert(context, cert) != 0) {
        QZ_ShowReports(owner, 3);
        QZ_ClearReports(2);
    }
}

QPushButton *certButton(const char *name, MhaContext *context, PCCERT_CONTEXT cert, QWidget *parent) {
    auto *b = new QPushButton(QStringLiteral("Показать сертификат..."), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(b->sizeHint().width() + 16);
    b->setEnabled(cert != nullptr);
    QObject::connect(b, &QPushButton::clicked, parent, [context, cert, parent] { viewCertificate(context, cert, parent->window()); });
    return b;
}

// A result line: icon, text.
QWidget *resultLine(const char *iconName, StatusIcon kind, const char *textName, const QString &text, QWidget *parent) {
    auto *w = new QWidget(parent);
    auto *row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(iconLabel(iconName, kind, w));
    row->addWidget(valueLabel(textName, text, w), 1);
    return w;
}

QString signTimeText(int64_t t) {
    if (t == 0) return {};
    return fromCp1251(tarmin::qzvoui::timeText(static_cast<std::time_t>(t), 5)) + QStringLiteral(" GMT");
}

} // namespace

CResultGeneralPage::CResultGeneralPage(MhaContext *context, const ProcessResult &r, QWidget *parent) : QWidget(parent) {
    auto *heading = new QLabel(QStringLiteral("Сведения о защищенном сообщении"), this);
    heading->setObjectName(QStringLiteral("Heading"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    // Captions of the page's lines, all as wide as the widest, so that the
    // values of the separate groups stand in one column.
    std::vector<QLabel *> captions;
    auto caption = [&](const QString &text) {
        auto *l = new QLabel(text, this);
        captions.push_back(l);
        return l;
    };

    // Decryption: the result, and the group with the encryptor's line and
    // its certificate button. The record names no encryptor, so the line
    // and its button stay hidden whatever the result.
    const bool encrypted = r.DecryptStatus != -1;
    auto *decryptForm = new QFormLayout;
    decryptForm->addRow(caption(QStringLiteral("Результат расшифрования:")),
                        resultLine("DecryptIcon", encrypted && r.DecryptStatus != 0 ? StatusIcon::error : StatusIcon::none,
                                   "DecryptResult",
                                   encrypted ? resultCodeText(r.DecryptStatus) : QStringLiteral("Сообщение не зашифровано"),
                                   this));
    auto *decryptGroup = new QWidget(this);
    decryptGroup->setObjectName(QStringLiteral("DecryptGroup"));
    auto *decryptRow = new QHBoxLayout(decryptGroup);
    decryptRow->setContentsMargins(0, 0, 0, 0);
    auto *encryptorLine = new QLabel(QStringLiteral("Зашифровал:"), decryptGroup);
    encryptorLine->setObjectName(QStringLiteral("EncryptorLine"));
    decryptRow->addWidget(encryptorLine, 1);
    auto *decryptButton = certButton("DecryptCertButton", context, r.DecryptCert, decryptGroup);
    decryptRow->addWidget(decryptButton);
    encryptorLine->hide();
    decryptButton->hide();
    decryptGroup->setVisible(encrypted);

    // Signature: the result, and the group with the signer, the time and the
    // signer's certificate.
    const bool isSigned = r.SignStatus != -1;
    auto *signForm = new QFormLayout;
    signForm->addRow(caption(QStringLiteral("Результат проверки ЭП:")),
                     resultLine("SignIcon", isSigned && r.SignStatus != 0 ? StatusIcon::error : StatusIcon::none,
                                "SignResult", isSigned ? resultCodeText(r.SignStatus) : QStringLiteral("Сообщение не подписано"),
                                this));
    auto *signGroup = new QWidget(this);
    signGroup->setObjectName(QStringLiteral("SignGroup"));
    auto *signGroupForm = new QFormLayout(signGroup);
    signGroupForm->setContentsMargins(0, 0, 0, 0);
    signGroupForm->addRow(caption(QStringLiteral("Подписал:")), valueLabel("SignerName", fromCp1251(r.SignerName), signGroup));
    signGroupForm->addRow(caption(QStringLiteral("Дата выполнения ЭП:")), valueLabel("SignTime", signTimeText(r.SignTime), signGroup));
    auto *signButtonRow = new QHBoxLayout;
    signButtonRow->addStretch(1);
    signButtonRow->addWidget(certButton("SignCertButton", context, r.SignerCert, signGroup));
    signGroupForm->addRow(signButtonRow);
    signGroup->setVisible(isSigned);

    auto *message = new QGroupBox(this);
    auto *messageForm = new QFormLayout(message);
    messageForm->addRow(caption(QStringLiteral("От:")), valueLabel("From", fromCp1251(r.From), message));
    messageForm->addRow(caption(QStringLiteral("Кому:")), valueLabel("To", fromCp1251(r.To), message));
    messageForm->addRow(caption(QStringLiteral("Копия:")), valueLabel("Cc", fromCp1251(r.Cc), message));
    messageForm->addRow(caption(QStringLiteral("Тема:")), valueLabel("Subject", fromCp1251(r.Subject), message));
    messageForm->addRow(caption(QStringLiteral("Отправлено:")), valueLabel("Sent", fromCp1251(r.Sent), message));

    int width = 0;
    for (QLabel *l : captions) width = std::max(width, l->sizeHint().width());
    for (QLabel *l : captions) l->setMinimumWidth(width);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(decryptForm);
    layout->addWidget(decryptGroup);
    layout->addLayout(signForm);
    layout->addWidget(signGroup);
    layout->addWidget(message);
    layout->addStretch(1);
}

CResultDetailsPage::CResultDetailsPage(MhaContext *context, const ProcessResult &r, QWidget *parent)
    : QWidget(parent), context_(context), details_(r.Details) {
    auto *signersLabel = new QLabel(QStringLiteral("Список подписавших вложения:"), this);
    signersLabel->setObjectName(QStringLiteral("SignersLabel"));
    signers_ = new QTableWidget(0, 2, this);
    signers_->setObjectName(QStringLiteral("Signers"));
    signers_->setHorizontalHeaderLabels({QStringLiteral("Результат проверки"), QStringLiteral("Имя подписавшего")});
    signers_->setColumnWidth(0, 120);
    signers_->setColumnWidth(1, 215);
    signers_->horizontalHeader()->setStretchLastSection(true);
    signers_->verticalHeader()->hide();
    signers_->setSelectionBehavior(QAbstractItemView::SelectRows);
    signers_->setSelectionMode(QAbstractItemView::SingleSelection);
    signers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    signers_->setShowGrid(true);
    int count = 0;
    for (const MhaAttachSigner *s = r.AttachSigners; s && count < kMaxAttachSigners; s = s->next, ++count) {
        const int row = signers_->rowCount();
        signers_->insertRow(row);
        auto *result = new QTableWidgetItem(statusIcon(s->Status == 0 ? StatusIcon::ok : StatusIcon::error),
                                            resultCodeText(s->Status));
        result->setData(Qt::UserRole, s->Status == 0 ? QStringLiteral("ok") : QStringLiteral("error"));
        signers_->setItem(row, 0, result);
        signers_->setItem(row, 1, new QTableWidgetItem(fromCp1251(s->SignerName)));
        certs_.push_back(s->SignerCert);
    }
    show_ = new QPushButton(QStringLiteral("&Показать сертификат..."), this);
    show_->setObjectName(QStringLiteral("ShowSignerCert"));
    show_->setMinimumWidth(show_->sizeHint().width() + 16);
    show_->setEnabled(false);
    connect(show_, &QPushButton::clicked, this, &CResultDetailsPage::showSelectedCertificate);
    connect(signers_, &QTableWidget::itemSelectionChanged, this, &CResultDetailsPage::selectionChanged);
    connect(signers_, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        signers_->selectRow(row);
        showSelectedCertificate();
    });
    if (certs_.empty()) {
        signersLabel->setText(QStringLiteral("Нет подписанных вложений"));
        signers_->hide();
        show_->hide();
    }

    auto *details = new QPlainTextEdit(this);
    details->setObjectName(QStringLiteral("Details"));
    details->setReadOnly(true);
    details->setPlainText(fromCp1251(r.Details).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    auto *save = new QPushButton(QStringLiteral("&Сохранить..."), this);
    save->setObjectName(QStringLiteral("SaveDetails"));
    connect(save, &QPushButton::clicked, this, &CResultDetailsPage::saveDetails);

    auto *signerButtons = new QHBoxLayout;
    signerButtons->addStretch(1);
    signerButtons->addWidget(show_);
    auto *saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveRow->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(signersLabel);
    layout->addWidget(signers_, 1);
    layout->addLayout(signerButtons);
    layout->addWidget(new QLabel(QStringLiteral("Подробное описание результата обработки:"), this));
    layout->addWidget(details, 2);
    layout->addLayout(saveRow);
}

void CResultDetailsPage::selectionChanged() {
    const int row = signers_->currentRow();
    const bool selected = !signers_->selectedItems().isEmpty();
    show_->setEnabled(selected && row >= 0 && row < static_cast<int>(certs_.size()) && certs_[row] != nullptr);
}

void CResultDetailsPage::showSelectedCertificate() {
    const int row = signers_->currentRow();
    if (row < 0 || row >= static_cast<int>(certs_.size())) return;
    viewCertificate(context_, certs_[row], window());
}

void CResultDetailsPage::saveDetails() {
    const QString path = tarmin::qzvoui::askSaveFileName(
        this, QStringLiteral("Выбор файла для сохранения результата обработки"), {}, {}, QStringLiteral("TXT"),
        QStringLiteral("Файлы результатов обработки (*.TXT)|*.TXT|Все файлы (*.*)|*.*||"));
    if (path.isEmpty()) return;
    const std::string bytes = details_ ? std::string(details_) : std::string();
    if (tarmin::qzvoui::writeChosenFile(path, bytes) != tarmin::qzvoui::WriteOutcome::written)
        tarmin::qzvoui::showMessageBox(QStringLiteral("Ошибка сохранения результата обработки зашифрованного сообщения"),
                                       window()->windowTitle(), TMN_MB_ICONERROR, this);
}

CResultSheet::CResultSheet(MhaContext *context, const ProcessResult &r, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CResultSheet"));
    setWindowTitle(QStringLiteral("Результат разбора сообщения"));
    auto *tabs = new QTabWidget(this);
    auto *general = new CResultGeneralPage(context, r, tabs);
    general->setObjectName(QStringLiteral("GeneralPage"));
    auto *details = new CResultDetailsPage(context, r, tabs);
    details->setObjectName(QStringLiteral("DetailsPage"));
    tabs->addTab(general, QStringLiteral("Общие"));
    tabs->addTab(details, QStringLiteral("Состав"));
    QDialogButtonBox *buttons = tarmin::qzvoui::okCancelButtons(this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(560, 520);
}
