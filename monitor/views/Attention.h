// Flashing the main window and beeping when a listed error arrives. The
// record list calls attention(); tests install their own notifier to count.
#pragma once

class QWidget;

namespace tarmin::monitor {

class AttentionNotifier {
public:
    virtual ~AttentionNotifier() = default;
    // Flashes the window once and plays the information sound.
    virtual void flashAndBeep(QWidget *window) = 0;
};

void attention(QWidget *window);
// Replaces the notifier (null restores the default); returns the previous one.
AttentionNotifier *setAttentionNotifier(AttentionNotifier *notifier);

} // namespace tarmin::monitor
