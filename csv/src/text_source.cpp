#include "text_source.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace csv::detail {
namespace {

// Read ahead at most this many chunks per fill, and never more than kMaxReadAhead bytes.
constexpr std::size_t kReadAheadChunks = 16;
constexpr std::size_t kMaxReadAhead = 64 * 1024;

std::size_t readAheadBytes(std::uint32_t chunkSize) {
  return std::max<std::size_t>(chunkSize,
                               std::min<std::size_t>(kReadAheadChunks * chunkSize, kMaxReadAhead));
}

}  // namespace

std::span<const std::uint8_t> TextSource::readSample(std::size_t size, std::uint32_t chunkSize) {
  // The sample is the same whatever the stream returns per read, so detection cannot depend on
  // how the source happens to be split.
  while (raw_.size() < size && !bytes_.ended()) {
    const std::size_t old = raw_.size();
    const std::size_t ask = std::min<std::size_t>(chunkSize, size - old);
    raw_.resize(old + ask);
    raw_.resize(old + bytes_.read(raw_.data() + old, ask));
  }
  return raw_;
}

void TextSource::dropUndecoded(std::size_t count) {
  count = std::min(count, raw_.size());
  raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(count));
  sourceOffset_ += count;
}

void TextSource::setEncoding(StringEncoding encoding) {
  encoding_ = encoding;
  // An empty source leaves no encoding (0); there is nothing to decode then, so UTF-8 serves.
  utf8_ = encoding == kEncodingUTF8 || encoding == kEncodingNone;
  decoder_ = utf8_ ? nullptr : makeDecoder(encoding);
  ensureCapacity(kMaxReadAhead + raw_.size());
  if (utf8_ && !raw_.empty()) {
    std::memcpy(text_ + filled_, raw_.data(), raw_.size());
    filled_ += raw_.size();
    raw_.clear();
  }
  decodeAvailable();
  if (bytes_.ended()) finishInput();
}

bool TextSource::fill(std::size_t keepFrom, std::uint32_t chunkSize) {
  if (keepFrom > 0) {
    std::memmove(text_, text_ + keepFrom, filled_ - keepFrom);
    committed_ -= keepFrom;
    filled_ -= keepFrom;
  }
  const std::size_t before = committed_;
  const std::size_t target = readAheadBytes(chunkSize);
  std::size_t readNow = 0;
  while (!exhausted()) {
    const std::size_t got = readChunk(chunkSize);
    readNow += got;
    decodeAvailable();
    // Stop once there is new text and either the read-ahead is full or the stream returned less
    // than asked (it may have nothing more ready; waiting for it would only delay the caller).
    if (committed_ > before && (got < chunkSize || readNow >= target)) break;
  }
  if (bytes_.ended() && !stopped_) finishInput();
  return committed_ > before;
}

void TextSource::ensureCapacity(std::size_t bytes) {
  if (bytes <= capacity_ && text_ != nullptr) return;
  const std::size_t capacity = std::max(bytes, 2 * capacity_);
  std::unique_ptr<char[]> grown(new char[kPadding + capacity + kPadding]);
  char* text = grown.get() + kPadding;
  std::memset(grown.get(), 0, kPadding);
  std::memset(text + capacity, 0, kPadding);
  if (text_ != nullptr) std::memcpy(text, text_, filled_);
  storage_ = std::move(grown);
  text_ = text;
  capacity_ = capacity;
}

std::size_t TextSource::readChunk(std::uint32_t chunkSize) {
  if (utf8_) {
    ensureCapacity(filled_ + chunkSize);
    const std::size_t got =
        bytes_.read(reinterpret_cast<std::uint8_t*>(text_ + filled_), chunkSize);
    filled_ += got;
    return got;
  }
  const std::size_t old = raw_.size();
  raw_.resize(old + chunkSize);
  const std::size_t got = bytes_.read(raw_.data() + old, chunkSize);
  raw_.resize(old + got);
  return got;
}

void TextSource::decodeAvailable() {
  if (stopped_) return;
  if (utf8_) {
    bool invalid = false;
    const std::size_t valid = validUTF8Prefix(
        reinterpret_cast<const std::uint8_t*>(text_ + committed_), filled_ - committed_, &invalid);
    committed_ += valid;
    sourceOffset_ += valid;
    if (invalid) failDecoding(committed_, DecodeProblem::kInvalid);
    return;
  }
  if (!decoder_) {
    if (!raw_.empty()) failDecoding(0, DecodeProblem::kUnsupported);
    return;
  }
  std::size_t used = 0;
  while (used < raw_.size()) {
    ensureCapacity(committed_ + decoder_->maxOutput(raw_.size() - used));
    const DecodeResult r =
        decoder_->decode(raw_.data() + used, raw_.size() - used, text_ + committed_);
    committed_ += r.produced;
    filled_ = committed_;
    used += r.consumed;
    sourceOffset_ += r.consumed;
    if (r.invalid) {
      raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(used));
      failDecoding(0, DecodeProblem::kInvalid);
      return;
    }
    if (r.consumed == 0) break;  // an incomplete sequence waits for the next read
  }
  raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(used));
}

void TextSource::finishInput() {
  // A read failure explains everything after it; only a clean end makes leftovers an error.
  if (stopped_ || bytes_.failure()) return;
  const bool leftover = utf8_ ? filled_ > committed_ : !raw_.empty();
  if (leftover) {
    failDecoding(utf8_ ? committed_ : 0, DecodeProblem::kIncomplete);
  } else if (decoder_) {
    ensureCapacity(committed_ + Decoder::kMaxFinishOutput);
    committed_ += decoder_->finish(text_ + committed_);
    filled_ = committed_;
  }
}

void TextSource::failDecoding(std::size_t badOffset, DecodeProblem problem) {
  // The first undecodable byte, for the message: in the text buffer (UTF-8) or in raw_.
  const unsigned first =
      utf8_ ? static_cast<unsigned char>(text_[badOffset]) : (raw_.empty() ? 0u : raw_[0]);
  const unsigned long long offset = sourceOffset_;
  const std::string name = encodingName(encoding_);
  char detail[200];
  switch (problem) {
    case DecodeProblem::kInvalid:
      std::snprintf(detail, sizeof detail, "byte %llu (0x%02X) is not valid %s", offset, first,
                    name.c_str());
      break;
    case DecodeProblem::kIncomplete:
      // "an ISO-2022-JP sequence", "a UTF-8 sequence"
      std::snprintf(detail, sizeof detail,
                    "the input ends inside %s %s sequence that starts at byte %llu (0x%02X)",
                    std::strchr("AEIOe", name[0]) != nullptr ? "an" : "a", name.c_str(), offset,
                    first);
      break;
    case DecodeProblem::kUnsupported:
      std::snprintf(detail, sizeof detail, "%s is not supported", name.c_str());
      break;
  }
  Error error = Error::csv(CSVErrorCodeInput, "unable to interpret current chunk as a string");
  error.underlying = std::make_shared<const Error>(Error::csv(CSVErrorCodeInput, detail));
  decodeFailure_ = std::move(error);
  stopped_ = true;
  filled_ = committed_;
  raw_.clear();
}

}  // namespace csv::detail
