#include "monitor/views/RecordDlgBase.h"

#include "monitor/resources/MonitorIcons.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::monitor {

namespace {
constexpr int kAttachmentColumnWidth = 350;

} // namespace

QFont boldFont(const QFont &base) {
    QFont bold = base;
    bold.setBold(true);
    return bold;
}

QDialogButtonBox *okCancelButtons(QDialog *dialog) {
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

RecordDlgBase::RecordDlgBase(const QString &objectName, const QString &headingText, const QString &explanation,
                             QWidget *parent)
    : QDialog(parent), m_fields(new QGridLayout), m_heading(new QLabel(headingText, this)), m_icon(new QLabel(this)) {
    setObjectName(objectName);
    setWindowTitle(QStringLiteral("Тармин-Оператор"));
    m_heading->setObjectName(QStringLiteral("heading"));
    m_heading->setFont(boldFont(font()));
    m_icon->setObjectName(QStringLiteral("icon"));
    m_icon->setFixedSize(32, 32);

    auto *explanationLabel = new QLabel(explanation, this);
    explanationLabel->setObjectName(QStringLiteral("explanation"));
    explanationLabel->setWordWrap(true);

    auto *top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->addWidget(m_heading);
    titles->addWidget(explanationLabel);
    top->addLayout(titles, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(m_fields);
}

void RecordDlgBase::addFieldRow(const QString &label, const QStringList &values) {
    auto *caption = new QLabel(label, this);
    m_fields->addWidget(caption, m_row, 0, Qt::AlignTop);
    auto *line = new QHBoxLayout;
    QList<QLineEdit *> edits;
    for (const QString &value : values) {
        auto *edit = new QLineEdit(value, this);
        edit->setReadOnly(true);
        edit->setCursorPosition(0);
        line->addWidget(edit, values.size() == 1 ? 1 : 0);
        edits.append(edit);
    }
    if (values.size() > 1) line->addStretch(1);
    caption->setBuddy(edits.value(0));
    m_fields->addLayout(line, m_row++, 1);
    m_fieldRows.append({label, edits});
}

QLineEdit *RecordDlgBase::field(const QString &label, int index) const {
    for (const auto &[text, edits] : m_fieldRows)
        if (text == label) return edits.value(index);
    return nullptr;
}

void RecordDlgBase::setImage(int imageIndex) {
    m_image = imageIndex;
    m_icon->setPixmap(MonitorIcons::large(imageIndex));
    setWindowIcon(MonitorIcons::icon(imageIndex));
}

void RecordDlgBase::addAttachments(const QStringList &names, bool failed, const QString &errorMessage) {
    m_attachmentsLabel = new QLabel(QStringLiteral("Список вложений:"), this);
    m_attachmentsLabel->setObjectName(QStringLiteral("attachmentsLabel"));
    m_errorText = new QLabel(errorMessage, this);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setWordWrap(true);
    m_attachments = new QTreeWidget(this);
    m_attachments->setObjectName(QStringLiteral("attachments"));
    m_attachments->setRootIsDecorated(false);
    m_attachments->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_attachments->setHeaderLabels({QStringLiteral("Имя вложения")});
    m_attachments->header()->setStretchLastSection(false);
    m_attachments->setColumnWidth(0, kAttachmentColumnWidth);
    m_attachments->setIconSize(QSize(16, 16));
    for (const QString &name : names) {
        auto *item = new QTreeWidgetItem(m_attachments, {name});
        item->setIcon(0, MonitorIcons::attachment());
        item->setToolTip(0, name);
    }
    // A failed message shows the error text, in bold, where the label was.
    m_errorText->setFont(boldFont(font()));
    m_attachmentsLabel->setVisible(!failed);
    m_errorText->setVisible(failed);

    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    layout->addWidget(m_attachmentsLabel);
    layout->addWidget(m_errorText);
    layout->addWidget(m_attachments, 1);
}

void RecordDlgBase::finish() {
    static_cast<QVBoxLayout *>(layout())->addWidget(okCancelButtons(this));
    resize(520, m_attachments ? 440 : 320);
}

} // namespace tarmin::monitor
