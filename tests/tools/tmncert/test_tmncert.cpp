// tmncert run as users run it: the test PKI and what it leaves in the stores,
// single certificates with every option, import and export in DER, PEM and
// PKCS #12 (passwords never on the command line, key files for their owner
// alone), lists, deletion, revocation lists, the remembered own certificate,
// the private home, and the answers to bad command lines.
#include "testsupport.h"

#include "include/qzcom.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/store.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <sstream>

namespace {

using namespace tarmin::crypto;
using namespace tarmin::test;
namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs tmncert in a session of its own, without a terminal to ask on.
Result tmncert(const std::vector<std::string> &args, const std::string &input = {}) {
    std::vector<std::string> argv{"setsid", "-w", built_program("tmncert").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    Result r;
    r.status = run(argv, &r.out, &r.err, input);
    return r;
}

std::string first_line(const std::string &s) { return s.substr(0, s.find('\n')); }

mode_t mode_of(const fs::path &p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

// A file holding a password and a line feed, only for its owner.
std::string password_file(const std::string &password) {
    fs::path p = make_temp_dir("password") / "password.txt";
    write_file(p, password + "\n");
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    return p.string();
}

// "name THUMBPRINT" lines of `tmncert pki`.
std::map<std::string, std::string> names_of(const std::string &out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    std::string name, thumb;
    while (in >> name >> thumb) m[name] = thumb;
    return m;
}

StorePtr store(const std::string &name, StoreLocation loc = StoreLocation::CurrentUser) {
    return CertStore::open(loc, name, kDefaultPhysical, false);
}

class TestPki : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::remove_all(certstores_root());
        out_ = new fs::path(make_temp_dir("pki"));
        auto start = std::chrono::steady_clock::now();
        Result r = tmncert({"pki", "--out", out_->string()});
        seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(0, r.status) << r.err;
        names_ = new std::map<std::string, std::string>(names_of(r.out));
        forget_store_cache();
    }
    static void TearDownTestSuite() {
        delete out_;
        delete names_;
    }
    static CertPtr cert(const std::string &store_name, const std::string &name) {
        auto s = store(store_name);
        return s ? s->find_by_thumbprint(names_->at(name)) : nullptr;
    }
    static fs::path *out_;
    static std::map<std::string, std::string> *names_;
    static double seconds_;
};
fs::path *TestPki::out_ = nullptr;
std::map<std::string, std::string> *TestPki::names_ = nullptr;
double TestPki::seconds_ = 0;

TEST_F(TestPki, IsQuickAndNamesEveryCertificate) {
    // Tests and the demo make it often: a few seconds at most even with
    // sanitizers.
    EXPECT_LT(seconds_, 20.0);
    for (const char *n : {"root", "ca", "operator", "operator2001", "operator512", "alice", "bob", "bob2001", "forward",
                          "signonly", "expired", "revoked", "orphan"}) {
        ASSERT_TRUE(names_->count(n)) << n;
        EXPECT_EQ(40u, names_->at(n).size()) << n;
        EXPECT_TRUE(fs::exists(*out_ / (std::string(n) + ".cer"))) << n;
        EXPECT_TRUE(fs::exists(*out_ / (std::string(n) + ".pem"))) << n;
        EXPECT_TRUE(fs::exists(*out_ / (std::string(n) + ".key"))) << n;
    }
    EXPECT_TRUE(fs::exists(*out_ / "ca.crl"));
    struct stat st {};
    ASSERT_EQ(0, ::stat((*out_ / "operator.key").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(TestPki, StoresHoldTheAuthoritiesOperatorsAndCorrespondents) {
    EXPECT_TRUE(cert("Root", "root"));
    EXPECT_TRUE(cert("CA", "ca"));
    for (const char *n : {"operator", "operator2001", "operator512"}) {
        auto c = cert("MY", n);
        ASSERT_TRUE(c) << n;
        std::string provider;
        auto key = store("MY")->private_key(*c, &provider);
        EXPECT_TRUE(key) << n;
        EXPECT_EQ(0u, provider.rfind("Kelvoria", 0)) << provider;
    }
    for (const char *n : {"alice", "bob", "bob2001", "forward", "signonly", "expired", "revoked", "orphan"})
        EXPECT_TRUE(cert("AddressBook", n)) << n;
    // Correspondents have no private keys in the stores.
    EXPECT_FALSE(store("AddressBook")->has_private_key(*cert("AddressBook", "alice")));

    EXPECT_EQ("1.2.643.2.2.19", cert("MY", "operator2001")->public_key_oid());
    EXPECT_EQ("1.2.643.7.1.1.1.1", cert("MY", "operator")->public_key_oid());
    EXPECT_EQ("1.2.643.7.1.1.1.2", cert("MY", "operator512")->public_key_oid());
    EXPECT_EQ("1.2.643.7.1.1.3.2", cert("MY", "operator")->signature_oid());
    EXPECT_EQ("operator@tarmin.test", cert("MY", "operator")->mail_name());
}

TEST_F(TestPki, CorrespondentsCarryTheirAddressesAndUsages) {
    auto alice = cert("AddressBook", "alice");
    std::map<std::string, std::string> other;
    for (const auto &o : alice->other_names()) other[o.oid] = o.value;
    EXPECT_EQ("/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice", other[kOidOtherNameEx]);
    EXPECT_EQ("CN=Alice Notes/O=Tarmin", other[kOidOtherNameNotes]);
    EXPECT_EQ(std::vector<std::string>{"alice@tarmin.test"}, alice->subject_attributes(kOidEmailAttribute));

    auto forward = cert("AddressBook", "forward");
    ASSERT_EQ(1u, forward->other_names().size());
    EXPECT_EQ(kOidOtherNameForward, forward->other_names()[0].oid);
    EXPECT_EQ("bob@tarmin.test", forward->other_names()[0].value);

    EXPECT_EQ(kKuDigitalSignature | kKuNonRepudiation, *cert("AddressBook", "signonly")->key_usage());
    uint8_t bob_usage = *cert("AddressBook", "bob")->key_usage();
    EXPECT_TRUE(bob_usage & kKuDigitalSignature);
    EXPECT_TRUE(bob_usage & kKuKeyEncipherment);
    EXPECT_EQ(cert("AddressBook", "bob")->mail_name(), cert("AddressBook", "bob2001")->mail_name());
    EXPECT_LT(cert("AddressBook", "expired")->not_after(), time(nullptr));
}

TEST_F(TestPki, ChainsAndTheRevocationListAreAsNamed) {
    EXPECT_EQ(0u, build_chain(*cert("MY", "operator"))->error);
    EXPECT_EQ(0u, build_chain(*cert("AddressBook", "alice"))->error);
    EXPECT_EQ(kTrustIsNotTimeValid, build_chain(*cert("AddressBook", "expired"))->error);
    EXPECT_EQ(kTrustIsNotTimeValid | kTrustIsPartialChain, build_chain(*cert("AddressBook", "orphan"))->error);
    EXPECT_TRUE(listed_in_any_crl(*cert("AddressBook", "revoked")));
    EXPECT_FALSE(listed_in_any_crl(*cert("AddressBook", "bob")));
    ASSERT_EQ(1u, store("CA")->crls().size());
}

class Tmncert : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(certstores_root());
        fs::remove_all(home() / "tmncert-ca");
        forget_store_cache();
        dir_ = make_temp_dir("tmncert");
    }
    // A test authority in "Root"; its thumbprint.
    std::string make_authority() {
        Result r = tmncert({"create", "--subject", "CN=Test Authority, O=Tarmin Test, C=RU", "--ca"});
        EXPECT_EQ(0, r.status) << r.err;
        return first_line(r.out);
    }
    fs::path dir_;
};

TEST_F(Tmncert, CreateWritesTheOptionsIntoTheCertificate) {
    std::string ca = make_authority();
    ASSERT_EQ(40u, ca.size());
    ASSERT_TRUE(store("Root")->find_by_thumbprint(ca));

    Result r = tmncert({"create", "--subject", "CN=Иван Петров, O=Tarmin Test, C=RU", "--issuer", ca, "--alg", "gost2001",
                        "--email", "ivan@tarmin.test", "--email", "ip@tarmin.test", "--ex", "/o=T/cn=ivan",
                        "--notes", "CN=Ivan/O=T", "--forward", "ivan@new.test", "--usage", "encrypt", "--days", "10",
                        "--out", dir_.string(), "--name", "ivan"});
    ASSERT_EQ(0, r.status) << r.err;
    auto c = store("AddressBook")->find_by_thumbprint(first_line(r.out));
    ASSERT_TRUE(c);
    // Texts of certificates read back in Windows-1251.
    EXPECT_EQ("\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2", c->subject_attribute(kOidCommonName));
    EXPECT_EQ("1.2.643.2.2.19", c->public_key_oid());
    EXPECT_EQ("ivan@tarmin.test", c->mail_name());
    EXPECT_EQ(3u, c->other_names().size());
    EXPECT_EQ(kKuKeyEncipherment | kKuDataEncipherment | kKuKeyAgreement, *c->key_usage());
    EXPECT_NEAR(static_cast<double>(time(nullptr) + 10 * 86400), static_cast<double>(c->not_after()), 120.0);
    EXPECT_EQ(0u, build_chain(*c)->error);
    EXPECT_TRUE(fs::exists(dir_ / "ivan.cer"));

    // No key usage at all.
    r = tmncert({"create", "--subject", "CN=Plain", "--issuer", ca, "--usage", "none"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_FALSE(store("AddressBook")->find_by_thumbprint(first_line(r.out))->key_usage());

    // An expired one, into another location's store.
    r = tmncert({"create", "--subject", "CN=Old", "--issuer", ca, "--expired", "--store", "Partners", "--location",
                 "LocalMachine"});
    ASSERT_EQ(0, r.status) << r.err;
    auto old = store("Partners", StoreLocation::LocalMachine)->find_by_thumbprint(first_line(r.out));
    ASSERT_TRUE(old);
    EXPECT_LT(old->not_after(), time(nullptr));
}

TEST_F(Tmncert, ExportImportRoundTripsDerPemAndPkcs12) {
    std::string ca = make_authority();
    Result r = tmncert({"create", "--subject", "CN=Owner", "--issuer", ca, "--store", "MY"});
    ASSERT_EQ(0, r.status) << r.err;
    std::string thumb = first_line(r.out);
    auto original = store("MY")->find_by_thumbprint(thumb);
    ASSERT_TRUE(original);
    auto key = store("MY")->private_key(*original);
    ASSERT_TRUE(key);

    for (const char *format : {"der", "pem", "p12"}) {
        fs::path file = dir_ / (std::string("owner.") + format);
        r = tmncert({"export", "--store", "MY", "--format", format, "--password-file", password_file("secret"),
                     "--out", file.string(), thumb});
        ASSERT_EQ(0, r.status) << format << ": " << r.err;
        ASSERT_TRUE(fs::exists(file)) << format;
        if (std::string(format) == "pem") EXPECT_EQ(0u, read_file(file).rfind("-----BEGIN CERTIFICATE-----", 0));
        if (std::string(format) == "der") EXPECT_EQ(std::string(original->der().begin(), original->der().end()),
                                                    read_file(file));
    }
    // PKCS #12 back into an empty "MY" brings the key with it.
    ASSERT_EQ(0, tmncert({"delete", "--store", "MY", thumb}).status);
    forget_store_cache();
    EXPECT_FALSE(store("MY")->find_by_thumbprint(thumb));
    r = tmncert({"import", "--password-file", password_file("wrong"), (dir_ / "owner.p12").string()});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("password")) << r.err;
    r = tmncert({"import", "--password-fd", "0", (dir_ / "owner.p12").string()}, "secret\n");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("[key]")) << r.out;
    forget_store_cache();
    auto back = store("MY")->find_by_thumbprint(thumb);
    ASSERT_TRUE(back);
    auto back_key = store("MY")->private_key(*back);
    ASSERT_TRUE(back_key);
    EXPECT_EQ(1, EVP_PKEY_eq(key.get(), back_key.get()));

    // DER and PEM go to the address book unless told otherwise.
    for (const char *format : {"der", "pem"}) {
        fs::remove_all(certstores_root() / "CurrentUser" / "AddressBook");
        forget_store_cache();
        r = tmncert({"import", (dir_ / (std::string("owner.") + format)).string()});
        ASSERT_EQ(0, r.status) << r.err;
        forget_store_cache();
        EXPECT_TRUE(store("AddressBook")->find_by_thumbprint(thumb)) << format;
    }
    // With a key file, into a named store.
    fs::path key_file = dir_ / "owner.key";
    write_file(key_file, *private_key_to_pem(key.get()));
    r = tmncert({"import", "--store", "Work", "--key", key_file.string(), (dir_ / "owner.der").string()});
    ASSERT_EQ(0, r.status) << r.err;
    forget_store_cache();
    EXPECT_TRUE(store("Work")->private_key(*original));
}

TEST_F(Tmncert, ListDeleteAndRevocationLists) {
    std::string ca = make_authority();
    std::string a = first_line(tmncert({"create", "--subject", "CN=A", "--issuer", ca, "--email", "a@t.test"}).out);
    std::string b = first_line(tmncert({"create", "--subject", "CN=B", "--issuer", ca}).out);

    Result r = tmncert({"list", "--store", "AddressBook"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find(a));
    EXPECT_NE(std::string::npos, r.out.find("<a@t.test>"));
    EXPECT_NE(std::string::npos, r.out.find(b));
    r = tmncert({"list"});
    ASSERT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.out.find("CurrentUser\\AddressBook\\.Default: 2 certificates, 0 CRLs")) << r.out;

    // Revoking keeps what the authority revoked before.
    fs::path crl_file = dir_ / "first.crl";
    ASSERT_EQ(0, tmncert({"revoke", "--issuer", ca, "--out", crl_file.string(), a}).status);
    ASSERT_EQ(0, tmncert({"revoke", "--issuer", ca, b}).status);
    forget_store_cache();
    auto crls = store("CA")->crls();
    ASSERT_EQ(1u, crls.size());
    EXPECT_EQ(2u, crls[0]->revoked_serials().size());
    auto ab = store("AddressBook");
    EXPECT_TRUE(listed_in_any_crl(*ab->find_by_thumbprint(a)));
    EXPECT_TRUE(listed_in_any_crl(*ab->find_by_thumbprint(b)));

    // addcrl takes a file into any store; a non-CRL is refused.
    r = tmncert({"addcrl", "--store", "Lists", crl_file.string()});
    ASSERT_EQ(0, r.status) << r.err;
    forget_store_cache();
    EXPECT_EQ(1u, store("Lists")->crls().size());
    write_file(dir_ / "junk.crl", "junk");
    EXPECT_EQ(1, tmncert({"addcrl", (dir_ / "junk.crl").string()}).status);

    ASSERT_EQ(0, tmncert({"delete", "--store", "AddressBook", a, b}).status);
    forget_store_cache();
    EXPECT_EQ(0u, store("AddressBook")->count());
    r = tmncert({"delete", "--store", "AddressBook", a});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find(a));
}

TEST_F(Tmncert, SetmyRemembersSerialAndIssuerUnderSkziPath) {
    std::string ca = make_authority();
    std::string own = first_line(tmncert({"create", "--subject", "CN=Own", "--issuer", ca, "--store", "MY"}).out);
    ASSERT_EQ(0, tmncert({"setmy", own}).status);
    ASSERT_EQ(0, tmncert({"setmy", "--profile", "Second", own}).status);
    auto c = store("MY")->find_by_thumbprint(own);

    for (const char *profile : {"", "Second"}) {
        ASSERT_EQ(0, QZ_InitializeWithProfile("tarmin-operator", profile, QZ_VERSION));
        std::string path = std::string(QZ_GetProductKeyName()) + "\\SKZIpath";
        uint8_t buf[QZ_MAX_BINARY];
        QZ_DWORD len = sizeof buf;
        ASSERT_EQ(0, QZ_GetKeyBinary(path.c_str(), "CertSerialNumber", buf, &len, 1)) << profile;
        EXPECT_EQ(c->serial_le(), Bytes(buf, buf + len));
        len = sizeof buf;
        ASSERT_EQ(0, QZ_GetKeyBinary(path.c_str(), "CertIssuer", buf, &len, 1));
        EXPECT_EQ(c->issuer_der(), Bytes(buf, buf + len));
        QZ_Finalize();
    }
    // Only a certificate of "MY" can be the own one.
    std::string other = first_line(tmncert({"create", "--subject", "CN=Other", "--issuer", ca}).out);
    EXPECT_EQ(1, tmncert({"setmy", other}).status);
}

// A private key leaves the store only in a file for its owner, under a
// password that never stands on the command line (where every user of the
// machine can read it).
TEST_F(Tmncert, PrivateKeyExportsAreTheOwnersAndNeedAPassword) {
    std::string ca = make_authority();
    Result r = tmncert({"create", "--subject", "CN=Owner", "--issuer", ca, "--store", "MY"});
    ASSERT_EQ(0, r.status) << r.err;
    std::string thumb = first_line(r.out);
    const fs::path p12 = dir_ / "owner.p12";
    auto export_p12 = [&](std::vector<std::string> options, const std::string &input = {}) {
        std::vector<std::string> args{"export", "--store", "MY", "--format", "p12", "--out", p12.string()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(thumb);
        return tmncert(args, input);
    };
    // No password, or one only on the command line, or a misspelt option:
    // nothing is written.
    for (const auto &options : std::vector<std::vector<std::string>>{
             {}, {"--password", "secret"}, {"--pasword-file", password_file("secret")}}) {
        r = export_p12(options);
        EXPECT_EQ(2, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("Usage: tmncert")) << r.err;
        EXPECT_FALSE(fs::exists(p12));
    }
    EXPECT_NE(std::string::npos, export_p12({}).err.find("--password-file")) << export_p12({}).err;
    EXPECT_NE(std::string::npos, export_p12({"--password", "x"}).err.find("--password-fd"));
    r = export_p12({"--password-file", password_file("")});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("empty")) << r.err;
    EXPECT_FALSE(fs::exists(p12));

    // An older file readable by everyone is replaced by one for the owner alone.
    write_file(p12, "old");
    fs::permissions(p12, fs::perms::all, fs::perm_options::replace);
    r = export_p12({"--password-file", password_file("s3cret")});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0600u, mode_of(p12));
    r = export_p12({"--password-fd", "0"}, "fd-pass\n");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0600u, mode_of(p12));
    EXPECT_EQ(1, tmncert({"import", "--password-file", password_file("s3cret"), p12.string()}).status);
    r = tmncert({"import", "--password-file", password_file("fd-pass"), p12.string()});
    EXPECT_EQ(0, r.status) << r.err;
    // Without a password source and without a terminal an import that needs
    // a password says how to give one.
    r = tmncert({"import", p12.string()});
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("--password-file")) << r.err;
}

// Asked on the terminal: twice, and never echoed.
TEST_F(Tmncert, Pkcs12PasswordIsAskedOnTheTerminalWithoutEcho) {
    std::string ca = make_authority();
    Result r = tmncert({"create", "--subject", "CN=Owner", "--issuer", ca, "--store", "MY"});
    ASSERT_EQ(0, r.status) << r.err;
    const std::string thumb = first_line(r.out), program = built_program("tmncert").string();
    const fs::path p12 = dir_ / "tty.p12";
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(program.c_str(), "tmncert", "export", "--store", "MY", "--format", "p12", "--out", p12.c_str(),
                thumb.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    // Reads the terminal until `count` prompts were seen (0: to the end).
    auto read_until = [&](size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto prompts = [&] {
            size_t n = 0;
            for (size_t at = seen.find("assword"); at != std::string::npos; at = seen.find("assword", at + 1)) ++n;
            return n;
        };
        while (std::chrono::steady_clock::now() < deadline && (count == 0 || prompts() < count)) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[512];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return count == 0;
            seen.append(buf, static_cast<size_t>(n));
        }
        return count != 0 && prompts() >= count;
    };
    ASSERT_TRUE(read_until(1)) << seen;
    ASSERT_EQ(7, ::write(master, "s3cret\n", 7));
    ASSERT_TRUE(read_until(2)) << seen;
    ASSERT_EQ(7, ::write(master, "s3cret\n", 7));
    EXPECT_TRUE(read_until(0)) << seen;
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(std::string::npos, seen.find("s3cret")) << seen;
    EXPECT_EQ(0600u, mode_of(p12));
    EXPECT_EQ(0, tmncert({"import", "--password-file", password_file("s3cret"), p12.string()}).status);
}

// The tool makes the home for the user alone and refuses one that others
// may enter.
TEST_F(Tmncert, HomeIsTheUsersAlone) {
    const fs::path home = make_temp_dir("home") / "new";
    auto with_home = [&](const std::vector<std::string> &args) {
        std::vector<std::string> argv{"setsid", "-w", "env", "TARMIN_HOME=" + home.string(),
                                      built_program("tmncert").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        Result r;
        r.status = run(argv, &r.out, &r.err);
        return r;
    };
    Result r = with_home({"create", "--subject", "CN=Home", "--ca"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0700u, mode_of(home));
    fs::permissions(home, fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
    r = with_home({"list", "--store", "Root"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("chmod 700 " + home.string())) << r.err;
}

TEST_F(Tmncert, BadCommandLinesAreUsageErrors) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"create"},
                                               {"create", "--subject"},
                                               {"create", "--subject", "CN=X", "--alg", "rsa"},
                                               {"create", "--subject", "CN=X", "--usage", "everything"},
                                               {"create", "--subject", "CN=X", "--days", "many"},
                                               {"list", "--store", "MY", "--location", "Moon"},
                                               {"export", "--store", "MY", "x"},
                                               {"import"},
                                               {"revoke", "ABC"},
                                               {"list", "--bogus", "x"},
                                               {"list", "--store"},
                                               {"list", "-s", "MY"},
                                               {"create", "--subject", "CN=X", "--format", "der"},
                                               {"--frobnicate"}}) {
        Result r = tmncert(args);
        std::string joined;
        for (const auto &s : args) joined += s + " ";
        EXPECT_EQ(2, r.status) << joined << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find("Usage: tmncert")) << joined;
        EXPECT_EQ("", r.out) << joined;
    }
    Result help = tmncert({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("Usage: tmncert"));
    EXPECT_EQ(0, tmncert({"export", "--help"}).status);
    Result version = tmncert({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("tmncert [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
    // Failures that are not the command line's fault exit with 1.
    EXPECT_EQ(1, tmncert({"import", (dir_ / "missing.der").string()}).status);
    EXPECT_EQ(1, tmncert({"create", "--subject", "CN=X", "--issuer", std::string(40, 'F')}).status);
    EXPECT_EQ(1, tmncert({"create", "--subject", "Nonsense=X"}).status);
    EXPECT_EQ(1, tmncert({"list", "--store", "Nowhere"}).status);
}

} // namespace
