// One way for every message box and modal dialog of the configuration
// program, so that a test can take the operator's place: read a message's
// text and icon and answer it, or fill a dialog's controls and close it.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QDialog;
class QWidget;

namespace tarmin::moncfg {

enum class MsgIcon { Stop, Information, Question };
enum class MsgButtons { Ok, YesNo };
// Answers keep the numbers of the platform's message box results.
enum MsgAnswer : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

class UiHook {
public:
    virtual ~UiHook() = default;
    // Gets a message with its icon and buttons; returns the answer.
    virtual int messageBox(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) = 0;
    // Gets a modal dialog fully set up; returns its result as exec() would.
    virtual int runDialog(QDialog &dialog) = 0;
};

// Installs a hook (null: real message boxes and dialogs); returns the
// previous one. The caller keeps ownership.
UiHook *setUiHook(UiHook *hook);

// Shows a message under the application's display name.
int messageBox(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
// Runs a dialog modally.
int runModal(QDialog &dialog);

// Windows-1251 texts of the settings at the edge of the window.
QString fromCp1251(std::string_view text);
// A text of the window in Windows-1251; nullopt when it holds a character
// the code page lacks.
std::optional<std::string> toCp1251(const QString &text);
// The message about a text that holds a character Windows-1251 lacks;
// empty when it has none.
QString outsideCodePageMessage(const QString &label, const QString &text);
// Checks that a field's text can be kept in the settings; when it cannot,
// tells the operator which character is refused, puts the focus on the
// field and returns false. label: the field's label as the operator sees it.
bool acceptsCp1251(QWidget *field, const QString &label, const QString &text);

} // namespace tarmin::moncfg
