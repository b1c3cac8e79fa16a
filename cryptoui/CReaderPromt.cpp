#include "cryptoui/CReaderPromt.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CReaderPromt::CReaderPromt(const QStringList &items, const QStringList &details, const QString &prompt,
                           int selected, const QString &title, QWidget *parent)
    : QDialog(parent), details_(details) {
    setObjectName("CReaderPromt");
    setWindowTitle(title.isEmpty() ? QString::fromUtf8("Выберите ключевой носитель") : title);
    setModal(true);

    prompt_ = new QLabel(prompt, this);
    prompt_->setObjectName(kReaderPromptName);
    prompt_->setTextFormat(Qt::PlainText);

    list_ = new QComboBox(this);
    list_->setObjectName(kReaderListName);
    list_->addItems(items);
    // Subject names are long: room for a typical one without cutting it.
    list_->setMinimumContentsLength(64);
    list_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    detailsLabel_ = new QLabel(this);
    detailsLabel_->setObjectName(kReaderDetailsName);
    detailsLabel_->setTextFormat(Qt::PlainText);
    detailsLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailsLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    detailsLabel_->setMinimumHeight(fontMetrics().lineSpacing() * 6);

    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QString::fromUtf8("OK"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName("IDOK");
    buttons->addButton(QString::fromUtf8("Отмена"), QDialogButtonBox::RejectRole)->setObjectName("IDCANCEL");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addWidget(list_);
    layout->addWidget(detailsLabel_, 1);
    layout->addWidget(buttons);

    list_->setCurrentIndex(selected >= 0 && selected < items.size() ? selected : -1);
    showDetails(list_->currentIndex());
    connect(list_, &QComboBox::currentIndexChanged, this, &CReaderPromt::showDetails);
}

int CReaderPromt::selectedIndex() const { return list_->currentIndex(); }

void CReaderPromt::showDetails(int index) {
    detailsLabel_->setText(index >= 0 && index < details_.size() ? details_.at(index) : QString());
    // Confirming needs an entry: without one there is nothing to hand back.
    ok_->setEnabled(index >= 0);
}
