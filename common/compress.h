// zlib compression of QZ_Compress / QZ_Decompress.
#pragma once

#include <cstddef>

#include "common/event_file.h" // QZCOM_INTERNAL

namespace tarmin::qzcom {

// Largest output of QZ_Decompress: 1 GiB.
inline constexpr std::size_t kMaxDecompressedSize = std::size_t{1} << 30;

// Lowers the output limit so that tests reach it without a gigabyte; 0
// restores kMaxDecompressedSize.
QZCOM_INTERNAL void set_decompress_limit(std::size_t limit);

} // namespace tarmin::qzcom
