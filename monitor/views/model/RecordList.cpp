#include "monitor/views/model/RecordList.h"

#include "monitor/logs/GWRecords.h"

#include <algorithm>
#include <numeric>
#include <new>

namespace tarmin::monitor {

RecordList::RecordList(Category category) : m_category(category) {}
RecordList::~RecordList() = default;

void RecordList::reset(Category category) {
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_records.clear();
    m_records.shrink_to_fit();
    m_category = category;
}

std::string_view RecordList::text(std::size_t row, int column) const {
    return cellText(at(row), m_category, column);
}

int RecordList::image(std::size_t row) const { return at(row).ImageIndex(); }

std::size_t RecordList::prepend(std::vector<std::unique_ptr<CGWRecord>> &&pass) {
    std::size_t added = 0;
    if (m_records.empty() && pass.size() <= m_capacity && pass.size() <= kMaxRows) {
        // A first reading takes the pass's records as they are.
        try {
            m_rows.resize(pass.size());
            for (std::size_t i = 0; i < m_rows.size(); ++i) m_rows[i] = static_cast<uint32_t>(i);
            m_records = std::move(pass);
            pass.clear();
            return m_records.size();
        } catch (const std::bad_alloc &) {
            m_rows.clear();
        }
    }
    try {
        const std::size_t room = m_capacity > m_rows.size() ? m_capacity - m_rows.size() : 0;
        const std::size_t wanted = std::min(room, pass.size());
        // Rows go in newest first from the top, so a full list keeps the
        // newest records of the pass and drops its oldest ones.
        const std::size_t first = pass.size() - wanted;
        m_records.reserve(m_records.size() + wanted);
        m_rows.reserve(m_rows.size() + wanted);
        for (; added < wanted; ++added) {
            m_rows.push_back(static_cast<uint32_t>(m_records.size()));
            m_records.push_back(std::move(pass[first + added]));
        }
    } catch (const std::bad_alloc &) {
        // The list keeps what it could take; the caller reports the overflow.
        if (m_rows.size() > m_records.size()) m_rows.resize(m_records.size());
    }
    pass.clear();
    return added;
}

std::string_view cellText(const CGWRecord &record, Category category, int column) {
    switch (category) {
    case Category::Errors: {
        const auto &r = static_cast<const CErrorRecord &>(record);
        switch (column) {
        case 0: return r.date();
        case 1: return r.time();
        case 2: return r.module();
        case 3: return r.codeText();
        case 4: return r.information();
        }
        break;
    }
    case Category::Inbound: {
        const auto &r = static_cast<const CInRecord &>(record);
        switch (column) {
        case 0: return r.date();
        case 1: return r.time();
        case 2: return r.processingResult();
        case 3: return r.address();
        case 4: return r.subject();
        case 5: return r.notificationResult();
        case 6: return r.attachmentsText();
        }
        break;
    }
    case Category::Outbound: {
        const auto &r = static_cast<const COutRecord &>(record);
        switch (column) {
        case 0: return r.date();
        case 1: return r.time();
        case 2: return r.processingResult();
        case 3: return r.recipients();
        case 4: return r.subject();
        case 5: return r.attachmentsText();
        }
        break;
    }
    case Category::Notifications: {
        const auto &r = static_cast<const CNotifRecord &>(record);
        switch (column) {
        case 0: return r.date();
        case 1: return r.time();
        case 2: return r.subject();
        }
        break;
    }
    case Category::Root: break;
    }
    return {};
}

void RecordList::sort(int column, bool ascending) {
    const std::span<const ColumnInfo> columns = columnsOf(m_category);
    if (column < 0 || column >= static_cast<int>(columns.size())) return;
    // The sort starts from the records in reading order, which reads their
    // texts from memory in sequence; the order before the sort does not
    // matter, since equal keys keep no particular order anyway. CSortClassEx
    // orders the rows top first; the list keeps them bottom first.
    std::vector<uint32_t> top(m_rows.size());
    std::iota(top.begin(), top.end(), 0u);
    CSortClassEx sorter(
        top, [this, column](uint32_t index) { return cellText(*m_records[index], m_category, column); },
        columns[column].sortKind);
    sorter.Sort(ascending);
    std::reverse_copy(top.begin(), top.end(), m_rows.begin());
}

} // namespace tarmin::monitor
