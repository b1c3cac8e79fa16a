// Certificate stores on disk and in memory.
//
// Layout: $TARMIN_HOME/certstores/<location>/<system store>/<physical store>/
//   <THUMBPRINT>.cer   a certificate, DER, named by its SHA-1 thumbprint
//   <THUMBPRINT>.crl   a revocation list, DER, named likewise
//   <THUMBPRINT>.key   the private key of the certificate of that thumbprint
//                      (PEM, PKCS #8), mode 0600, in "MY" stores
//   <THUMBPRINT>.kpi   the name of the provider that holds that key
//   .index             the search index (a cache; rebuilt when stale)
// Locations "CurrentUser" and "LocalMachine"; system stores at least "MY",
// "Root", "CA", "AddressBook"; physical store ".Default". A system store
// opened by its name alone is its ".Default" physical store.
//
// The search index lets a search by address or by issuer and serial among
// many certificates read one file instead of every certificate: one line per
// certificate, its thumbprint, the stamp of its file (inode, size, time) and
// the 64-bit hashes of its search keys (issuer and serial, mail name, e-mail
// attributes, other names), closed by a check of the line. It is checked
// against the directory listing, so certificates added or removed by other
// programs are seen; lines are appended as certificates are added, and the
// file is rewritten when it holds many stale lines. A line whose check fails
// is not taken. A hit is always confirmed on the certificate itself; a miss
// is confirmed against the files before it is reported: the stamps of the
// files whose records came from the index are compared with the files, and a
// file that changed since its line was written is read again (the index is
// then rewritten), so no wrong line hides a certificate. Stores are cached
// per process and re-read when their directory changes.
//
// A store holds plain files only: named pipes, devices and symbolic links
// among its files are skipped, and nothing in a store is opened in a way
// that could wait (a pipe's open waits for its other end).
//
// Stores are safe to use from several threads.
#pragma once

#include "platform/crypto/certificate.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

enum class StoreLocation { CurrentUser, LocalMachine };

const char *location_name(StoreLocation loc);
// nullopt for an unknown name (compared without regard to case).
std::optional<StoreLocation> location_from_name(std::string_view name);
// Every location, in enumeration order.
std::vector<StoreLocation> store_locations();
// The system stores of a location: the standard ones ("MY", "Root", "CA",
// "AddressBook") and any other that exists on disk.
std::vector<std::string> system_stores(StoreLocation loc);
// The physical stores of a system store: ".Default" and any other on disk.
std::vector<std::string> physical_stores(StoreLocation loc, std::string_view system);
// certstores in the user's data directory, where the settings store lives
// too ($TARMIN_HOME, else $XDG_DATA_HOME/tarmin, else ~/.local/share/tarmin).
std::filesystem::path certstores_root();

inline constexpr const char *kDefaultPhysical = ".Default";

// What adding an object that the store already holds (same thumbprint) does.
enum class AddDisposition {
    New = 1,             // fail with kErrExists
    UseExisting = 2,     // keep the stored one and hand it out
    ReplaceExisting = 3, // replace it
};

class CertStore {
public:
    // A new, empty store in memory.
    static std::shared_ptr<CertStore> open_memory();
    // A physical store on disk. The directory is created when missing and
    // create is set; otherwise a missing store fails with kErrNotFound.
    // A name with "/" or ".." is refused (kErrInvalidArg).
    static std::shared_ptr<CertStore> open(StoreLocation loc, std::string_view system,
                                           std::string_view physical = kDefaultPhysical, bool create = true);

    bool is_memory() const;
    // "TMP_MEMORY" or "<system>\<physical>".
    std::string name() const;

    // Every certificate, in a stable order (memory: order of adding; disk: by
    // thumbprint).
    std::vector<CertPtr> certificates() const;
    size_t count() const;
    CertPtr find_by_thumbprint(std::string_view thumbprint) const;
    // The certificate of that issuer name (DER) and serial (little-endian);
    // null with kErrNotFound.
    CertPtr find_by_issuer_serial(const Bytes &issuer_der, const Bytes &serial_le) const;
    // Certificates whose subject has the e-mail attribute equal to value (exact).
    std::vector<CertPtr> find_by_subject_email(std::string_view value) const;
    // Certificates whose mail name equals the address (without regard to case).
    std::vector<CertPtr> find_by_mail_name(std::string_view address) const;
    // Certificates with an other-name entry of that identifier equal to the
    // value (without regard to case).
    std::vector<CertPtr> find_by_other_name(std::string_view oid, std::string_view value) const;

    // Adds a certificate; hands out the stored one (the existing one for
    // UseExisting), null on failure (kErrExists for New when present).
    CertPtr add(const CertPtr &cert, AddDisposition disposition);
    // Removes a certificate (and its private key); kErrNotFound when absent.
    bool remove(const Certificate &cert);

    std::vector<CrlPtr> crls() const;
    bool add_crl(const CrlPtr &crl, AddDisposition disposition);
    bool remove_crl(const Crl &crl);

    // Private keys of the certificates of the store (disk stores only).
    bool set_private_key(const Certificate &cert, EVP_PKEY *key, std::string_view provider_name);
    // The key and the name of its provider; null with kErrNoKey when the
    // store holds no key for the certificate, kErrNotRegularFile when its key
    // file is no plain file, kErrBadKeyset when it is unreadable. Like ssh
    // with its keys, a key is refused when others could read it or could have
    // put it there: kErrStoreExposed when the store's directory or its system
    // store's is not the user's or is open to others, kErrKeyExposed when the
    // key file is not the user's or is open to others (mode other than 0600).
    EvpPkeyPtr private_key(const Certificate &cert, std::string *provider_name = nullptr) const;
    bool has_private_key(const Certificate &cert) const;

    struct Data;
    explicit CertStore(std::shared_ptr<Data> data);
    ~CertStore();

private:
    std::shared_ptr<Data> data_;
};
using StorePtr = std::shared_ptr<CertStore>;

// Forgets the per-process cache of disk stores (tests and benchmarks measure
// a first search with it).
void forget_store_cache();

// Visits every physical store of every location (stores that cannot be
// opened are skipped); the visitor returns false to stop.
template <typename F> void for_each_physical_store(F &&visit) {
    for (StoreLocation loc : store_locations())
        for (const auto &sys : system_stores(loc))
            for (const auto &phys : physical_stores(loc, sys)) {
                auto store = CertStore::open(loc, sys, phys, false);
                if (store && !visit(*store, loc, sys, phys)) return;
            }
}

} // namespace tarmin::crypto

#pragma GCC visibility pop
