#pragma once
// A port opened on a test's pseudo-terminal joins the line in the middle as far as it
// knows, and drops what comes before the first line end. A test that plays a meter from
// its first byte first lets the line be seen silent, as a meter between lines is.
#include <gtest/gtest.h>

#include <thread>

#include "link/serialport.h"

namespace testsupport {

inline void letLineBeSeenQuiet(meterlink::SerialPort& port) {
  std::this_thread::sleep_for(meterlink::SerialPort::kQuietAfterOpen + std::chrono::milliseconds(5));
  char byte = 0;
  EXPECT_EQ(port.read(&byte, 1), 0u) << "the line was not silent after the open";
}

}  // namespace testsupport
