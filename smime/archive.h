// The archive store: copies of outgoing and incoming files and their
// signatures in dated subdirectories, never overwriting an earlier copy.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "smime/context.h"

namespace tarmin::smime {

enum class Direction { outgoing, incoming };

// Stores data under name (and, when signature is given, the signature beside
// it as "<data path>.<signer>.sgn") in the archive of the direction, when
// that archive is on. With no data only the name of the most recent copy is
// found (for its signature). false after a reported failure.
bool archive_data_and_sign(MhaContext *ctx, Direction direction, std::string_view name,
                           const std::string_view *data, const std::string *signature, std::string_view signer);
inline bool archive_data_and_sign(MhaContext *ctx, Direction direction, std::string_view name,
                                  const std::string *data, const std::string *signature, std::string_view signer) {
    std::string_view view = data ? std::string_view(*data) : std::string_view();
    return archive_data_and_sign(ctx, direction, name, data ? &view : nullptr, signature, signer);
}

// The directory of a store: the path with a separator, then the dated
// subdirectory of the sort code ('D' yyyymmdd, 'M' yyyymm, 'Y' yyyy), created
// when missing (0xE0030010). nullopt after a reported failure.
std::optional<std::string> dated_directory(const std::string &path, char sort);
// Replaces the characters a file name cannot hold ("*/:<>?\|) with '_'.
std::string safe_file_name(std::string_view name);
// The first free name for path: path itself, else "<base>~N<ext>" found by
// hundreds, then back 99 and by ones. *number receives N (0 for the plain
// name).
std::string free_name(const std::string &path, int *number = nullptr);

} // namespace tarmin::smime
