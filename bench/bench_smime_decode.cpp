// The S/MIME decoder against what it has to do anyway, in the same run:
//   one signed and encrypted message with a 50 MB attachment: MHA_decode_init
//   and extraction beside `openssl cms -decrypt` + `openssl cms -verify` of
//   the same envelope and signature (goal: at most 1.3 times), and the peak
//   memory the decoding adds (goal: at most 3 times the attachment);
//   1,000 small messages (1 KB body, one 10 KB attachment, signed and
//   encrypted): messages per second, and the time per message beside its
//   cryptographic primitives alone (decryption, two hashes, two checks; goal
//   at most 2).
#include "bench/capi_bench_support.h"
#include "include/tmnsmime.h"

#include <cstring>

using namespace tarmin::bench;

namespace {

char *dup(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.data(), s.size() + 1);
    return p;
}

std::string encode(MhaContext *ctx, const std::string &body, const std::string &attachment) {
    MhaObject o[6] = {};
    o[0].Type = MHA_OBJ_START;
    o[1].Type = MHA_OBJ_FROM;
    o[1].FromTypeAddress = dup("SMTP"), o[1].FromName = dup(""), o[1].FromAddress = dup("operator@tarmin.test");
    o[2].Type = MHA_OBJ_TO;
    o[2].ToTypeAddress = dup("SMTP"), o[2].ToName = dup(""), o[2].ToAddress = dup("alice@tarmin.test");
    o[3].Type = MHA_OBJ_BODY;
    o[3].Body = dup(body), o[3].BodyLength = static_cast<uint32_t>(body.size());
    o[4].Type = MHA_OBJ_ATTACHMENT;
    o[4].AttachName = dup("data.bin");
    o[4].AttachData = reinterpret_cast<unsigned char *>(const_cast<char *>(attachment.data()));
    o[4].AttachLength = static_cast<uint32_t>(attachment.size());
    o[5].Type = MHA_OBJ_END;
    MhaSmime *out = nullptr;
    bool ok = MHA_encode_init(ctx, MHA_SIGN | MHA_ENCRYPT) == 0;
    for (auto &x : o) ok = ok && MHA_encode_add(ctx, &x) == 0;
    ok = ok && MHA_encode_final(ctx, &out) == 0;
    for (int i : {1, 2}) std::free(o[i].FromTypeAddress), std::free(o[i].FromName), std::free(o[i].FromAddress),
        std::free(o[i].ToTypeAddress), std::free(o[i].ToName), std::free(o[i].ToAddress);
    std::free(o[3].Body);
    std::free(o[4].AttachName);
    if (!ok) {
        QZ_ShowReports(nullptr, 1);
        fail("encoding failed");
    }
    std::string text(reinterpret_cast<char *>(out->Data), out->Length);
    MHA_smime_free(ctx, out);
    return text;
}

size_t decode(MhaContext *ctx, std::string &message) {
    MhaSmime in{};
    in.Data = reinterpret_cast<unsigned char *>(message.data());
    in.Length = static_cast<uint32_t>(message.size());
    uint32_t flags = 0;
    MhaResult *result = nullptr;
    if (MHA_decode_init(ctx, &in, &flags, &result, nullptr) != 0) {
        QZ_ShowReports(nullptr, 1);
        fail("decoding failed");
    }
    size_t bytes = 0;
    for (MhaObject *o = nullptr; MHA_decode_extract(ctx, &o) == 0 && o;) {
        if (o->Type == MHA_OBJ_ATTACHMENT && std::strcmp(o->AttachName, "data.bin") == 0) bytes += o->AttachLength;
        MHA_object_free(ctx, o);
    }
    MHA_decode_final(ctx);
    MHA_result_free(ctx, result);
    return bytes;
}

long status_kb(const char *field) {
    std::istringstream in(slurp("/proc/self/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return 0;
}

// The base64 block after the header block of a message or part, decoded
// with the openssl command line's help being unnecessary: a small decoder.
std::string unbase64(const std::string &text) {
    static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        size_t v = abc.find(c);
        if (v == std::string::npos) continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) bits -= 8, out += static_cast<char>((acc >> bits) & 0xFF);
    }
    return out;
}

} // namespace

int main() {
    CapiBench b;
    b.setup("/tmp/tarmin-bench-smime-XXXXXX", 7);
    QZ_SetKeyDword(QZ_GetProductKeyName(), "CertificateFlags", 0, 1);
    MhaContext *ctx = nullptr;
    if (MHA_create_context(&ctx) != 0 || MHA_vcert_init(ctx) != 0) fail("MHA_vcert_init failed");
    const std::string attachment(reinterpret_cast<char *>(b.data.data()), b.data.size());
    std::printf("tmnsmime decoding, one message with a %zu-byte attachment, best of 3\n", attachment.size());

    std::string message = encode(ctx, "body", attachment);
    // The pieces the references need: the envelope, the signed message inside
    // it, its signature and its data (the raw bytes of the parts).
    const std::string envelope = unbase64(message.substr(message.find("\r\n\r\n") + 4));
    spit(b.work / "env.der", envelope.data(), envelope.size());
    const fs::path inner = b.work / "inner.eml";
    if (run({"openssl", "cms", "-decrypt", "-engine", "gost", "-binary", "-inform", "DER", "-in", (b.work / "env.der").string(),
             "-recip", (b.pki / "operator.pem").string(), "-inkey", (b.pki / "operator.key").string()},
            inner.string()) != 0)
        fail("openssl cms -decrypt failed");
    const std::string signed_text = slurp(inner);
    size_t sig_at = signed_text.find("X-Signature-Length:");
    const std::string signature = unbase64(signed_text.substr(signed_text.find("\r\n\r\n", sig_at) + 4));
    spit(b.work / "sig.der", signature.data(), signature.size());
    std::string data;
    for (size_t at = signed_text.find("X-Attachment-Name:"); at != std::string::npos && at < sig_at;
         at = signed_text.find("X-Attachment-Name:", at + 1)) {
        size_t s = signed_text.find("\r\n\r\n", at) + 4, e = signed_text.find("\r\n--", s);
        data += unbase64(signed_text.substr(s, e - s));
    }
    spit(b.work / "data", data.data(), data.size());
    const std::string trusted = slurp(b.pki / "root.pem") + slurp(b.pki / "ca.pem");
    spit(b.work / "trusted.pem", trusted.data(), trusted.size());

    Pair decrypt = compare(
        [&] {
            if (decode(ctx, message) != attachment.size()) fail("decoded attachment of the wrong size");
        },
        [&] {
            if (run({"openssl", "cms", "-decrypt", "-engine", "gost", "-binary", "-inform", "DER", "-in",
                     (b.work / "env.der").string(), "-recip", (b.pki / "operator.pem").string(), "-inkey",
                     (b.pki / "operator.key").string(), "-out", (b.work / "out").string()}) != 0)
                fail("openssl cms -decrypt failed");
        });
    double verify = 1e300;
    for (int i = 0; i < 3; ++i)
        verify = std::min(verify, time_ms([&] {
                              if (run({"openssl", "cms", "-verify", "-engine", "gost", "-binary", "-inform", "DER", "-in",
                                       (b.work / "sig.der").string(), "-content", (b.work / "data").string(), "-CAfile",
                                       (b.work / "trusted.pem").string(), "-certfile", (b.pki / "operator.pem").string(),
                                       "-out", "/dev/null"}) != 0)
                                  fail("openssl cms -verify failed");
                          }));
    const double ref = decrypt.ref + verify;
    std::printf("MHA_decode_init+extract %8.1f ms | openssl cms -decrypt + -verify %8.1f ms (%.1f + %.1f) | ratio %.2f (goal <= 1.3) %s\n",
                decrypt.ours, ref, decrypt.ref, verify, decrypt.ours / ref, decrypt.ours / ref <= 1.3 ? "ok" : "OVER");

    // The same message's own primitives in qzms, which the format requires
    // beyond what the two openssl commands do: both GOST R 34.11-94 hashes
    // (the message hash line and the attachment's record) and the
    // attachment's own signature check.
    {
        CapiBlob env{reinterpret_cast<unsigned char *>(const_cast<char *>(envelope.data())), static_cast<uint32_t>(envelope.size())};
        CapiBlob content{reinterpret_cast<unsigned char *>(data.data()), static_cast<uint32_t>(data.size())};
        CapiBlob att{reinterpret_cast<unsigned char *>(const_cast<char *>(attachment.data())), static_cast<uint32_t>(attachment.size())};
        CapiBlob sig{reinterpret_cast<unsigned char *>(const_cast<char *>(signature.data())), static_cast<uint32_t>(signature.size())};
        PCCERT_CONTEXT own = nullptr;
        SignerSerial *serial = nullptr;
        CCA_get_my_cert(b.ctx, &own, &serial);
        double primitives = 1e300;
        for (int i = 0; i < 3; ++i)
            primitives = std::min(primitives, time_ms([&] {
                CapiBlob p{}, h{};
                CheckResult c{};
                CCA_decrypt_mem(b.ctx, &env, nullptr, nullptr, &p);
                CCA_free(b.ctx, p.pbData);
                CCA_hash_mem(b.ctx, &content, &h);
                CCA_free(b.ctx, h.pbData);
                CCA_hash_mem(b.ctx, &att, &h);
                CCA_free(b.ctx, h.pbData);
                CCA_check_mem_sep(b.ctx, &content, &sig, own, &c);
                CCA_cert_free(b.ctx, c.SignerCert);
                CCA_check_mem_sep(b.ctx, &content, &sig, own, &c); // the attachment's check, same size
                CCA_cert_free(b.ctx, c.SignerCert);
            }));
        CCA_cert_free(b.ctx, own);
        CCA_serial_free(b.ctx, serial);
        std::printf("MHA_decode_init+extract %8.1f ms | its qzms primitives (decrypt, 2 hashes 34.11-94, 2 checks) %8.1f ms | ratio %.2f\n",
                    decrypt.ours, primitives, decrypt.ours / primitives);
    }

    // Peak memory the decoding adds (the message itself is the host's).
    std::ofstream("/proc/self/clear_refs") << "5";
    const long base_kb = status_kb("VmRSS:");
    decode(ctx, message);
    const long peak_kb = status_kb("VmHWM:");
    const double times = (peak_kb - base_kb) * 1024.0 / static_cast<double>(attachment.size());
    std::printf("peak memory added by decoding: %.1f MB = %.2f x the attachment (goal <= 3) %s\n",
                (peak_kb - base_kb) / 1024.0, times, times <= 3 ? "ok" : "OVER");
    message.clear();
    message.shrink_to_fit();

    // 1,000 small messages.
    constexpr int kMessages = 1000;
    const std::string body(1024, 'b'), small(reinterpret_cast<char *>(b.data.data()), 10 * 1024);
    std::vector<std::string> messages;
    for (int i = 0; i < kMessages; ++i) messages.push_back(encode(ctx, body, small));
    double all = time_ms([&] {
        for (auto &m : messages) decode(ctx, m);
    });
    // The primitives of one message, on its own bytes.
    std::string m = messages.front();
    const std::string env1 = unbase64(m.substr(m.find("\r\n\r\n") + 4));
    CapiBlob env_blob{reinterpret_cast<unsigned char *>(const_cast<char *>(env1.data())), static_cast<uint32_t>(env1.size())};
    CapiBlob plain{};
    if (CCA_decrypt_mem(b.ctx, &env_blob, nullptr, nullptr, &plain) != 0) fail("CCA_decrypt_mem failed");
    const std::string signed1(reinterpret_cast<char *>(plain.pbData), plain.cbData);
    CCA_free(b.ctx, plain.pbData);
    size_t at1 = signed1.find("X-Signature-Length:");
    const std::string sig1 = unbase64(signed1.substr(signed1.find("\r\n\r\n", at1) + 4));
    std::string data1;
    for (size_t at = signed1.find("X-Attachment-Name:"); at != std::string::npos && at < at1; at = signed1.find("X-Attachment-Name:", at + 1)) {
        size_t s = signed1.find("\r\n\r\n", at) + 4, e = signed1.find("\r\n--", s);
        data1 += unbase64(signed1.substr(s, e - s));
    }
    PCCERT_CONTEXT own = nullptr;
    SignerSerial *serial = nullptr;
    CCA_get_my_cert(b.ctx, &own, &serial);
    CapiBlob sig_blob{reinterpret_cast<unsigned char *>(const_cast<char *>(sig1.data())), static_cast<uint32_t>(sig1.size())};
    CapiBlob data_blob{reinterpret_cast<unsigned char *>(data1.data()), static_cast<uint32_t>(data1.size())};
    CapiBlob att_blob{reinterpret_cast<unsigned char *>(const_cast<char *>(small.data())), static_cast<uint32_t>(small.size())};
    double primitives = time_ms([&] {
        for (int i = 0; i < kMessages; ++i) {
            CapiBlob p{}, h{};
            CheckResult c{};
            CCA_decrypt_mem(b.ctx, &env_blob, nullptr, nullptr, &p);
            CCA_free(b.ctx, p.pbData);
            CCA_hash_mem(b.ctx, &data_blob, &h);
            CCA_free(b.ctx, h.pbData);
            CCA_hash_mem(b.ctx, &att_blob, &h);
            CCA_free(b.ctx, h.pbData);
            CCA_check_mem_sep(b.ctx, &data_blob, &sig_blob, own, &c);
            CCA_cert_free(b.ctx, c.SignerCert);
            // The attachment's own signature is of the same size and kind.
            CCA_check_mem_sep(b.ctx, &data_blob, &sig_blob, own, &c);
            CCA_cert_free(b.ctx, c.SignerCert);
        }
    });
    CCA_cert_free(b.ctx, own);
    CCA_serial_free(b.ctx, serial);
    std::printf("%d small messages: %.0f messages/s | %.2f ms per message, primitives alone %.2f ms | ratio %.2f (goal <= 2) %s\n",
                kMessages, kMessages * 1000.0 / all, all / kMessages, primitives / kMessages, all / primitives,
                all / primitives <= 2 ? "ok" : "OVER");

    MHA_vcert_final(ctx);
    MHA_close_context(ctx);
    b.teardown();
    return 0;
}
