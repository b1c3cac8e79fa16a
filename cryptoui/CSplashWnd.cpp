#include "cryptoui/CSplashWnd.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

CSplashWnd::CSplashWnd(const QString &title, const QString &text, int seconds, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CSplashWnd"));
    setWindowTitle(title);
    setModal(true);
    auto *label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("SplashText"));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(16);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("101"));
    timer_->setSingleShot(true);
    const long long ms = std::clamp<long long>(static_cast<long long>(seconds) * 1000, 0, INT_MAX);
    timer_->setInterval(static_cast<int>(ms));
    connect(timer_, &QTimer::timeout, this, &QDialog::accept);
}

void CSplashWnd::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The time counts from the moment the window is on the screen.
    if (!timer_->isActive()) timer_->start();
}
