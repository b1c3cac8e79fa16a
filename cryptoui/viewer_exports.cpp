// The exported viewers: a certificate and a revocation list, each from DER,
// in a dialog owned by the active window.
#include "include/qzvoui.h"

#include "cryptoui/CertificateViewer.h"
#include "cryptoui/ui_session.h"

#include <cstdio>

using namespace tarmin::qzvoui;

extern "C" QZVOUI_API int32_t TMN_UIViewCertificate(const unsigned char *der, uint32_t length, uint32_t flags) {
    try {
        auto cert = der && length ? tarmin::crypto::Certificate::from_der(der, length) : nullptr;
        if (!cert) return 0;
        UiScope scope;
        if (!scope.ok()) return 0;
        CCertificateViewer viewer(*cert, flags, activeOwner());
        runModal(viewer);
        return 1;
    } catch (...) {
        std::fprintf(stderr, "TMN_UIViewCertificate\n");
        return 0;
    }
}

extern "C" QZVOUI_API int32_t TMN_UIViewCrl(const unsigned char *der, uint32_t length) {
    try {
        auto crl = der && length ? tarmin::crypto::Crl::from_der(der, length) : nullptr;
        if (!crl) return 0;
        UiScope scope;
        if (!scope.ok()) return 0;
        CCrlViewer viewer(*crl, activeOwner());
        runModal(viewer);
        return 1;
    } catch (...) {
        std::fprintf(stderr, "TMN_UIViewCrl\n");
        return 0;
    }
}
