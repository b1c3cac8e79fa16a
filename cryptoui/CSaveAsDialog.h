// The save dialog of the suite: the file dialog of Qt (its own widgets, so
// that it looks the same everywhere and tests can work it), with the
// system's filter form, a default extension and a prompt before an existing
// file is replaced.
#pragma once

#include <QFileDialog>
#include <QStringList>

// The system's filter form ("Text (*.txt)|*.txt|All (*.*)|*.*||") as Qt's
// name filters: one per pair, its patterns in both letter cases (masks match
// without regard to case, as on Windows) and "*.*" as "*".
QStringList qtNameFilters(const QString &windowsFilter);

class CSaveAsDialog : public QFileDialog {
    Q_OBJECT
public:
    CSaveAsDialog(QWidget *parent, const QString &title, const QString &directory, const QString &fileName,
                  const QString &defaultExt, const QString &windowsFilter);

    // The full path chosen (the default extension added); valid once accepted.
    QString chosenPath() const;

public slots:
    void accept() override;
};
