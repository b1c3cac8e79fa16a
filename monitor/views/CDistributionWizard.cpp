#include "monitor/views/CDistributionWizard.h"
#include "monitor/views/WizardButtons.h"

#include "common/settings.h"
#include "monitor/core/FileNames.h"
#include "monitor/core/MonitorContext.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/CAutoSendDlg.h"
#include "monitor/views/GuiThread.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/views/QtText.h"
#include "qzcom.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <sys/stat.h>

namespace tarmin::monitor {

namespace {

constexpr int kAnimationFrameMs = 150;
constexpr uint32_t kDefaultPeriod = 15;
const QString kManualChoice = QStringLiteral("Ручной режим создания");

QString id(int control) { return QStringLiteral("c%1").arg(control); }

QLabel *titleLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(id(1000));
    QFont font(QStringLiteral("Verdana"), 12);
    font.setBold(true);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

} // namespace

CDistribIntroPage::CDistribIntroPage(DistributionData &data, QWidget *parent)
    : QWizardPage(parent), m_data(data), m_lists(new QComboBox(this)),
      m_periodic(new QCheckBox(QStringLiteral("Отправлять в автоматическом режиме"), this)),
      m_periodLabel(new QLabel(QStringLiteral("Интервал отправки (мин):"), this)), m_period(new QSpinBox(this)) {
    setObjectName(QStringLiteral("CDistribIntroPage"));
    m_lists->setObjectName(id(1035));
    m_periodic->setObjectName(id(1037));
    m_periodLabel->setObjectName(id(1038));
    m_period->setObjectName(id(1034));
    // The edit takes any number so that one outside the range is refused
    // with a message on Next, not silently changed.
    m_period->setRange(0, 999999);
    m_period->setValue(static_cast<int>(kDefaultPeriod));

    // A sorted list: the sender lists that can be read and the manual choice.
    std::vector<std::pair<QString, uint32_t>> items;
    for (const SenderListName &list : readSenderListNames()) items.emplace_back(qtText(list.name), list.index);
    items.emplace_back(kManualChoice, 0u);
    std::stable_sort(items.begin(), items.end(),
                     [](const auto &a, const auto &b) { return QString::localeAwareCompare(a.first, b.first) < 0; });
    for (const auto &[text, index] : items) m_lists->addItem(text, index);
    m_lists->setCurrentIndex(m_lists->findText(kManualChoice));

    auto enablePeriod = [this](bool on) {
        m_periodLabel->setEnabled(on);
        m_period->setEnabled(on);
    };
    connect(m_periodic, &QCheckBox::toggled, this, enablePeriod);
    enablePeriod(false);

    auto *layout = new QGridLayout(this);
    layout->addWidget(titleLabel(QStringLiteral("Вас приветствует мастер отправки пакета"), this), 0, 0, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("Выберите пакет для отправки:"), this), 1, 0, 1, 2);
    layout->addWidget(m_lists, 2, 0, 1, 2);
    layout->addWidget(m_periodic, 3, 0, 1, 2);
    layout->addWidget(m_periodLabel, 4, 0);
    layout->addWidget(m_period, 4, 1);
    layout->setRowStretch(5, 1);
}

bool CDistribIntroPage::validatePage() {
    const bool periodic = m_periodic->isChecked();
    const int period = m_period->value();
    if (periodic && (period < static_cast<int>(kMinPeriodMinutes) || period > static_cast<int>(kMaxPeriodMinutes))) {
        messageBox(this, QStringLiteral("Введите целое число от %1 до %2.").arg(kMinPeriodMinutes).arg(kMaxPeriodMinutes),
                   MsgIcon::Warning);
        m_period->setFocus();
        return false;
    }
    m_data.listName = cp1251Text(m_lists->currentText());
    m_data.senderListIndex = m_lists->currentData().toUInt();
    m_data.periodic = periodic;
    if (periodic) m_data.periodMinutes = static_cast<uint32_t>(period);
    m_data.packets.clear();
    m_data.manual = m_lists->currentText() == kManualChoice;
    std::optional<std::vector<PacketSettings>> packets =
        loadDistributionPackets(m_data.manual ? std::nullopt : std::optional<uint32_t>(m_data.senderListIndex));
    if (!packets) {
        messageBox(this, QStringLiteral("В конфигурации не задан ни один список рассылки. Отправка пакета невозможна."));
        return false;
    }
    m_data.packets = makePackets(std::move(*packets));
    return true;
}

CDistribSelectPage::CDistribSelectPage(DistributionData &data, AutoSendChain &chain, QWidget *windowParent,
                                       QWidget *parent)
    : QWizardPage(parent), m_data(data), m_chain(chain), m_windowParent(windowParent), m_list(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("CDistribSelectPage"));
    setTitle(QStringLiteral("Выбор рассылок"));
    setSubTitle(QStringLiteral("Необходимы выбрать рассылки, входящие в пакет"));
    m_list->setObjectName(id(1036));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->header()->setStretchLastSection(false);
    m_list->setHeaderLabels({QStringLiteral("Номер"), QStringLiteral("Каталог"), QStringLiteral("Тема рассылки"),
                             QStringLiteral("Маска")});
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Список рассылок:"), this));
    layout->addWidget(m_list);
}

void CDistribSelectPage::initializePage() {
    m_list->clear();
    for (const CDistrib &packet : m_data.packets) {
        const PacketSettings &s = packet.settings;
        auto *item = new QTreeWidgetItem(
            QStringList{qtText(s.packetNumber), qtText(s.path), qtText(s.subject), qtText(s.mask)});
        item->setIcon(0, MonitorIcons::icon(kImageOutbound));
        m_list->addTopLevelItem(item);
        item->setSelected(!m_data.manual);
    }
    setColumnWidths();
}

void CDistribSelectPage::showEvent(QShowEvent *event) {
    QWizardPage::showEvent(event);
    // The list has its size only once the page is laid out and shown.
    setColumnWidths();
}

void CDistribSelectPage::setColumnWidths() {
    // The client width less a vertical scroll bar, in eighths: the number
    // and the mask one each, the subject three, the directory the rest.
    const int w = m_list->width() - 2 * m_list->frameWidth() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int c = w / 8;
    m_list->setColumnWidth(0, c);
    m_list->setColumnWidth(1, w - 5 * c);
    m_list->setColumnWidth(2, 3 * c);
    m_list->setColumnWidth(3, c);
}

bool CDistribSelectPage::validatePage() {
    if (m_list->selectedItems().isEmpty()) {
        messageBox(this, QStringLiteral("Ни одна рассылка не выбрана!"));
        return false;
    }
    for (int i = 0; i < m_list->topLevelItemCount() && i < static_cast<int>(m_data.packets.size()); ++i)
        m_data.packets[static_cast<size_t>(i)].selected = m_list->topLevelItem(i)->isSelected();
    if (!m_data.periodic) return true;
    // Automatic sending: the window takes a copy of the data and the wizard
    // ends here as finished.
    m_chain.add(new CAutoSendDlg(m_data, m_windowParent));
    auto *w = static_cast<CDistributionWizard *>(wizard());
    QMetaObject::invokeMethod(w, &CDistributionWizard::endAsFinished, Qt::QueuedConnection);
    return false;
}

CDistribSearchPage::CDistribSearchPage(DistributionData &data, QWidget *parent)
    : QWizardPage(parent), m_data(data), m_animation(new QLabel(this)) {
    setObjectName(QStringLiteral("CDistribSearchPage"));
    setTitle(QStringLiteral("Создание пакета"));
    setSubTitle(QStringLiteral("Дождитесь завершения создания пакета"));
    // The last page has Finish only: nothing goes back to a sent run.
    setCommitPage(true);
    m_animation->setObjectName(id(1060));
    m_animation->setAlignment(Qt::AlignCenter);
    m_animation->hide();
    m_frames.setObjectName(QStringLiteral("animation1061"));
    connect(&m_frames, &QTimer::timeout, this, &CDistribSearchPage::nextFrame);
    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_animation);
    layout->addStretch(1);
}

CDistribSearchPage::~CDistribSearchPage() {
    // The wizard goes while the packets are sent (the program is closing):
    // the run ends before its next packet, and the data stays until then.
    m_run.requestStop();
    waitWhile([this] { return m_run.running(); });
    m_run.join();
}

void CDistribSearchPage::nextFrame() {
    // Our own pictures of a message on its way, in a loop.
    static constexpr int kFrames[] = {kImageOutbound, kImagePlainMessage, kImageSignedMessage,
                                      kImageSignedEncrypted, kImageEncryptedMessage};
    m_frame = (m_frame + 1) % static_cast<int>(std::size(kFrames));
    m_animation->setPixmap(MonitorIcons::large(kFrames[m_frame]));
}

void CDistribSearchPage::setRunButtonsEnabled(bool enabled) {
    if (QWizard *w = wizard())
        for (QWizard::WizardButton which : {QWizard::BackButton, QWizard::CommitButton, QWizard::NextButton,
                                            QWizard::CancelButton})
            if (QAbstractButton *b = w->button(which)) b->setEnabled(enabled);
}

void CDistribSearchPage::initializePage() {
    m_frame = 0;
    nextFrame();
    m_animation->show();
    m_frames.start(kAnimationFrameMs);
    m_running = true;
    const bool started = m_run.start(m_data, [this] {
        QMetaObject::invokeMethod(this, &CDistribSearchPage::OnRunFinished, Qt::QueuedConnection);
    });
    if (!started) {
        m_running = false;
        m_frames.stop();
        m_animation->hide();
        return;
    }
    // The wizard sets its buttons after this: they are disabled once it has.
    QMetaObject::invokeMethod(
        this, [this] { if (m_running) setRunButtonsEnabled(false); }, Qt::QueuedConnection);
}

void CDistribSearchPage::OnRunFinished() {
    if (!m_running || m_run.running()) return;
    m_run.join();
    m_running = false;
    m_frames.stop();
    m_animation->hide();
    setRunButtonsEnabled(true);
    emit completeChanged();
    wizard()->next();
}

CDistribEndPage::CDistribEndPage(DistributionData &data, QWidget *parent)
    : QWizardPage(parent), m_data(data), m_results(new QListWidget(this)),
      m_again(new QCheckBox(QStringLiteral("Запустить мастер ещё раз"), this)) {
    setObjectName(QStringLiteral("CDistribEndPage"));
    m_results->setObjectName(id(1055));
    m_again->setObjectName(id(1056));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel(QStringLiteral("Завершение работы мастера отправки пакета"), this));
    layout->addWidget(new QLabel(QStringLiteral("Результаты выполнения:"), this));
    layout->addWidget(m_results);
    layout->addWidget(m_again);
}

void CDistribEndPage::initializePage() {
    m_results->clear();
    for (const std::string &line : packetResultLines(m_data.packets)) m_results->addItem(qtText(line));
    m_again->setChecked(false);
}

bool CDistribEndPage::validatePage() {
    m_data.again = m_again->isChecked();
    return true;
}

CDistributionWizard::CDistributionWizard(DistributionData &data, AutoSendChain &chain, QWidget *windowParent,
                                         QWidget *parent)
    : QWizard(parent), m_search(new CDistribSearchPage(data)) {
    setObjectName(QStringLiteral("CDistributionWizard"));
    setWindowTitle(QStringLiteral("Мастер отправки пакета"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setOption(QWizard::NoCancelButtonOnLastPage);
    setWizardButtonTexts(*this);
    setPage(kIntroPage, new CDistribIntroPage(data));
    setPage(kSelectPage, new CDistribSelectPage(data, chain, windowParent));
    setPage(kSearchPage, m_search);
    setPage(kEndPage, new CDistribEndPage(data));
    setStartId(kIntroPage);
}

void CDistributionWizard::endAsFinished() {
    // Past QWizard::done, which would validate the page once more.
    QDialog::done(QDialog::Accepted);
}

void CDistributionWizard::reject() {
    if (m_search->running()) return;
    QWizard::reject();
}

void sendDistributionPackets(MonitorContext &context, QWidget *owner, AutoSendChain &chain) {
    // The wait cursor while the context is opened and the settings read.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
        bool active = true;
        void operator()() {
            if (active) QApplication::restoreOverrideCursor();
            active = false;
        }
        ~RestoreCursor() { (*this)(); }
    } restoreCursor;
    DistributionData data;
    // The start-up context when there is one; otherwise one of the wizard's
    // own, kept open while an automatic sending window of this run needs it.
    if (context.operatorContext && context.operatorContext->isOpen()) {
        data.context = borrowedContext(*context.operatorContext);
    } else {
        auto own = std::make_unique<OperatorContext>();
        if (own->open() != 0) {
            own->release();
            QZ_ReportEvent(QZ_LEVEL_SUMMARY, 0xE0070006);
            QZ_ShowReports(owner, 3);
            return;
        }
        data.context = ownedContext(std::move(own));
    }

    bool read = false;
    const std::string output = tarmin::qzcom::setting_directory("GWMonOutputDirectory", "%TEMP%", &read);
    if (!read || output.empty()) {
        messageBox(owner,
                   QStringLiteral("Необходимо запустить программу конфигурации и выполнить необходимую настройку.\n"
                                  "Ошибка чтения настройки каталога для сохранения результатов работы из системного "
                                  "реестра (параметр %1).")
                       .arg(QStringLiteral("GWMonOutputDirectory")),
                   MsgIcon::Error);
        return;
    }
    struct stat st {};
    if (::stat(fileSystemPath(output).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        messageBox(owner,
                   QStringLiteral("Необходимо запустить программу конфигурации и выполнить необходимую настройку "
                                  "каталога шлюза на существующий каталог"),
                   MsgIcon::Error);
        return;
    }

    restoreCursor();
    int result = QDialog::Rejected;
    // The check box of the last page asks for another run; a run that hands
    // its packets to an automatic sending window ends as finished and leaves
    // the request of an earlier run standing, so each such run is followed
    // by another until the operator cancels one.
    do {
        CDistributionWizard wizard(data, chain, owner, owner);
        result = runModal(wizard);
    } while (result == QDialog::Accepted && data.again);
    // The context goes with the last copy of the data: here, unless an
    // automatic sending window still holds one.
}

} // namespace tarmin::monitor
