// A page of the configuration window. A page loads its settings when it is
// made, tells about every change through modified(), and writes its
// settings in save().
#pragma once

#include <QWidget>

namespace tarmin::moncfg {

class CConfigPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Writes the page's settings; false when they could not be written.
    virtual bool save() = 0;

signals:
    void modified();
};

} // namespace tarmin::moncfg
