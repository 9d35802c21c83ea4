#include <gtest/gtest.h>

#include <QApplication>

// One QApplication for all the window tests of a program.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
