#include "gateway/Gateway.h"

#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/tmnsmime.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace tarmin::gateway {

using namespace tarmin::cp::literals;
using gwlog::Family;

namespace {

// Result codes of the gateway's own errors.
constexpr uint32_t kJobUnreadable = 0xE00F0001;
constexpr uint32_t kDeliveryFailed = 0xE00F0002;
constexpr uint32_t kFileRejected = 0xE00F0003;
constexpr uint32_t kReceiptRejected = 0xE00F0004;
constexpr uint32_t kMailboxFailed = 0xE00F0005;
constexpr uint32_t kLogFailed = 0xE00F0006;
constexpr uint32_t kNoRecipientCertificate = 0xE00F0007;
constexpr uint32_t kNoResultCode = 0xE0030011;

const char *const kReceiptSubject = "Уведомление о доставке"_w;
const char kReceiptFile[] = "TMNRCPT.TXT";

// ---- Files ----

bool exists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectory(const std::string &path) {
    if (::mkdir(path.c_str(), 0750) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

std::vector<std::string> entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a directory with the files in it (one level, and one level of
// subdirectories), the marker `last` after everything else.
void removeTree(const std::string &dir, const std::string &last = {}) {
    for (const std::string &n : entries(dir)) {
        if (n == last) continue;
        std::string p = dir + "/" + n;
        if (isDirectory(p)) {
            for (const std::string &m : entries(p)) ::unlink((p + "/" + m).c_str());
            ::rmdir(p.c_str());
        } else {
            ::unlink(p.c_str());
        }
    }
    if (!last.empty()) ::unlink((dir + "/" + last).c_str());
    ::rmdir(dir.c_str());
}

// An empty marker file: its existence is all it says.
bool touch(const std::string &path) { return writeFile(path, "", false); }

// A name from a message made safe for the local file system (UTF-8, no
// separators, no leading dot).
std::string localFileName(const std::string &cp1251Name) {
    std::string n = cp::cp1251_to_utf8(cp1251Name);
    for (char &c : n)
        if (c == '/' || c == '\0') c = '_';
    if (n.empty() || n[0] == '.') n = "_" + n;
    if (n.size() > 200) n.resize(200);
    return n;
}

std::string upperHex(const unsigned char *data, size_t n) {
    static const char hex[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += hex[data[i] >> 4];
        s += hex[data[i] & 15];
    }
    return s;
}

// Hexadecimal digits of a hash text, upper case, without blanks.
std::string normalHash(std::string_view text) {
    std::string s;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string cp1251(const std::string &utf8) { return cp::utf8_to_cp1251(utf8, '?'); }

// ---- Reports of the libraries ----

struct Failure {
    uint32_t code = 0;
    std::string text; // Windows-1251
};

// Takes the reports kept since the last call: the first summary report (the
// code the host shows), else the first report of any level.
Failure takeReports() {
    std::vector<Failure> summary, any;
    struct Sink {
        std::vector<Failure> *summary, *any;
    } sink{&summary, &any};
    QZ_SetReportPresenter(
        [](QZ_HWND, int, const QZ_REPORT *r, size_t n, void *user) {
            auto *s = static_cast<Sink *>(user);
            for (size_t i = 0; i < n; ++i) {
                Failure f{r[i].code, r[i].text ? r[i].text : ""};
                (r[i].level == QZ_LEVEL_SUMMARY ? s->summary : s->any)->push_back(f);
            }
        },
        &sink);
    QZ_ShowReports(nullptr, 1);
    QZ_SetReportPresenter(nullptr, nullptr);
    QZ_ClearReports(2);
    if (!summary.empty()) return summary.front();
    if (!any.empty()) return any.front();
    return {};
}

// ---- Message objects as a host makes them (malloc'd, released by the library) ----

char *dup(std::string_view s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

struct Object {
    MhaObject *o;
    explicit Object(uint32_t type) : o(static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)))) {
        if (!o) throw std::bad_alloc();
        o->Type = type;
    }
    Object(Object &&other) noexcept : o(other.o) { other.o = nullptr; }
    Object(const Object &) = delete;
    ~Object() {
        if (o) MHA_object_free(nullptr, o);
    }
};

Object addressObject(uint32_t type, const JobAddress &a) {
    Object x(type);
    char **f = type == MHA_OBJ_FROM ? &x.o->FromTypeAddress : &x.o->ToTypeAddress;
    f[0] = dup(a.type);
    f[1] = dup("");
    f[2] = dup(a.address);
    return x;
}

Object dateObject(std::time_t t) {
    Object x(MHA_OBJ_DATE);
    uint64_t ft = (static_cast<uint64_t>(t) + 11644473600ULL) * 10000000ULL;
    x.o->SendDate = {static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
    return x;
}

Object subjectObject(const std::string &s) {
    Object x(MHA_OBJ_SUBJECT);
    x.o->Subject = dup(s);
    return x;
}

Object bodyObject(const std::string &s) {
    Object x(MHA_OBJ_BODY);
    x.o->Body = dup(s);
    x.o->BodyLength = static_cast<uint32_t>(s.size());
    return x;
}

Object attachmentObject(const std::string &name, const std::string &data) {
    Object x(MHA_OBJ_ATTACHMENT);
    x.o->AttachName = dup(name);
    x.o->AttachData = reinterpret_cast<unsigned char *>(dup(data));
    x.o->AttachLength = static_cast<uint32_t>(data.size());
    x.o->AttachRenderingPosition = -1;
    x.o->AttachMethod = 1;
    return x;
}

struct Encoded {
    std::string text;
    std::string hash;
};

// Encodes the objects. On failure, `failure` holds the library's code and
// text; when only a step was traced, none was reported to the user and the
// object that failed was a recipient of an encrypted message, the library
// found no certificate for it, and the failure names the address.
std::optional<Encoded> encode(MhaContext *ctx, uint32_t flags, std::vector<Object> &objects, Failure &failure) {
    int32_t rc = MHA_encode_init(ctx, flags);
    size_t i = 0;
    for (; rc == 0 && i < objects.size(); ++i) rc = MHA_encode_add(ctx, objects[i].o);
    MhaSmime *smime = nullptr;
    if (rc == 0) rc = MHA_encode_final(ctx, &smime);
    else MHA_encode_free(ctx);
    if (rc != 0 || !smime) {
        failure = takeReports();
        const MhaObject *failed = i > 0 && i <= objects.size() ? objects[i - 1].o : nullptr;
        if (failed && failed->Type == MHA_OBJ_TO && (flags & MHA_ENCRYPT) && failure.code == 0xE0030015)
            failure = {kNoRecipientCertificate,
                       "Сертификат получателя не найден: "_w + std::string(failed->ToAddress ? failed->ToAddress : "")};
        if (!failure.code) failure.code = static_cast<uint32_t>(rc);
        MHA_smime_free(ctx, smime);
        return std::nullopt;
    }
    QZ_ClearReports(2);
    Encoded e{std::string(reinterpret_cast<char *>(smime->Data), smime->Length),
              upperHex(smime->Hash, std::min<uint32_t>(smime->HashLength, sizeof smime->Hash))};
    MHA_smime_free(ctx, smime);
    return e;
}

struct Decoded {
    int32_t rc = -1;
    Failure failure;
    int32_t decrypt = -1, sign = -1;
    std::string hash; // X-Message-Hash, normalised
    std::string from, subject, body, detail;
    std::vector<std::string> to;
    std::vector<JobFile> attachments;
    std::vector<int32_t> attachSigners;
    bool ok() const {
        if (rc != 0 || sign > 0 || decrypt > 0) return false;
        for (int32_t s : attachSigners)
            if (s != 0) return false;
        return true;
    }
};

Decoded decode(MhaContext *ctx, std::string_view text) {
    Decoded d;
    std::string buffer(text);
    MhaSmime smime{};
    smime.Data = reinterpret_cast<unsigned char *>(buffer.data());
    smime.Length = static_cast<uint32_t>(buffer.size());
    uint32_t flags = 0;
    MhaResult *result = nullptr;
    d.rc = MHA_decode_init(ctx, &smime, &flags, &result, nullptr);
    d.hash = normalHash(std::string_view(reinterpret_cast<char *>(smime.Hash),
                                         std::min<uint32_t>(smime.HashLength, sizeof smime.Hash)));
    if (result) {
        d.decrypt = result->DecryptStatus;
        d.sign = result->SignStatus;
        if (result->ResultDetail) d.detail = result->ResultDetail;
        for (MhaAttachSigner *s = result->AttachSigners; s; s = s->next) d.attachSigners.push_back(s->Status);
    }
    if (d.rc == 0) {
        for (MhaObject *o = nullptr; MHA_decode_extract(ctx, &o) == 0 && o;) {
            switch (o->Type) {
            case MHA_OBJ_ATTACHMENT:
                d.attachments.push_back({o->AttachName ? o->AttachName : "",
                                         std::string(reinterpret_cast<char *>(o->AttachData), o->AttachLength)});
                break;
            case MHA_OBJ_BODY: d.body.assign(o->Body ? o->Body : "", o->BodyLength); break;
            case MHA_OBJ_FROM:
                if (d.from.empty() && o->FromAddress) d.from = o->FromAddress;
                break;
            case MHA_OBJ_TO:
                if (o->ToAddress) d.to.push_back(o->ToAddress);
                break;
            case MHA_OBJ_SUBJECT:
                if (o->Subject) d.subject = o->Subject;
                break;
            default: break;
            }
            MHA_object_free(ctx, o);
        }
    }
    MHA_decode_final(ctx);
    MHA_result_free(ctx, result);
    d.failure = takeReports();
    if (d.rc != 0 && !d.failure.code) d.failure.code = d.rc == 1 ? 0xE0030026 : kNoResultCode;
    return d;
}

// The receipt's own record: which message it confirms, for whom, with what.
struct ReceiptRecord {
    std::string hash, result, recipient, messageId;
};

std::string formatReceiptRecord(const ReceiptRecord &r) {
    return "Message-Hash:" + r.hash + "\r\nResult:" + r.result + "\r\nRecipient:" + r.recipient +
           "\r\nMessage-Id:" + r.messageId + "\r\n";
}

// Calls `take` with the key and value of every "key:value" line ending in
// `lineEnd`; false when a line has no colon or the last has no line end.
template <class F> bool forEachKeyLine(std::string_view text, std::string_view lineEnd, F take) {
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find(lineEnd, pos);
        if (end == std::string_view::npos) return false;
        std::string_view line = text.substr(pos, end - pos);
        pos = end + lineEnd.size();
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        take(line.substr(0, colon), std::string(line.substr(colon + 1)));
    }
    return true;
}

std::optional<ReceiptRecord> parseReceiptRecord(std::string_view text) {
    ReceiptRecord r;
    bool complete = forEachKeyLine(text, "\r\n", [&](std::string_view key, std::string value) {
        if (key == "Message-Hash") r.hash = std::move(value);
        else if (key == "Result") r.result = std::move(value);
        else if (key == "Recipient") r.recipient = std::move(value);
        else if (key == "Message-Id") r.messageId = std::move(value);
    });
    if (!complete || r.hash.empty() || (r.result != "OK" && r.result != "ER") || r.recipient.empty())
        return std::nullopt;
    return r;
}

std::vector<std::string> names(const std::vector<JobFile> &files) {
    std::vector<std::string> v;
    for (const JobFile &f : files) v.push_back(f.name);
    return v;
}

// The meta file of a built message: the fields of its "tmnsent" line.
std::string formatMeta(const SentLine &s) {
    std::string m = "From:" + s.from + "\nHash:" + s.hash + "\nSubject:" + s.subject + "\nProtection:" +
                    s.protection + "\n";
    for (const std::string &r : s.recipients) m += "To:" + r + "\n";
    for (const std::string &a : s.attachments) m += "Attachment:" + a + "\n";
    return m;
}

std::optional<SentLine> parseMeta(std::string_view text) {
    SentLine s;
    bool protection = false;
    bool complete = forEachKeyLine(text, "\n", [&](std::string_view key, std::string value) {
        if (key == "From") s.from = std::move(value);
        else if (key == "Hash") s.hash = std::move(value);
        else if (key == "Subject") s.subject = std::move(value);
        else if (key == "Protection" && value.size() == 1) s.protection = value[0], protection = true;
        else if (key == "To") s.recipients.push_back(std::move(value));
        else if (key == "Attachment") s.attachments.push_back(std::move(value));
    });
    if (!complete) return std::nullopt;
    if (!protection) return std::nullopt;
    return s;
}

std::string utf8Reason(const std::string &why) { return cp1251(why); }

// The reason a failed job was given (its file ends in a line feed).
std::string reasonOf(const std::string &dir) {
    std::string why = readRegularFile(dir + "/.tmngwd/reason").value_or("?");
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return why;
}

} // namespace

// ---- Gateway ----

Gateway::Gateway(GatewayOptions options, Transport &peer)
    : m_options(std::move(options)), m_peer(peer), m_log(m_options.logDir) {}

Gateway::~Gateway() {
    if (m_journalFd >= 0) ::close(m_journalFd);
    if (m_ctx) {
        if (m_session) MHA_vcert_final(m_ctx);
        MHA_close_context(m_ctx);
        QZ_ClearReports(2);
    }
}

bool Gateway::open(std::string &why) {
    const GatewayOptions &o = m_options;
    for (const std::string &d : {o.outDir, o.outDir + "/.work", o.outDir + "/failed", o.stateDir,
                                 o.stateDir + "/receiving", o.stateDir + "/rejected", o.mailboxDir, o.logDir})
        if (!makeDirectory(d)) {
            why = "cannot create the directory " + d + ": " + std::strerror(errno);
            return false;
        }
    if (!makeMaildir(o.inboxDir)) {
        why = "cannot create the inbox " + o.inboxDir + ": " + std::strerror(errno);
        return false;
    }
    // The journal of processed inbound identifiers; a line cut short by a
    // crash has no line feed and is not counted.
    const std::string journalPath = o.stateDir + "/received.journal";
    std::optional<std::string> text = readRegularFile(journalPath, 1ull << 32);
    if (text) {
        size_t pos = 0;
        for (size_t end; (end = text->find('\n', pos)) != std::string::npos; pos = end + 1)
            m_journal.insert(text->substr(pos, end - pos));
    }
    m_journalFd = ::open(journalPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (m_journalFd < 0) {
        why = "cannot open the journal " + journalPath + ": " + std::strerror(errno);
        return false;
    }
    // A line cut short ends here, so that the next one starts on its own.
    if (text && !text->empty() && text->back() != '\n' && ::write(m_journalFd, "\n", 1) != 1) {
        why = "cannot write the journal " + journalPath + ": " + std::strerror(errno);
        return false;
    }
    if (MHA_create_context(&m_ctx) != 0) {
        Failure f = takeReports();
        why = "cannot create the S/MIME context: " + cp::cp1251_to_utf8(f.text);
        return false;
    }
    if (MHA_vcert_init(m_ctx) != 0) {
        Failure f = takeReports();
        why = "cannot open the own certificate: " + cp::cp1251_to_utf8(f.text);
        return false;
    }
    m_session = true;
    QZ_ClearReports(2);
    return true;
}

bool Gateway::journal(const std::string &id) {
    std::string line = id + "\n";
    if (::write(m_journalFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    if (m_options.sync) ::fdatasync(m_journalFd);
    m_journal.insert(id);
    return true;
}

PassCounts Gateway::runOnce(const std::atomic<bool> &stop) {
    PassCounts counts;
    // Jobs taken before (by this run or one that was stopped) come first,
    // then new jobs; the inbox takes turns with them, so that receipts and
    // incoming mail do not wait behind a long queue of jobs (nor the jobs
    // behind a flood of mail).
    std::vector<std::string> taken = entries(m_options.outDir + "/.work");
    std::vector<std::string> fresh = completeJobs(m_options.outDir);
    std::vector<std::string> inbox = entries(m_options.inboxDir + "/new");
    size_t t = 0, f = 0, i = 0;
    while (t < taken.size() || f < fresh.size() || i < inbox.size()) {
        if (stop.load()) return counts;
        if (t < taken.size()) sendJob(taken[t++], counts);
        else if (f < fresh.size()) {
            std::string id;
            if (takeJob(fresh[f++], id)) sendJob(id, counts);
        }
        if (stop.load()) return counts;
        if (i < inbox.size()) receiveFile(inbox[i++], counts);
    }
    return counts;
}

bool Gateway::takeJob(const std::string &jobName, std::string &id) {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::string safe;
    for (char c : jobName)
        safe += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_';
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%lld%09ld-%llu-", static_cast<long long>(ts.tv_sec), ts.tv_nsec,
                  static_cast<unsigned long long>(++m_taken));
    id = m_options.name + "-" + stamp + safe.substr(0, 64);
    // The rename is the taking: a job is in the output directory or in the
    // work directory, never in both, and never read where the writer is.
    return ::rename((m_options.outDir + "/" + jobName).c_str(), (m_options.outDir + "/.work/" + id).c_str()) == 0;
}

void Gateway::failJob(const std::string &id, const std::string &why, uint32_t code) {
    const std::string dir = m_options.outDir + "/.work/" + id;
    const std::string reasonFile = dir + "/.tmngwd/reason";
    const bool resumed = exists(reasonFile);
    makeDirectory(dir + "/" + kStateDir);
    const std::string info = "Задание "_w + id + " не обработано: "_w + utf8Reason(why);
    if (!resumed) writeFileAtomically(reasonFile, why + "\n", m_options.sync);
    // A restarted gateway does not write the line again.
    if (!resumed || !m_log.containsText(Family::Errors, fieldText(info)))
        m_log.error(code == kJobUnreadable ? "spool" : "smime", "err", code, info);
    // Kept with its reason, never taken again.
    ::rename(dir.c_str(), (m_options.outDir + "/failed/" + id).c_str());
}

void Gateway::finishJob(const std::string &dir) {
    // The job's own files first, the marker that the job is done last of all.
    for (const std::string &n : entries(dir))
        if (n != kStateDir) ::unlink((dir + "/" + n).c_str());
    removeTree(dir + "/" + kStateDir, "logged");
    ::rmdir(dir.c_str());
}

void Gateway::sendJob(const std::string &id, PassCounts &counts) {
    const std::string dir = m_options.outDir + "/.work/" + id;
    if (!isDirectory(dir)) return;
    if (exists(dir + "/.tmngwd/logged")) return finishJob(dir);
    if (exists(dir + "/.tmngwd/reason")) return failJob(id, reasonOf(dir), kJobUnreadable);
    if (!exists(dir + "/.tmngwd/message")) {
        if (!exists(dir + "/tmninfo.txt")) return finishJob(dir); // the rest of a finished job
        std::string why;
        std::optional<Job> job = readJob(dir, why);
        if (!job) {
            counts.failedJobs++;
            return failJob(id, why, kJobUnreadable);
        }
        const JobInfo &info = job->info;
        JobAddress from = info.from.value_or(JobAddress{"SMTP", m_options.address});
        uint32_t flags = (info.encrypt ? MHA_ENCRYPT : 0) | (info.sign ? MHA_SIGN : 0);
        if (flags) flags |= MHA_CONFIRM;
        std::vector<Object> objects;
        objects.emplace_back(MHA_OBJ_START);
        objects.push_back(addressObject(MHA_OBJ_FROM, from));
        for (const JobAddress &r : info.recipients) objects.push_back(addressObject(MHA_OBJ_TO, r));
        objects.push_back(dateObject(m_log.now()));
        if (!info.subject.empty()) objects.push_back(subjectObject(info.subject));
        if (!info.body.empty()) objects.push_back(bodyObject(info.body));
        for (const JobFile &f : job->attachments) objects.push_back(attachmentObject(f.name, f.data));
        objects.emplace_back(MHA_OBJ_END);
        // A message is encrypted for every recipient or not sent: a recipient
        // without a certificate fails the job, naming the address.
        Failure failure;
        std::optional<Encoded> built = encode(m_ctx, flags, objects, failure);

        SentLine line;
        line.from = from.address;
        line.id = id;
        for (const JobAddress &r : info.recipients) line.recipients.push_back(r.address);
        line.subject = info.subject;
        line.attachments = names(job->attachments);
        line.protection = static_cast<char>('0' + (flags & 3));
        if (!built) {
            // The message cannot be made (a recipient without a certificate,
            // a key that fails): logged as sent with the error, and the job
            // kept in "failed" with the library's text.
            line.code = failure.code;
            if (!m_log.contains(Family::Outgoing, id)) m_log.sent(line);
            counts.failedJobs++;
            return failJob(id, cp::cp1251_to_utf8(failure.text), failure.code);
        }
        line.hash = built->hash;
        Envelope envelope{id, "message", from.address, line.recipients, built->hash, line.protection};
        if (!makeDirectory(dir + "/" + kStateDir) ||
            !writeFileAtomically(dir + "/.tmngwd/meta", formatMeta(line), m_options.sync) ||
            !writeFileAtomically(dir + "/.tmngwd/message", packEnvelope(envelope, built->text), m_options.sync)) {
            m_log.error("spool", "err", kDeliveryFailed, "Ошибка записи в рабочий каталог "_w + id);
            return;
        }
    }
    std::optional<std::string> meta = readRegularFile(dir + "/.tmngwd/meta");
    std::optional<SentLine> line = meta ? parseMeta(*meta) : std::nullopt;
    if (!line) return failJob(id, "рабочие файлы сообщения повреждены", kJobUnreadable);
    line->id = id;
    const bool resumed = exists(dir + "/.tmngwd/delivered");
    if (!resumed) {
        auto retry = m_retry.find(id);
        if (retry != m_retry.end() && m_log.now() < retry->second.next) return;
        std::optional<std::string> file = readRegularFile(dir + "/.tmngwd/message");
        std::string why;
        if (!file) why = "собранное сообщение не читается";
        else {
            if (!m_options.tamperSubject.empty() && line->subject.find(m_options.tamperSubject) != std::string::npos)
                tamperWith(*file);
            if (!m_peer.deliver(id, *file, why)) file.reset();
        }
        if (!file) {
            // Left in the work directory and tried again after a pause that
            // doubles with every failure (5 s to 5 min), each failure logged.
            m_log.error("smtp", "err", kDeliveryFailed, "Ошибка доставки сообщения "_w + id + ": "_w + utf8Reason(why));
            Retry &r = m_retry[id];
            r.delay = r.delay ? std::min<std::time_t>(r.delay * 2, 300) : 5;
            r.next = m_log.now() + r.delay;
            return;
        }
        m_retry.erase(id);
        touch(dir + "/.tmngwd/delivered");
    }
    if (!resumed || !m_log.contains(Family::Outgoing, id)) {
        if (!m_log.sent(*line)) {
            m_log.error("log", "err", kLogFailed, "Ошибка записи журнала отправленных сообщений"_w);
            return;
        }
    }
    touch(dir + "/.tmngwd/logged");
    counts.jobs++;
    finishJob(dir);
}

void Gateway::receiveFile(const std::string &fileName, PassCounts &counts) {
    const std::string path = m_options.inboxDir + "/new/" + fileName;
    if (fileName.empty() || fileName[0] == '.') return;
    std::optional<std::string> file = readRegularFile(path);
    std::string_view smime;
    std::optional<Envelope> envelope = file ? unpackEnvelope(*file, smime) : std::nullopt;
    if (!envelope || envelope->id != fileName) {
        // Not a delivery of a gateway: kept aside, never read again.
        const std::string aside = m_options.stateDir + "/rejected/" + localFileName(fileName);
        m_log.error("smtp", "err", kFileRejected, "Принятый файл не является сообщением шлюза: "_w + cp1251(fileName));
        if (::rename(path.c_str(), aside.c_str()) != 0) ::unlink(path.c_str());
        counts.rejected++;
        return;
    }
    const std::string &id = envelope->id;
    if (!journalled(id)) {
        const std::string retryKey = "inbox/" + id;
        auto retry = m_retry.find(retryKey);
        if (retry != m_retry.end() && m_log.now() < retry->second.next) return;
        const std::string marker = m_options.stateDir + "/receiving/" + id;
        const bool resumed = exists(marker);
        if (!resumed) touch(marker);
        if (envelope->kind == "receipt") {
            receiveReceipt(*envelope, smime, resumed);
            counts.receipts++;
        } else {
            if (!receiveMessage(*envelope, smime, resumed)) {
                // A receipt could not be made or sent: the message stays in
                // the inbox, with its marker, and is worked again later.
                Retry &r = m_retry[retryKey];
                r.delay = r.delay ? std::min<std::time_t>(r.delay * 2, 300) : 5;
                r.next = m_log.now() + r.delay;
                return;
            }
            m_retry.erase(retryKey);
            counts.messages++;
        }
        if (!journal(id)) {
            m_log.error("spool", "err", kLogFailed, "Ошибка записи журнала принятых сообщений"_w);
            return;
        }
    }
    ::unlink((m_options.stateDir + "/receiving/" + id).c_str());
    ::unlink(path.c_str());
}

bool Gateway::receiveMessage(const Envelope &envelope, std::string_view smime, bool resumed) {
    const std::string &id = envelope.id;
    ReceivedLine line;
    line.from = envelope.from;
    line.id = id;
    line.hash = envelope.hash;
    line.address = envelope.from;
    line.protection = envelope.protection;

    const std::string target = m_options.mailboxDir + "/" + id;
    const std::string temp = m_options.mailboxDir + "/.tmp-" + id;
    auto deliverLocally = [&](const std::vector<std::pair<std::string, std::string>> &files,
                              const std::vector<JobFile> &attachments) {
        if (isDirectory(target)) return true; // handed over before a restart
        removeTree(temp);
        if (!makeDirectory(temp)) return false;
        // Nobody looks into the directory before it is renamed into place.
        for (const auto &[name, data] : files)
            if (!writeFile(temp + "/" + name, data, m_options.sync)) return false;
        if (!attachments.empty()) {
            if (!makeDirectory(temp + "/attachments")) return false;
            for (const JobFile &f : attachments)
                if (!writeFile(temp + "/attachments/" + localFileName(f.name), f.data, m_options.sync))
                    return false;
        }
        return ::rename(temp.c_str(), target.c_str()) == 0;
    };

    if (envelope.protection == '0') {
        // An unprotected message is handed over as it came; nobody signed
        // for it, so it is owed no receipt.
        if (!deliverLocally({{"message.eml", std::string(smime)}}, {}))
            m_log.error("mailbox", "err", kMailboxFailed, "Ошибка передачи сообщения в почтовый ящик: "_w + id);
        if (!resumed || !m_log.contains(Family::Inbound, id)) m_log.received(line);
        return true;
    }

    Decoded d = decode(m_ctx, smime);
    const bool ok = d.ok() && (d.hash.empty() || d.hash == normalHash(envelope.hash));
    std::string errorText;
    if (ok) {
        std::string headers = "From: " + d.from + "\r\n";
        for (const std::string &t : d.to) headers += "To: " + t + "\r\n";
        headers += "Subject: " + d.subject + "\r\n\r\n" + d.body;
        std::string status = "Decrypt-Status: " + std::to_string(d.decrypt) + "\r\nSign-Status: " +
                             std::to_string(d.sign) + "\r\n";
        for (int32_t s : d.attachSigners) status += "Attachment-Signer-Status: " + std::to_string(s) + "\r\n";
        if (!deliverLocally({{"message.txt", headers}, {"result.txt", d.detail}, {"status.txt", status}},
                            d.attachments))
            m_log.error("mailbox", "err", kMailboxFailed, "Ошибка передачи сообщения в почтовый ящик: "_w + id);
        line.subject = d.subject;
        line.attachments = names(d.attachments);
    } else {
        line.code = d.failure.code ? d.failure.code : kNoResultCode;
        errorText = d.failure.text.empty() ? std::string("Ошибка криптографической обработки сообщения"_w)
                                           : d.failure.text;
        if (d.ok()) errorText = "Хэш-функция сообщения не совпадает с объявленной"_w;
        // The damaged message is kept for the administrator.
        writeFileAtomically(m_options.stateDir + "/rejected/" + id, smime, m_options.sync);
    }

    // One receipt per recipient served here, returned to the sender's gateway.
    const std::string hash = normalHash(envelope.hash);
    for (size_t i = 0; i < envelope.to.size(); ++i) {
        ReceiptRecord record{hash, ok ? "OK" : "ER", envelope.to[i], id};
        std::string body;
        if (ok) {
            body = "Сообщение получено, расшифровано и проверено.\r\n"_w;
        } else if (MHA_init_text(m_ctx) == 0) {
            Object from = addressObject(MHA_OBJ_FROM, parseJobAddress(envelope.from));
            Object to = addressObject(MHA_OBJ_TO, parseJobAddress(envelope.to[i]));
            MHA_add_to_text(m_ctx, from.o);
            MHA_add_to_text(m_ctx, to.o);
            MhaSmime *text = nullptr;
            if (MHA_final_text(m_ctx, &text) == 0 && text)
                body.assign(reinterpret_cast<char *>(text->Data), text->Length);
            MHA_smime_free(m_ctx, text);
            body += errorText + "\r\n";
        }
        std::vector<Object> objects;
        objects.emplace_back(MHA_OBJ_START);
        objects.push_back(addressObject(MHA_OBJ_FROM, JobAddress{"SMTP", m_options.address}));
        objects.push_back(addressObject(MHA_OBJ_TO, parseJobAddress(envelope.from)));
        objects.push_back(dateObject(m_log.now()));
        objects.push_back(subjectObject(kReceiptSubject));
        objects.push_back(bodyObject(body));
        objects.push_back(attachmentObject(kReceiptFile, formatReceiptRecord(record)));
        objects.emplace_back(MHA_OBJ_END);
        Failure failure;
        std::optional<Encoded> receipt = encode(m_ctx, MHA_SIGN | MHA_NO_ATTACH_SIGN, objects, failure);
        if (!receipt) {
            m_log.error("smime", "err", failure.code, failure.text);
            return false;
        }
        // The receipt's identifier is fixed by the message and the recipient:
        // sent again after a restart, it is recognised by the peer.
        const std::string rid = m_options.name + "-R" + std::to_string(i) + "-" + id;
        Envelope re{rid, "receipt", m_options.address, {envelope.from}, receipt->hash, '2'};
        std::string why;
        if (!m_peer.deliver(rid, packEnvelope(re, receipt->text), why)) {
            m_log.error("smtp", "err", kDeliveryFailed, "Ошибка доставки квитанции "_w + rid + ": "_w + utf8Reason(why));
            return false;
        }
    }
    if (!resumed || !m_log.contains(Family::Inbound, id)) {
        if (!ok && (!resumed || !m_log.containsText(Family::Errors, fieldText(id))))
            m_log.error("smime", "err", line.code, "Сообщение "_w + id + ": "_w + errorText);
        m_log.received(line);
    }
    return true;
}

void Gateway::receiveReceipt(const Envelope &envelope, std::string_view smime, bool resumed) {
    Decoded d = decode(m_ctx, smime);
    std::optional<ReceiptRecord> record;
    if (d.ok() && d.sign == 0)
        for (const JobFile &f : d.attachments)
            if (f.name == kReceiptFile) record = parseReceiptRecord(f.data);
    if (!record) {
        if (!resumed || !m_log.containsText(Family::Errors, fieldText(envelope.id)))
            m_log.error("smime", "err", d.failure.code ? d.failure.code : kReceiptRejected,
                        "Квитанция "_w + envelope.id + " не принята: "_w +
                            (d.failure.text.empty() ? std::string("подпись не проверена"_w) : d.failure.text));
        return;
    }
    ReceivedLine line;
    line.from = record->recipient;
    line.id = envelope.id;
    line.code = 0;
    line.hash = record->hash;
    line.notification = record->result;
    line.address = record->recipient;
    line.subject = d.subject;
    line.protection = '2';
    if (!resumed || !m_log.contains(Family::Inbound, envelope.id)) m_log.received(line);
}

} // namespace tarmin::gateway
