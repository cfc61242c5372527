// Text encoding codes: unsigned 32-bit numbers in the classic string-encoding numbering.
#pragma once

#include <cstdint>

namespace csv {

using StringEncoding = std::uint32_t;

inline constexpr StringEncoding kEncodingNone = 0;  // none given: detect, or UTF-8 on output
inline constexpr StringEncoding kEncodingASCII = 1;
inline constexpr StringEncoding kEncodingUTF8 = 4;
inline constexpr StringEncoding kEncodingISOLatin1 = 5;
inline constexpr StringEncoding kEncodingMacOSRoman = 30;
inline constexpr StringEncoding kEncodingUTF16BE = 0x90000100;
inline constexpr StringEncoding kEncodingUTF16LE = 0x94000100;
inline constexpr StringEncoding kEncodingUTF32BE = 0x98000100;
inline constexpr StringEncoding kEncodingUTF32LE = 0x9C000100;

// The system's default encoding: the character set of the user's locale (LC_ALL, LC_CTYPE, LANG)
// as a code; UTF-8 when the locale's character set has no code here.
StringEncoding systemStringEncoding();

}  // namespace csv
