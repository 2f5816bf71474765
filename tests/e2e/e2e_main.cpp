#include <gtest/gtest.h>

#include <QCoreApplication>

// QProcess and QSerialPort want an application object; the tests themselves wait on conditions.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
