#include "monitor/logs/CErrorRecord.h"

#include <strings.h>

namespace tarmin::monitor {

namespace {
bool kindIs(std::string_view kind, const char *name) {
    std::size_t n = std::char_traits<char>::length(name);
    return kind.size() == n && ::strncasecmp(kind.data(), name, n) == 0;
}
} // namespace

int CErrorRecord::ImageIndex() const {
    std::string_view k = kind();
    if (kindIs(k, "err")) return kImageError;
    if (kindIs(k, "inf") || kindIs(k, "notice")) return kImageInformation;
    return kImageWarning;
}

int CErrorRecord::Parse(std::string_view line, char separator) {
    if (!split(line, separator, kMaxSeparators, m_start, kRequiredFields, kRequiredFields)) return 0;
    m_code = readHexCode(codeText());
    return 1;
}

bool CErrorRecord::ShowDetails(void *owner) const {
    return presentDetails(&RecordDetailsPresenter::showError, *this, owner);
}

} // namespace tarmin::monitor
