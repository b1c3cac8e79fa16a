// What the crypto layer's own sources share (not part of its interface):
// OpenSSL objects owned for a scope and the one-line failure returns.
#pragma once

#include "platform/crypto/crypto_error.h"

#include <cstdint>
#include <memory>

namespace tarmin::crypto {

// An OpenSSL object owned for a scope, so that an exception (memory exhausted)
// between its creation and its release cannot leak it; Free is the OpenSSL
// function that releases it.
template <auto Free> struct FreeWith {
    template <typename T> void operator()(T *p) const { Free(p); }
};
template <typename T, auto Free> using Owned = std::unique_ptr<T, FreeWith<Free>>;

// Sets the last error and gives the failed function's result (empty, false
// or null), for "return fail<R>(code);".
template <typename T> T fail(uint32_t code, T result = {}) {
    set_last_error(code);
    return result;
}
// A failure inside OpenSSL: the code with the text of its error queue.
template <typename T> T fail_openssl(uint32_t code, T result = {}) {
    set_last_error_openssl(code);
    return result;
}

} // namespace tarmin::crypto
