// Choosing the encoding of a source from its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "csv/string_encoding.hpp"

namespace csv::detail {

// Bytes of the source that detection looks at.
inline constexpr std::size_t kEncodingSampleSize = 2048;

// The encoding of a source that begins with `sample`, and in *offset the length of its
// byte-order mark (0 when none). Without a mark the sample is tried as UTF-8, then taken as Mac
// OS Roman, and a diagnostic line says which. `sampleIsFull` tells that more of the source may
// follow: a multi-byte sequence cut at the end of a full sample then does not count against
// UTF-8.
StringEncoding textEncodingForData(std::span<const std::uint8_t> sample, std::size_t* offset,
                                   bool sampleIsFull);

}  // namespace csv::detail
