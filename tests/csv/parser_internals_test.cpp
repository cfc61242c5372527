// The parser's inner stages, each against an independent statement of its rule: the UTF-8
// validator against a plain decoder, the decoders fed in every split, the grapheme shortcuts
// against utf8proc segmenting the whole text, and the collapse of doubled quotes.
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "decoder.hpp"
#include "field_cleanup.hpp"
#include "grapheme.hpp"

namespace csv::detail {
namespace {

// The longest prefix of complete, valid UTF-8, by the definition: decode code point by code
// point, with utf8proc, which rejects overlong forms, surrogates and values above U+10FFFF.
std::size_t referenceValidPrefix(const std::string& s, bool* invalid) {
  std::size_t i = 0;
  *invalid = false;
  while (i < s.size()) {
    utf8proc_int32_t cp = 0;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                                    static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
    if (n > 0) {
      i += static_cast<std::size_t>(n);
      continue;
    }
    // Invalid here, or only cut short: some continuation would complete it.
    for (const char* tail : {"\x80", "\x80\x80", "\x80\x80\x80", "\x90\x80\x80", "\xA0\x80", "\xBF",
                             "\xBF\xBF", "\xBF\xBF\xBF", "\x8F\x80\x80", "\x9F\x80"}) {
      const std::string completed = s.substr(i) + tail;
      if (utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(completed.data()),
                           static_cast<utf8proc_ssize_t>(completed.size()),
                           &cp) == static_cast<utf8proc_ssize_t>(completed.size())) {
        return i;
      }
    }
    *invalid = true;
    return i;
  }
  return i;
}

// The validator's prefix and verdict for `s` are the definition's.
void expectValidPrefixAsDefined(const std::string& s) {
  bool expectedInvalid = false;
  bool invalid = false;
  const std::size_t expected = referenceValidPrefix(s, &expectedInvalid);
  ASSERT_EQ(validUTF8Prefix(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), &invalid),
            expected)
      << ::testing::PrintToString(s);
  ASSERT_EQ(invalid, expectedInvalid) << ::testing::PrintToString(s);
}

// Long inputs take the vector path; one bad or cut sequence is put at every position of a text
// mixing ASCII and two-, three- and four-byte characters, and of plain ASCII (whose blocks take a
// shortcut), and random pieces are strung together.
TEST(UTF8ValidatorTest, AgreesWithTheDefinition) {
  const std::string unit = "ab\u00E9\u20AC\U0001F600 \u0915\u094D,";
  std::string mixed;
  while (mixed.size() < 300) mixed += unit;
  const char* faults[] = {"\xFF",         "\x80",
                          "\xC3",         "\xE2\x82",
                          "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xC0\xAF",     "\xF0\x9F\x98",
                          "\xE0\x80\x80", "\xF0\x8F\xBF\xBF",
                          "\xEF\xBB\xBF"};
  for (const std::string& text : {mixed, std::string(160, 'a')}) {
    for (std::size_t at = 0; at <= text.size(); ++at) {
      for (const char* fault : faults) {
        ASSERT_NO_FATAL_FAILURE(expectValidPrefixAsDefined(text.substr(0, at) + fault));
        ASSERT_NO_FATAL_FAILURE(
            expectValidPrefixAsDefined(text.substr(0, at) + fault + text.substr(at)));
      }
    }
  }
  std::mt19937 random(7);
  const std::string pieces[] = {"a",    ",",    "\xC3",   "\xA9",      "\x80", "\xBF",
                                "\xE2", "\xED", "\xA0",   "\xF0",      "\x9F", "\xF4",
                                "\x90", "\xFF", "\u20AC", "\U0001F600"};
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const int length = static_cast<int>(random() % 120);
    for (int i = 0; i < length; ++i) s += pieces[random() % std::size(pieces)];
    ASSERT_NO_FATAL_FAILURE(expectValidPrefixAsDefined(s));
  }
}

// Feeding a decoder its input in two pieces, split anywhere, gives the same text as whole.
std::string decodeInTwo(StringEncoding encoding, const std::string& bytes, std::size_t split,
                        bool* invalid) {
  auto decoder = makeDecoder(encoding);
  std::string out;
  std::string pending;
  *invalid = false;
  for (const std::string& piece : {bytes.substr(0, split), bytes.substr(split)}) {
    pending += piece;
    std::string buffer(decoder->maxOutput(pending.size()), '\0');
    const DecodeResult r = decoder->decode(reinterpret_cast<const std::uint8_t*>(pending.data()),
                                           pending.size(), buffer.data());
    out.append(buffer, 0, r.produced);
    pending.erase(0, r.consumed);
    if (r.invalid) {
      *invalid = true;
      break;
    }
  }
  return out;
}

TEST(DecoderTest, EveryEncodingAnySplit) {
  // {encoding, bytes, the text they decode to, whether they end in an invalid sequence}
  const std::tuple<StringEncoding, std::string, std::string, bool> cases[] = {
      {kEncodingUTF16BE, std::string("\x00\xE9\xD8\x3D\xDE\x00\x00,", 8), "\u00E9\U0001F600,",
       false},
      {kEncodingUTF16LE, std::string("\xE9\x00\x3D\xD8\x00\xDE,\x00", 8), "\u00E9\U0001F600,",
       false},
      {kEncodingUTF16LE, std::string("a\x00\x00\xDC", 4), "a", true},    // lone low half
      {kEncodingUTF16BE, std::string("\xD8\x3D\x00\x61", 4), "", true},  // high half alone
      {kEncodingUTF32BE, std::string("\x00\x01\xF6\x00\x00\x00\x00\x41", 8), "\U0001F600A", false},
      {kEncodingUTF32LE, std::string("\x41\x00\x00\x00\x00\xD8\x00\x00", 8), "A", true},
      {kEncodingUTF32LE, std::string("\x00\x00\x11\x00", 4), "", true},  // above U+10FFFF
      {kEncodingMacOSRoman, "caf\x8E\xA5\xF0", "caf\u00E9\u2022\uF8FF", false},
      {kEncodingISOLatin1, "\xE9\xFF", "\u00E9\u00FF", false},
      {kEncodingASCII, "ab\x80", "ab", true},
      {0x80000A02, "\xC1\xC2", "\u0430\u0431", false},  // KOI8-R through iconv
      {8, "\x82\xA0", "\u3042", false},                 // Shift JIS, a two-byte sequence
  };
  for (const auto& [encoding, bytes, text, invalid] : cases) {
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      SCOPED_TRACE(encodingName(encoding) + " split " + std::to_string(split));
      bool found = false;
      EXPECT_EQ(decodeInTwo(encoding, bytes, split, &found), text);
      EXPECT_EQ(found, invalid);
    }
  }
  EXPECT_EQ(makeDecoder(12345), nullptr);
}

// Boundaries found by utf8proc over the whole text, with one state carried from start to end.
std::vector<std::size_t> referenceBoundaries(const std::string& s) {
  std::vector<std::size_t> out;
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  std::size_t i = 0;
  while (i < s.size()) {
    utf8proc_int32_t cp = 0;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                                    static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
    if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, cp, &state)) out.push_back(i);
    previous = cp;
    i += static_cast<std::size_t>(n);
  }
  out.push_back(s.size());
  return out;
}

const std::vector<std::string> kClusterAlphabet = {
    "a",          ",",          "\"",         "\\",         "#",      "\r",     "\n",
    "\t",         " ",          "\u0301",     "\u200D",     "\uFE0F", "\u0600", "\u0903",
    "\U0001F1EB", "\U0001F1F7", "\U0001F469", "\U0001F3FD", "\u1100", "\u1161", "\u11A8",
    "\uAC00",     "\u0915",     "\u094D",     "\u2028",     "\u0085", "\u00E9", "\u6771"};

TEST(GraphemeTest, ClusterEndMatchesSegmentingTheWholeText) {
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const int length = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) s += kClusterAlphabet[random() % kClusterAlphabet.size()];
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at < s.size();) {
      at = clusterEnd(s.data(), at, s.size(), true);
      found.push_back(at);
    }
    ASSERT_EQ(found, referenceBoundaries(s)) << ::testing::PrintToString(s);
    // The text arriving a code point at a time: each search goes on where the last one stopped.
    std::vector<std::size_t> resumed;
    ClusterScan progress;
    for (std::size_t at = 0; at < s.size();) {
      std::size_t end = kClusterNeedsMoreText;
      for (std::size_t size = at + 1; end == kClusterNeedsMoreText; ++size) {
        if (size < s.size() && (static_cast<unsigned char>(s[size]) & 0xC0) == 0x80) continue;
        end = clusterEnd(s.data(), at, size, size == s.size(), &progress);
      }
      resumed.push_back(at = end);
    }
    ASSERT_EQ(resumed, found) << ::testing::PrintToString(s);
  }
}

TEST(GraphemeTest, ShortcutsAgreeWithClusterEnd) {
  for (const std::string& first : kClusterAlphabet) {
    for (const std::string& second : kClusterAlphabet) {
      const std::string s = first + second + "a";
      const std::size_t end = clusterEnd(s.data(), 0, s.size(), true);
      if (static_cast<unsigned char>(s[0]) < 0x80) {
        const std::size_t quick = asciiClusterEnd(s.data(), 0, pairSummaries());
        if (quick != 0) {
          EXPECT_EQ(quick, end) << ::testing::PrintToString(s);
        }
      }
      // The last character before a position, found without branching.
      std::string padded = "____" + first + second;
      const char* p = padded.data() + padded.size();
      EXPECT_EQ(characterStartBefore(p), codePointStartBefore(p));
    }
  }
  EXPECT_FALSE(clusterEnd("a\u0301", 0, 1, false) != kClusterNeedsMoreText);
}

TEST(GraphemeTest, FlagsMatchUtf8proc) {
  for (char32_t cp = 0; cp < 0x30000; cp += (cp < 0x3100 ? 1 : 61)) {
    const auto* property = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp));
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
    const bool whitespace = category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
                            category == UTF8PROC_CATEGORY_ZP;
    ASSERT_EQ(hasCodePointFlag(cp, kPrepend), property->boundclass == UTF8PROC_BOUNDCLASS_PREPEND)
        << static_cast<unsigned>(cp);
    ASSERT_EQ(hasCodePointFlag(cp, kWhitespace), whitespace) << static_cast<unsigned>(cp);
    if (cp >= 0x80 && (cp < 0xD800 || cp > 0xDFFF)) {
      char bytes[4];
      encodeUTF8(cp, bytes);
      // A lead byte's summary never hides a flag of one of its characters.
      for (const std::uint8_t flag : {kPrepend, kWhitespace, kJoinsPrevious, kNewline}) {
        if (hasCodePointFlag(cp, flag)) {
          ASSERT_TRUE(mayHaveFlag(bytes, flag, pairSummaries())) << static_cast<unsigned>(cp);
          ASSERT_TRUE(characterHasFlag(bytes, flag)) << static_cast<unsigned>(cp);
        }
      }
    }
  }
  EXPECT_TRUE(isWhitespaceOrNewline(0x3000));
  EXPECT_TRUE(isWhitespaceOrNewline(0x2029));
  EXPECT_FALSE(isWhitespaceOrNewline(0x200B));  // zero width space is Cf
  EXPECT_FALSE(isWhitespaceOrNewline(0x180E));  // no longer Zs
}

// A run of quotes anywhere in a text longer than the copying blocks collapses pair by pair,
// scanning forward: one or two quotes leave one, three or four leave two. A padded text is
// followed by quotes, which must not count.
TEST(FieldCleanupTest, DoubledQuotesCollapseAtEveryPosition) {
  const std::string text(40, 'a');
  for (std::size_t at = 0; at <= text.size(); ++at) {
    for (std::size_t quotes = 1; quotes <= 4; ++quotes) {
      const std::string raw = text.substr(0, at) + std::string(quotes, '"') + text.substr(at);
      const std::string padded = raw + std::string(kCollapseSlack, '"');
      for (std::size_t length = at + quotes; length <= raw.size(); length += 7) {
        const std::string expected = text.substr(0, at) + std::string((quotes + 1) / 2, '"') +
                                     text.substr(at, length - at - quotes);
        for (const bool pad : {false, true}) {
          std::string out(length + kCollapseSlack, 'x');
          const std::string_view in(pad ? padded.data() : raw.data(), length);
          out.resize(collapseDoubledQuotes(in, out.data(), pad));
          EXPECT_EQ(out, expected) << raw.substr(0, length) << (pad ? " padded" : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace csv::detail
