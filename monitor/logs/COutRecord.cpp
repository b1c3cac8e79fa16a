#include "monitor/logs/COutRecord.h"

namespace tarmin::monitor {

int COutRecord::ImageIndex() const { return isError() ? kImageMessageError : protectionImage(protectionKind()); }

int COutRecord::Parse(std::string_view line, char separator) {
    if (!split(line, separator, kMaxSeparators, m_start, kRequiredFields, kRequiredFields)) return 0;
    m_code = static_cast<int32_t>(readHexCode(codeText()));
    return 1;
}

bool COutRecord::ShowDetails(void *owner) const {
    RecordDetailsPresenter *p = recordDetailsPresenter();
    if (!p) return false;
    p->showOutgoing(*this, owner);
    return true;
}

} // namespace tarmin::monitor
