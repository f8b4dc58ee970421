// Entry point of the core's tests over Qt Core (link, sim, cli): an event loop for the serial
// port's notifiers, timers and child processes, and nothing from QtGui or QtWidgets (a
// boundaries test checks what these executables load).
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
