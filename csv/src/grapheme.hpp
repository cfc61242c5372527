// Code points and grapheme clusters over validated UTF-8 text (UAX #29 through utf8proc).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace csv::detail {

// Decodes the code point at p; the text must be valid UTF-8. *length receives its byte count.
inline char32_t decodeUTF8(const char* p, std::size_t* length) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const unsigned b = s[0];
  if (b < 0x80) {
    *length = 1;
    return b;
  }
  if (b < 0xE0) {
    *length = 2;
    return static_cast<char32_t>(((b & 0x1Fu) << 6) | (s[1] & 0x3Fu));
  }
  if (b < 0xF0) {
    *length = 3;
    return static_cast<char32_t>(((b & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu));
  }
  *length = 4;
  return static_cast<char32_t>(((b & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) |
                               ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu));
}

// The length of a UTF-8 character from its first byte (valid text only), from its high nibble.
inline std::size_t utf8Length(unsigned char lead) {
  constexpr std::uint8_t kLengths[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};
  return kLengths[lead >> 4];
}

// The start of the code point that ends just before `end` (valid UTF-8, at least one code point).
inline const char* codePointStartBefore(const char* end) {
  const char* p = end - 1;
  while ((static_cast<unsigned char>(*p) & 0xC0u) == 0x80u) --p;
  return p;
}

// Writes the UTF-8 form of a scalar value to out (room for 4 bytes); returns its length.
std::size_t encodeUTF8(char32_t cp, char* out);

// The newline set: U+000A to U+000D, U+0085, U+2028, U+2029.
inline bool isNewlineCharacter(char32_t cp) {
  return (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

// Properties of a code point, from utf8proc's tables.
enum CodePointFlag : std::uint8_t {
  kWhitespace = 1,     // general category Z (Zs, Zl, Zp)
  kPrepend = 2,        // Grapheme_Cluster_Break=Prepend: joins the character after it (GB9b)
  kJoinsPrevious = 4,  // Extend, ZWJ or SpacingMark: joins any non-control before it (GB9, 9a)
  kNewline = 8,        // in the newline set
  kTab = 16,           // U+0009, the one white space that is neither Z nor a newline
};
// The white-space-and-newline set.
inline constexpr std::uint8_t kTrimmed = kWhitespace | kNewline | kTab;

// Two caches, so that most questions cost one load and no decoding, and a process pays only for
// the scripts it meets. Thread-safe.
//  - Per pair of first bytes of a character, the union of the flags of every code point that
//    starts with them: exact for ASCII (its own flags) and two-byte characters, per 64 code
//    points for three-byte ones, per 4096 code points for four-byte ones (each filled when first
//    met; kSummaryUnknown until then). The usual answer, "no character of this script is a mark",
//    is one load of a 64 KiB table, whatever the length of the character, so it costs no branch
//    on the script. Behind it, at kBMPFlags, the flags of every code point below U+10000: a
//    three-byte character of a script that has marks is answered by a second load, not a call.
//    Both are built whole on first use (65,536 look-ups).
//  - Per block of 256 code points above U+FFFF, their flags and the union of them, filled when
//    first needed.
inline constexpr std::uint8_t kSummaryUnknown = 0x40;
inline constexpr std::size_t kBMPFlags = 0x10000;
using SummaryTable = std::atomic<std::uint8_t>;
// 65536 pair summaries, indexed by (byte 0 << 8) | byte 1, then the BMP's flags at kBMPFlags.
const SummaryTable* pairSummaries();

// The union of the flags of every code point that starts like the (valid) character at p
// (kSummaryUnknown: not known yet). Reads p[1] even for a one-byte character.
inline std::uint8_t pairSummary(const char* p, const SummaryTable* pairs) {
  const std::size_t index = (static_cast<std::size_t>(static_cast<unsigned char>(p[0])) << 8) |
                            static_cast<unsigned char>(p[1]);
  return pairs[index].load(std::memory_order_relaxed);
}

// False when no code point that starts like the (valid) character at p has the flag; true when
// one may. Reads p[1] even for a one-byte character. `pairs` is pairSummaries(), which hot loops
// keep at hand.
inline bool mayHaveFlag(const char* p, std::uint8_t flag, const SummaryTable* pairs) {
  return (pairSummary(p, pairs) & (flag | kSummaryUnknown)) != 0;
}

// True when the code point has the flag. Decoded text holds no value above U+10FFFF.
bool hasCodePointFlag(char32_t cp, std::uint8_t flag);

// The exact answer after mayHaveFlag said "may": a three-byte character from the BMP's flags, a
// four-byte one after filling its summary on first meeting it.
bool characterHasFlagSlow(const char* p, std::uint8_t flag);

// True when the UTF-8 character at p (valid; p[1] readable) has the flag. ASCII and two-byte
// summaries are exact; a three-byte character of a script with such characters costs a second
// load, and a four-byte one a call, kept out of line so that the hot loops stay small.
inline bool characterHasFlag(const char* p, std::uint8_t flag, const SummaryTable* pairs) {
  const std::uint8_t summary = pairSummary(p, pairs);
  if ((summary & (flag | kSummaryUnknown)) == 0) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  if (s[0] < 0xE0) return (summary & flag) != 0;
  if (s[0] >= 0xF0) return characterHasFlagSlow(p, flag);
  const std::size_t cp = ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
  return (pairs[kBMPFlags + cp].load(std::memory_order_relaxed) & flag) != 0;
}
inline bool characterHasFlag(const char* p, std::uint8_t flag) {
  return characterHasFlag(p, flag, pairSummaries());
}

// The start of the character that ends just before p, without branching on its length. Reads
// the four bytes before p, which must be readable (TextSource keeps padding before its text);
// bytes before the character's own start do not matter.
inline const char* characterStartBefore(const char* p) {
  std::uint32_t word;
  std::memcpy(&word, p - 4, 4);
  word = __builtin_bswap32(word);  // p[-1] in the low byte: shifts then walk backwards
  const std::uint32_t continuation = word & ~(word << 1) & 0x80808080u;
  // Trailing continuation bytes, counted from p[-1]: the first byte that is not one is the lead.
  const std::uint32_t notContinuation = ~continuation & 0x80808080u;
  return p - 1 - (__builtin_ctz(notContinuation) >> 3);
}

// The white-space-and-newline set: general category Z, U+0009 to U+000D and U+0085.
inline bool isWhitespaceOrNewline(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return hasCodePointFlag(cp, kTrimmed);
}

// True for code points of Grapheme_Cluster_Break Other or Control: no character joins them into
// one cluster but a mark after them or a Prepend before them, which join any character. The
// others join a neighbour of their own kinds too (Hangul jamo and syllables, an emoji after a
// joiner, regional indicators in pairs).
bool joinsOnlyMarksAndPrepends(char32_t cp);

// True for code points of Grapheme_Cluster_Break=Prepend, which join the character after them.
inline bool isPrepend(char32_t cp) { return cp >= 0x80 && hasCodePointFlag(cp, kPrepend); }

// The end of the cluster starting with an ASCII code point at text[start] whose next code point
// (complete, at start + 1) exists: CR LF is one cluster (GB3); otherwise a following ASCII code
// point, or anything after a control (GB4), starts a new one, and a non-ASCII one joins only if it
// extends (GB9, GB9a). Returns 0 when the cluster may be longer and clusterEnd must decide.
inline std::size_t asciiClusterEnd(const char* text, std::size_t start, const SummaryTable* pairs) {
  const auto first = static_cast<unsigned char>(text[start]);
  const auto second = static_cast<unsigned char>(text[start + 1]);
  const std::size_t end = start + 1 + static_cast<std::size_t>(first == '\r' && second == '\n');
  // An ASCII second code point has no such flag, which the table says without a test on its
  // length (mispredicted after every other delimiter in mixed text); a control first never joins
  // what follows.
  if (first >= 0x20 && first != 0x7F && characterHasFlag(text + start + 1, kJoinsPrevious, pairs)) {
    return 0;
  }
  return end;
}

// Marker returned by clusterEnd when the text ends before the cluster is known to end.
inline constexpr std::size_t kClusterNeedsMoreText = static_cast<std::size_t>(-1);

// How far the search for a cluster's end got before the text ran out, so that a cluster longer
// than a read (a character with millions of marks) is not searched again from its start after
// every read. `scanned` counts bytes from the cluster's start; zero: not begun.
struct ClusterScan {
  std::size_t scanned = 0;
  char32_t previous = 0;
  std::int32_t state = 0;
};

// The end of the extended grapheme cluster that starts at `start` (a cluster boundary) in
// text[0, size). When the cluster reaches `size` and more text may follow (`final` false) the
// answer is kClusterNeedsMoreText, and `progress` (if given) keeps where the search stopped: the
// next call for the same cluster, with the same text and more after it, goes on from there.
std::size_t clusterEnd(const char* text, std::size_t start, std::size_t size, bool final,
                       ClusterScan* progress = nullptr);

}  // namespace csv::detail
