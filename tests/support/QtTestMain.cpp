// Test main for suites that need a Qt application object (windows, QProcess).
#include <gtest/gtest.h>
#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Windows keep their sizes in the user's settings: the tests, and the programs they start,
  // keep theirs in a folder of their own, never in the user's.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
