#include <gtest/gtest.h>

#include <QApplication>

// One QApplication for all the window tests of a program.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Also when the build lists the tests, where no display may be set.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
