#include "monitor/app/CMainFrame.h"

#include "monitor/app/CAboutDlg.h"
#include "monitor/app/CMainApp.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/CMainDoc.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/CDistributionWizard.h"
#include "monitor/views/CSignWizard.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/views/QtText.h"
#include "qzcom.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <cstdio>
#include <ctime>
#include <exception>

namespace tarmin::monitor {

namespace {

constexpr const char *kBarStateValue = "BarState";
constexpr const char *kStatusBarValue = "StatusBar";
constexpr int kBarStateVersion = 1;
constexpr int kInitialPaneSize = 200;

// The local time as a file time, for QZ_FormatFileTime, which formats a
// file time as it is.
QZ_FILETIME localFileTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(now + local.tm_gmtoff, &ft);
    return ft;
}

} // namespace

CMainFrame::CMainFrame(CMainApp &app, QWidget *parent)
    : QMainWindow(parent), m_app(app), m_doc(new CMainDoc(this)), m_splitter(new QSplitter(Qt::Horizontal, this)),
      m_tree(new CLeftView(m_splitter)), m_list(new CMonView(app.context(), m_splitter)) {
    setObjectName(QStringLiteral("CMainFrame"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(MonitorIcons::icon(kImageApplication));
    setWindowTitle(programCaption());
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setSizes({kInitialPaneSize, kInitialPaneSize});
    m_splitter->setStretchFactor(1, 1);
    setCentralWidget(m_splitter);
    m_doc->attachViews(m_tree, m_list);

    m_clockTimer.setObjectName(QStringLiteral("timer%1").arg(kClockTimerId));
    m_refreshTimer.setObjectName(QStringLiteral("timer%1").arg(kRefreshTimerId));
    connect(&m_clockTimer, &QTimer::timeout, this, &CMainFrame::OnClockTick);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CMainFrame::OnRefresh);

    connect(m_tree, &CLeftView::categorySelected, this, [this](int category) {
        m_list->OnCategorySelected(category);
        updateCommandStates();
    });
    connect(m_tree, &CLeftView::focusOtherPane, m_list, [this] { m_list->activeView()->setFocus(Qt::TabFocusReason); });
    // Why the logs cannot be read goes into the message pane (created with the bars).
    connect(m_list, &CMonView::statusText, this, [this](const QString &text) {
        if (QLabel *pane = statusPane(0)) pane->setText(text);
    });
    connect(m_list, &CListViewEx::focusOtherPane, m_tree, [this] { m_tree->setFocus(Qt::TabFocusReason); });
}

CMainFrame::~CMainFrame() {
    m_clockTimer.stop();
    m_refreshTimer.stop();
}

bool CMainFrame::OnCreate() {
    createCommands();
    createMenus();
    createToolBar();
    createStatusBar();
    m_clockTimer.start(kClockPeriodMs);
    OnClockTick();
    if (!m_app.profile().empty())
        setWindowTitle(programCaption() + QStringLiteral(" - [") + QString::fromStdString(m_app.profile()) +
                       QStringLiteral("]"));
    // The notifications list shows what receipt tracking waits for; without
    // it in the program the category cannot be chosen.
    m_tree->setCategoryEnabled(4, m_app.context().receipts != nullptr,
                               QStringLiteral("Отслеживание квитанций не входит в эту версию программы"));
    m_tree->OnInitialUpdate();
    updateCommandStates();
    return true;
}

QAction *CMainFrame::addCommand(int id, const QString &text, const QString &prompt, const QString &tip) {
    auto *action = new QAction(text, this);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    action->setData(id);
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    m_commands.insert(id, action);
    return action;
}

void CMainFrame::createCommands() {
    QStyle *style = QApplication::style();
    QAction *refresh = addCommand(kCmdRefresh, QStringLiteral("&Обновить"),
                                  QStringLiteral("Прочитать новые записи журналов Шлюза"), QStringLiteral("Обновить"));
    refresh->setShortcut(Qt::Key_F5);
    refresh->setIcon(style->standardIcon(QStyle::SP_BrowserReload));
    connect(refresh, &QAction::triggered, this, &CMainFrame::OnRefresh);

    QAction *sign = addCommand(kCmdSignMessage, QStringLiteral("&Создать сообщение..."),
                               QStringLiteral("Запустить Мастер выполнения ЭП документа"),
                               QStringLiteral("Создать сообщение"));
    sign->setIcon(MonitorIcons::icon(kImageSignedMessage));
    connect(sign, &QAction::triggered, this, &CMainFrame::OnServiceSignMsg);
    QAction *packet = addCommand(kCmdSendPacket, QStringLiteral("Отправить пакет..."),
                                 QStringLiteral("Запустить Мастер отправки пакета"), QStringLiteral("Отправить пакет"));
    packet->setIcon(MonitorIcons::icon(kImageOutbound));
    connect(packet, &QAction::triggered, this, &CMainFrame::OnServiceSendPacket);

    QAction *config = addCommand(kCmdConfiguration, QStringLiteral("&Конфигурация..."),
                                 QStringLiteral("Запустить программу конфигурации"), QStringLiteral("Конфигурация"));
    config->setIcon(style->standardIcon(QStyle::SP_ComputerIcon));
    connect(config, &QAction::triggered, this, [this] { m_app.RunConfigurationProgram(false); });

    QAction *filter = addCommand(kCmdFilter, QStringLiteral("Фильтрация..."),
                                 QStringLiteral("Задать условия отбора записей списка"), QStringLiteral("Фильтрация"));
    filter->setIcon(style->standardIcon(QStyle::SP_FileDialogContentsView));
    connect(filter, &QAction::triggered, this, [this] { m_list->OnFilter(); });

    QAction *about = addCommand(kCmdAbout, QStringLiteral("&О Программе..."),
                                QStringLiteral("Сведения о программе и её версии"), QStringLiteral("О программе"));
    about->setIcon(style->standardIcon(QStyle::SP_MessageBoxQuestion));
    connect(about, &QAction::triggered, this, [this] {
        CAboutDlg dialog(this);
        runModal(dialog);
    });

    QAction *exit = addCommand(kCmdExit, QStringLiteral("В&ыход"), QStringLiteral("Закрыть программу"),
                               QStringLiteral("Выход"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    auto *styles = new QActionGroup(this);
    const struct {
        int id;
        const char *text;
        const char *prompt;
        QStyle::StandardPixmap icon;
    } kStyles[] = {
        {kCmdSmallIcons, "&Мелкие значки", "Показать записи мелкими значками", QStyle::SP_FileIcon},
        {kCmdLargeIcons, "&Крупные значки", "Показать записи крупными значками", QStyle::SP_DesktopIcon},
        {kCmdList, "С&писок", "Показать записи списком", QStyle::SP_FileDialogListView},
        {kCmdDetails, "&Таблица", "Показать записи таблицей со столбцами", QStyle::SP_FileDialogDetailedView},
    };
    for (const auto &s : kStyles) {
        QAction *a = addCommand(s.id, QString::fromUtf8(s.text), QString::fromUtf8(s.prompt),
                                QString::fromUtf8(s.text).remove(QLatin1Char('&')));
        a->setCheckable(true);
        a->setIcon(style->standardIcon(s.icon));
        styles->addAction(a);
        connect(a, &QAction::triggered, this, [this, id = s.id] { setViewStyle(id); });
    }
    m_commands.value(kCmdDetails)->setChecked(true);

    QAction *arrange = addCommand(kCmdArrange, QStringLiteral("&Упорядочить значки"),
                                  QStringLiteral("Расставить значки по сетке"), QStringLiteral("Упорядочить значки"));
    connect(arrange, &QAction::triggered, this, [this] { m_list->arrangeIcons(); });
}

void CMainFrame::createMenus() {
    QMenu *file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addAction(command(kCmdExit));

    QMenu *view = menuBar()->addMenu(QStringLiteral("&Вид"));
    QAction *toolBarToggle = addCommand(kCmdToolBar, QStringLiteral("&Панель инструментов"),
                                        QStringLiteral("Показать или скрыть панель инструментов"),
                                        QStringLiteral("Панель инструментов"));
    QAction *statusBarToggle = addCommand(kCmdStatusBar, QStringLiteral("&Строка состояния"),
                                          QStringLiteral("Показать или скрыть строку состояния"),
                                          QStringLiteral("Строка состояния"));
    toolBarToggle->setCheckable(true);
    statusBarToggle->setCheckable(true);
    view->addAction(toolBarToggle);
    view->addAction(statusBarToggle);
    view->addSeparator();
    for (int id : {kCmdSmallIcons, kCmdLargeIcons, kCmdList, kCmdDetails}) view->addAction(command(id));
    view->addAction(command(kCmdArrange));
    view->addSeparator();
    view->addAction(command(kCmdFilter));
    view->addAction(command(kCmdRefresh));

    QMenu *service = menuBar()->addMenu(QStringLiteral("&Сервис"));
    service->addAction(command(kCmdSignMessage));
    service->addAction(command(kCmdSendPacket));
    service->addSeparator();
    service->addAction(command(kCmdConfiguration));

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Справка"));
    help->addAction(command(kCmdAbout));
}

void CMainFrame::createToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Стандартная"));
    m_toolBar->setObjectName(QStringLiteral("toolBar128"));
    m_toolBar->setMovable(true);
    m_toolBar->setIconSize(QSize(16, 16));
    for (int id : {kCmdRefresh, kCmdFilter}) m_toolBar->addAction(command(id));
    m_toolBar->addSeparator();
    for (int id : {kCmdSignMessage, kCmdSendPacket, kCmdConfiguration}) m_toolBar->addAction(command(id));
    m_toolBar->addSeparator();
    for (int id : {kCmdSmallIcons, kCmdLargeIcons, kCmdList, kCmdDetails}) m_toolBar->addAction(command(id));
    m_toolBar->addSeparator();
    m_toolBar->addAction(command(kCmdAbout));

    QAction *toggle = command(kCmdToolBar);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, m_toolBar, &QToolBar::setVisible);
    connect(m_toolBar, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::createStatusBar() {
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    // Pane 0 is the message area of the bar itself; panes 1 to 3 are the
    // keyboard lock indicators, which Qt cannot read on every platform and
    // therefore stay empty; pane 4 is the clock.
    auto *message = new QLabel(bar);
    message->setObjectName(QStringLiteral("pane0"));
    bar->addWidget(message, 1);
    m_panes.append(message);
    const QString widths[] = {QStringLiteral("CAP"), QStringLiteral("NUM"), QStringLiteral("SCRL")};
    for (int i = 1; i <= 3; ++i) {
        auto *pane = new QLabel(bar);
        pane->setObjectName(QStringLiteral("pane%1").arg(i));
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(widths[i - 1]) + 8);
        bar->addPermanentWidget(pane);
        m_panes.append(pane);
    }
    auto *clock = new QLabel(bar);
    clock->setObjectName(QStringLiteral("pane4"));
    clock->setMinimumWidth(clock->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00:00:00")) + 8);
    bar->addPermanentWidget(clock);
    m_panes.append(clock);

    QAction *toggle = command(kCmdStatusBar);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, bar, &QStatusBar::setVisible);
}

QLabel *CMainFrame::statusPane(int index) const {
    return index >= 0 && index < m_panes.size() ? m_panes[index] : nullptr;
}

void CMainFrame::restoreFrameState() {
    restoreBarState();
    m_placement.Restore(*this);
}

void CMainFrame::restoreBarState() {
    const std::string section = CWindowPlacement::sectionPath();
    QByteArray state(QZ_MAX_BINARY, Qt::Uninitialized);
    QZ_DWORD length = static_cast<QZ_DWORD>(state.size());
    if (QZ_GetKeyBinary(section.c_str(), kBarStateValue, state.data(), &length, 0) == 0) {
        state.resize(static_cast<qsizetype>(length));
        restoreState(state, kBarStateVersion);
    }
    QZ_DWORD statusBarShown = 1;
    if (QZ_GetKeyDwordEx(section.c_str(), kStatusBarValue, &statusBarShown, 1, 0) == 0)
        command(kCmdStatusBar)->setChecked(statusBarShown != 0);
    command(kCmdToolBar)->setChecked(!m_toolBar->isHidden());
}

void CMainFrame::saveFrameState() {
    m_placement.Save(*this);
    const std::string section = CWindowPlacement::sectionPath();
    const QByteArray state = saveState(kBarStateVersion);
    QZ_SetKeyBinary(section.c_str(), kBarStateValue, state.constData(), static_cast<QZ_DWORD>(state.size()),
                    QZ_REG_BINARY, 0);
    QZ_SetKeyDword(section.c_str(), kStatusBarValue, command(kCmdStatusBar)->isChecked() ? 1 : 0, 0);
}

void CMainFrame::closeEvent(QCloseEvent *event) {
    if (m_saveOnClose) saveFrameState();
    // Their runs end between packets and are waited for before anything of
    // the program goes.
    m_autoSend.closeAll();
    m_app.OnMainFrameClosing();
    m_clockTimer.stop();
    m_refreshTimer.stop();
    event->accept();
}

void CMainFrame::destroyWithoutSaving() {
    m_saveOnClose = false;
    m_clockTimer.stop();
    m_refreshTimer.stop();
    hide();
}

void CMainFrame::startRefreshTimer() {
    m_refreshTimer.start(m_app.refreshPeriodMs());
}

void CMainFrame::OnRefresh() {
    m_app.ReadRefreshSettings();
    m_refreshTimer.stop();
    m_list->Refresh();
    m_app.RunReceiptCatchUp();
    startRefreshTimer();
}

void CMainFrame::OnClockTick() {
    const QZ_FILETIME now = localFileTimeNow();
    char *text = nullptr;
    if (QZ_FormatFileTime(&now, 5, &text) == 0 && text) m_panes.value(kClockPane)->setText(qtText(text));
    QZ_Free(text);
}

void CMainFrame::OnServiceSignMsg() {
    try {
        placeSignedMessage(m_app.context(), this);
    } catch (const std::exception &e) {
        messageBox(this, QString::fromLocal8Bit(e.what()), MsgIcon::Error);
    } catch (...) {
        std::fputs("CMainFrame::OnServiceSignMsg() exception catched\n", stderr);
    }
}

void CMainFrame::OnServiceSendPacket() {
    try {
        sendDistributionPackets(m_app.context(), this, m_autoSend);
    } catch (const std::exception &e) {
        messageBox(this, QString::fromLocal8Bit(e.what()), MsgIcon::Error);
    } catch (...) {
        std::fputs("CMainFrame::OnServiceSendPacket() exception catched\n", stderr);
    }
}

void CMainFrame::setViewStyle(int id) {
    m_list->setViewStyle(static_cast<ViewStyle>(id));
    updateCommandStates();
}

void CMainFrame::updateCommandStates() {
    command(kCmdFilter)->setEnabled(m_list->selectedCategory() != 0);
    command(kCmdArrange)->setEnabled(m_list->isIconStyle());
    if (QAction *styleCommand = command(static_cast<int>(m_list->viewStyle()))) styleCommand->setChecked(true);
}

} // namespace tarmin::monitor
