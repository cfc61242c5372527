#include "grapheme.hpp"

#include <utf8proc.h>

namespace csv::detail {

std::size_t encodeUTF8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

namespace {

std::uint8_t computeCodePointFlags(char32_t cp) {
  // One property look-up gives both the category and the break class; the table of the whole
  // BMP is built from them at first use, so this runs 65,536 times in every process.
  const utf8proc_property_t* property = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp));
  std::uint8_t flags = 0;
  const auto category = static_cast<utf8proc_category_t>(property->category);
  if (category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
      category == UTF8PROC_CATEGORY_ZP) {
    flags |= kWhitespace;
  }
  const int boundclass = property->boundclass;
  if (boundclass == UTF8PROC_BOUNDCLASS_PREPEND) flags |= kPrepend;
  if (boundclass == UTF8PROC_BOUNDCLASS_EXTEND || boundclass == UTF8PROC_BOUNDCLASS_ZWJ ||
      boundclass == UTF8PROC_BOUNDCLASS_SPACINGMARK) {
    flags |= kJoinsPrevious;
  }
  if (isNewlineCharacter(cp)) flags |= kNewline;
  if (cp == 0x09) flags |= kTab;
  return flags;
}

}  // namespace

bool joinsOnlyMarksAndPrepends(char32_t cp) {
  const int boundclass = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp))->boundclass;
  return boundclass == UTF8PROC_BOUNDCLASS_OTHER || boundclass == UTF8PROC_BOUNDCLASS_CONTROL;
}

namespace {

constexpr std::size_t kFlagBlockCount = 0x110000 / 256;
constexpr std::uint8_t kBlockComputed = 0x80;
std::atomic<std::uint8_t> gFlagBlockSummaries[kFlagBlockCount];
std::atomic<const std::uint8_t*> gFlagBlocks[kFlagBlockCount];

std::uint8_t summarize(char32_t first, char32_t count) {
  std::uint8_t summary = 0;
  for (char32_t cp = first; cp < first + count; ++cp) summary |= computeCodePointFlags(cp);
  return summary;
}

std::uint8_t computeFlagBlock(std::size_t index) {
  auto* flags = new std::uint8_t[256];
  std::uint8_t summary = kBlockComputed;
  for (char32_t i = 0; i < 256; ++i) {
    flags[i] = computeCodePointFlags(static_cast<char32_t>(index << 8) + i);
    summary |= flags[i];
  }
  const std::uint8_t* expected = nullptr;
  if (!gFlagBlocks[index].compare_exchange_strong(expected, flags, std::memory_order_acq_rel)) {
    delete[] flags;  // another thread was first with the same block
  }
  // The block is published before the summary that tells readers to look at it.
  gFlagBlockSummaries[index].store(summary, std::memory_order_release);
  return summary;
}

std::atomic<std::uint8_t> gPairSummaries[kBMPFlags + 0x10000];

// Fills the BMP's flags and every pair summary except those of four-byte characters, which stay
// unknown until met.
bool fillPairSummaries() {
  // The function-local static that runs this publishes the tables to every thread.
  constexpr auto kRelaxed = std::memory_order_relaxed;
  std::atomic<std::uint8_t>* const bmp = gPairSummaries + kBMPFlags;
  for (char32_t cp = 0; cp < 0x10000; ++cp) bmp[cp].store(computeCodePointFlags(cp), kRelaxed);
  for (unsigned b0 = 0; b0 < 0x80; ++b0) {
    for (unsigned b1 = 0; b1 < 0x100; ++b1) {
      gPairSummaries[(b0 << 8) | b1].store(bmp[b0].load(kRelaxed), kRelaxed);
    }
  }
  for (unsigned b0 = 0xC2; b0 <= 0xEF; ++b0) {
    for (unsigned b1 = 0x80; b1 <= 0xBF; ++b1) {
      const char32_t first = b0 < 0xE0 ? ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu)
                                       : ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6);
      std::uint8_t summary = 0;
      for (char32_t cp = first; cp < first + (b0 < 0xE0 ? 1 : 0x40); ++cp) {
        summary |= bmp[cp].load(kRelaxed);
      }
      gPairSummaries[(b0 << 8) | b1].store(summary, kRelaxed);
    }
  }
  for (unsigned b0 = 0xF0; b0 <= 0xF4; ++b0) {
    for (unsigned b1 = 0x80; b1 <= 0xBF; ++b1) {
      gPairSummaries[(b0 << 8) | b1].store(kSummaryUnknown, kRelaxed);
    }
  }
  return true;
}

}  // namespace

const SummaryTable* pairSummaries() {
  static const bool filled = fillPairSummaries();
  (void)filled;
  return gPairSummaries;
}

bool hasCodePointFlag(char32_t cp, std::uint8_t flag) {
  if (cp < 0x10000)
    return (pairSummaries()[kBMPFlags + cp].load(std::memory_order_relaxed) & flag) != 0;
  const std::size_t index = cp >> 8;
  std::uint8_t summary = gFlagBlockSummaries[index].load(std::memory_order_acquire);
  if (summary == 0) summary = computeFlagBlock(index);
  if ((summary & flag) == 0) return false;
  return (gFlagBlocks[index].load(std::memory_order_acquire)[cp & 0xFF] & flag) != 0;
}

bool characterHasFlagSlow(const char* p, std::uint8_t flag) {
  const auto b0 = static_cast<unsigned char>(p[0]);
  const auto b1 = static_cast<unsigned char>(p[1]);
  SummaryTable& summary = gPairSummaries[(static_cast<std::size_t>(b0) << 8) | b1];
  if ((summary.load(std::memory_order_relaxed) & kSummaryUnknown) != 0) {
    // A four-byte character: the 4096 code points that share its first two bytes.
    const auto first = static_cast<char32_t>(((b0 & 0x07u) << 18) | ((b1 & 0x3Fu) << 12));
    summary.store(first < 0x110000 ? summarize(first, 0x1000) : 0, std::memory_order_relaxed);
    if ((summary.load(std::memory_order_relaxed) & flag) == 0) return false;
  }
  std::size_t length = 0;
  return hasCodePointFlag(decodeUTF8(p, &length), flag);
}

std::size_t clusterEnd(const char* text, std::size_t start, std::size_t size, bool final,
                       ClusterScan* progress) {
  std::size_t length = 0;
  char32_t previous;
  std::size_t i;
  // utf8proc's state carries the regional-indicator and emoji-sequence context; it starts afresh
  // at a cluster boundary, which utf8proc documents as safe.
  utf8proc_int32_t state;
  if (progress != nullptr && progress->scanned > 0) {
    previous = progress->previous;
    i = start + progress->scanned;
    state = progress->state;
  } else {
    previous = decodeUTF8(text + start, &length);
    i = start + length;
    state = UTF8PROC_BOUNDCLASS_START;
  }
  while (i < size) {
    const char32_t next = decodeUTF8(text + i, &length);
    if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                         static_cast<utf8proc_int32_t>(next), &state)) {
      if (progress != nullptr) *progress = {};
      return i;
    }
    previous = next;
    i += length;
  }
  if (final) {
    if (progress != nullptr) *progress = {};
    return size;
  }
  if (progress != nullptr) *progress = {i - start, previous, state};
  return kClusterNeedsMoreText;
}

}  // namespace csv::detail
