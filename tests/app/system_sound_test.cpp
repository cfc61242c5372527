#include "platform/system_sound.hpp"

#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>
#include <cstdlib>

namespace quorin {
namespace {

std::uint32_t le32(const QByteArray& b, int at) {
  return qFromLittleEndian<std::uint32_t>(b.constData() + at);
}
std::uint16_t le16(const QByteArray& b, int at) {
  return qFromLittleEndian<std::uint16_t>(b.constData() + at);
}

TEST(ClickSoundTest, IsAShortAudibleMonoPcmWave) {
  QFile file(":/sounds/click.wav");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray wav = file.readAll();
  ASSERT_GE(wav.size(), 44);
  EXPECT_EQ(wav.mid(0, 4), "RIFF");
  EXPECT_EQ(le32(wav, 4), static_cast<std::uint32_t>(wav.size() - 8));
  EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
  EXPECT_EQ(le16(wav, 20), 1);  // PCM
  EXPECT_EQ(le16(wav, 22), 1);  // mono
  const std::uint32_t rate = le32(wav, 24);
  EXPECT_EQ(le16(wav, 34), 16);
  EXPECT_EQ(wav.mid(36, 4), "data");
  const std::uint32_t bytes = le32(wav, 40);
  ASSERT_EQ(bytes, static_cast<std::uint32_t>(wav.size() - 44));

  const double seconds = bytes / 2.0 / rate;
  EXPECT_GT(seconds, 0.01);
  EXPECT_LT(seconds, 0.1);  // a click, not a beep
  int peak = 0;
  for (std::uint32_t i = 0; i < bytes; i += 2) {
    peak = std::max(peak, std::abs(static_cast<std::int16_t>(le16(wav, 44 + static_cast<int>(i)))));
  }
  EXPECT_GT(peak, 8000);  // audible
  // Starts and ends near silence, so the speaker does not pop.
  EXPECT_LT(std::abs(static_cast<std::int16_t>(le16(wav, 44))), 500);
  EXPECT_LT(std::abs(static_cast<std::int16_t>(le16(wav, static_cast<int>(wav.size()) - 2))), 500);
}

TEST(SystemSoundTest, PlaysWithoutBlockingOrFailingWhateverTheOutput) {
  SystemSound click;
  EXPECT_EQ(click.source(), QUrl("qrc:/sounds/click.wav"));
  click.play();
  click.play();
  EXPECT_EQ(click.playCount(), 2);

  SystemSound missing(QUrl("qrc:/sounds/no-such-sound.wav"));
  missing.play();  // a sound that cannot load stays silent
  EXPECT_EQ(missing.playCount(), 1);
}

}  // namespace
}  // namespace quorin
