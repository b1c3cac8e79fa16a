// Shared set-up of the qzms fuzz targets: a private TARMIN_HOME with a trusted
// GOST root and issuing authority in the stores, a signer, and well-formed
// inputs (certificates, detached and attached signatures carrying the
// signer's certificate) that the targets mutate, so that the fuzzer reaches
// the deep paths of the decoders and not only their first check.
//
// An input's first byte picks how the rest is used:
//   0: the bytes themselves;
//   1: a well-formed base with the rest as (2-byte offset, xor byte) patches;
//   2: a well-formed base cut at a length taken from the rest, then the rest
//      appended (truncated, extended and spliced inputs).
#pragma once

#include "platform/crypto/message.h"
#include "platform/crypto/store.h"
#include "tools/tmncert/issuer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace tarmin::fuzz {

using Bytes = std::vector<uint8_t>;

struct Seeds {
    Bytes root_der, user_der, detached, attached;
};

[[noreturn]] inline void setup_failed(const std::string &why) {
    std::fprintf(stderr, "fuzz set-up: %s\n", why.c_str());
    std::abort();
}

inline tmncert::Issued must_issue(const tmncert::CertSpec &spec) {
    std::string error;
    auto issued = tmncert::issue(spec, &error);
    if (!issued) setup_failed(error);
    return std::move(*issued);
}

// Made once per process.
inline const Seeds &seeds() {
    static const Seeds s = [] {
        static char home[] = "/tmp/tarmin-fuzz-XXXXXX";
        if (!::mkdtemp(home)) setup_failed("no temporary directory");
        // The stores of this process go with it.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(home, ec);
        });
        ::setenv("TARMIN_HOME", home, 1);
        ::setenv("LANG", "C.UTF-8", 1);

        tmncert::CertSpec root_spec;
        root_spec.subject = "CN=Fuzz Root, O=Tarmin Test, C=RU";
        root_spec.ca = true;
        root_spec.key_usage = crypto::kKuKeyCertSign | crypto::kKuCrlSign | crypto::kKuDigitalSignature;
        auto root = must_issue(root_spec);
        tmncert::CertSpec ca_spec = root_spec;
        ca_spec.subject = "CN=Fuzz CA, O=Tarmin Test, C=RU";
        ca_spec.issuer_cert = root.cert.get();
        ca_spec.issuer_key = root.key.get();
        auto ca = must_issue(ca_spec);
        tmncert::CertSpec user_spec;
        user_spec.subject = "CN=Fuzz Signer, O=Tarmin Test, C=RU, E=signer@fuzz.test";
        user_spec.issuer_cert = ca.cert.get();
        user_spec.issuer_key = ca.key.get();
        user_spec.key_usage = crypto::kKuDigitalSignature | crypto::kKuKeyEncipherment;
        user_spec.emails = {"signer@fuzz.test"};
        auto user = must_issue(user_spec);

        auto root_store = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "Root");
        auto ca_store = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "CA");
        if (!root_store || !ca_store || !root_store->add(root.cert, crypto::AddDisposition::ReplaceExisting) ||
            !ca_store->add(ca.cert, crypto::AddDisposition::ReplaceExisting))
            setup_failed("cannot fill the stores");

        Seeds out;
        out.root_der = root.cert->der();
        out.user_der = user.cert->der();
        const char content[] = "fuzzing the signed-data reader";
        crypto::SignParams p;
        p.signer = user.cert.get();
        p.key = user.key.get();
        p.include_certificate = true;
        auto detached = crypto::sign_message(p, content, sizeof content - 1);
        p.detached = false;
        auto attached = crypto::sign_message(p, content, sizeof content - 1);
        if (!detached || !attached) setup_failed("cannot sign");
        out.detached = *detached;
        out.attached = *attached;
        return out;
    }();
    return s;
}

// The input to try, built from the fuzzer's bytes and a well-formed base.
inline Bytes shape(const uint8_t *data, size_t size, const Bytes &base) {
    if (size == 0) return {};
    const uint8_t *rest = data + 1;
    size_t n = size - 1;
    switch (data[0] % 3) {
    case 0: return Bytes(rest, rest + n);
    case 1: {
        Bytes out = base;
        for (size_t i = 0; i + 3 <= n && !out.empty(); i += 3) {
            size_t offset = (static_cast<size_t>(rest[i]) << 8 | rest[i + 1]) % out.size();
            out[offset] ^= rest[i + 2] ? rest[i + 2] : 0x01;
        }
        return out;
    }
    default: {
        size_t cut = 0;
        for (size_t i = 0; i < n && i < 4; ++i) cut = cut << 8 | rest[i];
        cut = base.empty() ? 0 : cut % (base.size() + 1);
        Bytes out(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(cut));
        if (n > 4) out.insert(out.end(), rest + 4, rest + n);
        return out;
    }
    }
}

} // namespace tarmin::fuzz
