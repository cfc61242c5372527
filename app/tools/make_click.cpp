// Writes the kiosk's key click: a 30 ms mono 16-bit WAV, a short woody "tock" made of a damped
// low tone and a damped high tone. Synthesised at build time so that no recording is shipped.
// Usage: quorin_make_click OUTPUT.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr double kSeconds = 0.030;

void put16(std::vector<char>& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void put32(std::vector<char>& out, std::uint32_t v) {
  put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  put16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
    return 2;
  }
  const auto frames = static_cast<std::uint32_t>(kSampleRate * kSeconds);
  std::vector<std::int16_t> samples(frames);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    const double low = std::sin(2 * std::numbers::pi * 320 * t) * std::exp(-t / 0.006);
    const double high = std::sin(2 * std::numbers::pi * 2100 * t) * std::exp(-t / 0.0025);
    // A 1 ms fade-in keeps the speaker from popping on the first sample.
    const double attack = std::min(1.0, t / 0.001);
    samples[i] =
        static_cast<std::int16_t>(std::lround(attack * (0.55 * low + 0.35 * high) * 32767));
  }

  const std::uint32_t dataBytes = frames * 2;
  std::vector<char> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  put32(out, 36 + dataBytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(out, 16);               // fmt chunk size
  put16(out, 1);                // PCM
  put16(out, 1);                // mono
  put32(out, kSampleRate);      // frames per second
  put32(out, kSampleRate * 2);  // bytes per second
  put16(out, 2);                // bytes per frame
  put16(out, 16);               // bits per sample
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put32(out, dataBytes);
  for (std::int16_t s : samples) put16(out, static_cast<std::uint16_t>(s));

  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "quorin_make_click: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
