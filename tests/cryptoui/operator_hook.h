// Plays the operator for the dialogs of qzvoui and tmnui: each dialog run is
// handed to the next action in line (none left: cancelled), and each message
// box is recorded and answered (the next answer in line, else its first
// button). Also helpers to work a save dialog.
#pragma once

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"

#include <QDialog>
#include <QFileDialog>

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <ostream>

// QString in test failure messages, as text.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace tarmin::test {

class Operator : public tarmin::qzvoui::UiHook {
public:
    using Act = std::function<int(QDialog &)>;
    struct Box {
        QString text, caption;
        uint32_t flags;
    };

    explicit Operator(std::vector<Act> acts = {}) : acts_(acts.begin(), acts.end()) {
        previous_ = tarmin::qzvoui::setUiHook(this);
    }
    ~Operator() override { tarmin::qzvoui::setUiHook(previous_); }
    Operator(const Operator &) = delete;
    Operator &operator=(const Operator &) = delete;

    void then(Act act) { acts_.push_back(std::move(act)); }
    void answer(int button) { answers_.push_back(button); }

    int runDialog(QDialog &dialog) override {
        dialogs.push_back(dialog.objectName());
        if (acts_.empty()) return QDialog::Rejected;
        Act act = std::move(acts_.front());
        acts_.pop_front();
        return act(dialog);
    }
    int messageBox(const QString &text, const QString &caption, uint32_t flags) override {
        boxes.push_back({text, caption, flags});
        if (!answers_.empty()) {
            int a = answers_.front();
            answers_.pop_front();
            return a;
        }
        switch (flags & 0xFu) {
        case TMN_MB_YESNO:
        case TMN_MB_YESNOCANCEL: return TMN_IDYES;
        default: return TMN_IDOK;
        }
    }

    std::vector<QString> dialogs; // object names of the dialogs run, in order
    std::vector<Box> boxes;

private:
    std::deque<Act> acts_;
    std::deque<int> answers_;
    tarmin::qzvoui::UiHook *previous_ = nullptr;
};

// Works a save (or open) dialog: chooses path and presses its button; the
// result is the dialog's (a refused replacement leaves it open: Rejected).
inline int chooseFile(QDialog &d, const std::filesystem::path &path) {
    auto *files = qobject_cast<QFileDialog *>(&d);
    if (!files) return QDialog::Rejected;
    files->selectFile(QString::fromStdString(path.string()));
    static_cast<QDialog *>(files)->accept(); // public in QDialog, virtual
    return files->result() == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected;
}

inline Operator::Act chooses(std::filesystem::path path) {
    return [path](QDialog &d) { return chooseFile(d, path); };
}

} // namespace tarmin::test
