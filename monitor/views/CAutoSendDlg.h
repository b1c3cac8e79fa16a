// Automatic sending windows: each sends the packets of its own copy of the
// distribution wizard's data every few minutes until the operator ends it
// with "Завершить" or the main window closes. The main window keeps them in
// a chain; each new one opens down and to the right of the last one.
#pragma once

#include "monitor/jobs/Distribution.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <vector>

class QLineEdit;

namespace tarmin::monitor {

class CAutoSendDlg : public QDialog {
    Q_OBJECT
public:
    // Takes its own copy of the data (the context is shared with the other
    // windows of the same wizard run). The timer starts at once; the first
    // run begins one full period later.
    explicit CAutoSendDlg(const DistributionData &data, QWidget *parent = nullptr);
    ~CAutoSendDlg() override;

    // The length of a minute of the period, in milliseconds (60000; tests
    // shorten it).
    static void setMillisecondsPerMinute(int ms);
    static int millisecondsPerMinute();

    // A tick of the timer: starts a run unless one is in progress.
    void OnTimer();
    // The end of a run (posted from the worker): the overall result and the
    // time of the run.
    void OnRunFinished();
    // "Завершить": stops the timer, stops a run in progress between packets
    // and waits for it, lets the context go and closes the window, which is
    // then deleted.
    void OnFinish();

    bool runInProgress() const { return m_running; }
    // The window's data; the packets change while a run is in progress.
    const DistributionData &data() const { return m_data; }
    QTimer &timer() { return m_timer; }
    int runsFinished() const { return m_runsFinished; }

protected:
    void reject() override { OnFinish(); }

private:
    DistributionData m_data;
    DistributionRun m_run;
    QTimer m_timer;
    bool m_running = false;
    bool m_ended = false;
    int m_runsFinished = 0;
    QLineEdit *m_lastRun;
    QLineEdit *m_result;
};

// The main window's automatic sending windows.
class AutoSendChain {
public:
    // Places the window (the first where it opens, each later one down and
    // to the right of the last open one by the height of a menu bar, keeping
    // its size), shows it and appends it.
    void add(CAutoSendDlg *window);
    // Ends every open window as "Завершить" does.
    void closeAll();
    // The open windows, oldest first.
    std::vector<CAutoSendDlg *> windows() const;

private:
    std::vector<QPointer<CAutoSendDlg>> m_windows;
};

} // namespace tarmin::monitor
