// Enveloped data with `openssl cms` both ways, the quick checks before
// encryption, recipients of a message, and file containers with their damage.
#include "encrypt_test_support.h"
#include "tests/platform/crypto/crypto_test_util.h"

using namespace tarmin::test;
using namespace tarmin::cp::literals;
using tarmin::test::crypto::openssl;

namespace {

// ---- DER surgery on enveloped data ----------------------------------------

struct Tlv {
    size_t start = 0, header = 0, length = 0;
    size_t content() const { return start + header; }
    size_t end() const { return start + header + length; }
};

Tlv read_tlv(const std::string &d, size_t at) {
    Tlv t;
    t.start = at;
    size_t l = static_cast<uint8_t>(d.at(at + 1));
    t.header = 2;
    t.length = l;
    if (l & 0x80) {
        t.length = 0;
        for (size_t i = 0; i < (l & 0x7F); ++i) t.length = t.length << 8 | static_cast<uint8_t>(d.at(at + 2 + i));
        t.header += l & 0x7F;
    }
    return t;
}

std::string tlv(uint8_t tag, const std::string &content) {
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string len;
        for (; n; n >>= 8) len.insert(len.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | len.size());
        out += len;
    }
    return out + content;
}

std::string slice(const std::string &d, const Tlv &t) { return d.substr(t.start, t.end() - t.start); }

// The parts of ContentInfo { oid, [0] EnvelopedData { version, recipientInfos, ... } }.
struct Enveloped {
    Tlv oid, body, version, recipients;
};
Enveloped parse_enveloped(const std::string &d) {
    Enveloped e;
    Tlv ci = read_tlv(d, 0);
    e.oid = read_tlv(d, ci.content());
    Tlv explicit0 = read_tlv(d, e.oid.end());
    e.body = read_tlv(d, explicit0.content());
    e.version = read_tlv(d, e.body.content());
    e.recipients = read_tlv(d, e.version.end());
    return e;
}

// The same message with an empty set of recipient information.
std::string without_recipients(const std::string &d) {
    Enveloped e = parse_enveloped(d);
    std::string body = slice(d, e.version) + std::string("\x31\x00", 2) +
                       d.substr(e.recipients.end(), e.body.end() - e.recipients.end());
    return tlv(0x30, slice(d, e.oid) + tlv(0xA0, tlv(0x30, body)));
}

class QzmsEncrypt : public OperatorContext {
protected:
    void TearDown() override {
        for (PCCERT_CONTEXT c : certs_) CCA_cert_free(ctx_, c);
    }

    // A reference to a certificate of the test PKI (learned by the context).
    PCCERT_CONTEXT cert(const std::string &name) { return learned(pki_->der(name), name); }
    PCCERT_CONTEXT learned(const std::string &der, const std::string &name) {
        PCCERT_CONTEXT c = nullptr;
        EXPECT_EQ(CCA_put_cert(ctx_, reinterpret_cast<const unsigned char *>(der.data()),
                               static_cast<uint32_t>(der.size()), &c),
                  0)
            << name << ": " << utf8(ctx_.text());
        certs_.push_back(c);
        return c;
    }
    // Enveloped data for the named recipients; "" when it fails.
    std::string envelope(const std::string &data, const std::vector<std::string> &names, PCCERT_CONTEXT own = nullptr) {
        std::vector<PCCERT_CONTEXT> recips;
        for (const auto &n : names) recips.push_back(cert(n));
        CapiBlob in = blob_of(data);
        OutBlob out;
        if (CCA_encrypt_mem(ctx_, &in, own, recips.data(), static_cast<uint32_t>(recips.size()), out.out()) != 0) {
            EXPECT_TRUE(out.empty());
            return "";
        }
        return out.str();
    }
    // The plaintext of enveloped data for a certificate, or the error code.
    int32_t open_mem(const std::string &env, PCCERT_CONTEXT with, std::string *plain) {
        CapiBlob in = blob_of(env);
        OutBlob out;
        if (CCA_decrypt_mem(ctx_, &in, with, nullptr, out.out()) != 0) {
            EXPECT_TRUE(out.empty());
            return static_cast<int32_t>(ctx_.code());
        }
        *plain = out.str();
        return 0;
    }
    int32_t is_recipient(const std::string &env, const std::string &name) {
        PCCERT_CONTEXT c = cert(name);
        CapiBlob in = blob_of(env);
        return CCA_is_recipient_encrypted_data(ctx_, &in, c->pCertInfo) == 0 ? 0 : static_cast<int32_t>(ctx_.code());
    }

    std::string seal_file(HCRYPTKEY key, const std::string &data) {
        CapiBlob in = blob_of(data);
        OutBlob out;
        EXPECT_EQ(CCA_encrypt_file(ctx_, &in, key, out.out()), 0) << utf8(ctx_.text());
        return out.str();
    }
    int32_t open_file(HCRYPTKEY key, const std::string &container, std::string *plain, Ctx *on = nullptr) {
        Ctx &c = on ? *on : ctx_;
        CapiBlob in = blob_of(container);
        OutBlob out;
        if (CCA_decrypt_file(c, &in, key, out.out()) != 0) {
            EXPECT_TRUE(out.empty()) << "plaintext handed out on failure";
            return static_cast<int32_t>(c.code());
        }
        *plain = out.str();
        return 0;
    }

    // A certificate of the test CA without the key usage extension.
    std::string certificate_without_key_usage() {
        auto dir = make_temp_dir("nousage");
        auto p = [&](const char *f) { return (dir / f).string(); };
        std::string err;
        EXPECT_EQ(0, openssl({"genpkey", "-algorithm", "gost2012_256", "-pkeyopt", "paramset:A", "-out", p("k.pem")},
                             nullptr, &err))
            << err;
        EXPECT_EQ(0, openssl({"req", "-new", "-key", p("k.pem"), "-subj", "/CN=No Usage/O=Tarmin Test/C=RU", "-out",
                              p("r.csr")},
                             nullptr, &err))
            << err;
        EXPECT_EQ(0, openssl({"x509", "-req", "-in", p("r.csr"), "-CA", pki_->pem("ca").string(), "-CAkey",
                              pki_->key("ca").string(), "-set_serial", "0x7A11CE", "-days", "30", "-outform", "DER",
                              "-out", p("c.der")},
                             nullptr, &err))
            << err;
        return read_file(dir / "c.der");
    }

    std::vector<PCCERT_CONTEXT> certs_;
};

// ---- Enveloped data ---------------------------------------------------------

TEST_F(QzmsEncrypt, OursOpensWithOpensslCmsForA2001AndA2012Recipient) {
    std::string data = sample(20000);
    std::string env = envelope(data, {"operator", "operator2001"});
    ASSERT_FALSE(env.empty()) << utf8(ctx_.text());
    auto dir = make_temp_dir("cms");
    write_file(dir / "ours.der", env);
    for (const char *who : {"operator", "operator2001"}) {
        std::string out, err;
        ASSERT_EQ(0, openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", (dir / "ours.der").string(),
                              "-recip", pki_->pem(who).string(), "-inkey", pki_->key(who).string()},
                             &out, &err))
            << who << ": " << err;
        EXPECT_EQ(out, data) << who;
    }
    // The own certificate is not a recipient unless it is listed.
    std::string for_alice = envelope(data, {"alice"});
    std::string plain;
    EXPECT_EQ(open_mem(for_alice, nullptr, &plain), 0x402A);
}

TEST_F(QzmsEncrypt, OpensslCmsOpensWithOursForEachRecipient) {
    std::string data = sample(12345);
    auto dir = make_temp_dir("cms");
    write_file(dir / "plain", data);
    std::string err;
    ASSERT_EQ(0, openssl({"cms", "-encrypt", "-gost89", "-binary", "-in", (dir / "plain").string(), "-outform", "DER",
                          "-out", (dir / "theirs.der").string(), pki_->pem("operator").string(),
                          pki_->pem("operator2001").string()},
                         nullptr, &err))
        << err;
    std::string env = read_file(dir / "theirs.der");
    std::string plain;
    ASSERT_EQ(open_mem(env, nullptr, &plain), 0) << utf8(ctx_.text());
    EXPECT_EQ(plain, data);
    plain.clear();
    // The key of another certificate of "MY".
    ASSERT_EQ(open_mem(env, cert("operator2001"), &plain), 0) << utf8(ctx_.text());
    EXPECT_EQ(plain, data);
    EXPECT_EQ(is_recipient(env, "operator2001"), 0);
    EXPECT_EQ(is_recipient(env, "alice"), 0x4031);
}

TEST_F(QzmsEncrypt, QuickChecksComeFirstOwnCertificateThenRecipientsInOrder) {
    const std::string in_text = "data";
    // Own certificate without encipherment usage.
    EXPECT_EQ(envelope("data", {"alice"}, cert("signonly")), "");
    EXPECT_EQ(ctx_.code(), 0x4057u);
    EXPECT_EQ(utf8(ctx_.text()), "В сертификате нет назначения ключа для шифрования.");
    EXPECT_NE(utf8(ctx_.debug()).find("Вызывающая функция: QZMS_LiteVerifyCert()."), std::string::npos);
    // A recipient without it, and the first failing recipient decides: one
    // without any key usage gives 0x4055.
    PCCERT_CONTEXT nousage = learned(certificate_without_key_usage(), "nousage");
    ASSERT_NE(nousage, nullptr);
    PCCERT_CONTEXT alice = cert("alice"), signonly = cert("signonly");
    CapiBlob data = blob_of(in_text);
    for (auto order : {std::vector<PCCERT_CONTEXT>{alice, signonly, nousage}, {alice, nousage, signonly}}) {
        OutBlob out;
        EXPECT_EQ(CCA_encrypt_mem(ctx_, &data, nullptr, order.data(), 3, out.out()), -1);
        EXPECT_EQ(ctx_.code(), order[1] == signonly ? 0x4057u : 0x4055u);
        EXPECT_TRUE(out.empty());
    }
    // No recipient at all.
    EXPECT_EQ(envelope("data", {}), "");
    EXPECT_EQ(ctx_.code(), 0x4028u);
    EXPECT_EQ(utf8(ctx_.debug()).rfind("Ошибка в функции CryptEncryptMessage(). Вызывающая функция: CCA_encrypt_mem().", 0),
              0u);
    // A null entry in the list is not a certificate.
    PCCERT_CONTEXT list[] = {cert("alice"), nullptr};
    OutBlob out;
    EXPECT_EQ(CCA_encrypt_mem(ctx_, &data, nullptr, list, 2, out.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x4055u);
    EXPECT_TRUE(out.empty());
}

TEST_F(QzmsEncrypt, RecipientsOfAMessage) {
    std::string env = envelope("to alice and bob", {"alice", "bob2001"});
    ASSERT_FALSE(env.empty());
    EXPECT_EQ(is_recipient(env, "alice"), 0);
    EXPECT_EQ(is_recipient(env, "bob2001"), 0);
    // Same e-mail, another certificate: not a recipient.
    EXPECT_EQ(is_recipient(env, "bob"), 0x4031);
    EXPECT_EQ(is_recipient(env, "operator"), 0x4031);
    EXPECT_EQ(utf8(ctx_.text()), "Получателя нет в списке получателей зашифрованного сообщения.");
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции (!IsRecip). Вызывающая функция: CCA_is_recipient_encrypted_data().");

    EXPECT_EQ(is_recipient(without_recipients(env), "alice"), 0x4030);
    EXPECT_EQ(utf8(ctx_.text()), "В зашифрованном сообщении не указано ниодного получателя.");
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции (!cRecipients). Вызывающая функция: CCA_is_recipient_encrypted_data().");

    // A signed message has no recipient count; bytes that are no message do not load.
    const std::string data_text = "signed";
    CapiBlob data = blob_of(data_text);
    OutBlob sig;
    ASSERT_EQ(CCA_sign_mem_sep(ctx_, &data, nullptr, sig.out()), 0);
    EXPECT_EQ(is_recipient(sig.str(), "alice"), 0x401C);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка получения параметра (CMSG_RECIPIENT_COUNT_PARAM) из сообщения (EncryptedMessage).", 0), 0u);
    EXPECT_EQ(is_recipient(env.substr(0, env.size() / 2), "alice"), 0x401A);

    SignerSerial *sender = reinterpret_cast<SignerSerial *>(1);
    CapiBlob in = blob_of(env);
    EXPECT_EQ(CCA_sender_encrypted_data(ctx_, &in, &sender), 0);
    EXPECT_EQ(sender, nullptr);
}

TEST_F(QzmsEncrypt, MessagesThatDoNotOpen) {
    std::string env = envelope(sample(500), {"operator"});
    ASSERT_FALSE(env.empty());
    std::string plain;
    // The key transport altered: its MAC refuses the content key.
    size_t ri = parse_enveloped(env).recipients.start;
    size_t at = env.find(std::string("\x30\x28\x04\x20", 4), ri);
    ASSERT_NE(at, std::string::npos);
    std::string altered = env;
    altered[at + 10] ^= 0x01;
    EXPECT_EQ(open_mem(altered, nullptr, &plain), 0x402B);
    EXPECT_EQ(utf8(ctx_.debug()).rfind("Ошибка в функции CryptDecryptMessage(). Вызывающая функция: CCA_decrypt_mem(). [0x", 0),
              0u);
    // Not enveloped data, cut short, empty.
    const std::string data_text = "signed";
    CapiBlob data = blob_of(data_text);
    OutBlob sig;
    ASSERT_EQ(CCA_sign_mem_sep(ctx_, &data, nullptr, sig.out()), 0);
    EXPECT_EQ(open_mem(sig.str(), nullptr, &plain), 0x402A);
    EXPECT_EQ(open_mem(env.substr(0, env.size() - 1), nullptr, &plain), 0x402A);
    EXPECT_EQ(open_mem("", nullptr, &plain), 0x402A);
    // A certificate that is not allowed to decrypt is refused before anything.
    EXPECT_EQ(open_mem(env, cert("signonly"), &plain), 0x4057);
}

// ---- File containers ---------------------------------------------------------

TEST_F(QzmsEncrypt, FileContainerRoundTripsWithTheTrailerOfLengths) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    for (size_t n : {1u, 8u, 4097u, 300000u}) {
        std::string data = sample(n);
        std::string c = seal_file(key, data);
        // ciphertext | SIMPLEBLOB (71) | 71 | vector (8) | 8 | MAC (4) | 4
        ASSERT_EQ(c.size(), n + 71 + 4 + 8 + 4 + 4 + 4);
        EXPECT_EQ(get_le32(c, c.size() - 4), 4u);
        EXPECT_EQ(get_le32(c, c.size() - 12), 8u);
        EXPECT_EQ(get_le32(c, c.size() - 24), 71u);
        EXPECT_EQ(static_cast<uint8_t>(c[n]), 0x01);
        EXPECT_NE(c.substr(0, n), data);
        std::string plain;
        ASSERT_EQ(open_file(key, c, &plain), 0) << std::hex << ctx_.code() << " " << utf8(ctx_.text());
        EXPECT_EQ(plain, data);
    }
}

TEST_F(QzmsEncrypt, FileKeyTravelsAsASessionBlob) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    std::string data = sample(777);
    std::string c = seal_file(key, data);
    unsigned char *blob = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(CCA_get_session(ctx_, key, &blob, &n), 0) << utf8(ctx_.text());
    Ctx other;
    ASSERT_EQ(CCA_init(other), 0);
    SessionKey moved(other);
    ASSERT_EQ(CCA_put_session(other, blob, n, moved.out()), 0) << utf8(other.text());
    CCA_free(ctx_, blob);
    std::string plain;
    ASSERT_EQ(open_file(moved, c, &plain, &other), 0) << utf8(other.text());
    EXPECT_EQ(plain, data);
}

TEST_F(QzmsEncrypt, FileContainerUnderAnotherKeyDoesNotOpen) {
    SessionKey key(ctx_), wrong(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    ASSERT_EQ(CCA_create_session(ctx_, wrong.out()), 0);
    std::string c = seal_file(key, sample(64)), plain;
    EXPECT_EQ(open_file(wrong, c, &plain), 0x403D);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка импорта ключа. [0x80090005 ", 0), 0u) << utf8(ctx_.text());
    EXPECT_EQ(utf8(ctx_.debug()).rfind("Ошибка в функции CryptImportKey(). Вызывающая функция: CCA_decrypt_file(). [0x", 0),
              0u);
    EXPECT_EQ(open_file(nullptr, c, &plain), 0x403E);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка получения параметра ключа (KP_ALGID).", 0), 0u);
}

TEST_F(QzmsEncrypt, DamagedFileContainersYieldNoPlaintext) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    const std::string data = sample(50);
    const std::string c = seal_file(key, data);
    const size_t wrapped_at = data.size();
    std::string plain;

    std::string altered = c;
    altered[10] ^= 0x04;
    EXPECT_EQ(open_file(key, altered, &plain), 0x4043);
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции memcmp(impr_r,impr,len_impr). Вызывающая функция: CCA_decrypt_file().");
    std::string key_altered = c;
    key_altered[wrapped_at + 30] ^= 0x04;
    EXPECT_EQ(open_file(key, key_altered, &plain), 0x403D);

    // Truncated or extended by one byte.
    EXPECT_TRUE(open_file(key, c.substr(0, c.size() - 1), &plain) == 0x4044 ||
                open_file(key, c.substr(0, c.size() - 1), &plain) == 0x4043);
    EXPECT_EQ(open_file(key, c + '\0', &plain), 0x4044);

    // Lengths that lie.
    auto with_word = [&](size_t from_end, uint32_t v) {
        std::string s = c;
        put_le32(s, s.size() - from_end, v);
        return s;
    };
    EXPECT_EQ(open_file(key, with_word(24, 1025), &plain), 0x4044); // K over its limit
    EXPECT_EQ(open_file(key, with_word(24, 71 + 51), &plain), 0x4044); // K over what is left
    EXPECT_EQ(open_file(key, with_word(24, 71 + 50), &plain), 0x4044); // no ciphertext left
    EXPECT_EQ(open_file(key, with_word(12, 257), &plain), 0x4044);
    EXPECT_EQ(open_file(key, with_word(4, 257), &plain), 0x4044);
    EXPECT_EQ(open_file(key, with_word(4, 0), &plain), 0x4044); // no MAC
    EXPECT_EQ(open_file(key, c.substr(data.size()), &plain), 0x4044);
    EXPECT_EQ(utf8(ctx_.text()), "Ошибка структуры зашифрованных данных.");
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции crypt_struct_error. Вызывающая функция: CCA_decrypt_file().");
    EXPECT_EQ(open_file(key, "", &plain), 0x4044);
    // A shorter MAC would check less: refused.
    std::string short_mac = c.substr(0, c.size() - 6) + c.substr(c.size() - 4);
    put_le32(short_mac, short_mac.size() - 4, 2);
    EXPECT_EQ(open_file(key, short_mac, &plain), 0x4043);

    for (size_t n = 0; n < c.size(); ++n)
        EXPECT_TRUE(is_container_failure(open_file(key, c.substr(0, n), &plain))) << n;
    for (size_t i = 0; i < c.size(); ++i) {
        std::string f = c;
        f[i] ^= static_cast<char>(1 << (i % 8));
        EXPECT_TRUE(is_container_failure(open_file(key, f, &plain))) << i;
    }
    EXPECT_EQ(open_file(key, c, &plain), 0);
    EXPECT_EQ(plain, data);
}

TEST_F(QzmsEncrypt, EmptyFileDataIsRefused) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    CapiBlob empty{nullptr, 0};
    OutBlob out;
    EXPECT_EQ(CCA_encrypt_file(ctx_, &empty, key, out.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x4041u);
    EXPECT_TRUE(out.empty());
}

} // namespace
