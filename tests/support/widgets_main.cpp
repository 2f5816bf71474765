#include <gtest/gtest.h>

#include <QApplication>

// Widget tests need an application; without a display they draw offscreen (also when CTest
// lists the tests, which it does without the test environment).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
