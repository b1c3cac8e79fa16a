#include "monitor/views/CAutoSendDlg.h"

#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/GuiThread.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/QtText.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <ctime>

namespace tarmin::monitor {

namespace {

int g_msPerMinute = 60000;

QLineEdit *readOnlyEdit(int control, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("c%1").arg(control));
    edit->setReadOnly(true);
    return edit;
}

// The height of a menu bar of this style: the step between the windows.
int menuBarHeight() {
    QMenuBar bar;
    bar.addMenu(QStringLiteral("&Сервис"));
    return bar.sizeHint().height();
}

} // namespace

void CAutoSendDlg::setMillisecondsPerMinute(int ms) { g_msPerMinute = ms > 0 ? ms : 60000; }
int CAutoSendDlg::millisecondsPerMinute() { return g_msPerMinute; }

CAutoSendDlg::CAutoSendDlg(const DistributionData &data, QWidget *parent)
    : QDialog(parent), m_data(data), m_lastRun(readOnlyEdit(1034, this)), m_result(readOnlyEdit(1040, this)) {
    setObjectName(QStringLiteral("CAutoSendDlg"));
    setModal(false);
    setWindowIcon(MonitorIcons::icon(kImageOutbound));
    setWindowTitle(QStringLiteral("Авторассылка: ") + qtText(m_data.listName));

    auto *finish = new QPushButton(QStringLiteral("Завершить"), this);
    finish->setObjectName(QStringLiteral("c2"));
    connect(finish, &QPushButton::clicked, this, &CAutoSendDlg::OnFinish);
    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Последняя отправка:"), this), 0, 0);
    layout->addWidget(m_lastRun, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("Результат выполнения:"), this), 1, 0);
    layout->addWidget(m_result, 1, 1);
    layout->addWidget(finish, 2, 1, Qt::AlignRight);
    setMinimumWidth(360);

    m_timer.setObjectName(QStringLiteral("autoSendTimer"));
    // A coarse timer may fire up to 5 % early: no run before the period.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CAutoSendDlg::OnTimer);
    const qint64 period = static_cast<qint64>(m_data.periodMinutes) * g_msPerMinute;
    // QTimer takes an int: a period longer than 24.8 days waits that long.
    m_timer.start(static_cast<int>(std::min<qint64>(period, INT32_MAX)));
}

CAutoSendDlg::~CAutoSendDlg() {
    m_timer.stop();
    m_run.requestStop();
    waitWhile([this] { return m_run.running(); });
    m_run.join();
}

void CAutoSendDlg::OnTimer() {
    if (m_running || m_ended) return;
    m_running = true;
    const bool started = m_run.start(m_data, [this] {
        QMetaObject::invokeMethod(this, &CAutoSendDlg::OnRunFinished, Qt::QueuedConnection);
    });
    if (!started) {
        m_running = false;
        messageBox(this, QStringLiteral("Еррор канкретный"));
    }
}

void CAutoSendDlg::OnRunFinished() {
    if (!m_running || m_run.running()) return;
    m_run.join();
    m_running = false;
    ++m_runsFinished;
    const int state = overallState(m_data.packets);
    if (state == kPacketEmpty && !m_result->text().isEmpty()) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    m_result->setText(qtText(packetStateText(state)));
    m_lastRun->setText(QString::fromLatin1(runTimeText(local).c_str()));
}

void CAutoSendDlg::OnFinish() {
    if (m_ended) return;
    m_ended = true;
    m_timer.stop();
    // A run in progress ends before its next packet; the data (and the
    // context) stay until it has.
    m_run.requestStop();
    waitWhile([this] { return m_run.running(); });
    m_run.join();
    m_running = false;
    m_data.context.reset();
    QDialog::reject();
    deleteLater();
}

void AutoSendChain::add(CAutoSendDlg *window) {
    std::vector<CAutoSendDlg *> open = windows();
    if (!open.empty()) {
        const int step = menuBarHeight();
        window->adjustSize();
        window->move(open.back()->pos() + QPoint(step, step));
    }
    window->show();
    m_windows.emplace_back(window);
}

void AutoSendChain::closeAll() {
    for (CAutoSendDlg *window : windows()) window->OnFinish();
    m_windows.clear();
}

std::vector<CAutoSendDlg *> AutoSendChain::windows() const {
    std::vector<CAutoSendDlg *> open;
    for (const QPointer<CAutoSendDlg> &window : m_windows)
        if (window && window->isVisible()) open.push_back(window.data());
    return open;
}

} // namespace tarmin::monitor
