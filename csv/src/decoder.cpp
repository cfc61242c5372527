#include "decoder.hpp"

#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <optional>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "encoding_table.hpp"
#include "grapheme.hpp"

namespace csv::detail {

namespace {

std::size_t scalarValidUTF8Prefix(const std::uint8_t* p, std::size_t n, bool* invalid) {
  *invalid = false;
  std::size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      // Runs of ASCII are checked sixteen bytes at a time.
      while (i + 16 <= n) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 8, 8);
        if (((a | b) & 0x8080808080808080ull) != 0) break;
        i += 16;
      }
      while (i < n && p[i] < 0x80) ++i;
      continue;
    }
    // Well-formed sequences (Unicode table 3-7): the lead byte fixes the length and the range of
    // the second byte; every further byte is 80..BF.
    const unsigned lead = p[i];
    std::size_t length;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      *invalid = true;
      return i;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= n) return i;  // incomplete: the next bytes may finish it
      const unsigned byte = p[i + k];
      if (byte < (k == 1 ? low : 0x80u) || byte > (k == 1 ? high : 0xBFu)) {
        *invalid = true;
        return i;
      }
    }
    i += length;
  }
  return i;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORIN_HAVE_AVX2_VALIDATOR 1

// Keiser and Lemire's validation ("Validating UTF-8 in less than one instruction per byte",
// 2021): three nibble lookups classify every pair of adjacent bytes, and a check on the bytes two
// and three back catches missing or extra continuation bytes. It only says whether a block is
// clean; a dirty block, and the tail, are left to the exact scalar check.
__attribute__((target("avx2"))) std::size_t avx2CleanPrefix(const std::uint8_t* p, std::size_t n) {
  constexpr char kTooShort = 1 << 0;
  constexpr char kTooLong = 1 << 1;
  constexpr char kOverlong3 = 1 << 2;
  constexpr char kTooLarge = 1 << 3;
  constexpr char kSurrogate = 1 << 4;
  constexpr char kOverlong2 = 1 << 5;
  constexpr char kTooLarge1000 = 1 << 6;
  constexpr char kOverlong4 = 1 << 6;
  constexpr char kTwoConts = static_cast<char>(1 << 7);
  constexpr char kCarry = kTooShort | kTooLong | kTwoConts;
  const __m256i byte1High = _mm256_setr_epi8(
      kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
      kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
      kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
      kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
      kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
      kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
  constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
  const __m256i byte1Low = _mm256_setr_epi8(
      kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
      kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
      kLarge | kSurrogate, kLarge, kLarge, kCarry | kOverlong3 | kOverlong2 | kOverlong4,
      kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge,
      kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge);
  constexpr char kCont = kTooLong | kOverlong2 | kTwoConts;
  const __m256i byte2High = _mm256_setr_epi8(
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      kCont | kOverlong3 | kTooLarge1000 | kOverlong4, kCont | kOverlong3 | kTooLarge,
      kCont | kSurrogate | kTooLarge, kCont | kSurrogate | kTooLarge, kTooShort, kTooShort,
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      kTooShort, kTooShort, kCont | kOverlong3 | kTooLarge1000 | kOverlong4,
      kCont | kOverlong3 | kTooLarge, kCont | kSurrogate | kTooLarge,
      kCont | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort, kTooShort);
  const __m256i lowNibble = _mm256_set1_epi8(0x0F);
  const __m256i thirdByteBase = _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80));
  const __m256i fourthByteBase = _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80));
  const __m256i high = _mm256_set1_epi8(static_cast<char>(0x80));

  __m256i previous = _mm256_setzero_si256();  // what came before counts as ASCII
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    if (_mm256_movemask_epi8(input) == 0) {
      // All ASCII, the usual block: it is clean unless the block before ended inside a sequence.
      if (i >= 3 && (p[i - 1] >= 0xC0 || p[i - 2] >= 0xE0 || p[i - 3] >= 0xF0)) break;
      previous = input;
      continue;
    }
    const __m256i carried = _mm256_permute2x128_si256(previous, input, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(input, carried, 15);
    const __m256i prev2 = _mm256_alignr_epi8(input, carried, 14);
    const __m256i prev3 = _mm256_alignr_epi8(input, carried, 13);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(
                             byte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), lowNibble)),
                         _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, lowNibble))),
        _mm256_shuffle_epi8(byte2High, _mm256_and_si256(_mm256_srli_epi16(input, 4), lowNibble)));
    const __m256i mustContinue =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(prev2, thirdByteBase),
                                         _mm256_subs_epu8(prev3, fourthByteBase)),
                         high);
    const __m256i error = _mm256_xor_si256(mustContinue, special);
    if (!_mm256_testz_si256(error, error)) break;
    previous = input;
  }
  // Step back over a sequence that may run on past the checked blocks.
  for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
    const std::uint8_t b = p[i - k];
    if ((b & 0xC0) == 0x80) continue;
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (k < length) i -= k;
    break;
  }
  return i;
}
#endif

}  // namespace

std::size_t validUTF8Prefix(const std::uint8_t* p, std::size_t n, bool* invalid) {
#if defined(QUORIN_HAVE_AVX2_VALIDATOR)
  static const bool haveAVX2 = __builtin_cpu_supports("avx2");
  if (haveAVX2 && n >= 64) {
    const std::size_t clean = avx2CleanPrefix(p, n);
    return clean + scalarValidUTF8Prefix(p + clean, n - clean, invalid);
  }
#endif
  return scalarValidUTF8Prefix(p, n, invalid);
}

namespace {

class UTF16Decoder final : public Decoder {
 public:
  explicit UTF16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  DecodeResult decode(const std::uint8_t* in, std::size_t n, char* out) override {
    DecodeResult r;
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 2 <= n) {
      const char32_t unit = unitAt(in + i);
      char32_t cp = unit;
      std::size_t length = 2;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 4 > n) break;  // the low surrogate has not arrived yet
        const char32_t low = unitAt(in + i + 2);
        if (low < 0xDC00 || low > 0xDFFF) {
          r.invalid = true;
          break;
        }
        cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        length = 4;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        r.invalid = true;
        break;
      }
      o += encodeUTF8(cp, out + o);
      i += length;
    }
    r.consumed = i;
    r.produced = o;
    return r;
  }
  std::size_t maxOutput(std::size_t n) const override { return n / 2 * 3 + 4; }

 private:
  char32_t unitAt(const std::uint8_t* p) const {
    return bigEndian_ ? static_cast<char32_t>((p[0] << 8) | p[1])
                      : static_cast<char32_t>((p[1] << 8) | p[0]);
  }
  bool bigEndian_;
};

class UTF32Decoder final : public Decoder {
 public:
  explicit UTF32Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  DecodeResult decode(const std::uint8_t* in, std::size_t n, char* out) override {
    DecodeResult r;
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 4 <= n) {
      const std::uint8_t* p = in + i;
      const std::uint32_t cp = bigEndian_
                                   ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                         (std::uint32_t{p[2]} << 8) | p[3]
                                   : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                                         (std::uint32_t{p[1]} << 8) | p[0];
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        r.invalid = true;
        break;
      }
      o += encodeUTF8(cp, out + o);
      i += 4;
    }
    r.consumed = i;
    r.produced = o;
    return r;
  }
  std::size_t maxOutput(std::size_t n) const override { return n + 4; }

 private:
  bool bigEndian_;
};

// Mac OS Roman's upper half as the platform publishes it. glibc's MACINTOSH differs at 0xF0,
// which is the Apple logo, U+F8FF, here.
constexpr char16_t kMacOSRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// The single-byte encodings whose tables are here: ASCII (nothing above 0x7F), ISO Latin 1
// (every byte is its own code point) and Mac OS Roman.
enum class SingleByte { kASCII, kLatin1, kMacRoman };

// The code point of `byte`, or -1 when it has none.
long singleByteCodePoint(SingleByte kind, std::uint8_t byte) {
  if (byte < 0x80 || kind == SingleByte::kLatin1) return byte;
  return kind == SingleByte::kMacRoman ? kMacOSRomanHigh[byte - 0x80] : -1;
}

// The byte of `cp`, or -1 when the encoding has none.
int singleByteOf(SingleByte kind, char32_t cp) {
  if (cp < 0x80 || (kind == SingleByte::kLatin1 && cp < 0x100)) return static_cast<int>(cp);
  if (kind != SingleByte::kMacRoman) return -1;
  for (int i = 0; i < 128; ++i) {
    if (kMacOSRomanHigh[i] == cp) return 0x80 + i;
  }
  return -1;
}

std::optional<SingleByte> singleByteKind(StringEncoding encoding) {
  switch (encoding) {
    case kEncodingASCII:
      return SingleByte::kASCII;
    case kEncodingISOLatin1:
      return SingleByte::kLatin1;
    case kEncodingMacOSRoman:
      return SingleByte::kMacRoman;
    default:
      return std::nullopt;
  }
}

class SingleByteDecoder final : public Decoder {
 public:
  explicit SingleByteDecoder(SingleByte kind) : kind_(kind) {}

  DecodeResult decode(const std::uint8_t* in, std::size_t n, char* out) override {
    DecodeResult r;
    std::size_t i = 0;
    std::size_t o = 0;
    for (; i < n; ++i) {
      const long cp = singleByteCodePoint(kind_, in[i]);
      if (cp < 0) {
        r.invalid = true;
        break;
      }
      o += encodeUTF8(static_cast<char32_t>(cp), out + o);
    }
    r.consumed = i;
    r.produced = o;
    return r;
  }
  std::size_t maxOutput(std::size_t n) const override { return 3 * n; }

 private:
  SingleByte kind_;
};

// Everything else goes through the C library's iconv, which keeps any shift state between calls.
class IconvDecoder final : public Decoder {
 public:
  explicit IconvDecoder(iconv_t cd) : cd_(cd) {}
  ~IconvDecoder() override { iconv_close(cd_); }
  IconvDecoder(const IconvDecoder&) = delete;
  IconvDecoder& operator=(const IconvDecoder&) = delete;

  DecodeResult decode(const std::uint8_t* in, std::size_t n, char* out) override {
    DecodeResult r;
    char* input = const_cast<char*>(reinterpret_cast<const char*>(in));
    std::size_t inputLeft = n;
    char* output = out;
    std::size_t outputLeft = maxOutput(n);
    const std::size_t done = iconv(cd_, &input, &inputLeft, &output, &outputLeft);
    if (done == static_cast<std::size_t>(-1) && errno == EILSEQ) r.invalid = true;
    // EINVAL: an incomplete sequence at the end, which stays for the next call.
    r.consumed = n - inputLeft;
    r.produced = static_cast<std::size_t>(output - out);
    return r;
  }
  // Windows-1255 and Windows-1258 hold a letter back until the next byte shows whether a mark
  // combines with it; going back to the initial state hands it out.
  std::size_t finish(char* out) override {
    char* output = out;
    std::size_t outputLeft = kMaxFinishOutput;
    (void)iconv(cd_, nullptr, nullptr, &output, &outputLeft);
    return static_cast<std::size_t>(output - out);
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::unique_ptr<Decoder> makeDecoder(StringEncoding encoding) {
  switch (encoding) {
    case kEncodingUTF16BE:
      return std::make_unique<UTF16Decoder>(true);
    case kEncodingUTF16LE:
      return std::make_unique<UTF16Decoder>(false);
    case kEncodingUTF32BE:
      return std::make_unique<UTF32Decoder>(true);
    case kEncodingUTF32LE:
      return std::make_unique<UTF32Decoder>(false);
    default:
      break;
  }
  if (const std::optional<SingleByte> kind = singleByteKind(encoding)) {
    return std::make_unique<SingleByteDecoder>(*kind);
  }
  const EncodingEntry* entry = findEncoding(encoding);
  if (entry == nullptr || encoding == kEncodingUTF8) return nullptr;
  iconv_t cd = iconv_open("UTF-8", entry->iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<IconvDecoder>(cd);
}

std::string encodingName(StringEncoding encoding) {
  if (const EncodingEntry* entry = findEncoding(encoding)) return entry->displayName;
  char text[32];
  std::snprintf(text, sizeof text, encoding < 0x10000 ? "encoding %u" : "encoding 0x%X",
                static_cast<unsigned>(encoding));
  return text;
}

namespace {

class UTFEncoder final : public Encoder {
 public:
  UTFEncoder(int unitSize, bool bigEndian) : unitSize_(unitSize), bigEndian_(bigEndian) {}

  bool encode(std::string_view utf8, std::string& out, char32_t* /*rejected*/) override {
    if (unitSize_ == 1) {
      out.append(utf8);
      return true;
    }
    const auto put = [&](std::uint32_t unit) {
      for (int k = 0; k < unitSize_; ++k) {
        const int shift = 8 * (bigEndian_ ? unitSize_ - 1 - k : k);
        out.push_back(static_cast<char>((unit >> shift) & 0xFF));
      }
    };
    for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
      const char32_t cp = decodeUTF8(utf8.data() + i, &length);
      if (unitSize_ == 4 || cp < 0x10000) {
        put(cp);
      } else {
        put(0xD800 + ((cp - 0x10000) >> 10));
        put(0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
    }
    return true;
  }

 private:
  int unitSize_;
  bool bigEndian_;
};

class SingleByteEncoder final : public Encoder {
 public:
  explicit SingleByteEncoder(SingleByte kind) : kind_(kind) {}

  bool encode(std::string_view utf8, std::string& out, char32_t* rejected) override {
    const std::size_t start = out.size();
    for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
      const char32_t cp = decodeUTF8(utf8.data() + i, &length);
      const int byte = singleByteOf(kind_, cp);
      if (byte < 0) {
        out.resize(start);
        *rejected = cp;
        return false;
      }
      out.push_back(static_cast<char>(byte));
    }
    return true;
  }

 private:
  SingleByte kind_;
};

// Everything else goes through the C library's iconv. Each piece starts and ends in the
// encoding's initial shift state, so pieces can be joined. Some of iconv's tables are not each
// other's inverse (EUC-JP writes U+00A5 as the byte Shift JIS reads as it, and which EUC-JP reads
// as a backslash), so every piece is read back through the reader's decoder: a character that
// would come back as another is refused like one that has no form at all.
class IconvEncoder final : public Encoder {
 public:
  IconvEncoder(iconv_t cd, std::unique_ptr<Decoder> reader) : cd_(cd), reader_(std::move(reader)) {}
  ~IconvEncoder() override { iconv_close(cd_); }
  IconvEncoder(const IconvEncoder&) = delete;
  IconvEncoder& operator=(const IconvEncoder&) = delete;

  bool encode(std::string_view utf8, std::string& out, char32_t* rejected) override {
    const std::size_t start = out.size();
    if (!convert(utf8, out, rejected)) return false;
    if (readsBackAs(std::string_view(out).substr(start), utf8)) return true;
    // Text can come back composed otherwise (Windows-1258 joins a letter and its mark); only a
    // character that comes back as another on its own is a loss.
    std::string one;
    for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
      const char32_t cp = decodeUTF8(utf8.data() + i, &length);
      one.clear();
      if (convert(utf8.substr(i, length), one, rejected) &&
          readsBackAs(one, utf8.substr(i, length))) {
        continue;
      }
      *rejected = cp;
      out.resize(start);
      return false;
    }
    return true;
  }

 private:
  // Appends `utf8` converted; false, with nothing appended, when a character has no form.
  bool convert(std::string_view utf8, std::string& out, char32_t* rejected) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    const std::size_t start = out.size();
    char* input = const_cast<char*>(utf8.data());
    std::size_t inputLeft = utf8.size();
    std::size_t room = 4 * utf8.size() + 16;
    for (bool flushed = false; !flushed;) {
      const std::size_t used = out.size();
      out.resize(used + room);
      char* output = out.data() + used;
      std::size_t outputLeft = room;
      std::size_t done = iconv(cd_, &input, &inputLeft, &output, &outputLeft);
      if (done != static_cast<std::size_t>(-1) && inputLeft == 0) {
        done = iconv(cd_, nullptr, nullptr, &output, &outputLeft);  // back to the initial state
        flushed = done != static_cast<std::size_t>(-1);
      }
      const int failure = done == static_cast<std::size_t>(-1) ? errno : 0;
      out.resize(out.size() - outputLeft);
      // A positive count means characters were replaced by a substitute: a loss, refused too.
      if (failure == E2BIG) continue;
      if (failure != 0 || done != 0) {
        std::size_t length = 0;
        *rejected = inputLeft > 0 ? decodeUTF8(input, &length) : 0xFFFD;
        out.resize(start);
        return false;
      }
    }
    return true;
  }

  // Whether the reader's decoder turns `bytes` into exactly `utf8`.
  bool readsBackAs(std::string_view bytes, std::string_view utf8) {
    back_.resize(reader_->maxOutput(bytes.size()) + Decoder::kMaxFinishOutput);
    const DecodeResult r = reader_->decode(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                           bytes.size(), back_.data());
    const std::size_t held = reader_->finish(back_.data() + r.produced);  // also resets it
    return r.consumed == bytes.size() && !r.invalid &&
           std::string_view(back_.data(), r.produced + held) == utf8;
  }

  iconv_t cd_;
  std::unique_ptr<Decoder> reader_;
  std::string back_;
};

std::string describeCodePoint(char32_t cp) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
  return text;
}

}  // namespace

std::unique_ptr<Encoder> makeEncoder(StringEncoding encoding) {
  switch (encoding) {
    case kEncodingNone:
    case kEncodingUTF8:
      return std::make_unique<UTFEncoder>(1, false);
    case kEncodingUTF16BE:
    case kEncodingUTF16LE:
      return std::make_unique<UTFEncoder>(2, encoding == kEncodingUTF16BE);
    case kEncodingUTF32BE:
    case kEncodingUTF32LE:
      return std::make_unique<UTFEncoder>(4, encoding == kEncodingUTF32BE);
    default:
      break;
  }
  if (const std::optional<SingleByte> kind = singleByteKind(encoding)) {
    return std::make_unique<SingleByteEncoder>(*kind);
  }
  const EncodingEntry* entry = findEncoding(encoding);
  std::unique_ptr<Decoder> reader = makeDecoder(encoding);
  if (entry == nullptr || reader == nullptr) return nullptr;
  iconv_t cd = iconv_open(entry->iconvName, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<IconvEncoder>(cd, std::move(reader));
}

std::string describeEncodingFailure(StringEncoding encoding, char32_t rejected) {
  return "the character " + describeCodePoint(rejected) + " cannot be represented in " +
         encodingName(encoding);
}

std::optional<std::string> encodeText(std::string_view utf8, StringEncoding encoding,
                                      std::string* why) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
  bool invalid = false;
  if (validUTF8Prefix(bytes, utf8.size(), &invalid) != utf8.size()) {
    *why = "the text is not valid UTF-8";
    return std::nullopt;
  }
  const std::unique_ptr<Encoder> encoder = makeEncoder(encoding);
  if (!encoder) {
    *why = encodingName(encoding) + " is not supported";
    return std::nullopt;
  }
  std::string out;
  char32_t rejected = 0;
  if (!encoder->encode(utf8, out, &rejected)) {
    *why = describeEncodingFailure(encoding, rejected);
    return std::nullopt;
  }
  return out;
}

}  // namespace csv::detail
