#include "platform/document_interaction.hpp"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <vector>

namespace quorin {
namespace {

struct RecordingService : OpenInService {
  explicit RecordingService(bool reply) : answer(reply) {}
  bool openFile(const QUrl& url, QWidget* parent) override {
    calls.push_back({url, parent});
    return answer;
  }
  bool answer;
  std::vector<std::pair<QUrl, QWidget*>> calls;
};

TEST(DocumentInteractionTest, HandsTheFileAndTheViewToItsService) {
  QWidget view;
  for (bool answer : {true, false}) {
    auto service = std::make_shared<RecordingService>(answer);
    DocumentInteraction interaction(QUrl("file:///tmp/results.csv"), service);
    EXPECT_EQ(interaction.presentOpenInMenu(QRect(10, 20, 300, 68), &view, true), answer);
    ASSERT_EQ(service->calls.size(), 1u);
    EXPECT_EQ(service->calls[0].first, QUrl("file:///tmp/results.csv"));
    EXPECT_EQ(service->calls[0].second, &view);
  }
  DocumentInteraction nobody(QUrl("file:///tmp/results.csv"), nullptr);
  EXPECT_FALSE(nobody.presentOpenInMenu({}, &view, false));
}

// Without a session bus (no portal) and on a platform that cannot open documents (offscreen),
// nothing can present the file, and the export says so rather than pretending.
TEST(DesktopOpenInServiceTest, FalseWhenNothingCanPresentTheFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("results.csv");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("#,Start Date\n");
  file.close();

  DesktopOpenInService service(QDBusConnection(QStringLiteral("quorin-test-no-bus")), 100);
  EXPECT_FALSE(service.openFile(QUrl::fromLocalFile(path), nullptr));
  EXPECT_FALSE(service.openFile(QUrl::fromLocalFile(dir.filePath("absent.csv")), nullptr));
  EXPECT_FALSE(service.openFile(QUrl("https://example.org/results.csv"), nullptr));
}

}  // namespace
}  // namespace quorin
