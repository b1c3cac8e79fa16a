#include "ui/manager/CCertManagerDlg.h"

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"
#include "ui/manager/CPasswordDlg.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <ctime>

using namespace tarmin::tmnui;
using tarmin::qzvoui::fromCp1251;

namespace {

constexpr const char *kCrlTab = "CRL";
// Files larger than this are no certificates.
constexpr std::size_t kMaxFile = 16u << 20;

QString date(std::time_t t) {
    return t ? QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t)).toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QTableWidget *makeTable(const QStringList &headers, const char *name, QWidget *parent) {
    auto *t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setHorizontalHeaderLabels(headers);
    t->verticalHeader()->hide();
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->horizontalHeader()->setStretchLastSection(true);
    t->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    t->setSortingEnabled(true);
    return t;
}

QTableWidgetItem *cell(const QString &text, const std::string &thumbprint) {
    auto *item = new QTableWidgetItem(text);
    item->setData(Qt::UserRole, QString::fromStdString(thumbprint));
    return item;
}

QPushButton *button(const QString &text, const char *name, QWidget *parent) {
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// Asks for a file to read: Qt's own open dialog, run through the suite's
// dialog session.
QString askOpenFile(QWidget *parent, const QString &title, const QStringList &filters) {
    QFileDialog dialog(parent, title);
    dialog.setObjectName(QStringLiteral("Open"));
    dialog.setOptions(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (tarmin::qzvoui::runModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace

CCertManagerDlg::CCertManagerDlg(CertManagerModel &model, QWidget *parent) : QDialog(parent), model_(model) {
    setObjectName(QStringLiteral("CCertManagerDlg"));
    setWindowTitle(QStringLiteral("Сертификаты"));

    purpose_ = new QComboBox(this);
    purpose_->setObjectName(QStringLiteral("Purpose"));
    purpose_->addItem(QStringLiteral("Защищенная электронная почта (1.3.6.1.5.5.7.3.4)"));
    purpose_->addItem(QStringLiteral("<Все>"));
    connect(purpose_, &QComboBox::currentIndexChanged, this, &CCertManagerDlg::refresh);
    auto *purposeRow = new QHBoxLayout;
    purposeRow->addWidget(new QLabel(QStringLiteral("Назначение:"), this));
    purposeRow->addWidget(purpose_, 1);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("Stores"));
    const QStringList certHeaders{QStringLiteral("Кому выдан"),      QStringLiteral("Кем выдан"),
                                  QStringLiteral("Адрес электронной почты"), QStringLiteral("Действителен с"),
                                  QStringLiteral("Действителен по"), QStringLiteral("Закрытый ключ")};
    for (const std::string &store : CertManagerModel::storeNames()) {
        QTableWidget *t = makeTable(certHeaders, store.c_str(), tabs_);
        const int widths[] = {200, 180, 200, 110, 110};
        for (int c = 0; c < 5; ++c) t->setColumnWidth(c, widths[c]);
        tables_[store] = t;
        tabs_->addTab(t, fromCp1251(CertManagerModel::storeTitle(store)));
        connect(t, &QTableWidget::itemSelectionChanged, this, &CCertManagerDlg::updateButtons);
        connect(t, &QTableWidget::cellDoubleClicked, this, &CCertManagerDlg::viewSelected);
    }
    QTableWidget *crls = makeTable({QStringLiteral("Издатель"), QStringLiteral("Вступает в силу"),
                                    QStringLiteral("Следующее обновление"), QStringLiteral("Отозвано сертификатов")},
                                   kCrlTab, tabs_);
    crls->setColumnWidth(0, 280);
    tables_[kCrlTab] = crls;
    tabs_->addTab(crls, QStringLiteral("Списки отзыва"));
    connect(crls, &QTableWidget::itemSelectionChanged, this, &CCertManagerDlg::updateButtons);
    connect(crls, &QTableWidget::cellDoubleClicked, this, &CCertManagerDlg::viewSelected);
    connect(tabs_, &QTabWidget::currentChanged, this, &CCertManagerDlg::updateButtons);

    import_ = button(QStringLiteral("&Импорт..."), "Import", this);
    export_ = button(QStringLiteral("&Экспорт..."), "Export", this);
    delete_ = button(QStringLiteral("&Удалить"), "Delete", this);
    view_ = button(QStringLiteral("&Просмотр"), "View", this);
    addCrl_ = button(QStringLiteral("Добавить список &отзыва..."), "AddCrl", this);
    setOwn_ = button(QStringLiteral("Сделать &своим"), "SetOwn", this);
    setOwn_->setToolTip(QStringLiteral("Подписывать сообщения этим сертификатом"));
    connect(import_, &QPushButton::clicked, this, &CCertManagerDlg::importFile);
    connect(export_, &QPushButton::clicked, this, &CCertManagerDlg::exportSelected);
    connect(delete_, &QPushButton::clicked, this, &CCertManagerDlg::deleteSelected);
    connect(view_, &QPushButton::clicked, this, &CCertManagerDlg::viewSelected);
    connect(addCrl_, &QPushButton::clicked, this, &CCertManagerDlg::addRevocationList);
    connect(setOwn_, &QPushButton::clicked, this, &CCertManagerDlg::setOwnSelected);
    auto *close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    close->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("IDCANCEL"));
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    auto *actions = new QHBoxLayout;
    for (QPushButton *b : {import_, export_, delete_, addCrl_, setOwn_}) actions->addWidget(b);
    actions->addStretch(1);
    actions->addWidget(view_);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(purposeRow);
    layout->addWidget(tabs_, 1);
    layout->addLayout(actions);
    layout->addLayout(bottom);
    resize(1000, 480);
    refresh();
}

QTableWidget *CCertManagerDlg::table(const std::string &name) const {
    auto it = tables_.find(name);
    return it == tables_.end() ? nullptr : it->second;
}

void CCertManagerDlg::selectTab(const std::string &name) {
    if (QTableWidget *t = table(name)) tabs_->setCurrentWidget(t);
}

std::string CCertManagerDlg::currentTab() const {
    return tabs_->currentWidget() ? tabs_->currentWidget()->objectName().toStdString() : std::string();
}

bool CCertManagerDlg::emailOnly() const { return purpose_->currentIndex() == 0; }

std::string CCertManagerDlg::selectedThumbprint() const {
    QTableWidget *t = table(currentTab());
    if (!t) return {};
    const auto selected = t->selectedItems();
    return selected.isEmpty() ? std::string() : selected.first()->data(Qt::UserRole).toString().toStdString();
}

void CCertManagerDlg::refresh() {
    for (const std::string &store : CertManagerModel::storeNames()) fillStore(store);
    fillRevocationLists();
    updateButtons();
}

void CCertManagerDlg::fillStore(const std::string &store) {
    QTableWidget *t = table(store);
    t->setSortingEnabled(false);
    t->setRowCount(0);
    auto &rows = rows_[store];
    rows.clear();
    const std::time_t now = std::time(nullptr);
    for (CertRow &r : model_.certificates(store, emailOnly())) {
        const int row = t->rowCount();
        t->insertRow(row);
        const bool expired = r.notAfter < now;
        QString key;
        if (store == "MY") key = r.hasKey ? QStringLiteral("есть") : QStringLiteral("нет");
        if (r.own) key += QStringLiteral(", свой");
        const QString cells[] = {fromCp1251(r.commonName), fromCp1251(r.issuer), fromCp1251(r.email),
                                 date(r.notBefore),        date(r.notAfter),     key};
        for (int c = 0; c < 6; ++c) {
            QTableWidgetItem *item = cell(cells[c], r.thumbprint);
            item->setToolTip(c == 0 ? fromCp1251(r.subject) : expired ? QStringLiteral("Срок действия истек") : QString());
            if (expired) item->setForeground(Qt::gray);
            if (r.own) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            t->setItem(row, c, item);
        }
        rows[r.thumbprint] = std::move(r);
    }
    t->setSortingEnabled(true);
}

void CCertManagerDlg::fillRevocationLists() {
    QTableWidget *t = table(kCrlTab);
    t->setSortingEnabled(false);
    t->setRowCount(0);
    for (const CrlRow &r : model_.revocationLists()) {
        const int row = t->rowCount();
        t->insertRow(row);
        const std::string thumb = r.crl->thumbprint();
        t->setItem(row, 0, cell(fromCp1251(r.issuer), thumb));
        t->setItem(row, 1, cell(date(r.thisUpdate), thumb));
        t->setItem(row, 2, cell(date(r.nextUpdate), thumb));
        t->setItem(row, 3, cell(QString::number(r.revoked), thumb));
    }
    t->setSortingEnabled(true);
}

void CCertManagerDlg::updateButtons() {
    const std::string tab = currentTab();
    const std::string thumb = selectedThumbprint();
    const bool crlTab = tab == kCrlTab;
    const CertRow *row = nullptr;
    if (!crlTab && !thumb.empty()) {
        auto &rows = rows_[tab];
        auto it = rows.find(thumb);
        if (it != rows.end()) row = &it->second;
    }
    import_->setEnabled(!crlTab);
    export_->setEnabled(row != nullptr);
    delete_->setEnabled(row != nullptr || (crlTab && !thumb.empty()));
    view_->setEnabled(!thumb.empty());
    setOwn_->setEnabled(row && row->hasKey && !row->own);
    setOwn_->setVisible(tab == "MY");
    QTableWidget *t = table(tab);
    status_->setText(crlTab ? QStringLiteral("Списков отзыва: %1").arg(t->rowCount())
                            : QStringLiteral("Сертификатов: %1").arg(t ? t->rowCount() : 0));
}

void CCertManagerDlg::tell(const Outcome &outcome) {
    if (outcome.cancelled) return;
    QStringList lines;
    for (const std::string &l : outcome.lines) lines << fromCp1251(l);
    tarmin::qzvoui::showMessageBox(lines.join(QLatin1Char('\n')), windowTitle(),
                                   outcome.ok ? TMN_MB_ICONINFORMATION : TMN_MB_ICONERROR, this);
}

bool CCertManagerDlg::readFile(const QString &path, std::string &bytes) {
    if (tarmin::qzvoui::readChosenFile(path, kMaxFile, bytes)) return true;
    tarmin::qzvoui::showMessageBox(QStringLiteral("Файл %1 не читается: это не обычный файл, или он больше 16 МБ.").arg(path),
                                   windowTitle(), TMN_MB_ICONERROR, this);
    return false;
}

void CCertManagerDlg::importFile() {
    const std::string store = currentTab();
    if (store == kCrlTab) return;
    const QString path = askOpenFile(
        this, QStringLiteral("Импорт сертификата"),
        {QStringLiteral("Сертификаты, списки отзыва, PKCS #12 (*.cer *.crt *.der *.pem *.p12 *.pfx *.crl *.CER *.CRT "
                        "*.DER *.PEM *.P12 *.PFX *.CRL)"),
         QStringLiteral("Все файлы (*)")});
    if (path.isEmpty()) return;
    std::string bytes;
    if (!readFile(path, bytes)) return;
    const Outcome outcome = model_.importFile(store, bytes, [this](std::string &password) {
        CPasswordDlg dialog(QStringLiteral("Введите пароль, которым защищен закрытый ключ файла."), false, this);
        if (tarmin::qzvoui::runModal(dialog) != QDialog::Accepted) return false;
        password = dialog.password();
        return true;
    });
    refresh();
    tell(outcome);
}

void CCertManagerDlg::exportSelected() {
    const std::string store = currentTab(), thumb = selectedThumbprint();
    auto it = rows_[store].find(thumb);
    if (it == rows_[store].end()) return;
    const CertRow &row = it->second;
    QString filter = QStringLiteral("Сертификат X.509 в кодировке DER (*.cer)|*.cer|Сертификат X.509 в кодировке "
                                    "Base64 (*.pem)|*.pem|");
    if (row.hasKey) filter += QStringLiteral("Файл PKCS #12 с закрытым ключом (*.p12)|*.p12|");
    const QString path = tarmin::qzvoui::askSaveFileName(this, QStringLiteral("Экспорт сертификата"), {},
                                                         fromCp1251(row.commonName).replace(QLatin1Char('/'), QLatin1Char('_')),
                                                         QStringLiteral("cer"), filter + QStringLiteral("|"));
    if (path.isEmpty()) return;
    // The file's extension chooses the form.
    const QString suffix = QFileInfo(path).suffix().toLower();
    ExportFormat format = ExportFormat::der;
    std::string password;
    if (suffix == QLatin1String("pem")) format = ExportFormat::pem;
    if (suffix == QLatin1String("p12") || suffix == QLatin1String("pfx")) {
        if (!row.hasKey) {
            tarmin::qzvoui::showMessageBox(QStringLiteral("У сертификата нет закрытого ключа для файла PKCS #12."),
                                           windowTitle(), TMN_MB_ICONERROR, this);
            return;
        }
        CPasswordDlg dialog(QStringLiteral("Задайте пароль, которым будет защищен закрытый ключ в файле."), true, this);
        if (tarmin::qzvoui::runModal(dialog) != QDialog::Accepted) return;
        password = dialog.password();
        format = ExportFormat::pkcs12;
    }
    tell(model_.exportCertificate(store, thumb, format, path.toStdString(), password));
    std::fill(password.begin(), password.end(), '\0');
}

void CCertManagerDlg::deleteSelected() {
    const std::string tab = currentTab(), thumb = selectedThumbprint();
    if (thumb.empty()) return;
    if (tab == kCrlTab) {
        if (tarmin::qzvoui::showMessageBox(QStringLiteral("Удалить выбранный список отзыва?"), windowTitle(),
                                           TMN_MB_YESNO | TMN_MB_ICONWARNING, this) != TMN_IDYES)
            return;
        const Outcome outcome = model_.removeRevocationList(thumb);
        refresh();
        if (!outcome.ok) tell(outcome);
        return;
    }
    auto it = rows_[tab].find(thumb);
    if (it == rows_[tab].end()) return;
    QString question = QStringLiteral("Удалить сертификат \"%1\" из хранилища \"%2\"?")
                           .arg(fromCp1251(it->second.commonName), fromCp1251(CertManagerModel::storeTitle(tab)));
    if (it->second.hasKey) question += QStringLiteral("\nВместе с ним будет удален его закрытый ключ.");
    if (it->second.own) question += QStringLiteral("\nЭто ваш сертификат: подписывать сообщения станет нечем.");
    if (tarmin::qzvoui::showMessageBox(question, windowTitle(), TMN_MB_YESNO | TMN_MB_ICONWARNING, this) != TMN_IDYES)
        return;
    const Outcome outcome = model_.removeCertificate(tab, thumb);
    refresh();
    if (!outcome.ok) tell(outcome);
}

void CCertManagerDlg::viewSelected() {
    const std::string tab = currentTab(), thumb = selectedThumbprint();
    if (thumb.empty()) return;
    if (tab == kCrlTab) {
        for (const CrlRow &r : model_.revocationLists())
            if (r.crl->thumbprint() == thumb)
                TMN_UIViewCrl(r.crl->der().data(), static_cast<uint32_t>(r.crl->der().size()));
        return;
    }
    auto it = rows_[tab].find(thumb);
    if (it == rows_[tab].end()) return;
    const auto &der = it->second.cert->der();
    TMN_UIViewCertificate(der.data(), static_cast<uint32_t>(der.size()), TMN_VIEW_DISABLE_ADDTOSTORE);
}

void CCertManagerDlg::addRevocationList() {
    const QString path = askOpenFile(this, QStringLiteral("Добавление списка отзыва"),
                                     {QStringLiteral("Списки отзыва (*.crl *.pem *.CRL *.PEM)"), QStringLiteral("Все файлы (*)")});
    if (path.isEmpty()) return;
    std::string bytes;
    if (!readFile(path, bytes)) return;
    const Outcome outcome = model_.addRevocationList(bytes);
    refresh();
    tell(outcome);
}

void CCertManagerDlg::setOwnSelected() {
    const std::string thumb = selectedThumbprint();
    if (currentTab() != "MY" || thumb.empty()) return;
    const Outcome outcome = model_.setOwnCertificate(thumb);
    refresh();
    tell(outcome);
}
