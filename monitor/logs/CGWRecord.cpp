#include "monitor/logs/CGWRecord.h"

#include "common/codepage.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {
std::atomic<RecordDetailsPresenter *> g_presenter{nullptr};
}

void setRecordDetailsPresenter(RecordDetailsPresenter *presenter) { g_presenter.store(presenter); }
RecordDetailsPresenter *recordDetailsPresenter() { return g_presenter.load(); }

const char *logPrefix(LogKind kind) {
    switch (kind) {
    case LogKind::Errors: return "tarmin-gw";
    case LogKind::Inbound: return "tmnrecv";
    case LogKind::Outgoing: return "tmnsent";
    }
    return "";
}

CGWRecord::~CGWRecord() { releaseText(); }

void CGWRecord::releaseText() {
    if (m_inlineCapacity == 0) delete[] m_text;
    m_text = nullptr;
    m_length = 0;
    m_inlineCapacity = 0;
}

CGWRecord::CGWRecord(CGWRecord &&other) noexcept { *this = std::move(other); }

CGWRecord &CGWRecord::operator=(CGWRecord &&other) noexcept {
    if (this == &other) return *this;
    releaseText();
    if (other.m_inlineCapacity == 0) {
        m_text = other.m_text;
        m_length = other.m_length;
        other.m_text = nullptr;
        other.m_length = 0;
    } else if (other.m_text) {
        // The line lives in the other record's block: take a copy of it.
        m_text = new (std::nothrow) char[other.m_length + 1];
        if (m_text) {
            std::memcpy(m_text, other.m_text, other.m_length + 1);
            m_length = other.m_length;
        }
    }
    return *this;
}

std::size_t CGWRecord::split(std::string_view line, char separator, std::size_t maxSeparators, uint32_t *starts,
                             std::size_t count, std::size_t required) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    // Offsets are 32-bit; a longer line is no record.
    if (line.size() >= std::numeric_limits<uint32_t>::max() - 1) return 0;

    if (line.size() + 1 > m_inlineCapacity) {
        releaseText();
        m_text = new char[line.size() + 1];
    }
    m_length = static_cast<uint32_t>(line.size());
    char *text = m_text;
    const char *source = line.data();
    const std::size_t length = line.size();
    // A line inside the record's own text (parsed again) is split where it is.
    if (source < text + length + 1 && text < source + length) {
        std::memmove(text, source, length);
        source = text;
    }
    text[length] = '\0';

    // Fields beyond the ones the record uses are not split: they are ignored.
    // A field ends at a separator, which becomes a terminator.
    starts[0] = 0;
    std::size_t fields = 1;
    const std::size_t limit = std::min(maxSeparators, count);
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, copied and searched together: the separators
    // of a block come out of one comparison and become terminators in the
    // copy.
    const __m128i wanted = _mm_set1_epi8(separator);
    for (; i + 16 <= length; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + i));
        __m128i found = _mm_cmpeq_epi8(block, wanted);
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(found));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(text + i), _mm_andnot_si128(found, block));
        for (; mask && fields <= limit; mask &= mask - 1)
            starts[fields++] = static_cast<uint32_t>(i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1);
        if (mask) {
            // Separators beyond the last field taken stay as they are, and the
            // rest of the line is only copied.
            for (; mask; mask &= mask - 1) text[i + static_cast<std::size_t>(__builtin_ctz(mask))] = separator;
            i += 16;
            if (i < length) std::memmove(text + i, source + i, length - i);
            i = length;
            break;
        }
    }
    if (i < length) {
        const std::size_t rest = length - i;
        std::memmove(text + i, source + i, rest);
        if (length >= 16) {
            // The last sixteen bytes of the line, of which the first ones
            // were searched already.
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + length - 16));
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted))) >> (16 - rest);
            for (; mask && fields <= limit; mask &= mask - 1) {
                std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
                text[at] = '\0';
                starts[fields++] = static_cast<uint32_t>(at + 1);
            }
            i = length;
        }
    }
#else
    std::memmove(text, source, length);
#endif
    for (; i < length && fields <= limit; ++i) {
        if (text[i] == separator) {
            text[i] = '\0';
            starts[fields++] = static_cast<uint32_t>(i + 1);
        }
    }
    for (std::size_t i = fields; i <= count; ++i) starts[i] = m_length + 1;
    return fields >= required ? fields : 0;
}

uint32_t readHexCode(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else break;
        value = value * 16 + digit;
    }
    return value;
}

const char *processingResultText(bool error) { return error ? "Ошибка"_w : "OK"; }

int protectionImage(char protectionKind) {
    switch (protectionKind) {
    case '1': return kImageProtection1;
    case '2': return kImageProtection2;
    case '3': return kImageProtection3;
    default: return kImageProtectionNone;
    }
}

std::vector<std::string_view> splitList(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t next = text.find(';', pos);
        if (next == std::string_view::npos) next = text.size();
        if (next > pos) pieces.push_back(text.substr(pos, next - pos));
        pos = next + 1;
    }
    return pieces;
}

std::string comparableDate(std::string_view date) {
    if (date.size() != 10) return std::string(date);
    std::string out;
    out.reserve(8);
    out.append(date.substr(6, 4));
    out.append(date.substr(3, 2));
    out.append(date.substr(0, 2));
    return out;
}

std::string comparableDateTime(std::string_view date, std::string_view time) {
    std::string out = comparableDate(date);
    out.append(time);
    return out;
}

} // namespace tarmin::monitor
