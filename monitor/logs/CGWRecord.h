// Records of the gateway logs: the common base CGWRecord and its helpers.
//
// A record keeps its log line once (without the line feed), split in place at
// the separator: each field is a zero-terminated text inside that copy, and
// the record keeps only the offsets of the fields it uses. Accessors return
// std::string_view (Windows-1251 bytes); data() of a field view is also a
// zero-terminated C string.
//
// Record classes (one header each): CErrorRecord (errors log, "tarmin-gw"),
// COutRecord (outgoing messages, "tmnsent"), CInRecord (inbound messages and
// receipts, "tmnrecv"), CNotifRecord (an outgoing message still waiting for
// receipts, built by the receipt tracking, not from a line).
//
// Usage by a list view:
//   auto *rec = new COutRecord;
//   if (!rec->Parse(line, separator)) { rec->Release(); continue; }
//   int image = rec->ImageIndex();
#pragma once

#include "monitor/logs/RecordArena.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// Image indexes of the application's image lists used by records.
enum RecordImage : int {
    kImageProtectionNone = 5, // protection kind empty, "0" or unknown
    kImageProtection2 = 6,
    kImageProtection3 = 7,
    kImageProtection1 = 8,
    kImageMessageError = 9, // outgoing / inbound record with an error code
    kImageInformation = 11,
    kImageError = 12,
    kImageWarning = 13,
};

// Log kinds, numbered as the categories of the record list.
enum class LogKind { Errors = 1, Inbound = 2, Outgoing = 3 };
// File name prefix of a log family: "tarmin-gw", "tmnrecv", "tmnsent".
const char *logPrefix(LogKind kind);

class CErrorRecord;
class COutRecord;
class CInRecord;
class CNotifRecord;

// Shows the detail dialog of a record. The Qt views install one; without it
// ShowDetails does nothing and returns false.
class RecordDetailsPresenter {
public:
    virtual ~RecordDetailsPresenter() = default;
    virtual void showError(const CErrorRecord &record, void *owner) = 0;
    virtual void showOutgoing(const COutRecord &record, void *owner) = 0;
    virtual void showInbound(const CInRecord &record, void *owner) = 0;
    // A notification shows the receipts of the message with this hash.
    virtual void showNotification(const CNotifRecord &record, void *owner) = 0;
};
void setRecordDetailsPresenter(RecordDetailsPresenter *presenter);
RecordDetailsPresenter *recordDetailsPresenter();

class CGWRecord {
public:
    CGWRecord() = default;
    // A record owns its line: it can be moved, not copied.
    CGWRecord(const CGWRecord &) = delete;
    CGWRecord &operator=(const CGWRecord &) = delete;
    CGWRecord(CGWRecord &&other) noexcept;
    CGWRecord &operator=(CGWRecord &&other) noexcept;

    // Records are allocated through their class, so that create() can put a
    // record and its line into one block.
    static void *operator new(std::size_t size) { return detail::allocateRecord(size); }
    static void operator delete(void *p) { detail::releaseRecord(p); }

    // A new record of class R with room for a line of `lineLength` bytes in
    // the same allocation (what the list views create for every line).
    template <class R> static std::unique_ptr<R> create(std::size_t lineLength);

    // Image index into the application's image lists.
    virtual int ImageIndex() const = 0;
    // Parses one log line (a trailing line feed is removed). Returns nonzero
    // when the line holds a record of this kind; on 0 the caller deletes the
    // record.
    virtual int Parse(std::string_view line, char separator) = 0;
    // Opens the detail dialog of the record through the installed presenter.
    virtual bool ShowDetails(void *owner) const = 0;
    // Deletes the record.
    virtual void Release() { delete this; }
    virtual ~CGWRecord();

    // The line as parsed (fields separated by terminators).
    std::string_view text() const { return {m_text, m_length}; }
    std::string_view date() const { return field(0); }
    std::string_view time() const { return field(1); }

protected:
    // Keeps a copy of the line without its line feed and splits it at the
    // separator, at most maxSeparators times. starts receives the offsets of
    // the first `count` fields; starts[count] marks the end of field count-1.
    // Returns the number of fields, or 0 when fewer than `required` were found.
    std::size_t split(std::string_view line, char separator, std::size_t maxSeparators, uint32_t *starts,
                      std::size_t count, std::size_t required);
    // Field i of the offsets filled by split().
    std::string_view fieldAt(const uint32_t *starts, std::size_t i) const {
        return {m_text + starts[i], starts[i + 1] - starts[i] - 1};
    }
    virtual std::string_view field(std::size_t i) const = 0;

    // Hands the record to the installed presenter; false without one.
    template <class R>
    static bool presentDetails(void (RecordDetailsPresenter::*show)(const R &, void *), const R &record, void *owner) {
        RecordDetailsPresenter *presenter = recordDetailsPresenter();
        if (!presenter) return false;
        (presenter->*show)(record, owner);
        return true;
    }

    // The line: either in the block behind the record (m_inlineCapacity bytes
    // there) or, when m_inlineCapacity is 0, in an array the record owns.
    char *m_text = nullptr;
    uint32_t m_length = 0;
    uint32_t m_inlineCapacity = 0;

private:
    struct Trailing {
        std::size_t bytes;
    };
    static void *operator new(std::size_t size, Trailing t) { return detail::allocateRecord(size + t.bytes); }
    static void operator delete(void *p, Trailing) { detail::releaseRecord(p); }
    void releaseText();
};

template <class R> std::unique_ptr<R> CGWRecord::create(std::size_t lineLength) {
    std::size_t bytes = lineLength + 1;
    if (bytes > 0xFFFFFFFFu) return std::make_unique<R>();
    R *record = new (Trailing{bytes}) R();
    CGWRecord *base = record;
    base->m_text = reinterpret_cast<char *>(record) + sizeof(R);
    base->m_inlineCapacity = static_cast<uint32_t>(bytes);
    return std::unique_ptr<R>(record);
}

// ---- Helpers shared by the record classes and the views ----

// Reads a result code as hexadecimal: blanks and an optional "0x"/"0X" are
// skipped, then the leading hexadecimal digits are read (0 when there are
// none). Only the low 32 bits are kept.
uint32_t readHexCode(std::string_view text);
// Whether a code is an error (highest bit set).
inline bool isErrorCode(uint32_t code) { return (code & 0x80000000u) != 0; }
// "OK" for success, "Ошибка" (Windows-1251) for an error: the processing
// result shown for outgoing and inbound records.
const char *processingResultText(bool error);
// The image of a message record by its protection kind (first character).
int protectionImage(char protectionKind);
// Splits a ";"-separated list, skipping empty pieces.
std::vector<std::string_view> splitList(std::string_view text);
// A date "dd/mm/yyyy" as "yyyymmdd" followed by the time, so that text order
// is time order. A date that is not 10 characters long is used as it is.
std::string comparableDateTime(std::string_view date, std::string_view time);
std::string comparableDate(std::string_view date);

} // namespace tarmin::monitor
