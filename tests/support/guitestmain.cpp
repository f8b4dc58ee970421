// Entry point of the widget tests (chart, app, ui): a QApplication exists for the whole run
// (offscreen unless told otherwise), so widgets, timers and serial ports all work in one
// executable. The core's tests use coretestmain.cpp and never load QtWidgets.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
