// Byte classification for the tokenizer's skips over ordinary text: which bytes of a 64-byte
// window may start a structural cluster. There is one classifier per instruction set, chosen once
// at run time, and each states the byte sets exactly once; the tokenizer combines the masks into
// the stop set of the run it is in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace csv::detail {

// Bit i stands for byte i of the window.
struct ByteMasks {
  std::uint64_t quotes = 0;      // '"' and '\\'
  std::uint64_t delimiters = 0;  // the delimiter's byte
  std::uint64_t newlines = 0;    // LF, VT, FF, CR and the first bytes of U+0085, U+2028, U+2029
};

// Classifies the 64 bytes at p for an ASCII delimiter. Reads 66 bytes from p, since a non-ASCII
// newline is told from its continuation bytes; the caller keeps them readable and ignores bits
// for bytes past its text.
using ByteScanner = ByteMasks (*)(const unsigned char* p, unsigned char delimiter);

enum class ScanISA : std::uint8_t { kScalar, kSSE2, kAVX2 };

// The classifier for an instruction set, or nullptr when this build or processor lacks it.
ByteScanner byteScanner(ScanISA isa);
// The fastest classifier the processor runs.
ByteScanner bestByteScanner();

// Bytes that TextSource's padding must keep readable past the text for a classifier.
inline constexpr std::size_t kScanWindow = 64;
inline constexpr std::size_t kScanOverread = kScanWindow + 2;

}  // namespace csv::detail
