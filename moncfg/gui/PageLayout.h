// Lays out the controls of a settings page, one row under the other, each
// named by its control number: check boxes and radio buttons, labelled
// number fields with their spins, labelled text fields with a "&Пролистать"
// button, and groups of them.
#pragma once

#include "moncfg/PageTable.h"

#include <QString>

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tarmin::moncfg {

class CConfigPage;
class CNumberEdit;

class PageLayout {
public:
    explicit PageLayout(CConfigPage *page);
    // Rows inside a group box titled title, added to parent.
    PageLayout(PageLayout &parent, const QString &title, int control = 0);

    QAbstractButton *checkBox(int control, const QString &text);
    QAbstractButton *radioButton(int control, const QString &text);
    // label, the field and its spin, and an optional unit after them.
    CNumberEdit *numberRow(const Field &field, const QString &label, const QString &unit = {}, int labelControl = 0,
                           int unitControl = 0);
    // label above the field; with browseControl, a "&Пролистать" button
    // beside it that lets the operator choose a directory.
    QLineEdit *textRow(const Field &field, const QString &label, int browseControl = 0);
    QLabel *label(int control, const QString &text);
    void add(QWidget *widget);
    void addRight(QWidget *widget);
    void stretch();

private:
    CConfigPage *m_page;
    QWidget *m_parent;
    QBoxLayout *m_layout;
};

// A "&Пролистать" button that puts a chosen directory into edit; page,
// when given, is marked modified after a choice.
QPushButton *browseButton(QWidget *parent, int control, QLineEdit *edit, CConfigPage *page);

} // namespace tarmin::moncfg
