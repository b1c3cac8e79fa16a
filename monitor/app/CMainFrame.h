// The main window: the category tree and the record list side by side in a
// splitter, the menu and toolbar with the monitor's commands, the status bar
// with its clock pane, and the two timers (clock and refresh).
#pragma once

#include "monitor/app/CWindowPlacement.h"
#include "monitor/views/CAutoSendDlg.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>

class QAction;
class QLabel;
class QSplitter;
class QToolBar;

namespace tarmin::monitor {

class CLeftView;
class CMainApp;
class CMainDoc;
class CMonView;

// Command numbers of the menu and toolbar.
enum Command : int {
    kCmdRefresh = 32774,
    kCmdSignMessage = 32775,
    kCmdConfiguration = 32778,
    kCmdSendPacket = 32780,
    kCmdFilter = 32781,
    kCmdAbout = 57664,
    kCmdExit = 57665,
    kCmdToolBar = 59392,
    kCmdStatusBar = 59393,
    kCmdSmallIcons = 59408,
    kCmdLargeIcons = 59409,
    kCmdList = 59410,
    kCmdDetails = 59411,
    kCmdArrange = 59412,
};

inline constexpr int kClockTimerId = 1369;
inline constexpr int kRefreshTimerId = 1396;
inline constexpr int kClockPeriodMs = 1000;
inline constexpr int kStatusPaneCount = 5;
inline constexpr int kClockPane = 4;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CMainApp &app, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // Window creation: commands, bars, clock, title, tree.
    bool OnCreate();
    // Restores the bar state and the window placement from the framework
    // profile (once the settings store is open).
    void restoreFrameState();

    CLeftView *leftView() const { return m_tree; }
    CMonView *monView() const { return m_list; }
    CMainDoc *document() const { return m_doc; }
    QAction *command(int id) const { return m_commands.value(id); }
    QLabel *statusPane(int index) const;
    QTimer &refreshTimer() { return m_refreshTimer; }
    QTimer &clockTimer() { return m_clockTimer; }

    // Starts (or restarts) the refresh timer with the period the settings
    // and the receipt catch-up give now.
    void startRefreshTimer();
    // One refresh: what the refresh timer and the refresh command do.
    void OnRefresh();
    // Puts the local time into the clock pane.
    void OnClockTick();
    // The signing wizard, then the message job it describes.
    void OnServiceSignMsg();
    // The distribution wizard; its automatic sending windows join the chain.
    void OnServiceSendPacket();
    // The open automatic sending windows.
    AutoSendChain &autoSendWindows() { return m_autoSend; }

    // Ends the window without saving placement or bar state (a start-up
    // that failed).
    void destroyWithoutSaving();

    // Saves the window placement and the bar state now.
    void saveFrameState();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QAction *addCommand(int id, const QString &text, const QString &prompt, const QString &tip);
    void createCommands();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void updateCommandStates();
    void setViewStyle(int id);
    void restoreBarState();

    CMainApp &m_app;
    CMainDoc *m_doc;
    QSplitter *m_splitter;
    CLeftView *m_tree;
    CMonView *m_list;
    QToolBar *m_toolBar = nullptr;
    QList<QLabel *> m_panes;
    QHash<int, QAction *> m_commands;
    CWindowPlacement m_placement;
    QTimer m_clockTimer;
    QTimer m_refreshTimer;
    bool m_saveOnClose = true;
    AutoSendChain m_autoSend;
};

} // namespace tarmin::monitor
