// Delivery between gateways: each message travels as one file with a small
// envelope in front of the S/MIME text, the way a mail transport carries the
// sender, the recipients and its own identifier beside a message.
//
// The transport is an interface so that SMTP can take the place of the
// Maildir stand-in: a Maildir transport writes the file into the peer's
// inbox "tmp/" under the message identifier and renames it into "new/".
// Delivering the same identifier twice replaces the file; the receiving
// gateway keeps a journal of the identifiers it has processed, so a message
// delivered again after a crash is not processed twice.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::gateway {

// The envelope: "X-Gateway-<Name>: value" lines, an empty line, the message.
struct Envelope {
    std::string id;       // unique, file-name safe
    std::string kind;     // "message" or "receipt"
    std::string from;     // sender address (Windows-1251)
    std::vector<std::string> to;
    std::string hash;     // the message hash, upper-case hexadecimal
    char protection = '0';
};

std::string packEnvelope(const Envelope &envelope, std::string_view message);
// Splits a delivered file; nullopt when its envelope is broken. `message`
// receives what follows the envelope.
std::optional<Envelope> unpackEnvelope(std::string_view file, std::string_view &message);

// Whether an identifier is safe as a file name.
bool safeId(std::string_view id);

class Transport {
public:
    virtual ~Transport() = default;
    // Delivers the file; false with the reason (UTF-8) when it failed.
    virtual bool deliver(const std::string &id, const std::string &file, std::string &why) = 0;
};

// Writes into <inbox>/tmp/<id>, then renames it to <inbox>/new/<id>.
class MaildirTransport : public Transport {
public:
    MaildirTransport(std::string inbox, bool sync) : m_inbox(std::move(inbox)), m_sync(sync) {}
    bool deliver(const std::string &id, const std::string &file, std::string &why) override;

    // Called with every file before it is written (the traffic source's
    // "tampered in transit" option flips a byte here).
    std::function<void(const std::string &id, std::string &file)> inTransit;

private:
    std::string m_inbox;
    bool m_sync;
};

// Creates <dir>/tmp, <dir>/new and <dir>/cur; false when it cannot.
bool makeMaildir(const std::string &dir);

// Writes a file under a temporary name beside it and renames it into place:
// a reader never sees it half written. With sync the data reaches the disk
// before the rename.
bool writeFileAtomically(const std::string &path, std::string_view data, bool sync, mode_t mode = 0640);

// Writes all of data to the descriptor (EINTR and short writes are
// continued); false with errno set when it cannot.
bool writeAll(int fd, std::string_view data);

// Writes a new file (one that exists is replaced) without following a link.
bool writeFile(const std::string &path, std::string_view data, bool sync, mode_t mode = 0640);

// Flips one byte in the middle of the S/MIME body of a delivered file (a
// base64 letter to another base64 letter, so the damage is in the data,
// not in the form).
void tamperWith(std::string &file);

} // namespace tarmin::gateway
