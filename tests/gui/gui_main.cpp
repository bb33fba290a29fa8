#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // Offscreen unless a platform was chosen (the same tests also run on an
  // X server with the xcb platform).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
