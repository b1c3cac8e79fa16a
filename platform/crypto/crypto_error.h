// The last error of the crypto layer, kept per thread as GetLastError keeps it.
//
// Every function of tarmin::crypto that fails sets the calling thread's last
// error and returns false, null or an empty result; a function that succeeds
// leaves it alone. Callers that record "the system error" read it right after
// the failed call.
//
// Codes: errno values (file and directory failures) stand for themselves;
// the failures of the provider and the stores carry the CryptoAPI codes below,
// so that texts and traces read the way operators know them.
#pragma once

#include <cstdint>
#include <string>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

inline constexpr uint32_t kErrInvalidArg = 0x80070057;       // a null or malformed argument
inline constexpr uint32_t kErrOutOfMemory = 0x8007000E;      // allocation failed
inline constexpr uint32_t kErrBadData = 0x80090005;          // data the provider cannot use
inline constexpr uint32_t kErrBadSignature = 0x80090006;     // a signature does not verify
inline constexpr uint32_t kErrBadAlgorithm = 0x80090008;     // an algorithm the provider lacks
inline constexpr uint32_t kErrNoKey = 0x8009000D;            // no private key for the certificate
inline constexpr uint32_t kErrBadKeyset = 0x80090016;        // the key container cannot be read
inline constexpr uint32_t kErrProviderMissing = 0x8009001D;  // the GOST engine cannot be loaded
inline constexpr uint32_t kErrInternal = 0x80090020;         // the provider failed inside
inline constexpr uint32_t kErrBadMessage = 0x80091004;       // not a message of the expected kind
inline constexpr uint32_t kErrHashValue = 0x80091007;        // the content does not match the digest
inline constexpr uint32_t kErrInvalidIndex = 0x80091008;     // no signer / certificate of that index
inline constexpr uint32_t kErrNotFound = 0x80092004;         // no such object in the store
inline constexpr uint32_t kErrExists = 0x80092005;           // the object is already in the store
inline constexpr uint32_t kErrNoSigner = 0x8009200E;         // the signer's certificate is not given
inline constexpr uint32_t kErrBadEncoding = 0x8009310B;      // ASN.1 that does not decode
inline constexpr uint32_t kErrStoreReadOnly = 0x80070005;    // access denied (read-only store)
// Failures of the stores of our own (customer codes, facility 9).
inline constexpr uint32_t kErrKeyEncrypted = 0xA0090001;     // a private key protected by a password
inline constexpr uint32_t kErrTooManyCertificates = 0xA0090002; // a message carrying more certificates than allowed
inline constexpr uint32_t kErrNotRegularFile = 0xA0090003;   // a pipe, device or link where a file belongs
inline constexpr uint32_t kErrKeyExposed = 0xA0090004;       // a key file others can read or another user owns
inline constexpr uint32_t kErrStoreExposed = 0xA0090005;     // a store of keys open to others or another user's

// The calling thread's last error (0 when none was set).
uint32_t last_error();
void set_last_error(uint32_t code);
// Stores an errno value and returns it.
uint32_t set_last_error_from_errno(int err);
// Sets the code and keeps the text of OpenSSL's error queue (which it clears)
// as the detail of this error, for tools and traces.
void set_last_error_openssl(uint32_t code);
// The OpenSSL detail of the last error set with set_last_error_openssl
// (empty otherwise); UTF-8 / ASCII.
const std::string &last_error_detail();

// The user's language, as GetUserDefaultLangID gives it: from LC_ALL,
// LC_MESSAGES or LANG (the first one set); "ru" gives 0x0419, "en" 0x0409,
// other languages their Windows identifier, unknown or "C"/"POSIX" 0x0409.
uint16_t user_lang_id();

// The system's text for a code in the given language (Russian for 0x0419,
// English otherwise), Windows-1251, with a trailing "\r\n" as the system
// message texts have; empty for an unknown code.
std::string error_message(uint32_t code, uint16_t lang);

} // namespace tarmin::crypto

#pragma GCC visibility pop
