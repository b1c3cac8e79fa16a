// The splash window: a title and a text, closing itself after a number of
// seconds (timer 101; 0 seconds closes it at the first tick of its loop).
#pragma once

#include <QDialog>

class QTimer;

class CSplashWnd : public QDialog {
    Q_OBJECT
public:
    CSplashWnd(const QString &title, const QString &text, int seconds, QWidget *parent = nullptr);
    QTimer *timer() const { return timer_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QTimer *timer_ = nullptr;
};
