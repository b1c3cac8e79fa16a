#include "monitor/logs/CNotifRecord.h"

namespace tarmin::monitor {

void CNotifRecord::Fill(std::string_view date, std::string_view time, std::string_view hash,
                        std::string_view protection, std::string_view subject) {
    m_date.assign(date);
    m_time.assign(time);
    m_hash.assign(hash);
    m_subject.assign(subject);
    m_protection = protection.empty() ? '\0' : protection[0];
}

bool CNotifRecord::ShowDetails(void *owner) const {
    return presentDetails(&RecordDetailsPresenter::showNotification, *this, owner);
}

} // namespace tarmin::monitor
