// The operator of the configuration window's tests: answers the message
// boxes (Yes/No from a queue, "Нет" when it is empty) and plays a queue of
// scripts on the modal dialogs as they open, noting every message.
#pragma once

#include "moncfg/gui/CfgUi.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <deque>
#include <functional>
#include <vector>

namespace tarmin::moncfg::test {

struct Message {
    QString text;
    MsgIcon icon;
};

class ScriptedOperator : public UiHook {
public:
    using Script = std::function<void(QDialog &)>;

    ScriptedOperator() { m_previous = setUiHook(this); }
    ~ScriptedOperator() override { setUiHook(m_previous); }

    std::deque<Script> dialogs;
    std::deque<int> answers;
    std::vector<Message> messages;

    int messageBox(QWidget *, const QString &text, MsgIcon icon, MsgButtons buttons) override {
        messages.push_back({text, icon});
        if (buttons != MsgButtons::YesNo) return kAnswerOk;
        if (answers.empty()) return kAnswerNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int runDialog(QDialog &dialog) override {
        EXPECT_FALSE(dialogs.empty()) << "unexpected dialog " << dialog.windowTitle().toStdString();
        if (dialogs.empty()) {
            dialog.reject();
        } else {
            Script script = std::move(dialogs.front());
            dialogs.pop_front();
            script(dialog);
        }
        return dialog.result();
    }

    // The messages since the last look, which are then forgotten.
    std::vector<QString> takeMessages() {
        std::vector<QString> texts;
        for (const Message &m : messages) texts.push_back(m.text);
        messages.clear();
        return texts;
    }

private:
    UiHook *m_previous = nullptr;
};

template <typename T = QWidget> T *child(const QWidget &parent, const QString &name) {
    T *found = parent.findChild<T *>(name);
    EXPECT_NE(found, nullptr) << "no control " << name.toStdString();
    return found;
}
template <typename T = QWidget> T *child(const QWidget &parent, int control) {
    return child<T>(parent, QString::number(control));
}

// Types a text into a field as the operator would, replacing what it holds:
// a key event per character (any alphabet; QTest's own typing takes Latin-1
// only).
inline void typeInto(QWidget *field, const QString &text) {
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

inline void click(const QWidget &parent, int control) { child<QAbstractButton>(parent, control)->click(); }
inline void click(const QWidget &parent, const QString &name) { child<QAbstractButton>(parent, name)->click(); }

} // namespace tarmin::moncfg::test
