#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryFile>

// Widget tests need an application; without a display they draw offscreen (also when CTest
// lists the tests, which it does without the test environment). The offscreen screen is made as
// large as a desk's, since windows are kept within the screen and would shrink on a smaller one.
int main(int argc, char** argv) {
  QTemporaryFile screens;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if ((platform.isEmpty() || platform == "offscreen") && screens.open()) {
    screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,
                     "height": 1200, "logicalDpi": 96, "logicalBaseDpi": 96}]})");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
