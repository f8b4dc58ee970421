#pragma once
// A port opened on a test's pseudo-terminal joins the line in the middle as far as it
// knows, and drops what comes before the first line end. A test that plays a meter from
// its first byte first lets the line be seen silent, as a meter between lines is.
#include <gtest/gtest.h>

#include <thread>

#include "link/serialport.h"

namespace testsupport {

/// `source`: a SerialPort, or a session (a read of its port that must find nothing).
template <class Source>
void letLineBeSeenQuiet(Source& source) {
  std::this_thread::sleep_for(meterlink::SerialPort::kQuietAfterOpen + std::chrono::milliseconds(5));
  char byte = 0;
  size_t n = 0;
  if constexpr (requires { source.drainPort(std::chrono::milliseconds(0)); }) n = source.drainPort(std::chrono::milliseconds(0));
  else n = source.read(&byte, 1);
  EXPECT_EQ(n, 0u) << "the line was not silent after the open";
}

}  // namespace testsupport
