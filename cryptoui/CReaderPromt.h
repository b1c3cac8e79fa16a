// The list prompt: the operator chooses one entry of a list; the detail text
// of the selected entry is shown below the list.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;

// Object names of the controls (the dialog's control numbers), for tests.
inline constexpr const char *kReaderListName = "1000";
inline constexpr const char *kReaderPromptName = "1002";
inline constexpr const char *kReaderDetailsName = "1003";

class CReaderPromt : public QDialog {
    Q_OBJECT
public:
    // selected outside the list leaves the list without a selection. An empty
    // title keeps the caption "Выберите ключевой носитель".
    CReaderPromt(const QStringList &items, const QStringList &details, const QString &prompt, int selected,
                 const QString &title, QWidget *parent = nullptr);

    // The index selected in the list (-1 when none).
    int selectedIndex() const;

private:
    void showDetails(int index);

    QStringList details_;
    QComboBox *list_ = nullptr;
    QLabel *prompt_ = nullptr;
    QLabel *detailsLabel_ = nullptr;
    QPushButton *ok_ = nullptr;
};
