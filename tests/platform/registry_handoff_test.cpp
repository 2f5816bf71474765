#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QUuid>
#include <memory>

#include "file_handoff_store.h"
#include "platform.h"

using namespace luvrin;

namespace {

// A registry key of the test's own under HKEY_CURRENT_USER, removed afterwards, so that running
// the tests never touches the hand-off value of a show on the same machine.
class TempRegistryKey {
 public:
  TempRegistryKey()
      : name_(QStringLiteral("LUVRIN-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
  }
  ~TempRegistryKey() { QSettings(kSoftware, QSettings::NativeFormat).remove(name_); }
  QString path() const { return kSoftware + u'\\' + name_; }

 private:
  static inline const QString kSoftware = QStringLiteral("HKEY_CURRENT_USER\\Software");
  QString name_;
};

class RegistryHandoff : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::windowsConventions()) GTEST_SKIP() << "the registry is Windows only";
  }
};

}  // namespace

TEST_F(RegistryHandoff, ProgramsUseTheClassicPerUserSettingsKey) {
  EXPECT_EQ(
      RegistryHandoffStore::kDefaultKey,
      QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\TALVEN\\LUVRIN"));
  EXPECT_NE(dynamic_cast<RegistryHandoffStore*>(makeUserHandoffStore().get()), nullptr);
}

TEST_F(RegistryHandoff, ChineseNamesRoundTripAndEveryReadIsFresh) {
  TempRegistryKey key;
  RegistryHandoffStore launcher(key.path());
  RegistryHandoffStore driver(key.path());
  EXPECT_EQ(driver.read(), QString());

  ASSERT_TRUE(launcher.write(QStringLiteral("开场")));
  EXPECT_EQ(driver.read(), QStringLiteral("开场"));
  // A launcher is another process: the driver's reader must not keep an old answer.
  ASSERT_TRUE(RegistryHandoffStore(key.path()).write(QStringLiteral("谢幕 2")));
  EXPECT_EQ(driver.read(), QStringLiteral("谢幕 2"));
  // The value is a plain string named 场景, as other tools see it.
  EXPECT_EQ(QSettings(key.path(), QSettings::NativeFormat).value(QStringLiteral("场景")),
            QVariant(QStringLiteral("谢幕 2")));
}

// The driver is told of a launcher's write as it happens, not at its next poll; every write is
// heard, and nothing after the watch ends. The registry tells through the event loop.
TEST_F(RegistryHandoff, AWatchHearsEveryWriteUntilItEnds) {
  std::unique_ptr<QCoreApplication> app;
  static int argc = 1;
  static char name[] = "platform_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) app = std::make_unique<QCoreApplication>(argc, argv);
  const auto heardWithin = [](const int& heard, int want) {
    QDeadlineTimer deadline(5000);
    while (heard < want && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return heard >= want;
  };

  TempRegistryKey key;
  RegistryHandoffStore driver(key.path());
  int heard = 0;
  driver.watch([&] { ++heard; });
  ASSERT_TRUE(RegistryHandoffStore(key.path()).write(QStringLiteral("开场")));
  EXPECT_TRUE(heardWithin(heard, 1));
  EXPECT_EQ(driver.read(), QStringLiteral("开场"));
  ASSERT_TRUE(RegistryHandoffStore(key.path()).write(QStringLiteral("谢幕")));
  EXPECT_TRUE(heardWithin(heard, 2)) << "only the first write was heard";

  driver.watch({});
  const int before = heard;
  ASSERT_TRUE(RegistryHandoffStore(key.path()).write(QStringLiteral("尾声")));
  QDeadlineTimer quiet(300);
  while (!quiet.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(heard, before);
}

// 演出 names the show of 场景 only while its scene part is that scene: an older launcher that
// writes 场景 alone leaves the show before it behind, and that must not pass for its own.
TEST(RegistryHandoffShow, TheShowGoesWithItsSceneOnly) {
  const struct {
    const char* value;
    const char* scene;
    const char* show;
  } cases[] = {
      {"C:\\演出\\驱动|开场", "开场", "C:\\演出\\驱动"},
      {"C:\\演出\\驱动|开场", "谢幕", ""},
      {"C:\\演出\\驱动|开场|x", "开场|x", "C:\\演出\\驱动"},
      {"|开场", "开场", ""},
      {"C:\\演出\\驱动", "开场", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RegistryHandoffStore::showOf(QString::fromUtf8(c.value), QString::fromUtf8(c.scene)),
              QString::fromUtf8(c.show))
        << c.value;
}

TEST_F(RegistryHandoff, ALauncherOfAShowWritesItBeforeItsScene) {
  TempRegistryKey key;
  RegistryHandoffStore driver(key.path());
  const Handoff ours{QStringLiteral("开场"), QStringLiteral("C:\\演出\\驱动")};
  ASSERT_TRUE(RegistryHandoffStore(key.path()).write(ours));
  EXPECT_EQ(driver.readHandoff(), ours);
  EXPECT_EQ(QSettings(key.path(), QSettings::NativeFormat).value(QStringLiteral("演出")),
            QVariant(QStringLiteral("C:\\演出\\驱动|开场")));
  EXPECT_TRUE(driver.writtenAt().isValid());
  // An older launcher writes 场景 alone.
  QSettings(key.path(), QSettings::NativeFormat)
      .setValue(QStringLiteral("场景"), QStringLiteral("谢幕"));
  EXPECT_EQ(driver.readHandoff(), (Handoff{QStringLiteral("谢幕"), QString()}));
}
