#include "moncfg/gui/CFpconfigDlg.h"

#include "moncfg/gui/CProtPass.h"
#include "moncfg/gui/CfgUi.h"

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
    body->addWidget(m_stack, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(m_apply);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(buttons);

    // The page table. The settings pages below the root join it as they
    // are built; until then the tree shows only what can really be edited.
    m_root = new CProtPass(isProtected, this);
    addPage(kProductTitle, 1, m_root);

    buildTree();
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CFpconfigDlg::showSelectedPage);
    m_tree->setCurrentItem(m_tree->topLevelItem(0));
    showSelectedPage();
    setModified(false);
}

void CFpconfigDlg::addPage(const QString &title, int depth, CConfigPage *page) {
    m_pages.push_back({title, depth, page});
    m_stack->addWidget(page);
    connect(page, &CConfigPage::modified, this, [this] { setModified(true); });
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

void CFpconfigDlg::showSelectedPage() {
    const QTreeWidgetItem *item = m_tree->currentItem();
    if (!item) return;
    m_stack->setCurrentWidget(m_pages[static_cast<std::size_t>(item->data(0, Qt::UserRole).toInt())].page);
}

void CFpconfigDlg::setModified(bool modified) {
    m_modified = modified;
    m_apply->setEnabled(modified);
}

bool CFpconfigDlg::saveAll() {
    bool saved = true;
    for (const PageRow &row : m_pages) saved = row.page->save() && saved;
    if (saved) setModified(false);
    return saved;
}

void CFpconfigDlg::offerToSave() {
    if (m_modified &&
        messageBox(this,
                   QStringLiteral("В процессе редактирования параметров конфигурации, были сделаны изменения. "
                                  "Хотите сохранить их сейчас?"),
                   MsgIcon::Question, MsgButtons::YesNo) == kAnswerYes)
        saveAll();
}

void CFpconfigDlg::accept() {
    offerToSave();
    QDialog::accept();
}

void CFpconfigDlg::closeEvent(QCloseEvent *event) {
    // Closing the window asks like "OK"; "OK" and "&Отменить" hide the
    // window without passing here.
    if (isVisible()) offerToSave();
    QDialog::closeEvent(event);
}

} // namespace tarmin::moncfg
