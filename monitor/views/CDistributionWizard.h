// The distribution wizard: the operator chooses a sender list (or packets by
// hand), and the packets are sent once on a worker thread while the wizard
// waits, or handed to an automatic sending window that sends them every few
// minutes.
#pragma once

#include "monitor/jobs/Distribution.h"

#include <QTimer>
#include <QWizard>
#include <QWizardPage>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QSpinBox;
class QTreeWidget;

namespace tarmin::monitor {

class AutoSendChain;
struct MonitorContext;

// The greeting: sender list or manual choice, and automatic sending.
class CDistribIntroPage : public QWizardPage {
    Q_OBJECT
public:
    explicit CDistribIntroPage(DistributionData &data, QWidget *parent = nullptr);
    // Checks the period and loads the packets; stays with a message when
    // none can be loaded.
    bool validatePage() override;

private:
    DistributionData &m_data;
    QComboBox *m_lists;
    QCheckBox *m_periodic;
    QLabel *m_periodLabel;
    QSpinBox *m_period;
};

// The packets, with the ones of a sender list selected.
class CDistribSelectPage : public QWizardPage {
    Q_OBJECT
public:
    CDistribSelectPage(DistributionData &data, AutoSendChain &chain, QWidget *windowParent,
                       QWidget *parent = nullptr);
    void initializePage() override;
    // Takes the selection; with automatic sending opens the window and ends
    // the wizard here.
    bool validatePage() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setColumnWidths();

    DistributionData &m_data;
    AutoSendChain &m_chain;
    QWidget *m_windowParent;
    QTreeWidget *m_list;
};

// The run: the worker thread writes the jobs while an animation plays.
class CDistribSearchPage : public QWizardPage {
    Q_OBJECT
public:
    explicit CDistribSearchPage(DistributionData &data, QWidget *parent = nullptr);
    ~CDistribSearchPage() override;
    void initializePage() override;
    bool isComplete() const override { return !m_running; }
    bool running() const { return m_running; }
    // The end of the run (posted from the worker): Next is pressed.
    void OnRunFinished();

private:
    void setRunButtonsEnabled(bool enabled);
    void nextFrame();

    DistributionData &m_data;
    DistributionRun m_run;
    bool m_running = false;
    QLabel *m_animation;
    QTimer m_frames;
    int m_frame = 0;
};

// The results and "Запустить мастер ещё раз".
class CDistribEndPage : public QWizardPage {
    Q_OBJECT
public:
    explicit CDistribEndPage(DistributionData &data, QWidget *parent = nullptr);
    void initializePage() override;
    bool validatePage() override;

private:
    DistributionData &m_data;
    QListWidget *m_results;
    QCheckBox *m_again;
};

class CDistributionWizard : public QWizard {
    Q_OBJECT
public:
    enum PageId { kIntroPage, kSelectPage, kSearchPage, kEndPage };

    // windowParent: the parent of the automatic sending windows it opens.
    CDistributionWizard(DistributionData &data, AutoSendChain &chain, QWidget *windowParent,
                        QWidget *parent = nullptr);
    // Cancel and closing do nothing while the packets are being sent.
    void reject() override;
    // Ends the wizard as finished from the page it is on.
    void endAsFinished();

private:
    CDistribSearchPage *m_search;
};

// The command "Отправить пакет...": opens a context of its own when none was
// opened at start-up, checks the output directory, and runs the wizard (again
// while the operator asks for it). Messages and reports go under owner; the
// automatic sending windows join the chain.
void sendDistributionPackets(MonitorContext &context, QWidget *owner, AutoSendChain &chain);

} // namespace tarmin::monitor
