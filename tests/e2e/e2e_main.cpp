#include <gtest/gtest.h>

#include <QCoreApplication>

#include "e2e_support.h"

// QProcess and QSerialPort want an application object; the tests themselves wait on conditions.
int main(int argc, char** argv) {
  luvrin::e2e::adoptOrphans();
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
