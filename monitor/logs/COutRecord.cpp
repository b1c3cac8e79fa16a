#include "monitor/logs/COutRecord.h"

namespace tarmin::monitor {

bool COutRecord::ShowDetails(void *owner) const {
    return presentDetails(&RecordDetailsPresenter::showOutgoing, *this, owner);
}

} // namespace tarmin::monitor
