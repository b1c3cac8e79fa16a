#include "platform/crypto/store.h"

#include "common/codepage.h"
#include "common/settings.h"
#include "platform/crypto/crypto_error.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <dirent.h>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace tarmin::crypto {

namespace {

constexpr const char *kIndexName = ".index";
constexpr const char *kIndexHeader = "tarmin-certstore-index 3";
const char *kStandardStores[] = {"MY", "Root", "CA", "AddressBook"};

// Search keys are kept as 64-bit FNV-1a hashes: small in memory and in the
// index file; a hit is always confirmed on the certificate itself.
using KeyHash = uint64_t;

KeyHash key_hash(std::string_view s) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

void append_hex16(std::string &out, uint64_t v) {
    static const char *hex = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) out += hex[(v >> shift) & 15];
}

bool parse_hex16(const char *p, const char *end, uint64_t *out) {
    if (end - p < 16) return false;
    uint64_t v = 0;
    for (int i = 0; i < 16; ++i) {
        char c = p[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

std::string lower(std::string_view s) { return cp::lower_1251(s); }

// Search keys of a certificate: issuer and serial, mail name, e-mail
// attributes and other names.
std::string serial_key(const Bytes &issuer, Bytes serial) {
    while (serial.size() > 1 && serial.back() == 0) serial.pop_back();
    return "s" + std::string(issuer.begin(), issuer.end()) + ":" + std::string(serial.begin(), serial.end());
}
std::string mail_key(std::string_view a) { return "e" + lower(a); }
std::string attr_key(std::string_view a) { return "a" + std::string(a); }
std::string other_key(std::string_view oid, std::string_view v) { return "o" + std::string(oid) + "=" + lower(v); }

std::vector<KeyHash> keys_of(const Certificate &c) {
    std::vector<KeyHash> keys;
    keys.push_back(key_hash(serial_key(c.issuer_der(), c.serial_le())));
    std::string mail = c.mail_name();
    if (!mail.empty()) keys.push_back(key_hash(mail_key(mail)));
    for (const auto &a : c.subject_attributes(kOidEmailAttribute)) keys.push_back(key_hash(attr_key(a)));
    for (const auto &o : c.other_names())
        if (o.decoded) keys.push_back(key_hash(other_key(o.oid, o.value)));
    return keys;
}

bool valid_part(std::string_view s) {
    return !s.empty() && s != "." && s != ".." && s.find('/') == std::string_view::npos &&
           s.find('\\') == std::string_view::npos && s.find('\0') == std::string_view::npos;
}

// Largest file a store may hold (certificates, revocation lists, keys, the
// index); anything bigger is not one of ours.
constexpr size_t kMaxStoreFile = size_t{256} << 20;

// Reads a whole file of a store. A store holds plain files only: a named
// pipe, device or socket is refused before it is read (opening never waits
// for a pipe's writer), and so is a symbolic link (its target is not the
// store's), both with kErrNotRegularFile.
// The file's status goes to *status when asked for.
std::optional<std::string> read_whole(const fs::path &p, struct stat *status = nullptr) {
    int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (e == ELOOP) set_last_error(kErrNotRegularFile);
        else set_last_error_from_errno(e);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        set_last_error(kErrNotRegularFile);
        return std::nullopt;
    }
    if (status) *status = st;
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() + static_cast<size_t>(n) > kMaxStoreFile) {
            int e = n < 0 ? errno : EFBIG;
            OPENSSL_cleanse(out.data(), out.size());
            ::close(fd);
            set_last_error_from_errno(e);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    OPENSSL_cleanse(buf, sizeof buf);
    ::close(fd);
    return out;
}

// Writes a file whole under a temporary name, then renames it into place.
bool write_atomic(const fs::path &p, const void *data, size_t n, mode_t mode) {
    std::string tmp = p.string() + ".tmp" + std::to_string(::getpid());
    // Whatever lies under the temporary name (a pipe would block the open)
    // goes first; the file is then made new.
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        set_last_error_from_errno(errno);
        return false;
    }
    ::fchmod(fd, mode);
    const char *q = static_cast<const char *>(data);
    size_t left = n;
    while (left) {
        ssize_t w = ::write(fd, q, left);
        if (w <= 0) {
            int e = w < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmp.c_str());
            set_last_error_from_errno(e);
            return false;
        }
        q += w;
        left -= static_cast<size_t>(w);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), p.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        set_last_error_from_errno(e);
        return false;
    }
    return true;
}

// Whether a file or directory is the user's own and closed to everyone else:
// what a private key and the directories holding it must be (another user
// could read the key, or put one of their own in its place).
bool private_to_user(const struct stat &st) { return st.st_uid == ::geteuid() && (st.st_mode & 077) == 0; }

bool private_directory(const fs::path &dir) {
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && private_to_user(st);
}

bool same_time(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// What tells one version of a file from another without reading it: its
// inode, size and time of last change, folded into 64 bits.
uint64_t file_stamp(const struct stat &st) {
    const uint64_t parts[] = {static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                              static_cast<uint64_t>(st.st_mtim.tv_sec), static_cast<uint64_t>(st.st_mtim.tv_nsec)};
    return key_hash(std::string_view(reinterpret_cast<const char *>(parts), sizeof parts));
}

} // namespace

struct CertStore::Data {
    struct Record {
        std::vector<KeyHash> keys;
        CertPtr cert;       // loaded on demand for disk stores
        uint64_t stamp = 0; // file_stamp of the certificate file the keys were taken from
        // Whether the keys are known to be those of the file as it is: taken
        // from it in this process, or from an index line whose file stamp
        // was found to match.
        bool confirmed = false;
    };

    std::mutex m;
    bool memory = false;
    fs::path dir;
    std::string name;
    bool loaded = false;
    timespec mtime{};
    std::unordered_map<std::string, Record> certs;         // by thumbprint
    std::vector<std::string> order;                        // memory stores: order of adding
    std::unordered_multimap<KeyHash, std::string> index; // search key -> thumbprint
    std::map<std::string, CrlPtr> crls;
    std::vector<std::string> crl_order;
    size_t index_lines = 0; // lines in the index file (live or stale)

    void add_record(const std::string &thumb, Record rec) {
        for (const auto &k : rec.keys) index.emplace(k, thumb);
        certs.insert_or_assign(thumb, std::move(rec));
    }
    void drop_record(const std::string &thumb) {
        auto it = certs.find(thumb);
        if (it == certs.end()) return;
        for (const auto &k : it->second.keys) {
            auto range = index.equal_range(k);
            for (auto i = range.first; i != range.second;)
                i = i->second == thumb ? index.erase(i) : std::next(i);
        }
        certs.erase(it);
        order.erase(std::remove(order.begin(), order.end(), thumb), order.end());
    }

    fs::path file_of(const std::string &thumb, const char *ext) const { return dir / (thumb + ext); }

    std::vector<std::string> sorted_thumbprints() const {
        std::vector<std::string> out;
        out.reserve(certs.size());
        for (const auto &entry : certs) out.push_back(entry.first);
        std::sort(out.begin(), out.end());
        return out;
    }

    CertPtr load(const std::string &thumb, Record &rec) {
        if (rec.cert || memory) return rec.cert;
        struct stat st {};
        auto bytes = read_whole(file_of(thumb, ".cer"), &st);
        if (!bytes) return nullptr;
        rec.cert = Certificate::from_der(bytes->data(), bytes->size());
        // A record made from the file itself: its keys are the file's.
        if (rec.cert && rec.keys.empty()) {
            rec.stamp = file_stamp(st);
            rec.confirmed = true;
        }
        return rec.cert;
    }

    // "<thumbprint>\t<file stamp>\t<key>...\t<check>": hexadecimal fields of
    // 16 digits; the check is the hash of the line before it, so that a
    // garbled or cut line is not taken.
    static std::string index_line(const std::string &thumb, const Record &rec) {
        std::string line = thumb + '\t';
        append_hex16(line, rec.stamp);
        for (KeyHash k : rec.keys) {
            line += '\t';
            append_hex16(line, k);
        }
        uint64_t check = key_hash(line);
        line += '\t';
        append_hex16(line, check);
        return line + "\n";
    }

    // A line of the index as index_line writes it; false when it does not hold.
    static bool parse_index_line(const char *p, const char *eol, std::string *thumb, Record *rec) {
        if (eol - p < 40 + 2 * 17) return false;
        thumb->assign(p, 40);
        std::vector<uint64_t> fields;
        for (const char *q = p + 40; q < eol; q += 17) {
            uint64_t v = 0;
            if (*q != '\t' || !parse_hex16(q + 1, eol, &v)) return false;
            fields.push_back(v);
        }
        if (key_hash(std::string_view(p, static_cast<size_t>(eol - p) - 17)) != fields.back()) return false;
        rec->stamp = fields.front();
        rec->keys.assign(fields.begin() + 1, fields.end() - 1);
        rec->confirmed = false;
        return true;
    }

    // Confirms the records taken from the index against the files: a record
    // whose certificate file is no longer the one its line was written from
    // (another stamp) is taken anew from the file, and the index rewritten.
    // Called when a search found nothing, so that a wrong line never hides a
    // certificate; a file is read only when it has changed. Whether a record
    // changed.
    bool confirm_records() {
        std::vector<std::string> stale;
        int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        char name[48];
        for (auto &[thumb, rec] : certs) {
            if (rec.confirmed) continue;
            std::snprintf(name, sizeof name, "%s.cer", thumb.c_str());
            struct stat st {};
            if (dir_fd >= 0 && ::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                file_stamp(st) == rec.stamp)
                rec.confirmed = true;
            else
                stale.push_back(thumb);
        }
        if (dir_fd >= 0) ::close(dir_fd);
        if (stale.empty()) return false;
        for (const auto &thumb : stale) {
            Record fresh;
            drop_record(thumb);
            if (!load(thumb, fresh)) continue; // no longer a certificate: not part of the store
            fresh.keys = keys_of(*fresh.cert);
            add_record(thumb, std::move(fresh));
        }
        rewrite_index();
        return true;
    }

    void append_index(const std::string &lines, size_t count) {
        fs::path p = dir / kIndexName;
        // Only a plain file is appended to; anything else is replaced.
        int fd = ::open(p.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        if (fd < 0) return rewrite_index();
        ssize_t ignored = ::write(fd, lines.data(), lines.size());
        (void)ignored;
        ::close(fd);
        index_lines += count;
    }

    // The index is a cache: a failure to write it costs speed, nothing else.
    void rewrite_index() {
        std::string text = std::string(kIndexHeader) + "\n";
        for (const auto &thumb : sorted_thumbprints()) text += index_line(thumb, certs.at(thumb));
        int saved = static_cast<int>(last_error());
        if (write_atomic(dir / kIndexName, text.data(), text.size(), 0644)) index_lines = certs.size();
        set_last_error(static_cast<uint32_t>(saved));
    }

    // Takes the records of the index file for the thumbprints present that
    // the cache does not know yet.
    void read_index(const std::unordered_set<std::string> &present) {
        auto text = read_whole(dir / kIndexName);
        if (!text) return;
        const char *p = text->data(), *end = p + text->size();
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!eol || std::string_view(p, static_cast<size_t>(eol - p)) != kIndexHeader) return;
        size_t lines = 0;
        std::string thumb;
        for (p = eol + 1; p < end; p = eol + 1) {
            eol = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!eol) break; // a line being appended
            ++lines;
            Record rec;
            if (!parse_index_line(p, eol, &thumb, &rec) || !present.count(thumb)) continue;
            if (certs.count(thumb)) drop_record(thumb); // a later line of a thumbprint wins
            add_record(thumb, std::move(rec));
        }
        index_lines = lines;
    }

    // Brings the cache in line with the directory. Caller holds m.
    void refresh() {
        if (memory) return;
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0) {
            certs.clear();
            index.clear();
            crls.clear();
            crl_order.clear();
            loaded = false;
            return;
        }
        if (loaded && same_time(st.st_mtim, mtime)) return;
        std::unordered_set<std::string> cer;
        cer.reserve(certs.size() + 64);
        std::set<std::string> crl;
        if (DIR *d = ::opendir(dir.c_str())) {
            while (dirent *e = ::readdir(d)) {
                size_t n = std::strlen(e->d_name);
                if (n != 44) continue;
                if (std::memcmp(e->d_name + 40, ".cer", 4) == 0) cer.emplace(e->d_name, 40);
                else if (std::memcmp(e->d_name + 40, ".crl", 4) == 0) crl.emplace(e->d_name, 40);
            }
            ::closedir(d);
        }
        // Certificates: keep what is known, take the rest from the index file,
        // parse only what neither knows.
        std::vector<std::string> gone;
        for (const auto &entry : certs)
            if (!cer.count(entry.first)) gone.push_back(entry.first);
        for (const auto &thumb : gone) drop_record(thumb);
        if (certs.size() < cer.size()) {
            certs.reserve(cer.size());
            read_index(cer);
        }
        std::string appended;
        size_t appended_count = 0;
        std::vector<std::string> unknown;
        for (const auto &thumb : cer)
            if (!certs.count(thumb)) unknown.push_back(thumb);
        std::sort(unknown.begin(), unknown.end());
        for (const auto &thumb : unknown) {
            Record rec;
            if (!load(thumb, rec)) continue; // unreadable or not a certificate: not part of the store
            rec.keys = keys_of(*rec.cert);
            appended += index_line(thumb, rec);
            ++appended_count;
            add_record(thumb, std::move(rec));
        }
        // Revocation lists are few: keep them parsed.
        for (auto it = crls.begin(); it != crls.end();)
            it = crl.count(it->first) ? std::next(it) : crls.erase(it);
        for (const auto &thumb : crl) {
            if (crls.count(thumb)) continue;
            auto bytes = read_whole(file_of(thumb, ".crl"));
            if (!bytes) continue;
            if (auto c = Crl::from_der(bytes->data(), bytes->size())) crls[thumb] = c;
        }
        crl_order.assign(crl.begin(), crl.end());
        int saved = static_cast<int>(last_error());
        if (index_lines > 2 * certs.size() + 64 || (appended_count && !fs::exists(dir / kIndexName)))
            rewrite_index();
        else if (appended_count)
            append_index(appended, appended_count);
        set_last_error(static_cast<uint32_t>(saved));
        loaded = true;
        if (::stat(dir.c_str(), &st) == 0) mtime = st.st_mtim;
    }

    void note_changed() {
        struct stat st {};
        if (!memory && ::stat(dir.c_str(), &st) == 0) mtime = st.st_mtim;
    }

    std::vector<CertPtr> find_key(const std::string &key) {
        std::vector<CertPtr> out;
        auto range = index.equal_range(key_hash(key));
        std::vector<std::string> thumbs;
        for (auto i = range.first; i != range.second; ++i) thumbs.push_back(i->second);
        std::sort(thumbs.begin(), thumbs.end());
        thumbs.erase(std::unique(thumbs.begin(), thumbs.end()), thumbs.end());
        if (memory) {
            // Keep the order of adding.
            std::sort(thumbs.begin(), thumbs.end(), [&](const std::string &a, const std::string &b) {
                return std::find(order.begin(), order.end(), a) < std::find(order.begin(), order.end(), b);
            });
        }
        for (const auto &t : thumbs) {
            auto it = certs.find(t);
            if (it == certs.end()) continue;
            if (auto c = load(t, it->second)) out.push_back(c);
        }
        return out;
    }

    // The certificates of a search key that pass the caller's own test of
    // the certificate. A search of a disk store that finds nothing is
    // confirmed against the files before it is believed (confirm_records).
    template <typename Pred> std::vector<CertPtr> search(const std::string &key, Pred &&matches) {
        auto run = [&] {
            std::vector<CertPtr> out;
            for (const auto &c : find_key(key))
                if (matches(*c)) out.push_back(c);
            return out;
        };
        std::vector<CertPtr> out = run();
        if (out.empty() && !memory && confirm_records()) out = run();
        return out;
    }
};

namespace {
std::mutex g_cache_mutex;
// Never destroyed: the cached certificates hold OpenSSL objects, and OpenSSL
// cleans up at exit before the destructors of statics would run.
auto &g_cache = *new std::map<std::string, std::shared_ptr<CertStore::Data>>();
} // namespace

fs::path certstores_root() { return qzcom::tarmin_home() / "certstores"; }

const char *location_name(StoreLocation loc) {
    return loc == StoreLocation::CurrentUser ? "CurrentUser" : "LocalMachine";
}

std::optional<StoreLocation> location_from_name(std::string_view name) {
    if (cp::iequals_1251(name, "CurrentUser")) return StoreLocation::CurrentUser;
    if (cp::iequals_1251(name, "LocalMachine")) return StoreLocation::LocalMachine;
    return std::nullopt;
}

std::vector<StoreLocation> store_locations() { return {StoreLocation::CurrentUser, StoreLocation::LocalMachine}; }

std::vector<std::string> system_stores(StoreLocation loc) {
    std::vector<std::string> out(std::begin(kStandardStores), std::end(kStandardStores));
    std::set<std::string> extra;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(certstores_root() / location_name(loc), ec)) {
        std::string n = e.path().filename().string();
        if (!e.is_directory(ec)) continue;
        bool standard = false;
        for (const auto &s : out) standard = standard || cp::iequals_1251(s, n);
        if (!standard) extra.insert(n);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<std::string> physical_stores(StoreLocation loc, std::string_view system) {
    std::vector<std::string> out{kDefaultPhysical};
    std::set<std::string> extra;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(certstores_root() / location_name(loc) / std::string(system), ec)) {
        std::string n = e.path().filename().string();
        if (e.is_directory(ec) && n != kDefaultPhysical) extra.insert(n);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

void forget_store_cache() {
    std::lock_guard lock(g_cache_mutex);
    g_cache.clear();
}

CertStore::CertStore(std::shared_ptr<Data> data) : data_(std::move(data)) {}
CertStore::~CertStore() = default;

std::shared_ptr<CertStore> CertStore::open_memory() {
    auto d = std::make_shared<Data>();
    d->memory = true;
    d->name = "TMP_MEMORY";
    d->loaded = true;
    return std::make_shared<CertStore>(d);
}

std::shared_ptr<CertStore> CertStore::open(StoreLocation loc, std::string_view system, std::string_view physical,
                                           bool create) {
    if (!valid_part(system) || !valid_part(physical)) {
        set_last_error(kErrInvalidArg);
        return nullptr;
    }
    // System store names compare without regard to case: use the spelling on disk.
    fs::path locdir = certstores_root() / location_name(loc);
    std::string sys(system);
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(locdir, ec))
        if (cp::iequals_1251(e.path().filename().string(), sys)) sys = e.path().filename().string();
    fs::path dir = locdir / sys / std::string(physical);
    if (!fs::is_directory(dir, ec)) {
        if (!create) {
            set_last_error(kErrNotFound);
            return nullptr;
        }
        // Made inside the user's home, which is made for the user alone
        // first; a home open to others gets no store.
        if (qzcom::private_home(nullptr).empty()) {
            set_last_error(kErrStoreReadOnly);
            return nullptr;
        }
        fs::create_directories(dir, ec);
        if (ec) {
            set_last_error_from_errno(ec.value());
            return nullptr;
        }
        // Private keys live in "MY": only the owner may look into it.
        if (cp::iequals_1251(sys, "MY")) ::chmod((locdir / sys).c_str(), 0700), ::chmod(dir.c_str(), 0700);
    }
    std::string key = dir.string();
    std::shared_ptr<Data> d;
    {
        std::lock_guard lock(g_cache_mutex);
        auto &slot = g_cache[key];
        if (!slot) {
            slot = std::make_shared<Data>();
            slot->dir = dir;
            slot->name = sys + "\\" + std::string(physical);
        }
        d = slot;
    }
    return std::make_shared<CertStore>(d);
}

bool CertStore::is_memory() const { return data_->memory; }
std::string CertStore::name() const { return data_->name; }

std::vector<CertPtr> CertStore::certificates() const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    std::vector<CertPtr> out;
    if (data_->memory) {
        for (const auto &t : data_->order) out.push_back(data_->certs[t].cert);
        return out;
    }
    for (const auto &thumb : data_->sorted_thumbprints())
        if (auto c = data_->load(thumb, data_->certs.at(thumb))) out.push_back(c);
    return out;
}

size_t CertStore::count() const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    return data_->certs.size();
}

CertPtr CertStore::find_by_thumbprint(std::string_view thumbprint) const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    std::string t = cp::upper_1251(thumbprint);
    auto it = data_->certs.find(t);
    CertPtr c = it == data_->certs.end() ? nullptr : data_->load(t, it->second);
    if (!c) set_last_error(kErrNotFound);
    return c;
}

CertPtr CertStore::find_by_issuer_serial(const Bytes &issuer_der, const Bytes &serial_le) const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    auto found = data_->search(serial_key(issuer_der, serial_le), [&](const Certificate &c) {
        return c.same_issuer_serial(issuer_der, serial_le);
    });
    if (found.empty()) {
        set_last_error(kErrNotFound);
        return nullptr;
    }
    return found.front();
}

std::vector<CertPtr> CertStore::find_by_subject_email(std::string_view value) const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    return data_->search(attr_key(value), [&](const Certificate &c) {
        auto attrs = c.subject_attributes(kOidEmailAttribute);
        return std::find(attrs.begin(), attrs.end(), value) != attrs.end();
    });
}

std::vector<CertPtr> CertStore::find_by_mail_name(std::string_view address) const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    return data_->search(mail_key(address),
                         [&](const Certificate &c) { return cp::iequals_1251(c.mail_name(), address); });
}

std::vector<CertPtr> CertStore::find_by_other_name(std::string_view oid, std::string_view value) const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    return data_->search(other_key(oid, value), [&](const Certificate &c) {
        for (const auto &o : c.other_names())
            if (o.decoded && o.oid == oid && cp::iequals_1251(o.value, value)) return true;
        return false;
    });
}

CertPtr CertStore::add(const CertPtr &cert, AddDisposition disposition) {
    if (!cert) {
        set_last_error(kErrInvalidArg);
        return nullptr;
    }
    std::lock_guard lock(data_->m);
    Data &d = *data_;
    d.refresh();
    const std::string &thumb = cert->thumbprint();
    auto it = d.certs.find(thumb);
    if (it != d.certs.end()) {
        if (disposition == AddDisposition::New) {
            set_last_error(kErrExists);
            return nullptr;
        }
        if (disposition == AddDisposition::UseExisting) {
            CertPtr existing = d.load(thumb, it->second);
            if (existing) return existing;
        }
    }
    Data::Record rec;
    rec.keys = keys_of(*cert);
    rec.cert = cert;
    rec.confirmed = true;
    if (!d.memory) {
        if (!write_atomic(d.file_of(thumb, ".cer"), cert->der().data(), cert->der().size(), 0644)) return nullptr;
        struct stat st {};
        if (::lstat(d.file_of(thumb, ".cer").c_str(), &st) == 0) rec.stamp = file_stamp(st);
        d.append_index(Data::index_line(thumb, rec), 1);
    }
    bool fresh = it == d.certs.end();
    d.drop_record(thumb);
    d.add_record(thumb, std::move(rec));
    if (fresh || d.memory) d.order.push_back(thumb);
    d.note_changed();
    return cert;
}

bool CertStore::remove(const Certificate &cert) {
    std::lock_guard lock(data_->m);
    Data &d = *data_;
    d.refresh();
    const std::string &thumb = cert.thumbprint();
    if (!d.certs.count(thumb)) {
        set_last_error(kErrNotFound);
        return false;
    }
    if (!d.memory) {
        if (::unlink(d.file_of(thumb, ".cer").c_str()) != 0 && errno != ENOENT) {
            set_last_error_from_errno(errno);
            return false;
        }
        ::unlink(d.file_of(thumb, ".key").c_str());
        ::unlink(d.file_of(thumb, ".kpi").c_str());
    }
    d.drop_record(thumb);
    d.note_changed();
    return true;
}

std::vector<CrlPtr> CertStore::crls() const {
    std::lock_guard lock(data_->m);
    data_->refresh();
    std::vector<CrlPtr> out;
    for (const auto &t : data_->crl_order)
        if (auto it = data_->crls.find(t); it != data_->crls.end()) out.push_back(it->second);
    return out;
}

bool CertStore::add_crl(const CrlPtr &crl, AddDisposition disposition) {
    if (!crl) {
        set_last_error(kErrInvalidArg);
        return false;
    }
    std::lock_guard lock(data_->m);
    Data &d = *data_;
    d.refresh();
    const std::string &thumb = crl->thumbprint();
    bool present = d.crls.count(thumb) != 0;
    if (present && disposition == AddDisposition::New) {
        set_last_error(kErrExists);
        return false;
    }
    if (present && disposition == AddDisposition::UseExisting) return true;
    if (!d.memory && !write_atomic(d.file_of(thumb, ".crl"), crl->der().data(), crl->der().size(), 0644))
        return false;
    d.crls[thumb] = crl;
    if (!present) d.crl_order.push_back(thumb);
    d.note_changed();
    return true;
}

bool CertStore::remove_crl(const Crl &crl) {
    std::lock_guard lock(data_->m);
    Data &d = *data_;
    d.refresh();
    const std::string &thumb = crl.thumbprint();
    if (!d.crls.count(thumb)) {
        set_last_error(kErrNotFound);
        return false;
    }
    if (!d.memory && ::unlink(d.file_of(thumb, ".crl").c_str()) != 0) {
        set_last_error_from_errno(errno);
        return false;
    }
    d.crls.erase(thumb);
    d.crl_order.erase(std::remove(d.crl_order.begin(), d.crl_order.end(), thumb), d.crl_order.end());
    d.note_changed();
    return true;
}

bool CertStore::set_private_key(const Certificate &cert, EVP_PKEY *key, std::string_view provider_name) {
    if (data_->memory || !key) {
        set_last_error(kErrInvalidArg);
        return false;
    }
    auto pem = private_key_to_pem(key);
    if (!pem) return false;
    std::lock_guard lock(data_->m);
    // A store that holds keys is the user's alone (keys in a store open to
    // others are refused when read).
    ::chmod(data_->dir.parent_path().c_str(), 0700);
    ::chmod(data_->dir.c_str(), 0700);
    std::string prov(provider_name);
    bool ok = write_atomic(data_->file_of(cert.thumbprint(), ".key"), pem->data(), pem->size(), 0600) &&
              write_atomic(data_->file_of(cert.thumbprint(), ".kpi"), prov.data(), prov.size(), 0600);
    OPENSSL_cleanse(pem->data(), pem->size());
    data_->note_changed();
    return ok;
}

bool CertStore::has_private_key(const Certificate &cert) const {
    return !data_->memory && ::access(data_->file_of(cert.thumbprint(), ".key").c_str(), F_OK) == 0;
}

EvpPkeyPtr CertStore::private_key(const Certificate &cert, std::string *provider_name) const {
    if (data_->memory || !has_private_key(cert)) {
        set_last_error(kErrNoKey);
        return nullptr;
    }
    // The store (its physical and its system directory) and the key file
    // must be the user's and closed to others.
    if (!private_directory(data_->dir) || !private_directory(data_->dir.parent_path())) {
        set_last_error(kErrStoreExposed);
        return nullptr;
    }
    struct stat st {};
    auto pem = read_whole(data_->file_of(cert.thumbprint(), ".key"), &st);
    if (!pem) {
        if (last_error() != kErrNotRegularFile) set_last_error(kErrBadKeyset);
        return nullptr;
    }
    if (!private_to_user(st)) {
        OPENSSL_cleanse(pem->data(), pem->size());
        set_last_error(kErrKeyExposed);
        return nullptr;
    }
    EvpPkeyPtr key = private_key_from_pem(*pem);
    OPENSSL_cleanse(pem->data(), pem->size());
    if (!key) return nullptr;
    // The key must be the one of the certificate.
    if (EVP_PKEY_eq(key.get(), X509_get0_pubkey(cert.x509())) != 1) {
        set_last_error(kErrBadKeyset);
        return nullptr;
    }
    if (provider_name) {
        auto prov = read_whole(data_->file_of(cert.thumbprint(), ".kpi"));
        *provider_name = prov ? *prov : std::string(kProviderName);
    }
    return key;
}

} // namespace tarmin::crypto
