// Start-up options beyond the profile: the category selected after
// start-up ("--select=N") and the headless screenshot ("--screenshot FILE").
#pragma once

#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"

namespace tarmin::monitor {

class CMainApp;

// While it lives (screenshot mode, nobody at the screen): every message box
// is written to standard error instead of waiting for an answer, every modal
// dialog likewise and rejected, and the run is marked as interrupted so that
// the program ends with a failure.
class HeadlessPrompts : public MessageBoxHandler, public ModalHook {
public:
    HeadlessPrompts();
    ~HeadlessPrompts() override;
    HeadlessPrompts(const HeadlessPrompts &) = delete;
    HeadlessPrompts &operator=(const HeadlessPrompts &) = delete;

    // Writes "tmngwmon: <caption>: <text>" and gives the cautious answer.
    int show(const MessageRequest &request) override;
    int run(QDialog &dialog) override;
    bool interrupted() const { return m_interrupted; }

private:
    MessageBoxHandler *m_previousMessages;
    ModalHook *m_previousModal;
    bool m_interrupted = false;
};

// Selects the category given with "--select=N", if any.
void selectInitialCategory(CMainApp &app);
// Selects the initial category (the notifications after the receipt
// catch-up has ended), lets the list read it, renders the main window into
// the screenshot file and closes the window. Returns 0 when the file was
// written and no message box came up, 1 otherwise (with the reason on
// standard error).
int runScreenshot(CMainApp &app);

} // namespace tarmin::monitor
