#include "moncfg/gui/PageLayout.h"

#include "moncfg/gui/CConfigPage.h"
#include "moncfg/gui/CNumberEdit.h"
#include "qzcom.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarmin::moncfg {

PageLayout::PageLayout(CConfigPage *page) : m_page(page), m_parent(page), m_layout(new QVBoxLayout(page)) {}

PageLayout::PageLayout(PageLayout &parent, const QString &title, int control) : m_page(parent.m_page) {
    auto *group = new QGroupBox(title, parent.m_parent);
    if (control) group->setObjectName(controlName(control));
    parent.add(group);
    m_parent = group;
    m_layout = new QVBoxLayout(group);
}

QAbstractButton *PageLayout::checkBox(int control, const QString &text) {
    auto *box = new QCheckBox(text, m_parent);
    box->setObjectName(controlName(control));
    add(box);
    return box;
}

QAbstractButton *PageLayout::radioButton(int control, const QString &text) {
    auto *radio = new QRadioButton(text, m_parent);
    radio->setObjectName(controlName(control));
    add(radio);
    return radio;
}

CNumberEdit *PageLayout::numberRow(const Field &field, const QString &label, const QString &unit, int labelControl,
                                   int unitControl) {
    auto *row = new QHBoxLayout;
    QLabel *caption = new QLabel(label, m_parent);
    if (labelControl) caption->setObjectName(controlName(labelControl));
    auto *edit = new CNumberEdit(field.min, field.max, m_parent);
    edit->setObjectName(controlName(field.control));
    edit->setProperty("spin", field.spin);
    edit->setMinimumWidth(90);
    caption->setBuddy(edit);
    row->addWidget(caption);
    row->addWidget(edit);
    if (!unit.isEmpty()) {
        QLabel *after = new QLabel(unit, m_parent);
        if (unitControl) after->setObjectName(controlName(unitControl));
        row->addWidget(after);
    }
    row->addStretch();
    m_layout->addLayout(row);
    return edit;
}

QLineEdit *PageLayout::textRow(const Field &field, const QString &label, int browseControl) {
    QLabel *caption = new QLabel(label, m_parent);
    auto *edit = new QLineEdit(m_parent);
    edit->setObjectName(controlName(field.control));
    caption->setBuddy(edit);
    add(caption);
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    if (browseControl) row->addWidget(browseButton(m_parent, browseControl, edit, m_page));
    m_layout->addLayout(row);
    return edit;
}

QLabel *PageLayout::label(int control, const QString &text) {
    auto *label = new QLabel(text, m_parent);
    if (control) label->setObjectName(controlName(control));
    add(label);
    return label;
}

void PageLayout::add(QWidget *widget) { m_layout->addWidget(widget); }

void PageLayout::addRight(QWidget *widget) { m_layout->addWidget(widget, 0, Qt::AlignRight); }

void PageLayout::stretch() { m_layout->addStretch(); }

QPushButton *browseButton(QWidget *parent, int control, QLineEdit *edit, CConfigPage *page) {
    auto *button = new QPushButton(QStringLiteral("&Пролистать"), parent);
    button->setObjectName(controlName(control));
    QObject::connect(button, &QPushButton::clicked, parent, [parent, edit, page] {
        if (QZ_BrowseForFolder(edit, parent) == 0 && page) page->markModified();
    });
    return button;
}

} // namespace tarmin::moncfg
