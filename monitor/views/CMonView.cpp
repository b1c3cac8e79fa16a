#include "monitor/views/CMonView.h"

#include "monitor/logs/GWRecords.h"
#include "monitor/views/Attention.h"
#include "monitor/views/CHeaderCtrlEx.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/views/QtText.h"
#include "monitor/views/RecordDetailsDialogs.h"
#include "monitor/views/RecordTableModel.h"
#include "monitor/core/MonitorContext.h"
#include "qzcom.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTableView>

namespace tarmin::monitor {

namespace {

constexpr int kReceiptBatchLines = 1000;

LogKind logKindOf(Category category) {
    switch (category) {
    case Category::Inbound: return LogKind::Inbound;
    case Category::Outbound: return LogKind::Outgoing;
    default: return LogKind::Errors;
    }
}

std::size_t readerSlot(LogKind kind) { return static_cast<std::size_t>(kind) - 1; }

// Shows the wait cursor and stops the list's drawing for one reading.
class ReadingScope {
public:
    explicit ReadingScope(QWidget *list) : m_list(list) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_list->setUpdatesEnabled(false);
    }
    ~ReadingScope() {
        m_list->setUpdatesEnabled(true);
        m_list->update();
        QGuiApplication::restoreOverrideCursor();
    }

private:
    QWidget *m_list;
};

QString dateText(const QDate &d) { return d.toString(QStringLiteral("dd/MM/yyyy")); }
QString timeText(const QTime &t) { return t.toString(QStringLiteral("HH:mm:ss")); }

} // namespace

CMonView::CMonView(MonitorContext &context, QWidget *parent)
    : CListViewEx(parent), m_context(context), m_model(new RecordTableModel(this)) {
    setObjectName(QStringLiteral("CMonView"));
    for (LogKind kind : {LogKind::Errors, LogKind::Inbound, LogKind::Outgoing})
        m_readers[readerSlot(kind)] = std::make_unique<CategoryReader>(kind);
    for (const CategoryInfo &info : categoryTable())
        for (const ColumnInfo &column : info.columns) m_widths[static_cast<int>(info.category)].push_back(column.width);
    setModel(m_model);
    setMinColumnWidth(kMinColumnWidth);
    installRecordDetailsPresenter();
    connect(this, &CListViewEx::rowActivated, this, &CMonView::OnRowActivated);
}

CMonView::~CMonView() = default;

CategoryReader &CMonView::reader(LogKind kind) { return *m_readers[readerSlot(kind)]; }

const FilterConditions &CMonView::conditions(int category) const {
    return m_conditions[static_cast<std::size_t>(categoryOf(category))];
}

void CMonView::setConditions(int category, const FilterConditions &conditions) {
    const auto c = static_cast<std::size_t>(categoryOf(category));
    m_conditions[c] = conditions;
    m_filterChanged[c] = true;
}

const std::vector<int> &CMonView::columnWidths(int category) const {
    return m_widths[static_cast<std::size_t>(categoryOf(category))];
}

const std::string &CMonView::lastBeepTime(int category) const {
    return m_lastBeepTime[static_cast<std::size_t>(categoryOf(category))];
}

void CMonView::OnCategorySelected(int category) {
    m_selected = categoryOf(category);
    switch (m_selected) {
    case Category::Root: showCategory(Category::Root); break;
    case Category::Errors: readLogCategory(Category::Errors); break;
    case Category::Inbound: readLogCategory(Category::Inbound); break;
    case Category::Outbound: readLogCategory(Category::Outbound); break;
    case Category::Notifications:
        if (m_context.receipts && !m_context.receipts->catchUpPending()) readNotifications();
        break;
    }
}

void CMonView::Refresh() { OnCategorySelected(selectedCategory()); }

void CMonView::keepColumnWidths() {
    if (m_category == Category::Root) return;
    std::vector<int> &widths = m_widths[static_cast<std::size_t>(m_category)];
    for (int c = 0; c < static_cast<int>(widths.size()) && c < m_model->columnCount(); ++c)
        widths[static_cast<std::size_t>(c)] = reportView()->columnWidth(c);
}

void CMonView::applyColumnWidths(Category category) {
    const std::vector<int> &widths = m_widths[static_cast<std::size_t>(category)];
    for (int c = 0; c < static_cast<int>(widths.size()); ++c)
        reportView()->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
}

void CMonView::showCategory(Category category) {
    // The widths in use are kept for the next time these columns are shown.
    keepColumnWidths();
    setSortState(-1, true);
    m_model->resetCategory(category);
    m_category = category;
    applyColumnWidths(category);
}

RecordFilter CMonView::preparedFilter(Category category) {
    RecordFilter filter;
    std::string error;
    if (!filter.set(m_conditions[static_cast<std::size_t>(category)], &error))
        messageBox(this, qtText(error), MsgIcon::Error);
    return filter;
}

void CMonView::insertPass(ReadingPass &pass) {
    const std::size_t offered = pass.records.size();
    const std::size_t added = m_model->prependRecords(std::move(pass.records));
    if (added < offered)
        messageBox(this, QStringLiteral("Невозможно отобразить все записи журнала из-за переполнения"), MsgIcon::Error);
}

void CMonView::beepIfListed(Category category, const ReadingPass &pass) {
    // A pass without a listed record leaves the remembered time as it is.
    std::string &last = m_lastBeepTime[static_cast<std::size_t>(category)];
    if (!m_context.refresh.beep || !pass.listedRecordRead || pass.listedTime == last) return;
    attention(window());
    last = pass.listedTime;
}

void CMonView::readLogCategory(Category category) {
    const auto slot = static_cast<std::size_t>(category);
    if (m_filterChanged[slot]) {
        m_filterChanged[slot] = false;
        if (m_category == category) showCategory(Category::Root);
    }
    CategoryReader &categoryReader = reader(logKindOf(category));
    long selectedDistance = -1;
    if (m_category == category) {
        const int row = selectedRow();
        if (row >= 0) selectedDistance = static_cast<long>(m_model->list().distanceFromEnd(static_cast<std::size_t>(row)));
    } else {
        showCategory(category);
        categoryReader.restart();
    }

    const RecordFilter filter = preparedFilter(category);
    ReadingPass pass;
    {
        ReadingScope scope(this);
        PassOptions options;
        options.separator = m_context.separator;
        options.beep = m_context.refresh.beep;
        options.beepList = m_context.refresh.beepList;
        ErrorsReadingSettings errorsSettings;
        if (category == Category::Errors) {
            errorsSettings = readErrorsReadingSettings();
            if (m_context.errorStatistics) m_context.errorStatistics->resetForPass();
            options.statistics = m_context.errorStatistics;
            options.errorsSettings = &errorsSettings;
            options.dayLimit = errorsSettings.dayLimit;
        } else {
            options.dayLimit = readDayLimit();
        }
        pass = categoryReader.read(m_context.logDirectory, filter, options);
        emit statusText(qtText(pass.directoryProblem));
        beepIfListed(category, pass);
        insertPass(pass);
    }
    if (selectedDistance >= 0)
        selectRow(static_cast<int>(m_model->list().rowAtDistanceFromEnd(static_cast<std::size_t>(selectedDistance))));
    if (category == Category::Errors) QZ_ShowReports(nullptr, 1);
}

void CMonView::readNotifications() {
    ReceiptTracking &receipts = *m_context.receipts;
    receipts.runBatch(kReceiptBatchLines);
    std::string selectedHash;
    if (m_category == Category::Notifications)
        if (const auto *record = static_cast<const CNotifRecord *>(m_model->recordAt(selectedRow())))
            selectedHash.assign(record->hash());
    // The notifications list is rebuilt at every reading.
    showCategory(Category::Notifications);
    const RecordFilter filter = preparedFilter(Category::Notifications);
    {
        ReadingScope scope(this);
        ReadingPass pass;
        for (std::unique_ptr<CNotifRecord> &message : receipts.pendingMessages()) {
            if (!filter.accepts(*message)) continue;
            receipts.checkOverdue(*message);
            pass.records.push_back(std::move(message));
        }
        insertPass(pass);
    }
    if (!selectedHash.empty())
        for (int row = 0; row < m_model->rowCount(); ++row)
            if (static_cast<const CNotifRecord *>(m_model->recordAt(row))->hash() == selectedHash) {
                selectRow(row);
                break;
            }
    QZ_ShowReports(nullptr, 1);
}

void CMonView::sortByColumn(int column, bool ascending) {
    if (column < 0 || column >= m_model->columnCount()) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_model->sortRows(column, ascending);
    setSortState(column, ascending);
    QGuiApplication::restoreOverrideCursor();
    const int row = selectedRow();
    if (row >= 0) activeView()->scrollTo(m_model->index(row, 0));
}

FilterDlgValues CMonView::dialogValues(const FilterConditions &c) {
    FilterDlgValues v;
    auto date = [](const std::string &text, QDate fallback) {
        const QDate d = QDate::fromString(QString::fromStdString(text), QStringLiteral("dd/MM/yyyy"));
        return d.isValid() ? d : fallback;
    };
    auto time = [](const std::string &text, QTime fallback) {
        const QTime t = QTime::fromString(QString::fromStdString(text), QStringLiteral("HH:mm:ss"));
        return t.isValid() ? t : fallback;
    };
    v.startDateOn = !c.startDate.empty();
    v.startDate = date(c.startDate, v.startDate);
    v.startTimeOn = !c.startTime.empty();
    v.startTime = time(c.startTime, v.startTime);
    v.endDateOn = !c.endDate.empty();
    v.endDate = date(c.endDate, v.endDate);
    v.endTimeOn = !c.endTime.empty();
    v.endTime = time(c.endTime, v.endTime);
    v.module = qtText(c.module);
    v.resultCode = qtText(c.resultCode);
    v.information = qtText(c.information);
    v.processing = c.processingResult;
    v.address = qtText(c.address);
    v.subject = qtText(c.subject);
    v.notification = c.notificationResult;
    v.attachments = qtText(c.attachments);
    return v;
}

FilterConditions CMonView::conditionsFrom(const FilterDlgValues &v) {
    FilterConditions c;
    if (v.startDateOn) c.startDate = dateText(v.startDate).toStdString();
    if (v.startTimeOn) c.startTime = timeText(v.startTime).toStdString();
    if (v.endDateOn) c.endDate = dateText(v.endDate).toStdString();
    if (v.endTimeOn) c.endTime = timeText(v.endTime).toStdString();
    c.module = cp1251Text(v.module);
    c.resultCode = cp1251Text(v.resultCode);
    c.information = cp1251Text(v.information);
    c.processingResult = v.processing;
    c.address = cp1251Text(v.address);
    c.subject = cp1251Text(v.subject);
    c.notificationResult = v.notification;
    c.attachments = cp1251Text(v.attachments);
    return c;
}

void CMonView::OnFilter() {
    if (m_selected == Category::Root) return;
    const int current = selectedCategory();
    CFilterDlg dialog(current, this);
    dialog.setValues(dialogValues(conditions(current)));
    if (runModal(dialog) != QDialog::Accepted) return;
    setConditions(current, conditionsFrom(dialog.values()));
    OnCategorySelected(current);
}

void CMonView::OnRowActivated(int row) {
    if (const CGWRecord *record = m_model->recordAt(row)) record->ShowDetails(this);
}

} // namespace tarmin::monitor
