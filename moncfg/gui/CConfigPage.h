// A page of the configuration window. Each page lays out its controls under
// the control numbers of its row in the page table (as object names); this
// base class loads and saves them through the table: the check-box group's
// boxes (check boxes or radio buttons), the text and number fields, and the
// controls that depend on boxes. A list page adds its rows
// (CListPage). Any change by the operator is told through modified().
#pragma once

#include "moncfg/PageSettings.h"
#include "moncfg/PageTable.h"

#include <QWidget>

class QAbstractButton;

namespace tarmin::moncfg {

class CConfigPage : public QWidget {
    Q_OBJECT
public:
    explicit CConfigPage(const PageSpec &spec, QWidget *parent = nullptr);

    const PageSpec &spec() const { return m_spec; }

    // Shows the values read through key, or, when the key could not be
    // opened at all, leaves the page as it is. A key opened for reading only
    // puts the page in read-only mode for good. Returns false when something
    // could not be read (the window then tells the operator).
    bool load(const ProductKey &key);
    bool isReadOnly() const { return m_readOnly; }

    // The values the page shows now.
    virtual PageValues values() const;
    // Writes the page's values through key (open for saving).
    virtual bool save(const ProductKey &key);
    // The first field whose text cannot be kept in Windows-1251, with the
    // message that says why; null when every text can.
    virtual QWidget *refusedText(QString &message) const;

    // A control outside the table's bindings (a browse button, an item
    // dialog) changed the page.
    void markModified() { emit modified(); }

signals:
    void modified();

protected:
    // Binds the table's controls once the page has laid them out: changes
    // by the operator set the modified flag and update dependent controls.
    void bindControls();
    virtual void showValues(const PageValues &values);
    // Read-only mode: every control of the page disabled (fields also made
    // read-only).
    virtual void applyReadOnly();
    void updateDependentControls();

    QAbstractButton *box(int control) const;
    QWidget *control(int control) const;
    // The label shown for a field, for messages about it.
    virtual QString fieldLabel(const Field &field) const;

private:
    const PageSpec &m_spec;
    bool m_readOnly = false;
};

// The object name of a control number.
QString controlName(int control);

} // namespace tarmin::moncfg
