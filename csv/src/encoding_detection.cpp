#include "encoding_detection.hpp"

#include "csv/diagnostic_log.hpp"
#include "decoder.hpp"

namespace csv::detail {

namespace {

// The system encoding, for a sample that no rule recognises; the log says so, as for every guess.
StringEncoding assumeSystemEncoding() {
  const StringEncoding system = systemStringEncoding();
  logDiagnostic("unable to determine file encoding; assuming the system encoding, " +
                encodingName(system));
  return system;
}

}  // namespace

StringEncoding textEncodingForData(std::span<const std::uint8_t> sample, std::size_t* offset,
                                   bool sampleIsFull) {
  *offset = 0;
  const std::size_t n = sample.size();
  if (n == 0) return kEncodingUTF8;
  const std::uint8_t* b = sample.data();
  bool invalid = false;
  const std::size_t valid = validUTF8Prefix(b, n, &invalid);
  // A sequence cut by the end of a full sample is completed by the bytes after it.
  const bool utf8 = valid == n || (sampleIsFull && !invalid);
  switch (b[0]) {
    case 0x00:
      if (n >= 4 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) {
        *offset = 4;
        return kEncodingUTF32BE;
      }
      return assumeSystemEncoding();
    case 0xEF:
      if (n >= 3 && b[1] == 0xBB && b[2] == 0xBF) {
        *offset = 3;
        return kEncodingUTF8;
      }
      // EF also begins U+F000 to U+FFFF in UTF-8 (full-width forms, half-width kana): text that
      // this library writes, and must read back.
      if (utf8) break;
      return assumeSystemEncoding();
    case 0xFE:
      if (n >= 2 && b[1] == 0xFF) {
        *offset = 2;
        return kEncodingUTF16BE;
      }
      return assumeSystemEncoding();
    case 0xFF:
      // FF FE 00 00 is read as the UTF-32 mark, although it also begins the UTF-16 one.
      if (n >= 2 && b[1] == 0xFE) {
        if (n >= 4 && b[2] == 0x00 && b[3] == 0x00) {
          *offset = 4;
          return kEncodingUTF32LE;
        }
        *offset = 2;
        return kEncodingUTF16LE;
      }
      return assumeSystemEncoding();
    default:
      break;
  }
  if (utf8) {
    logDiagnostic("unable to determine file encoding; assuming UTF8");
    return kEncodingUTF8;
  }
  logDiagnostic("unable to determine file encoding; assuming MacOSRoman");
  return kEncodingMacOSRoman;
}

}  // namespace csv::detail
