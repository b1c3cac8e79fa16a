#include "moncfg/gui/CFpconfigDlg.h"

#include "moncfg/ConfigTexts.h"
#include "moncfg/gui/CFPEmail.h"
#include "moncfg/gui/CFPKvit.h"
#include "moncfg/gui/CFPPath.h"
#include "moncfg/gui/CFPProtokol.h"
#include "moncfg/gui/CPacketList.h"
#include "moncfg/gui/CProtPass.h"
#include "moncfg/gui/CSenderList.h"
#include "moncfg/gui/CfgUi.h"
#include "qzcom.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::moncfg {

namespace {

const QString kProductTitle = QStringLiteral("Тармин-Оператор");

} // namespace

QString configCaption(const std::string &profile) {
    if (profile.empty()) return kProductTitle;
    return kProductTitle + QStringLiteral(" - [") + QString::fromStdString(profile) + QStringLiteral("]");
}

CFpconfigDlg::CFpconfigDlg(const std::string &profile, bool isProtected, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(configCaption(profile));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("preferences-system")));

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("1000"));
    m_tree->header()->hide();
    m_stack = new QStackedWidget(this);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    m_apply = new QPushButton(QStringLiteral("&Применить"), this);
    m_apply->setObjectName(QStringLiteral("1001"));
    connect(ok, &QPushButton::clicked, this, &CFpconfigDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CFpconfigDlg::reject);
    connect(m_apply, &QPushButton::clicked, this, &CFpconfigDlg::saveAll);

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Конфигурация :"), this));
    left->addWidget(m_tree);
    auto *body = new QHBoxLayout;
    body->addLayout(left, 1);
    body->addWidget(m_stack, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(m_apply);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(buttons);

    // The pages in the order of the page table.
    CPacketList *packets = nullptr;
    CSenderList *senderLists = nullptr;
    for (const PageSpec &spec : pageTable()) {
        CConfigPage *page = nullptr;
        switch (spec.id) {
        case PageId::Root: page = m_root = new CProtPass(isProtected, this); break;
        case PageId::Paths: page = new CFPPath(this); break;
        case PageId::Emails: page = new CFPEmail(this); break;
        case PageId::SenderLists: page = senderLists = new CSenderList(this); break;
        case PageId::Packets: page = packets = new CPacketList(this); break;
        case PageId::Protocol: page = new CFPProtokol(this); break;
        case PageId::Notifications: page = new CFPKvit(this); break;
        }
        addPage(fromCp1251(spec.title), spec.depth, page);
    }
    senderLists->setPacketPage(packets);

    buildTree();
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CFpconfigDlg::showSelectedPage);
    m_tree->setCurrentItem(m_tree->topLevelItem(0));
    showSelectedPage();
    resize(760, 520);

    loadPages();
    QZ_DWORD setup = 0;
    if (const char *product = QZ_GetProductKeyName())
        QZ_GetKeyDwordEx(product, "Setup", &setup, 0, 1);
    if (setup != 0) saveAll();
    setModified(false);
}

void CFpconfigDlg::addPage(const QString &title, int depth, CConfigPage *page) {
    m_pages.push_back({title, depth, page});
    m_stack->addWidget(page);
    connect(page, &CConfigPage::modified, this, [this] { setModified(true); });
}

CConfigPage *CFpconfigDlg::page(int dialog) const {
    for (const PageRow &row : m_pages)
        if (row.page->spec().dialog == dialog) return row.page;
    return nullptr;
}

void CFpconfigDlg::buildTree() {
    // Each row hangs under the last row of the depth above it.
    std::vector<QTreeWidgetItem *> parents;
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        const PageRow &row = m_pages[i];
        parents.resize(static_cast<std::size_t>(row.depth - 1));
        auto *item = parents.empty() ? new QTreeWidgetItem(m_tree) : new QTreeWidgetItem(parents.back());
        item->setText(0, row.title);
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        parents.push_back(item);
    }
    m_tree->expandAll();
}

void CFpconfigDlg::loadPages() {
    // One opening of the product key serves every page: each would get the
    // same access, and with it the same read-only mode. The operator is told
    // once about what could not be read.
    const ProductKey key = ProductKey::forLoading();
    bool complete = key.access() != KeyAccess::None;
    for (const PageRow &row : m_pages) complete = row.page->load(key) && complete;
    m_readOnly = key.access() == KeyAccess::ReadOnly;
    if (!complete) messageBox(this, fromCp1251(texts::kReadAccessFailed), MsgIcon::Stop);
}

void CFpconfigDlg::showSelectedPage() {
    const QTreeWidgetItem *item = m_tree->currentItem();
    if (!item) return;
    m_stack->setCurrentWidget(m_pages[static_cast<std::size_t>(item->data(0, Qt::UserRole).toInt())].page);
}

void CFpconfigDlg::selectPage(const CConfigPage *page) {
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it)
        if (m_pages[static_cast<std::size_t>((*it)->data(0, Qt::UserRole).toInt())].page == page) {
            m_tree->setCurrentItem(*it);
            return;
        }
}

void CFpconfigDlg::setModified(bool modified) {
    m_modified = modified && !m_readOnly;
    m_apply->setEnabled(m_modified);
}

bool CFpconfigDlg::saveAll() {
    for (const PageRow &row : m_pages) {
        QString message;
        if (QWidget *field = row.page->refusedText(message)) {
            selectPage(row.page);
            messageBox(this, message, MsgIcon::Stop);
            field->setFocus();
            return false;
        }
    }
    const ProductKey key = ProductKey::forSaving();
    bool saved = key.access() == KeyAccess::ReadWrite;
    if (saved) {
        // Every page in one write batch: the monitor reads the old settings
        // or the new ones, never a mixture, and a failed save leaves the old.
        const bool batch = QZ_BeginWriteBatch() == 0;
        for (const PageRow &row : m_pages) saved = row.page->save(key) && saved;
        if (batch && QZ_EndWriteBatch(saved ? 1 : 0) != 0) saved = false;
    }
    if (!saved) {
        messageBox(this, fromCp1251(texts::kWriteAccessFailed), MsgIcon::Stop);
        return false;
    }
    setModified(false);
    return true;
}

bool CFpconfigDlg::offerToSave() {
    if (!m_modified) return true;
    if (messageBox(this, fromCp1251(texts::kSaveChanges), MsgIcon::Question, MsgButtons::YesNo) != kAnswerYes)
        return true;
    return saveAll();
}

void CFpconfigDlg::accept() {
    if (offerToSave()) QDialog::accept();
}

void CFpconfigDlg::closeEvent(QCloseEvent *event) {
    // Closing the window asks like "OK"; "OK" and "&Отменить" hide the
    // window without passing here.
    if (isVisible() && !offerToSave()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace tarmin::moncfg
