#include "moncfg/gui/CConfigPage.h"

#include "moncfg/gui/CNumberEdit.h"
#include "moncfg/gui/CfgUi.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

namespace tarmin::moncfg {

QString controlName(int control) { return QString::number(control); }

CConfigPage::CConfigPage(const PageSpec &spec, QWidget *parent) : QWidget(parent), m_spec(spec) {
    setObjectName(controlName(spec.dialog));
}

QAbstractButton *CConfigPage::box(int id) const { return findChild<QAbstractButton *>(controlName(id)); }

QWidget *CConfigPage::control(int id) const { return findChild<QWidget *>(controlName(id)); }

void CConfigPage::bindControls() {
    if (m_spec.checks)
        for (const CheckBox &entry : m_spec.checks->boxes)
            if (QAbstractButton *button = box(entry.control)) {
                connect(button, &QAbstractButton::clicked, this, &CConfigPage::modified);
                connect(button, &QAbstractButton::toggled, this, &CConfigPage::updateDependentControls);
            }
    for (const Field &field : m_spec.fields) {
        if (auto *number = qobject_cast<CNumberEdit *>(control(field.control))) {
            connect(number, &CNumberEdit::edited, this, &CConfigPage::modified);
        } else if (auto *edit = qobject_cast<QLineEdit *>(control(field.control))) {
            edit->setMaxLength(kFieldTextMax);
            // A read-only field changes through its button, which tells
            // about the change itself.
            connect(edit, &QLineEdit::textEdited, this, &CConfigPage::modified);
        }
    }
    updateDependentControls();
}

bool CConfigPage::load(const ProductKey &key) {
    if (key.access() == KeyAccess::None) return false;
    const PageValues values = loadPage(m_spec, key);
    showValues(values);
    if (key.access() == KeyAccess::ReadOnly) {
        m_readOnly = true;
        applyReadOnly();
    }
    updateDependentControls();
    return values.listStatus != monitor::ListLoadStatus::ItemMissing;
}

void CConfigPage::showValues(const PageValues &values) {
    if (m_spec.checks)
        for (const CheckBox &entry : m_spec.checks->boxes)
            if (QAbstractButton *button = box(entry.control)) button->setChecked(boxChecked(values.flags, entry.flag));
    for (std::size_t i = 0; i < m_spec.fields.size() && i < values.fields.size(); ++i) {
        const QString text = fromCp1251(values.fields[i]);
        QWidget *widget = control(m_spec.fields[i].control);
        if (auto *number = qobject_cast<CNumberEdit *>(widget))
            number->setText(text);
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            edit->setText(text);
    }
}

PageValues CConfigPage::values() const {
    PageValues values;
    if (m_spec.checks)
        for (const CheckBox &entry : m_spec.checks->boxes)
            if (QAbstractButton *button = box(entry.control); button && button->isChecked()) values.flags |= entry.flag;
    for (const Field &field : m_spec.fields) {
        QString text;
        QWidget *widget = control(field.control);
        if (auto *number = qobject_cast<CNumberEdit *>(widget))
            text = number->text();
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            text = edit->text();
        // A text that does not convert is refused (refusedText) before any save.
        values.fields.push_back(toCp1251(text).value_or(std::string()));
    }
    return values;
}

bool CConfigPage::save(const ProductKey &key) { return savePage(m_spec, values(), key); }

QString CConfigPage::fieldLabel(const Field &field) const {
    QWidget *widget = control(field.control);
    for (const QLabel *label : findChildren<QLabel *>())
        if (label->buddy() == widget) {
            QString text = label->text().remove(QLatin1Char('&')).trimmed();
            while (text.endsWith(QLatin1Char(':'))) text.chop(1);
            return text.trimmed();
        }
    return QString::fromLatin1(field.value);
}

QWidget *CConfigPage::refusedText(QString &message) const {
    for (const Field &field : m_spec.fields) {
        if (field.kind != FieldKind::Text) continue;
        auto *edit = qobject_cast<QLineEdit *>(control(field.control));
        if (!edit) continue;
        message = outsideCodePageMessage(fieldLabel(field), edit->text());
        if (!message.isEmpty()) return edit;
    }
    return nullptr;
}

void CConfigPage::applyReadOnly() {
    for (QWidget *child : findChildren<QWidget *>()) {
        if (auto *edit = qobject_cast<QLineEdit *>(child)) edit->setReadOnly(true);
        if (auto *number = qobject_cast<CNumberEdit *>(child)) number->setReadOnly(true);
        if (!qobject_cast<QLabel *>(child)) child->setEnabled(false);
    }
}

void CConfigPage::updateDependentControls() {
    for (const Dependency &dependency : m_spec.dependencies) {
        QWidget *widget = control(dependency.control);
        if (!widget) continue;
        const QAbstractButton *first = box(dependency.box);
        const QAbstractButton *second = dependency.secondBox ? box(dependency.secondBox) : nullptr;
        const bool on = first && first->isChecked() && (!dependency.secondBox || (second && second->isChecked()));
        widget->setEnabled(on && !m_readOnly);
    }
}

} // namespace tarmin::moncfg
