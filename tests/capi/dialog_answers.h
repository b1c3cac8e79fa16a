// Answers the modal dialogs that a call under test opens, in order: each
// action receives the next modal widget once it is shown.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QVariant>

#include <deque>
#include <functional>
#include <memory>

namespace tarmin::test {

class DialogAnswers {
public:
    using Action = std::function<void(QWidget *)>;

    DialogAnswers() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start();
    }
    void then(Action a) { actions_.push_back(std::move(a)); }
    // Modal widgets answered so far, by class or object name.
    const std::vector<QString> &seen() const { return seen_; }
    size_t pending() const { return actions_.size(); }

private:
    void tick() {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w->property("tarmin_answered").toBool() || actions_.empty()) return;
        w->setProperty("tarmin_answered", true);
        seen_.push_back(w->objectName());
        Action a = std::move(actions_.front());
        actions_.pop_front();
        a(w);
    }
    QTimer timer_;
    std::deque<Action> actions_;
    std::vector<QString> seen_;
};

// Chooses an entry of the list prompt and confirms, or cancels it.
inline DialogAnswers::Action choose(int index) {
    return [index](QWidget *w) {
        if (auto *list = w->findChild<QComboBox *>(QStringLiteral("1000"))) list->setCurrentIndex(index);
        if (auto *d = qobject_cast<QDialog *>(w)) d->accept();
    };
}
inline DialogAnswers::Action cancel() {
    return [](QWidget *w) {
        if (auto *d = qobject_cast<QDialog *>(w)) d->reject();
    };
}
// Records the text of a message box and closes it.
inline DialogAnswers::Action read_box(QString *text, QString *title = nullptr) {
    return [text, title](QWidget *w) {
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            if (text) *text = box->text();
            if (title) *title = box->windowTitle();
            box->accept();
        } else if (auto *d = qobject_cast<QDialog *>(w)) {
            d->reject();
        }
    };
}

} // namespace tarmin::test
