#include "monitor/logs/CInRecord.h"

namespace tarmin::monitor {

bool CInRecord::ShowDetails(void *owner) const {
    return presentDetails(&RecordDetailsPresenter::showInbound, *this, owner);
}

} // namespace tarmin::monitor
