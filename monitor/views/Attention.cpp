#include "monitor/views/Attention.h"

#include <QApplication>
#include <QWidget>

namespace tarmin::monitor {

namespace {

class SystemNotifier final : public AttentionNotifier {
public:
    void flashAndBeep(QWidget *window) override {
        // One flash: the window asks for attention for a short moment.
        if (window) QApplication::alert(window->window(), 1000);
        QApplication::beep();
    }
};

SystemNotifier g_system;
AttentionNotifier *g_notifier = &g_system;

} // namespace

void attention(QWidget *window) { g_notifier->flashAndBeep(window); }

AttentionNotifier *setAttentionNotifier(AttentionNotifier *notifier) {
    AttentionNotifier *previous = g_notifier == &g_system ? nullptr : g_notifier;
    g_notifier = notifier ? notifier : &g_system;
    return previous;
}

} // namespace tarmin::monitor
