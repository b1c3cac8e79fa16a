// One way for every message box of the monitor. Code that has something to
// tell the operator calls messageBox(); by default a QMessageBox shows it,
// and a test installs its own handler to read the text and icon and answer.
#pragma once

#include <QString>

class QWidget;

namespace tarmin::monitor {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
// Answers keep the numbers of the platform's message box results.
enum MsgAnswer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerRetry = 4, kAnswerYes = 6, kAnswerNo = 7 };

struct MessageRequest {
    QWidget *parent = nullptr;
    QString caption;
    QString text;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

class MessageBoxHandler {
public:
    virtual ~MessageBoxHandler() = default;
    virtual int show(const MessageRequest &request) = 0;
};

// Shows a message with the program's caption and returns the answer.
int messageBox(QWidget *parent, const QString &text, MsgIcon icon = MsgIcon::None,
               MsgButtons buttons = MsgButtons::Ok);
int messageBox(const MessageRequest &request);

// Replaces the handler (null restores the QMessageBox one); returns the
// previous handler. The caller keeps ownership.
MessageBoxHandler *setMessageBoxHandler(MessageBoxHandler *handler);

// The caption of the program's message boxes.
QString programCaption();

} // namespace tarmin::monitor
