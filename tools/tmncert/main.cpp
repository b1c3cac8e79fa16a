// tmncert: manages the GOST certificate stores of the suite.
//
//   tmncert pki --out DIR [--force]       create the test PKI in the stores
//   tmncert create --subject S [options]  create one certificate
//   tmncert import [--store S] FILE       DER, PEM or PKCS #12 (certificates, keys, CRLs)
//   tmncert export --store S --format der|pem|p12 --out FILE THUMBPRINT
//   tmncert list [--store S]              stores, or the certificates of one
//   tmncert delete --store S THUMBPRINT
//   tmncert addcrl --store S FILE
//   tmncert revoke --issuer THUMBPRINT THUMBPRINT... a new CRL of a test CA
//   tmncert setmy [--profile P] THUMBPRINT         remember the own certificate
// Common options: --location CurrentUser|LocalMachine, --physical NAME.
// The password of a PKCS #12 file comes from --password-file, --password-fd
// or the terminal (without echo), never from the command line, where every
// user of the machine can read it. Private keys are written for their owner
// alone (mode 0600).
// Texts on the terminal are UTF-8; exit status 0 on success, 1 on failure,
// 2 for a usage error (an unknown option among them).
#include "common/codepage.h"
#include "common/settings.h"
#include "include/qzcom.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/message.h"
#include "platform/crypto/store.h"
#include "tools/tmncert/issuer.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarmin;
using namespace tarmin::crypto;
using namespace tarmin::tmncert;

namespace {

struct Args {
    std::string command;
    std::map<std::string, std::vector<std::string>> options;
    std::vector<std::string> positional;

    bool has(const std::string &k) const { return options.count(k) != 0; }
    std::string get(const std::string &k, const std::string &def = {}) const {
        auto it = options.find(k);
        return it == options.end() || it->second.empty() ? def : it->second.back();
    }
    std::vector<std::string> all(const std::string &k) const {
        auto it = options.find(k);
        return it == options.end() ? std::vector<std::string>{} : it->second;
    }
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options without a value.
const std::set<std::string> kFlags = {"ca", "expired", "force", "help", "version"};

// The options of each command besides --location and --physical (and the
// flags --help and --version, which every command takes).
const std::map<std::string, std::set<std::string>> kCommandOptions = {
    {"pki", {"out", "force"}},
    {"create", {"subject", "alg", "issuer", "ca", "usage", "email", "ex", "notes", "forward", "days", "expired",
                "store", "out", "name"}},
    {"import", {"store", "password-file", "password-fd", "key", "provider"}},
    {"export", {"store", "format", "password-file", "password-fd", "out"}},
    {"list", {"store"}},
    {"delete", {"store"}},
    {"addcrl", {"store"}},
    {"revoke", {"issuer", "store", "out"}},
    {"setmy", {"profile", "product"}},
    {"help", {}},
};

bool known_option(const std::string &key) {
    if (kFlags.count(key) || key == "location" || key == "physical") return true;
    for (const auto &[command, options] : kCommandOptions)
        if (options.count(key)) return true;
    return false;
}

Args parse_args(int argc, char **argv) {
    Args a;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (!options_end && s == "--") {
            options_end = true;
        } else if (!options_end && s.size() > 1 && s[0] == '-') {
            std::string key = s.rfind("--", 0) == 0 ? s.substr(2) : std::string();
            if (key == "password")
                throw UsageError("--password is not taken: a password on the command line can be read by every "
                                 "user of the machine; give it with --password-file FILE or --password-fd N, or "
                                 "type it when asked");
            if (!known_option(key)) throw UsageError("unknown option " + s);
            if (kFlags.count(key)) {
                a.options[key].push_back("1");
            } else {
                if (i + 1 >= argc) throw UsageError("option --" + key + " needs a value");
                a.options[key].push_back(argv[++i]);
            }
        } else if (a.command.empty()) {
            a.command = s;
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

// Refuses an option that the command does not take.
void check_options(const Args &a) {
    auto allowed = kCommandOptions.find(a.command);
    if (allowed == kCommandOptions.end()) throw UsageError("unknown command " + a.command);
    for (const auto &[key, values] : a.options)
        if (!allowed->second.count(key) && key != "location" && key != "physical" && key != "help" && key != "version")
            throw UsageError(a.command + " does not take --" + key);
}

std::string utf8(const std::string &cp1251) { return cp::cp1251_to_utf8(cp1251); }

std::string why() {
    std::string d = last_error_detail();
    char code[32];
    std::snprintf(code, sizeof code, "0x%X", last_error());
    std::string text = utf8(error_message(last_error(), 0x0409));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return std::string(code) + (text.empty() ? "" : " " + text) + (d.empty() ? "" : " (" + d + ")");
}

StoreLocation location_of(const Args &a) {
    auto loc = location_from_name(a.get("location", "CurrentUser"));
    if (!loc) throw UsageError("unknown location " + a.get("location"));
    return *loc;
}

StorePtr open_store(const Args &a, const std::string &def = {}, bool create = true) {
    std::string name = a.get("store", def);
    if (name.empty()) throw UsageError("--store is needed");
    auto s = CertStore::open(location_of(a), name, a.get("physical", kDefaultPhysical), create);
    if (!s) throw Failure("cannot open the store " + name + ": " + why());
    return s;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) throw Failure("cannot write " + path.string());
}

// Writes a file that holds a private key: under a temporary name beside the
// target, created for its owner alone (mode 0600), then renamed over the
// target. Others can read it at no moment, and an older file's mode is not
// kept.
void write_private_file(const fs::path &path, std::string_view bytes) {
    std::string temporary = path.string() + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw Failure("cannot write " + path.string() + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    int err = done == bytes.size() ? 0 : errno ? errno : ENOSPC;
    if (::fsync(fd) != 0 && !err) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temporary.c_str());
        throw Failure("cannot write " + path.string() + ": " + std::strerror(err));
    }
}

// A password, wiped from memory when it is no longer needed.
struct Password {
    std::string text;
    Password() { text.reserve(kMaxPassword + 1); } // no copies left behind by growing
    Password(const Password &) = delete;
    Password &operator=(const Password &) = delete;
    ~Password() { OPENSSL_cleanse(text.data(), text.capacity()); }
    static constexpr size_t kMaxPassword = 1024;
};

// Reads one line (without its line end) from a descriptor, a byte at a time
// so that nothing after the line is consumed.
void read_password_line(int fd, Password &out, const std::string &source) {
    out.text.clear();
    for (;;) {
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure("cannot read the password from " + source + ": " + std::strerror(errno));
        if (n == 0 || c == '\n') break;
        if (out.text.size() == Password::kMaxPassword)
            throw Failure("the password from " + source + " is longer than " +
                          std::to_string(Password::kMaxPassword) + " bytes");
        out.text.push_back(c);
    }
    if (!out.text.empty() && out.text.back() == '\r') out.text.pop_back();
}

// The terminal's settings while a password is typed, given back when a
// signal ends the program meanwhile.
int g_tty = -1;
termios g_tty_saved{};

void restore_terminal(int signal_number) {
    ::tcsetattr(g_tty, TCSAFLUSH, &g_tty_saved);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Asks on the terminal with echo off; false when there is no terminal.
bool ask_terminal(const std::vector<const char *> &prompts, std::vector<Password *> answers) {
    int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return false;
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0) {
        ::close(tty);
        return false;
    }
    g_tty = tty;
    g_tty_saved = saved;
    const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
    struct sigaction restore {}, previous[5];
    restore.sa_handler = restore_terminal;
    for (int i = 0; i < 5; ++i) ::sigaction(kSignals[i], &restore, &previous[i]);
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL | ICANON;
    bool ok = ::tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
    try {
        for (size_t i = 0; ok && i < prompts.size(); ++i) {
            ok = ::write(tty, prompts[i], std::strlen(prompts[i])) >= 0;
            if (ok) read_password_line(tty, *answers[i], "the terminal");
        }
    } catch (...) {
        ok = false;
    }
    ::tcsetattr(tty, TCSAFLUSH, &saved);
    for (int i = 0; i < 5; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    g_tty = -1;
    ::close(tty);
    if (!ok) throw Failure("cannot read the password from the terminal");
    return true;
}

// The password of a PKCS #12 file: the first line of --password-file, a line
// from --password-fd, or typed on the terminal without echo (twice when it
// protects a new file). Never from the command line.
void read_password(const Args &a, bool new_file, Password &out) {
    if (a.has("password-file") && a.has("password-fd"))
        throw UsageError("give the password with --password-file or with --password-fd, not both");
    if (a.has("password-file")) {
        std::string path = a.get("password-file");
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw Failure("cannot read " + path + ": " + std::strerror(errno));
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077))
            std::cerr << "tmncert: warning: the password file " << path << " can be read by other users\n";
        try {
            read_password_line(fd, out, path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    } else if (a.has("password-fd")) {
        std::string text = a.get("password-fd");
        char *end = nullptr;
        long fd = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end || fd < 0 || fd > 65535) throw UsageError("--password-fd takes a descriptor number");
        read_password_line(static_cast<int>(fd), out, "descriptor " + text);
    } else {
        Password again;
        std::vector<const char *> prompts{"Password of the PKCS #12 file: "};
        std::vector<Password *> answers{&out};
        if (new_file) {
            prompts.push_back("The same password again: ");
            answers.push_back(&again);
        }
        if (!ask_terminal(prompts, answers))
            throw UsageError("a password is needed: give it with --password-file FILE or --password-fd N "
                             "(there is no terminal to ask on)");
        if (new_file && out.text != again.text) throw Failure("the two passwords differ");
    }
    if (new_file && out.text.empty()) throw Failure("an empty password protects nothing: give a password");
}

CertPtr find_in(const CertStore &store, const std::string &thumb) {
    auto c = store.find_by_thumbprint(thumb);
    if (!c) throw Failure("no certificate " + thumb + " in the store " + store.name());
    return c;
}

// A certificate anywhere in the stores, by thumbprint.
CertPtr find_anywhere(const std::string &thumb) {
    CertPtr found;
    for_each_physical_store([&](const CertStore &s, StoreLocation, const std::string &, const std::string &) {
        found = s.find_by_thumbprint(thumb);
        return !found;
    });
    if (!found) throw Failure("no certificate " + thumb + " in any store");
    return found;
}

// Key usage bits of --usage; "none" leaves the extension out.
std::optional<uint8_t> parse_usage(const std::string &text) {
    if (text.empty() || text == "none") return std::nullopt;
    uint8_t ku = 0;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ',')) {
        if (part == "sign") ku |= kKuDigitalSignature | kKuNonRepudiation;
        else if (part == "encrypt") ku |= kKuKeyEncipherment | kKuDataEncipherment | kKuKeyAgreement;
        else if (part == "ca") ku |= kKuKeyCertSign | kKuCrlSign | kKuDigitalSignature;
        else throw UsageError("unknown key usage " + part + " (sign, encrypt, ca, none)");
    }
    return ku;
}

long parse_days(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    long days = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || days < 1 || days > 36500)
        throw UsageError("--days takes a number of days from 1 to 36500, not " + text);
    return days;
}

KeyAlg parse_alg(const std::string &text) {
    if (text == "gost2001") return KeyAlg::Gost2001;
    if (text == "gost2012_256" || text.empty()) return KeyAlg::Gost2012_256;
    if (text == "gost2012_512") return KeyAlg::Gost2012_512;
    throw UsageError("unknown algorithm " + text + " (gost2001, gost2012_256, gost2012_512)");
}

void print_cert(const Certificate &c, const CertStore *store) {
    std::cout << c.thumbprint() << "  " << c.serial_hex() << " " << utf8(c.subject_name());
    std::string mail = c.mail_name();
    if (!mail.empty()) std::cout << "  <" << utf8(mail) << ">";
    if (store && store->has_private_key(c)) std::cout << "  [key]";
    std::cout << "\n";
}

// Stores a new certificate (and its key in "MY") and writes its files.
void keep(const Issued &is, const std::string &store_name, StoreLocation loc, const fs::path &out_dir,
          const std::string &base) {
    auto store = CertStore::open(loc, store_name);
    if (!store || !store->add(is.cert, AddDisposition::ReplaceExisting))
        throw Failure("cannot add to " + store_name + ": " + why());
    if (cp::iequals_1251(store_name, "MY") && !store->set_private_key(*is.cert, is.key.get(), kProviderName))
        throw Failure("cannot store the private key: " + why());
    if (!out_dir.empty()) {
        const Bytes &der = is.cert->der();
        write_file(out_dir / (base + ".cer"), std::string(der.begin(), der.end()));
        write_file(out_dir / (base + ".pem"), is.cert->pem());
        auto pem = private_key_to_pem(is.key.get());
        if (!pem) throw Failure("cannot encode the private key");
        try {
            write_private_file(out_dir / (base + ".key"), *pem);
        } catch (...) {
            OPENSSL_cleanse(pem->data(), pem->size());
            throw;
        }
        OPENSSL_cleanse(pem->data(), pem->size());
    }
}

Issued must_issue(const CertSpec &spec) {
    std::string error;
    auto is = issue(spec, &error);
    if (!is) throw Failure(error);
    return std::move(*is);
}

constexpr uint8_t kEndEntityUsage = kKuDigitalSignature | kKuNonRepudiation | kKuKeyEncipherment |
                                    kKuDataEncipherment | kKuKeyAgreement;
constexpr uint8_t kCaUsage = kKuDigitalSignature | kKuKeyCertSign | kKuCrlSign;

constexpr const char *kTestRootName = "Tarmin Test Root CA";

// Whether the stores of a location hold a test PKI already.
bool has_test_pki(StoreLocation loc) {
    auto root = CertStore::open(loc, "Root", kDefaultPhysical, false);
    if (!root) return false;
    for (const auto &c : root->certificates())
        if (c->subject_attribute(kOidCommonName) == kTestRootName) return true;
    return false;
}

int cmd_pki(const Args &a) {
    StoreLocation loc = location_of(a);
    // A second PKI would give every test address two sets of certificates.
    if (!a.has("force") && has_test_pki(loc))
        throw Failure(std::string("the stores of ") + location_name(loc) +
                      " hold a test PKI already (tmncert list --store Root); --force adds another");
    fs::path out = a.get("out");
    if (!out.empty()) fs::create_directories(out);
    time_t now = time(nullptr);
    std::vector<std::pair<std::string, CertPtr>> made;
    // Stores and writes a certificate, and lists it under its name.
    auto keep_as = [&](const Issued &is, const std::string &store_name, const std::string &name) {
        keep(is, store_name, loc, out, name);
        made.emplace_back(name, is.cert);
    };

    CertSpec root_spec;
    root_spec.subject = std::string("CN=") + kTestRootName + ", O=Tarmin Test, C=RU";
    root_spec.ca = true;
    root_spec.key_usage = kCaUsage;
    root_spec.not_after = now + 3650L * 86400;
    Issued root = must_issue(root_spec);
    keep_as(root, "Root", "root");

    CertSpec ca_spec;
    ca_spec.subject = "CN=Tarmin Test Issuing CA, O=Tarmin Test, C=RU";
    ca_spec.issuer_cert = root.cert.get();
    ca_spec.issuer_key = root.key.get();
    ca_spec.ca = true;
    ca_spec.key_usage = kCaUsage;
    ca_spec.not_after = now + 1825L * 86400;
    Issued ca = must_issue(ca_spec);
    keep_as(ca, "CA", "ca");
    std::string error;
    if (!save_ca_key(*root.cert, root.key.get(), &error) || !save_ca_key(*ca.cert, ca.key.get(), &error))
        throw Failure(error);

    auto person = [&](const std::string &subject, const std::string &mail, KeyAlg alg = KeyAlg::Gost2012_256) {
        CertSpec s;
        s.subject = subject;
        s.alg = alg;
        s.issuer_cert = ca.cert.get();
        s.issuer_key = ca.key.get();
        s.key_usage = kEndEntityUsage;
        if (!mail.empty()) s.emails.push_back(mail);
        return s;
    };

    Issued op = must_issue(person("CN=Оператор шлюза, OU=Отдел связи, O=Tarmin Test, C=RU, E=operator@tarmin.test",
                                  "operator@tarmin.test"));
    keep_as(op, "MY", "operator");
    Issued op01 = must_issue(person("CN=Operator 2001, O=Tarmin Test, C=RU", "operator2001@tarmin.test", KeyAlg::Gost2001));
    keep_as(op01, "MY", "operator2001");
    Issued op512 = must_issue(person("CN=Operator 512, O=Tarmin Test, C=RU", "operator512@tarmin.test", KeyAlg::Gost2012_512));
    keep_as(op512, "MY", "operator512");

    CertSpec alice_spec = person("CN=Alice Correspondent, O=Tarmin Test, C=RU, E=alice@tarmin.test", "alice@tarmin.test");
    alice_spec.other_names = {{kOidOtherNameEx, "/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice"},
                              {kOidOtherNameNotes, "CN=Alice Notes/O=Tarmin"}};
    Issued alice = must_issue(alice_spec);
    keep_as(alice, "AddressBook", "alice");
    Issued bob = must_issue(person("CN=Bob Correspondent, O=Tarmin Test, C=RU, E=bob@tarmin.test", "bob@tarmin.test"));
    keep_as(bob, "AddressBook", "bob");
    Issued bob2 = must_issue(person("CN=Bob Correspondent 2001, O=Tarmin Test, C=RU", "bob@tarmin.test", KeyAlg::Gost2001));
    keep_as(bob2, "AddressBook", "bob2001");
    CertSpec fwd_spec = person("CN=Old Mailbox, O=Tarmin Test, C=RU", "old@tarmin.test");
    fwd_spec.other_names = {{kOidOtherNameForward, "bob@tarmin.test"}};
    Issued fwd = must_issue(fwd_spec);
    keep_as(fwd, "AddressBook", "forward");
    CertSpec sign_spec = person("CN=Signature Only, O=Tarmin Test, C=RU", "signonly@tarmin.test");
    sign_spec.key_usage = kKuDigitalSignature | kKuNonRepudiation;
    Issued signonly = must_issue(sign_spec);
    keep_as(signonly, "AddressBook", "signonly");
    CertSpec exp_spec = person("CN=Expired Correspondent, O=Tarmin Test, C=RU", "expired@tarmin.test");
    exp_spec.not_before = now - 400L * 86400;
    exp_spec.not_after = now - 86400;
    Issued expired = must_issue(exp_spec);
    keep_as(expired, "AddressBook", "expired");
    Issued revoked = must_issue(person("CN=Revoked Correspondent, O=Tarmin Test, C=RU", "revoked@tarmin.test"));
    keep_as(revoked, "AddressBook", "revoked");

    // An expired certificate of an authority that no store knows: its chain
    // is both partial and out of time.
    CertSpec orphan_ca_spec;
    orphan_ca_spec.subject = "CN=Unknown CA, O=Elsewhere, C=RU";
    orphan_ca_spec.ca = true;
    orphan_ca_spec.key_usage = kCaUsage;
    Issued orphan_ca = must_issue(orphan_ca_spec);
    CertSpec orphan_spec = person("CN=Orphan Correspondent, O=Elsewhere, C=RU", "orphan@tarmin.test");
    orphan_spec.issuer_cert = orphan_ca.cert.get();
    orphan_spec.issuer_key = orphan_ca.key.get();
    orphan_spec.not_before = now - 400L * 86400;
    orphan_spec.not_after = now - 86400;
    Issued orphan = must_issue(orphan_spec);
    keep_as(orphan, "AddressBook", "orphan");

    CrlPtr crl = make_crl(*ca.cert, ca.key.get(), {{revoked.cert->serial_le(), now - 3600}}, now - 3600,
                          now + 30L * 86400, &error);
    if (!crl) throw Failure(error);
    auto ca_store = CertStore::open(loc, "CA");
    if (!ca_store || !ca_store->add_crl(crl, AddDisposition::ReplaceExisting)) throw Failure("cannot add the CRL: " + why());
    if (!out.empty()) write_file(out / "ca.crl", std::string(crl->der().begin(), crl->der().end()));

    for (const auto &[name, cert] : made) std::cout << name << " " << cert->thumbprint() << "\n";
    return 0;
}

int cmd_create(const Args &a) {
    CertSpec spec;
    spec.subject = a.get("subject");
    if (spec.subject.empty()) throw UsageError("--subject is needed");
    spec.alg = parse_alg(a.get("alg"));
    spec.ca = a.has("ca");
    spec.key_usage = parse_usage(a.get("usage", spec.ca ? "ca" : "sign,encrypt"));
    spec.emails = a.all("email");
    for (const auto &v : a.all("ex")) spec.other_names.push_back({kOidOtherNameEx, v});
    for (const auto &v : a.all("notes")) spec.other_names.push_back({kOidOtherNameNotes, v});
    for (const auto &v : a.all("forward")) spec.other_names.push_back({kOidOtherNameForward, v});
    time_t now = time(nullptr);
    long days = parse_days(a.get("days", "365"));
    if (a.has("expired")) {
        spec.not_before = now - (days + 1) * 86400;
        spec.not_after = now - 86400;
    } else {
        spec.not_after = now + days * 86400;
    }
    EvpPkeyPtr issuer_key;
    CertPtr issuer;
    if (a.has("issuer")) {
        issuer = find_anywhere(a.get("issuer"));
        std::string error;
        issuer_key = load_ca_key(*issuer, &error);
        if (!issuer_key) throw Failure(error);
        spec.issuer_cert = issuer.get();
        spec.issuer_key = issuer_key.get();
    }
    Issued is = must_issue(spec);
    std::string store = a.get("store", spec.ca ? (issuer ? "CA" : "Root") : "AddressBook");
    fs::path out = a.get("out");
    if (!out.empty()) fs::create_directories(out);
    keep(is, store, location_of(a), out, a.get("name", is.cert->thumbprint()));
    if (spec.ca) {
        std::string error;
        if (!save_ca_key(*is.cert, is.key.get(), &error)) throw Failure(error);
    }
    std::cout << is.cert->thumbprint() << "\n";
    return 0;
}

// The authorities that came with a PKCS #12 file: intermediates go to "CA";
// a root is only reported, since trusting it is the user's decision.
void import_chain(const Args &a, STACK_OF(X509) *chain) {
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        CertPtr c = Certificate::from_x509(sk_X509_value(chain, i));
        if (!c) continue;
        if (X509_check_issued(c->x509(), c->x509()) == X509_V_OK) {
            std::cout << "root certificate not trusted automatically (tmncert import --store Root to trust it): "
                      << c->thumbprint() << "  " << utf8(c->subject_name()) << "\n";
            continue;
        }
        auto ca = CertStore::open(location_of(a), "CA");
        if (!ca || !ca->add(c, AddDisposition::UseExisting)) throw Failure("cannot add to CA: " + why());
        print_cert(*c, ca.get());
    }
}

int import_pkcs12(const Args &a, PKCS12 *p12) {
    EVP_PKEY *key = nullptr;
    X509 *x = nullptr;
    STACK_OF(X509) *chain = nullptr;
    // A file without a password opens as it is; otherwise the password is asked for.
    Password pass;
    if (!PKCS12_verify_mac(p12, "", 0) && !PKCS12_verify_mac(p12, nullptr, 0)) {
        ERR_clear_error();
        try {
            read_password(a, false, pass);
        } catch (...) {
            PKCS12_free(p12);
            throw;
        }
    }
    bool ok = PKCS12_parse(p12, pass.text.c_str(), &key, &x, &chain);
    PKCS12_free(p12);
    if (!ok) {
        ERR_clear_error();
        throw Failure("the PKCS #12 file does not open (wrong password?)");
    }
    CertPtr cert = x ? Certificate::from_x509(x) : nullptr;
    X509_free(x);
    EvpPkeyPtr k(key);
    try {
        if (cert) {
            auto store = open_store(a, "MY");
            if (!store->add(cert, AddDisposition::ReplaceExisting)) throw Failure("cannot add: " + why());
            if (k && !store->set_private_key(*cert, k.get(), a.get("provider", kProviderName)))
                throw Failure("cannot store the key: " + why());
            print_cert(*cert, store.get());
        }
        import_chain(a, chain);
    } catch (...) {
        sk_X509_pop_free(chain, X509_free);
        throw;
    }
    sk_X509_pop_free(chain, X509_free);
    if (!cert && sk_X509_num(chain) <= 0) throw Failure("the PKCS #12 file holds no certificate");
    return 0;
}

// A PEM file: any number of certificates, revocation lists and one private
// key, which goes with the certificate of its public key.
int import_pem(const Args &a, const std::string &bytes) {
    std::vector<CertPtr> certs;
    std::vector<CrlPtr> crls;
    EvpPkeyPtr key;
    BIO *bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    char *name = nullptr, *header = nullptr;
    unsigned char *body = nullptr;
    long n = 0;
    while (bio && PEM_read_bio(bio, &name, &header, &body, &n)) {
        std::string kind = name;
        if (kind == "CERTIFICATE" || kind == "TRUSTED CERTIFICATE") {
            if (auto c = Certificate::from_der(body, static_cast<size_t>(n))) certs.push_back(c);
        } else if (kind == "X509 CRL") {
            if (auto c = Crl::from_der(body, static_cast<size_t>(n))) crls.push_back(c);
        } else if (kind.find("PRIVATE KEY") != std::string::npos && !key) {
            BIO *b64 = BIO_new(BIO_s_mem());
            PEM_write_bio(b64, name, header, body, n);
            char *text = nullptr;
            long len = BIO_get_mem_data(b64, &text);
            key = private_key_from_pem(std::string_view(text, static_cast<size_t>(len)));
            BIO_free(b64);
        }
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(body);
    }
    ERR_clear_error();
    BIO_free(bio);
    if (!key && a.has("key")) key = private_key_from_pem(read_file(a.get("key")));
    if (certs.empty() && crls.empty()) throw Failure(a.positional[0] + " holds no certificate or revocation list");
    // The certificate of the key goes to "MY" with it, the others to the
    // address book (or all to the store asked for); nothing is written when the
    // key belongs to none of them.
    const Certificate *owner = nullptr;
    for (const auto &c : certs)
        if (key && !owner && EVP_PKEY_eq(key.get(), X509_get0_pubkey(c->x509())) == 1) owner = c.get();
    if (key && !owner) throw Failure("the private key belongs to none of the certificates");
    for (const auto &c : certs) {
        bool mine = c.get() == owner;
        auto store = open_store(a, mine ? "MY" : "AddressBook");
        if (!store->add(c, AddDisposition::ReplaceExisting)) throw Failure("cannot add: " + why());
        if (mine && !store->set_private_key(*c, key.get(), a.get("provider", kProviderName)))
            throw Failure("cannot store the key: " + why());
        print_cert(*c, store.get());
    }
    if (!crls.empty()) {
        auto store = open_store(a, "CA");
        for (const auto &crl : crls) {
            if (!store->add_crl(crl, AddDisposition::ReplaceExisting)) throw Failure("cannot add: " + why());
            std::cout << crl->thumbprint() << "  CRL " << utf8(crl->issuer_name()) << "\n";
        }
    }
    return 0;
}

int cmd_import(const Args &a) {
    if (a.positional.size() != 1) throw UsageError("import takes one file");
    std::string bytes = read_file(a.positional[0]);
    if (!ensure_provider()) throw Failure(provider_error_text());
    // PKCS #12 first: it carries a key.
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    if (PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()))) return import_pkcs12(a, p12);
    ERR_clear_error();
    if (bytes.find("-----BEGIN ") != std::string::npos) return import_pem(a, bytes);
    if (CertPtr cert = Certificate::from_der(bytes.data(), bytes.size())) {
        auto store = open_store(a, "AddressBook");
        if (!store->add(cert, AddDisposition::ReplaceExisting)) throw Failure("cannot add: " + why());
        if (a.has("key")) {
            EvpPkeyPtr k = private_key_from_pem(read_file(a.get("key")));
            if (!k || !store->set_private_key(*cert, k.get(), a.get("provider", kProviderName)))
                throw Failure("cannot store the key: " + why());
        }
        print_cert(*cert, store.get());
        return 0;
    }
    if (CrlPtr crl = Crl::from_der(bytes.data(), bytes.size())) {
        auto store = open_store(a, "CA");
        if (!store->add_crl(crl, AddDisposition::ReplaceExisting)) throw Failure("cannot add: " + why());
        std::cout << crl->thumbprint() << "  CRL " << utf8(crl->issuer_name()) << "\n";
        return 0;
    }
    throw Failure(a.positional[0] + " is neither a certificate, a CRL nor a PKCS #12 file");
}

int cmd_export(const Args &a) {
    if (a.positional.size() != 1) throw UsageError("export takes one thumbprint");
    std::string format = a.get("format", "der");
    std::string out = a.get("out");
    if (out.empty()) throw UsageError("--out is needed");
    if (format != "der" && format != "pem" && format != "p12")
        throw UsageError("unknown format " + format + " (der, pem, p12)");
    auto store = open_store(a, {}, false);
    CertPtr cert = find_in(*store, a.positional[0]);
    if (format == "der") {
        write_file(out, std::string(cert->der().begin(), cert->der().end()));
    } else if (format == "pem") {
        write_file(out, cert->pem());
    } else if (format == "p12") {
        EvpPkeyPtr key = store->private_key(*cert);
        if (!key) throw Failure("the store holds no private key of this certificate: " + why());
        Password pass;
        read_password(a, true, pass);
        std::string friendly = cp::cp1251_to_utf8(cert->subject_attribute(kOidCommonName));
        PKCS12 *p12 = PKCS12_create(pass.text.c_str(), friendly.c_str(), key.get(), cert->x509(), nullptr, 0, 0, 0, 0, 0);
        unsigned char *der = nullptr;
        int n = p12 ? i2d_PKCS12(p12, &der) : -1;
        PKCS12_free(p12);
        if (n <= 0) {
            ERR_clear_error();
            throw Failure("cannot make the PKCS #12 file");
        }
        std::string bytes(reinterpret_cast<char *>(der), static_cast<size_t>(n));
        OPENSSL_free(der);
        write_private_file(out, bytes);
    } else {
        throw UsageError("unknown format " + format + " (der, pem, p12)");
    }
    return 0;
}

int cmd_list(const Args &a) {
    if (a.has("store")) {
        auto store = open_store(a, {}, false);
        for (const auto &c : store->certificates()) print_cert(*c, store.get());
        for (const auto &crl : store->crls())
            std::cout << crl->thumbprint() << "  CRL " << utf8(crl->issuer_name()) << "  "
                      << crl->revoked_serials().size() << " revoked\n";
        return 0;
    }
    for (StoreLocation loc : store_locations())
        for (const auto &sys : system_stores(loc))
            for (const auto &phys : physical_stores(loc, sys)) {
                auto store = CertStore::open(loc, sys, phys, false);
                if (!store) continue;
                std::cout << location_name(loc) << "\\" << sys << "\\" << phys << ": " << store->count()
                          << " certificates, " << store->crls().size() << " CRLs\n";
            }
    return 0;
}

int cmd_delete(const Args &a) {
    if (a.positional.empty()) throw UsageError("delete takes thumbprints");
    auto store = open_store(a, {}, false);
    for (const auto &t : a.positional)
        if (!store->remove(*find_in(*store, t))) throw Failure("cannot delete " + t + ": " + why());
    return 0;
}

int cmd_addcrl(const Args &a) {
    if (a.positional.size() != 1) throw UsageError("addcrl takes one file");
    std::string bytes = read_file(a.positional[0]);
    CrlPtr crl = Crl::from_der(bytes.data(), bytes.size());
    if (!crl) throw Failure(a.positional[0] + " is not a revocation list");
    auto store = open_store(a, "CA");
    if (!store->add_crl(crl, AddDisposition::ReplaceExisting)) throw Failure("cannot add the CRL: " + why());
    std::cout << crl->thumbprint() << "\n";
    return 0;
}

int cmd_revoke(const Args &a) {
    if (!a.has("issuer") || a.positional.empty())
        throw UsageError("revoke needs --issuer and the certificates to revoke");
    CertPtr ca = find_anywhere(a.get("issuer"));
    std::string error;
    EvpPkeyPtr key = load_ca_key(*ca, &error);
    if (!key) throw Failure(error);
    time_t now = time(nullptr);
    std::vector<RevokedEntry> entries;
    auto store = open_store(a, "CA");
    // Keep what this authority's earlier lists in the store revoked.
    for (const auto &old : store->crls()) {
        if (old->issuer_der() != ca->subject_der()) continue;
        STACK_OF(X509_REVOKED) *rev = X509_CRL_get_REVOKED(old->x509_crl());
        for (int i = 0; i < sk_X509_REVOKED_num(rev); ++i) {
            X509_REVOKED *r = sk_X509_REVOKED_value(rev, i);
            BIGNUM *bn = ASN1_INTEGER_to_BN(X509_REVOKED_get0_serialNumber(r), nullptr);
            Bytes be(static_cast<size_t>(BN_num_bytes(bn)));
            BN_bn2bin(bn, be.data());
            BN_free(bn);
            entries.push_back({Bytes(be.rbegin(), be.rend()), asn1_time_to_time(X509_REVOKED_get0_revocationDate(r))});
        }
        store->remove_crl(*old);
    }
    for (const auto &t : a.positional) entries.push_back({find_anywhere(t)->serial_le(), now});
    CrlPtr crl = make_crl(*ca, key.get(), entries, now - 60, now + 30L * 86400, &error);
    if (!crl) throw Failure(error);
    if (!store->add_crl(crl, AddDisposition::ReplaceExisting)) throw Failure("cannot add the CRL: " + why());
    if (a.has("out")) write_file(a.get("out"), std::string(crl->der().begin(), crl->der().end()));
    std::cout << crl->thumbprint() << "\n";
    return 0;
}

int cmd_setmy(const Args &a) {
    if (a.positional.size() != 1) throw UsageError("setmy takes one thumbprint");
    auto store = open_store(a, "MY", false);
    CertPtr cert = find_in(*store, a.positional[0]);
    std::string product = a.get("product", "tarmin-operator");
    if (QZ_InitializeWithProfile(product.c_str(), a.get("profile").c_str(), QZ_VERSION) < 0)
        throw Failure("the settings store cannot be opened");
    std::string path = std::string(QZ_GetProductKeyName()) + "\\SKZIpath";
    Bytes serial = cert->serial_le(), issuer = cert->issuer_der();
    bool ok = QZ_SetKeyBinary(path.c_str(), "CertSerialNumber", serial.data(), static_cast<QZ_DWORD>(serial.size()),
                              QZ_REG_BINARY, 1) == 0 &&
              QZ_SetKeyBinary(path.c_str(), "CertIssuer", issuer.data(), static_cast<QZ_DWORD>(issuer.size()),
                              QZ_REG_BINARY, 1) == 0;
    QZ_Finalize();
    if (!ok) throw Failure("cannot write the settings under " + path);
    return 0;
}

void usage(std::ostream &out) {
    out << "Usage: tmncert COMMAND [options]\n"
           "Manages the GOST certificate stores of the Tarmin suite.\n"
           "\n"
           "Commands:\n"
           "  pki       create the test PKI in the stores (once; --force: again):\n"
           "            pki --out DIR [--force]\n"
           "  create    create one certificate:\n"
           "            create --subject \"CN=..., O=...\" [--alg gost2001|gost2012_256|gost2012_512]\n"
           "            [--issuer THUMBPRINT] [--ca] [--usage sign,encrypt,ca | none] [--email ADDR]...\n"
           "            [--ex NAME] [--notes NAME] [--forward ADDR] [--days N] [--expired]\n"
           "            [--store NAME] [--out DIR --name BASE]\n"
           "  import    import certificates, keys and revocation lists (DER, PEM bundle, PKCS #12, CRL):\n"
           "            import [--store NAME] [--password-file F | --password-fd N] [--key KEY.pem]\n"
           "            [--provider NAME] FILE   (--provider: the provider recorded with the key)\n"
           "  export    export a certificate (p12: with its private key):\n"
           "            export --store NAME --format der|pem|p12 [--password-file F | --password-fd N]\n"
           "            --out FILE THUMBPRINT\n"
           "  list      the stores, or the certificates and revocation lists of one:\n"
           "            list [--store NAME]\n"
           "  delete    delete certificates with their keys:\n"
           "            delete --store NAME THUMBPRINT...\n"
           "  addcrl    add a revocation list:\n"
           "            addcrl [--store NAME] FILE\n"
           "  revoke    a new revocation list of a test authority:\n"
           "            revoke --issuer THUMBPRINT [--store NAME] [--out FILE] THUMBPRINT...\n"
           "  setmy     remember the own certificate the suite signs with:\n"
           "            setmy [--profile P] [--product NAME] THUMBPRINT\n"
           "\n"
           "Options of every command:\n"
           "  --location CurrentUser|LocalMachine   the store location (default CurrentUser)\n"
           "  --physical NAME                       the physical store (default .Default)\n"
           "  --help                                print this text and exit\n"
           "  --version                             print the version and exit\n"
           "\n"
           "The password of a PKCS #12 file is the first line of --password-file F, a line read from\n"
           "descriptor --password-fd N, or typed on the terminal; exported keys are written with mode 0600.\n";
}

} // namespace

int main(int argc, char **argv) {
    try {
        Args a = parse_args(argc, argv);
        if (a.has("help") || a.command == "help") {
            usage(std::cout);
            return 0;
        }
        if (a.has("version")) {
            std::cout << "tmncert " TARMIN_VERSION "\n";
            return 0;
        }
        if (a.command.empty()) throw UsageError("a command is needed");
        check_options(a);
        // The stores, keys and settings live in the user's private home.
        std::string refused;
        if (qzcom::private_home(&refused).empty()) throw Failure(refused);
        if (!ensure_provider()) throw Failure(provider_error_text());
        if (a.command == "pki") return cmd_pki(a);
        if (a.command == "create") return cmd_create(a);
        if (a.command == "import") return cmd_import(a);
        if (a.command == "export") return cmd_export(a);
        if (a.command == "list") return cmd_list(a);
        if (a.command == "delete") return cmd_delete(a);
        if (a.command == "addcrl") return cmd_addcrl(a);
        if (a.command == "revoke") return cmd_revoke(a);
        if (a.command == "setmy") return cmd_setmy(a);
        throw UsageError("unknown command " + a.command);
    } catch (const UsageError &e) {
        std::cerr << "tmncert: " << e.what() << "\n";
        usage(std::cerr);
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "tmncert: " << e.what() << "\n";
        return 1;
    }
}
