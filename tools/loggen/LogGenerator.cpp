#include "tools/loggen/LogGenerator.h"
#include "tools/loggen/LogFormat.h"

#include "common/codepage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <queue>
#include <random>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarmin::loggen {

using namespace tarmin::cp::literals;

namespace {

// ---- Random numbers: the engine is fully specified, so a seed gives the
// same sequence everywhere; the helpers below avoid the library's
// implementation-defined distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_engine(seed) {}
    uint64_t next() { return m_engine(); }
    uint64_t below(uint64_t n) { return n ? m_engine() % n : 0; }
    double unit() { return static_cast<double>(m_engine() >> 11) * (1.0 / 9007199254740992.0); }
    bool percent(unsigned p) { return below(100) < p; }

private:
    std::mt19937_64 m_engine;
};

// ---- Texts of the generated records (Windows-1251). ----

struct ErrorKind {
    uint32_t code;
    const char *module;
    const char *kind;
    const char *info;
};

const ErrorKind kErrorKinds[] = {
    {0xE0020004, "smtp", "err", "Отказ в соединении с сервером SMTP"_w},
    {0xE0030015, "smime", "err", "Ошибка проверки подписи сообщения"_w},
    {0xE0030001, "capi", "err", "Ошибка криптографического интерфейса"_w},
    {0x00000000, "spool", "inf", "Каталог заданий обработан"_w},
    {0xC00A0001, "pop3", "err", "Ошибка чтения почтового ящика"_w},
    {0x40020001, "smtp", "notice", "Повторная отправка сообщения"_w},
    {0xE0040002, "ldap", "err", "Сертификат получателя не найден"_w},
    {0x00000001, "smime", "inf", "Сообщение расшифровано"_w},
};
constexpr unsigned kKnownErrorKinds = sizeof kErrorKinds / sizeof kErrorKinds[0];

const char *const kSubjects[] = {
    "Отчёт за месяц"_w,        "Платёжное поручение"_w, "Акт сверки"_w,        "Запрос информации"_w,
    "Договор поставки"_w,      "Счёт на оплату"_w,      "Ответ на запрос"_w,   "Приглашение на совещание"_w,
    "Уведомление о платеже"_w, "Выписка по счёту"_w,    "Заявка на перевод"_w, "Quarterly report"_w,
};

const char *const kAttachmentNames[] = {
    "report", "scan", "data", "letter", "archive", "Договор"_w, "Выписка"_w,
};
const char *const kAttachmentExtensions[] = {".pdf", ".jpg", ".xml", ".doc", ".zip", ".txt"};

const uint32_t kMessageErrors[] = {0xE0030001, 0xE0030015, 0x80090008};

constexpr unsigned kAddresses = 40;

// ---- Formatting: the shared line layout (LogFormat.h). ----

using gwlog::appendHex;
using gwlog::appendTwo;
using gwlog::appendUnsigned;
using gwlog::TimeText;

std::string fileStamp(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

[[noreturn]] void fail(const std::string &what, const std::string &path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// ---- One family's files ----

class FamilyWriter {
public:
    FamilyWriter(const Options &o, std::string prefix, std::string header)
        : m_options(o), m_prefix(std::move(prefix)), m_header(std::move(header)), m_slots(std::max(1u, o.interleave)) {}
    ~FamilyWriter() {
        try {
            closeAll();
        } catch (...) {
        }
    }

    // Appends a line (without line end) dated t.
    void add(std::time_t t, const std::string &line) {
        Slot &slot = m_slots[m_next];
        m_next = (m_next + 1) % m_slots.size();
        if (slot.fd >= 0 && needsRotation(slot, t)) close(slot);
        if (slot.fd < 0) open(slot, t);
        slot.buffer += line;
        slot.buffer += m_options.crlf ? "\r\n" : "\n";
        slot.lines++;
        slot.last = t;
        stats.lines++;
        stats.bytes += line.size() + (m_options.crlf ? 2 : 1);
        if (m_follow || slot.buffer.size() >= (1u << 20)) flush(slot);
    }

    // Follow mode: the history files are finished; new files are started,
    // held under an advisory lock while open and written line by line.
    void startFollowing() {
        closeAll();
        m_follow = true;
    }

    void closeAll() {
        for (Slot &s : m_slots) close(s);
    }

    FamilyStats stats;

private:
    struct Slot {
        int fd = -1;
        std::string path;
        std::string buffer;
        uint64_t lines = 0;
        std::time_t first = 0, last = 0;
        int64_t period = 0;
    };

    int64_t periodOf(std::time_t t) const {
        double seconds = m_options.rotateHours * 3600;
        return seconds > 0 ? static_cast<int64_t>(std::floor(static_cast<double>(t) / seconds)) : 0;
    }

    bool needsRotation(const Slot &s, std::time_t t) const {
        if (m_follow) {
            uint64_t lines = m_options.followRotateLines ? m_options.followRotateLines : m_options.rotateLines;
            if (lines && s.lines >= lines) return true;
            return m_options.followRotateSeconds > 0 && t - s.first >= m_options.followRotateSeconds;
        }
        if (m_options.rotateLines && s.lines >= m_options.rotateLines) return true;
        return m_options.rotateHours > 0 && periodOf(t) != s.period;
    }

    void open(Slot &s, std::time_t t) {
        // A new name every time: files of an earlier run in the same
        // directory are never overwritten.
        for (;;) {
            char seq[16];
            std::snprintf(seq, sizeof seq, "%05u", ++m_sequence);
            s.path = m_options.dir + "/" + m_prefix + "_" + fileStamp(t) + "_" + seq + ".csv";
            s.fd = ::open(s.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (s.fd >= 0 || errno != EEXIST) break;
        }
        if (s.fd < 0) fail("cannot create", s.path);
        if (m_follow && ::flock(s.fd, LOCK_EX) != 0) fail("cannot lock", s.path);
        s.lines = 0;
        s.first = s.last = t;
        s.period = periodOf(t);
        if (m_options.header) {
            s.buffer += m_header;
            s.buffer += m_options.crlf ? "\r\n" : "\n";
            stats.bytes += m_header.size() + (m_options.crlf ? 2 : 1);
        }
        stats.files++;
    }

    void flush(Slot &s) {
        std::size_t done = 0;
        while (done < s.buffer.size()) {
            ssize_t n = ::write(s.fd, s.buffer.data() + done, s.buffer.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail("cannot write", s.path);
            done += static_cast<std::size_t>(n);
        }
        s.buffer.clear();
    }

    void close(Slot &s) {
        if (s.fd < 0) return;
        flush(s);
        if (!m_follow) {
            // A history file was last written at the time of its last line.
            struct timespec times[2] = {{s.last, 0}, {s.last, 0}};
            ::futimens(s.fd, times);
        }
        ::close(s.fd);
        s.fd = -1;
    }

    const Options &m_options;
    std::string m_prefix, m_header;
    std::vector<Slot> m_slots;
    std::size_t m_next = 0;
    unsigned m_sequence = 0;
    bool m_follow = false;
};

// ---- The records ----

struct PendingReceipt {
    std::time_t time;
    std::string hash;
    unsigned recipient;
    bool ok;
    uint64_t order; // keeps receipts of the same second in creation order
    bool operator>(const PendingReceipt &o) const { return time != o.time ? time > o.time : order > o.order; }
};

class Model {
public:
    explicit Model(const Options &o) : m_o(o), m_rng(o.seed) {}

    std::string errorLine(std::time_t t) {
        unsigned kinds = std::max(1u, m_o.errorCodes);
        // Small indexes come more often: some codes repeat a lot.
        unsigned i = static_cast<unsigned>(std::min(m_rng.below(kinds), m_rng.below(kinds)));
        std::string l = start(t);
        if (i < kKnownErrorKinds) {
            const ErrorKind &k = kErrorKinds[i];
            field(l, k.module);
            field(l, k.kind);
            appendHex(l, k.code, 8);
            l += m_o.separator;
            l += k.info;
        } else {
            field(l, "gw");
            field(l, "err");
            appendHex(l, 0xE00F0000u + i, 8);
            l += m_o.separator;
            l += "Ошибка обработки задания №"_w;
            appendUnsigned(l, i);
        }
        return l;
    }

    // An outgoing message; its receipts are queued when `receipts` is set.
    std::string outgoingLine(std::time_t t, bool receipts) {
        std::string hash = newHash();
        char protection = protectionKind();
        uint32_t code = m_rng.percent(m_o.errorPercent) ? kMessageErrors[m_rng.below(3)] : 0;
        unsigned count = 1 + static_cast<unsigned>(m_rng.below(3));
        unsigned first = static_cast<unsigned>(m_rng.below(kAddresses));
        std::string l = start(t);
        field(l, "gateway@org.ru");
        messageId(l, 'M');
        resultCode(l, code);
        field(l, hash);
        for (unsigned r = 0; r < count; ++r) {
            if (r) l += ';';
            address(l, (first + r * 7) % kAddresses);
        }
        l += m_o.separator;
        subject(l);
        l += m_o.separator;
        attachments(l);
        l += m_o.separator;
        l += protection;
        // Only protected messages sent without error are owed receipts.
        if (receipts && protection != '0' && code == 0) {
            for (unsigned r = 0; r < count; ++r) {
                unsigned roll = static_cast<unsigned>(m_rng.below(100));
                if (roll >= m_o.receiptOkPercent + m_o.receiptErPercent) continue;
                unsigned span = m_o.receiptDelayMax > m_o.receiptDelayMin ? m_o.receiptDelayMax - m_o.receiptDelayMin : 0;
                std::time_t due = t + m_o.receiptDelayMin + static_cast<std::time_t>(m_rng.below(span + 1ull));
                pending.push({due, hash, (first + r * 7) % kAddresses, roll < m_o.receiptOkPercent, m_order++});
            }
        }
        return l;
    }

    std::string inboundLine(std::time_t t) {
        uint32_t code = m_rng.percent(m_o.errorPercent) ? kMessageErrors[m_rng.below(3)] : 0;
        std::string l = start(t);
        std::string from;
        address(from, static_cast<unsigned>(m_rng.below(kAddresses)));
        field(l, from);
        messageId(l, 'I');
        resultCode(l, code);
        field(l, newHash());
        l += m_o.separator; // no notification result
        field(l, from);
        subject(l);
        l += m_o.separator;
        attachments(l);
        l += m_o.separator;
        l += protectionKind();
        return l;
    }

    std::string receiptLine(std::time_t t, const PendingReceipt &r) {
        std::string l = start(t);
        std::string from;
        address(from, r.recipient);
        field(l, from);
        messageId(l, 'R');
        field(l, "0");
        field(l, r.hash);
        field(l, r.ok ? "OK" : "ER");
        field(l, from);
        l += "Уведомление о доставке"_w;
        l += m_o.separator; // no attachments
        l += m_o.separator;
        l += '3';
        return l;
    }

    Rng &rng() { return m_rng; }

    std::priority_queue<PendingReceipt, std::vector<PendingReceipt>, std::greater<>> pending;

private:
    std::string start(std::time_t t) {
        std::string l;
        l.reserve(256);
        m_time.append(l, t, m_o.separator);
        l += m_o.separator;
        return l;
    }
    void field(std::string &l, std::string_view text) {
        l += text;
        l += m_o.separator;
    }
    void messageId(std::string &l, char kind) {
        l += kind;
        appendHex(l, ++m_messages, 8);
        l += m_o.separator;
    }
    void resultCode(std::string &l, uint32_t code) {
        gwlog::appendCode(l, code);
        l += m_o.separator;
    }
    std::string newHash() {
        std::string h;
        h.reserve(64);
        for (int i = 0; i < 4; ++i) appendHex(h, m_rng.next(), 16);
        return h;
    }
    char protectionKind() {
        unsigned r = static_cast<unsigned>(m_rng.below(10));
        return r < 1 ? '0' : r < 3 ? '1' : r < 5 ? '2' : '3';
    }
    void address(std::string &l, unsigned i) {
        l += "user";
        appendTwo(l, static_cast<int>(i));
        l += "@partner";
        appendUnsigned(l, i % 5);
        l += ".ru";
    }
    void subject(std::string &l) {
        l += kSubjects[m_rng.below(sizeof kSubjects / sizeof kSubjects[0])];
        l += " №"_w;
        appendUnsigned(l, 1 + m_rng.below(9999));
    }
    void attachments(std::string &l) {
        unsigned n = static_cast<unsigned>(m_rng.below(4));
        for (unsigned i = 0; i < n; ++i) {
            if (i) l += ';';
            l += kAttachmentNames[m_rng.below(sizeof kAttachmentNames / sizeof kAttachmentNames[0])];
            appendUnsigned(l, m_rng.below(100));
            l += kAttachmentExtensions[m_rng.below(sizeof kAttachmentExtensions / sizeof kAttachmentExtensions[0])];
        }
    }

    const Options &m_o;
    Rng m_rng;
    TimeText m_time;
    uint64_t m_messages = 0;
    uint64_t m_order = 0;
};

// The times of n records spread over [start, start + span): increasing, with
// a random offset inside each record's share of the span.
class Schedule {
public:
    Schedule(uint64_t count, std::time_t start, double span) : m_count(count), m_start(start), m_span(span) {}
    bool more() const { return m_index < m_count; }
    std::time_t peek(Rng &rng) {
        if (!m_hasNext) {
            double share = (static_cast<double>(m_index) + rng.unit()) / static_cast<double>(m_count);
            m_next = m_start + static_cast<std::time_t>(share * m_span);
            m_hasNext = true;
        }
        return m_next;
    }
    void pop() {
        ++m_index;
        m_hasNext = false;
    }

private:
    uint64_t m_count, m_index = 0;
    std::time_t m_start;
    double m_span;
    std::time_t m_next = 0;
    bool m_hasNext = false;
};

void writeHistory(const Options &o, Model &model, FamilyWriter *err, FamilyWriter *in, FamilyWriter *out,
                  Stats &stats) {
    std::time_t end = o.end ? o.end : std::time(nullptr);
    double span = std::max(0.0, o.days) * 86400.0;
    std::time_t start = end - static_cast<std::time_t>(span);
    Schedule outgoing(out ? o.outgoing : 0, start, span);
    Schedule inbound(in ? o.inbound : 0, start, span);
    Schedule errors(err ? o.errors : 0, start, span);
    Rng &rng = model.rng();
    constexpr std::time_t kNever = std::numeric_limits<std::time_t>::max();

    for (;;) {
        std::time_t to = outgoing.more() ? outgoing.peek(rng) : kNever;
        std::time_t ti = inbound.more() ? inbound.peek(rng) : kNever;
        std::time_t te = errors.more() ? errors.peek(rng) : kNever;
        std::time_t tr = !model.pending.empty() && model.pending.top().time <= end ? model.pending.top().time : kNever;
        std::time_t t = std::min({to, ti, te, tr});
        if (t == kNever) break;
        if (t == to) {
            out->add(t, model.outgoingLine(t, in != nullptr));
            outgoing.pop();
        } else if (t == ti) {
            in->add(t, model.inboundLine(t));
            inbound.pop();
        } else if (t == tr) {
            in->add(t, model.receiptLine(t, model.pending.top()));
            model.pending.pop();
            stats.receipts++;
        } else {
            err->add(t, model.errorLine(t));
            errors.pop();
        }
    }
}

void follow(const Options &o, Model &model, FamilyWriter *err, FamilyWriter *in, FamilyWriter *out, Stats &stats,
            const std::atomic<bool> &stop) {
    for (FamilyWriter *w : {err, in, out})
        if (w) w->startFollowing();
    // Weights of the families: outgoing 5, inbound 3, errors 2.
    std::vector<std::pair<FamilyWriter *, int>> families;
    if (out) families.push_back({out, 5});
    if (in) families.push_back({in, 3});
    if (err) families.push_back({err, 2});
    int total = 0;
    for (auto &f : families) total += f.second;
    if (!total) return;

    using clock = std::chrono::steady_clock;
    auto begin = clock::now(), last = begin;
    double owed = 0;
    while (!stop.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto now = clock::now();
        double elapsed = std::chrono::duration<double>(now - begin).count();
        owed += o.followRate * std::chrono::duration<double>(now - last).count();
        last = now;
        std::time_t t = std::time(nullptr);
        while (in && !model.pending.empty() && model.pending.top().time <= t) {
            in->add(t, model.receiptLine(t, model.pending.top()));
            model.pending.pop();
            stats.receipts++;
        }
        for (; owed >= 1; owed -= 1) {
            int pick = static_cast<int>(model.rng().below(static_cast<uint64_t>(total)));
            for (auto &[writer, weight] : families) {
                if (pick < weight) {
                    if (writer == out) out->add(t, model.outgoingLine(t, in != nullptr));
                    else if (writer == in) in->add(t, model.inboundLine(t));
                    else err->add(t, model.errorLine(t));
                    break;
                }
                pick -= weight;
            }
        }
        if (o.duration > 0 && elapsed >= o.duration) break;
    }
}

} // namespace

Stats generate(const Options &o, const std::atomic<bool> &stop) {
    if (o.dir.empty()) throw std::runtime_error("no directory given");
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec) throw std::runtime_error("cannot create " + o.dir + ": " + ec.message());

    Model model(o);
    Stats stats;
    std::unique_ptr<FamilyWriter> err, in, out;
    if (o.withErrors)
        err = std::make_unique<FamilyWriter>(o, gwlog::familyPrefix(gwlog::Family::Errors),
                                             gwlog::familyHeader(gwlog::Family::Errors, o.separator));
    if (o.withInbound)
        in = std::make_unique<FamilyWriter>(o, gwlog::familyPrefix(gwlog::Family::Inbound),
                                            gwlog::familyHeader(gwlog::Family::Inbound, o.separator));
    if (o.withOutgoing)
        out = std::make_unique<FamilyWriter>(o, gwlog::familyPrefix(gwlog::Family::Outgoing),
                                             gwlog::familyHeader(gwlog::Family::Outgoing, o.separator));

    writeHistory(o, model, err.get(), in.get(), out.get(), stats);
    if (o.followRate > 0) follow(o, model, err.get(), in.get(), out.get(), stats, stop);
    for (auto *w : {err.get(), in.get(), out.get()})
        if (w) w->closeAll();
    if (err) stats.errors = err->stats;
    if (in) stats.inbound = in->stats;
    if (out) stats.outgoing = out->stats;
    return stats;
}

} // namespace tarmin::loggen
