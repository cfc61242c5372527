#include "byte_scan.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace csv::detail {
namespace {

// The definition, one byte at a time. The multi-byte newlines are C2 85 (U+0085) and E2 80 A8,
// E2 80 A9 (U+2028, U+2029).
ByteMasks scanScalar(const unsigned char* p, unsigned char delimiter) {
  ByteMasks m;
  for (std::size_t i = 0; i < kScanWindow; ++i) {
    const unsigned char b = p[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (b == '"' || b == '\\') m.quotes |= bit;
    if (b == delimiter) m.delimiters |= bit;
    if ((b >= 0x0A && b <= 0x0D) || (b == 0xC2 && p[i + 1] == 0x85) ||
        (b == 0xE2 && p[i + 1] == 0x80 && (p[i + 2] & 0xFE) == 0xA8)) {
      m.newlines |= bit;
    }
  }
  return m;
}

#if defined(__SSE2__)
inline __m128i bytesSSE2(int b) { return _mm_set1_epi8(static_cast<char>(b)); }
inline std::uint64_t bitsSSE2(__m128i hits) {
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// Adds the 16 bytes at q to the masks, at bit `shift` up.
[[gnu::always_inline]] inline void blockSSE2(const unsigned char* q, __m128i delimiter, int shift,
                                             ByteMasks& m) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i quotes =
      _mm_or_si128(_mm_cmpeq_epi8(v, bytesSSE2('"')), _mm_cmpeq_epi8(v, bytesSSE2('\\')));
  // LF, VT, FF, CR: v - LF, unsigned, is at most CR - LF.
  const __m128i offset = _mm_sub_epi8(v, bytesSSE2(0x0A));
  __m128i newlines = _mm_cmpeq_epi8(_mm_min_epu8(offset, bytesSSE2(0x0D - 0x0A)), offset);
  if (_mm_movemask_epi8(v) != 0) {
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
    const __m128i nel =
        _mm_and_si128(_mm_cmpeq_epi8(v, bytesSSE2(0xC2)), _mm_cmpeq_epi8(v1, bytesSSE2(0x85)));
    const __m128i separators = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(v, bytesSSE2(0xE2)), _mm_cmpeq_epi8(v1, bytesSSE2(0x80))),
        _mm_cmpeq_epi8(_mm_and_si128(v2, bytesSSE2(0xFE)), bytesSSE2(0xA8)));
    newlines = _mm_or_si128(newlines, _mm_or_si128(nel, separators));
  }
  m.quotes |= bitsSSE2(quotes) << shift;
  m.delimiters |= bitsSSE2(_mm_cmpeq_epi8(v, delimiter)) << shift;
  m.newlines |= bitsSSE2(newlines) << shift;
}

ByteMasks scanSSE2(const unsigned char* p, unsigned char delimiter) {
  ByteMasks m;
  const __m128i delimiters = bytesSSE2(delimiter);
  for (int part = 0; part < 4; ++part) blockSSE2(p + 16 * part, delimiters, 16 * part, m);
  return m;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORIN_HAVE_AVX2_SCAN 1
__attribute__((target("avx2"))) inline __m256i bytesAVX2(int b) {
  return _mm256_set1_epi8(static_cast<char>(b));
}
__attribute__((target("avx2"))) inline std::uint64_t bitsAVX2(__m256i hits) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

// Adds the 32 bytes at q to the masks, at bit `shift` up.
__attribute__((target("avx2"), always_inline)) inline void blockAVX2(const unsigned char* q,
                                                                     __m256i delimiter, int shift,
                                                                     ByteMasks& m) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  const __m256i quotes =
      _mm256_or_si256(_mm256_cmpeq_epi8(v, bytesAVX2('"')), _mm256_cmpeq_epi8(v, bytesAVX2('\\')));
  // LF, VT, FF, CR: v - LF, unsigned, is at most CR - LF.
  const __m256i offset = _mm256_sub_epi8(v, bytesAVX2(0x0A));
  __m256i newlines = _mm256_cmpeq_epi8(_mm256_min_epu8(offset, bytesAVX2(0x0D - 0x0A)), offset);
  if (_mm256_movemask_epi8(v) != 0) {
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 2));
    const __m256i nel = _mm256_and_si256(_mm256_cmpeq_epi8(v, bytesAVX2(0xC2)),
                                         _mm256_cmpeq_epi8(v1, bytesAVX2(0x85)));
    const __m256i separators =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v, bytesAVX2(0xE2)),
                                          _mm256_cmpeq_epi8(v1, bytesAVX2(0x80))),
                         _mm256_cmpeq_epi8(_mm256_and_si256(v2, bytesAVX2(0xFE)), bytesAVX2(0xA8)));
    newlines = _mm256_or_si256(newlines, _mm256_or_si256(nel, separators));
  }
  m.quotes |= bitsAVX2(quotes) << shift;
  m.delimiters |= bitsAVX2(_mm256_cmpeq_epi8(v, delimiter)) << shift;
  m.newlines |= bitsAVX2(newlines) << shift;
}

__attribute__((target("avx2"))) ByteMasks scanAVX2(const unsigned char* p,
                                                   unsigned char delimiter) {
  ByteMasks m;
  const __m256i delimiters = bytesAVX2(delimiter);
  blockAVX2(p, delimiters, 0, m);
  blockAVX2(p + 32, delimiters, 32, m);
  return m;
}

bool haveAVX2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

}  // namespace

ByteScanner byteScanner(ScanISA isa) {
  switch (isa) {
    case ScanISA::kScalar:
      return scanScalar;
    case ScanISA::kSSE2:
#if defined(__SSE2__)
      return scanSSE2;
#else
      return nullptr;
#endif
    case ScanISA::kAVX2:
#if defined(QUORIN_HAVE_AVX2_SCAN)
      return haveAVX2() ? scanAVX2 : nullptr;
#else
      return nullptr;
#endif
  }
  return nullptr;
}

ByteScanner bestByteScanner() {
  if (const ByteScanner avx2 = byteScanner(ScanISA::kAVX2)) return avx2;
  if (const ByteScanner sse2 = byteScanner(ScanISA::kSSE2)) return sse2;
  return scanScalar;
}

}  // namespace csv::detail
