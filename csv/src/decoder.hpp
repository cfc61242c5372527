// Strict decoders from the supported encodings into UTF-8, usable on text that arrives in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "csv/string_encoding.hpp"

namespace csv::detail {

// Validates UTF-8: the length of the longest prefix of [p, p+n) made of complete, valid
// sequences (no overlong forms, no surrogates, nothing above U+10FFFF). *invalid is set when it
// stops at a sequence that no further byte can complete; otherwise the rest is an incomplete
// sequence that may be completed by the bytes that follow.
std::size_t validUTF8Prefix(const std::uint8_t* p, std::size_t n, bool* invalid);

// Outcome of one decode call.
struct DecodeResult {
  std::size_t consumed = 0;  // input bytes turned into text
  std::size_t produced = 0;  // UTF-8 bytes written
  bool invalid = false;      // stopped before a sequence that can never decode
};

// Decodes one encoding into UTF-8. Input may be cut anywhere: an incomplete sequence at the end is
// left unconsumed (not invalid) for the next call, together with the bytes that follow it.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes [in, in+n) into out, which has room for maxOutput(n) bytes.
  virtual DecodeResult decode(const std::uint8_t* in, std::size_t n, char* out) = 0;
  // The most UTF-8 bytes that n input bytes can produce.
  virtual std::size_t maxOutput(std::size_t n) const { return 4 * n + 16; }
  // At the end of the input: writes into out, which has room for kMaxFinishOutput bytes, the
  // text the decoder still holds back and returns its length. Some decoders keep the last
  // character until they see whether a combining mark follows it.
  virtual std::size_t finish(char* /*out*/) { return 0; }
  static constexpr std::size_t kMaxFinishOutput = 32;
};

// A decoder for `encoding` other than UTF-8 (which is validated in place); null when the encoding
// is not supported.
std::unique_ptr<Decoder> makeDecoder(StringEncoding encoding);

// The encoding's name for messages: "UTF-8", "Mac OS Roman", or its code.
std::string encodingName(StringEncoding encoding);

// Encodes UTF-8 text into one encoding, piece by piece; each piece is whole characters and starts
// and ends in the encoding's initial state, so encoded pieces can be joined.
class Encoder {
 public:
  virtual ~Encoder() = default;
  // Appends valid UTF-8 `utf8`, encoded, to `out`. When a character has no form in the encoding,
  // or one that its decoder reads as another character, nothing is appended, *rejected receives
  // it, and the result is false.
  virtual bool encode(std::string_view utf8, std::string& out, char32_t* rejected) = 0;
};

// An encoder for `encoding` (kEncodingNone meaning UTF-8); null when it is not supported. Every
// encoding that makeDecoder reads can be written.
std::unique_ptr<Encoder> makeEncoder(StringEncoding encoding);
// "the character U+XXXX cannot be represented in <encoding>".
std::string describeEncodingFailure(StringEncoding encoding, char32_t rejected);

// Converts UTF-8 text into `encoding` (kEncodingNone meaning UTF-8). nullopt, with *why set,
// when the text is not valid UTF-8, the encoding is not supported, or a character of the text
// cannot be represented in it.
std::optional<std::string> encodeText(std::string_view utf8, StringEncoding encoding,
                                      std::string* why);

}  // namespace csv::detail
