// The serial port at its open, over real pseudo-terminals: what it drops of a stream it
// joins in the middle, and its lock, which every name of one device meets.
#include "link/serialport.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "link/portprobe.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

namespace {

using meterlink::SerialPort;
using testsupport::pumpEvents;
using testsupport::PtyPeer;

// Everything the port gives within `ms`.
std::string readFor(SerialPort& port, int ms) {
  std::string text;
  char buffer[256];
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    pumpEvents(5);
    while (const size_t n = port.read(buffer, sizeof buffer)) text.append(buffer, n);
  }
  return text;
}

TEST(SerialPortOpen, DropsWhatCameBeforeAndTheLineItJoinedInTheMiddle) {
  const std::string lines = "07/15/26\t12:30:05\t700\t4130\r\n07/15/26\t12:30:06\t701\t4131\r\n";
  const struct {
    const char* what;
    std::string beforeOpen, rightAfter, afterQuiet, expected;
  } cases[] = {
      // The tail of a line cut inside its date: enough fields to pass for data.
      {"a cut line", "", "26\t12:30:04\t699\t4129\r\n" + lines, "", lines},
      {"a cut line over two reads", "", "26\t12:30:04\t6", "99\t4129\r\n" + lines, lines},
      {"what the driver held", "07/15/26\t12:30:03\t698\t4128\r\n", "", lines, lines},
      // A line that stayed silent after the open was between lines: nothing is cut.
      {"a quiet line", "", "", lines, lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPeer peer;
    if (!c.beforeOpen.empty()) {
      peer.send(c.beforeOpen);
      pumpEvents(20);
    }
    SerialPort port;
    ASSERT_EQ(port.open(peer.slavePath(), 19200), SerialPort::OpenResult::Ok);
    peer.send(c.rightAfter);
    std::string got = readFor(port, 3 * SerialPort::kQuietAfterOpen.count());
    peer.send(c.afterQuiet);
    got += readFor(port, 100);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(SerialPortOpen, EveryNameOfOneDeviceMeetsTheSameLock) {
  PtyPeer peer;
  testsupport::TempDir dir;
  const std::string alias = dir.file("by-id-link");
  std::filesystem::create_symlink(peer.slavePath(), alias);

  SerialPort first, second;
  ASSERT_EQ(first.open(alias, 19200), SerialPort::OpenResult::Ok);
  const SerialPort::OpenResult refused = second.open(peer.slavePath(), 19200);
  EXPECT_NE(refused, SerialPort::OpenResult::Ok);
  EXPECT_FALSE(second.isOpen());
  // The reason names the process that holds it, whichever name the failed open used.
  const std::string why = meterlink::explainOpenFailure(peer.slavePath(), refused);
  EXPECT_NE(why.find("in use by"), std::string::npos) << why;
  EXPECT_NE(why.find(std::to_string(::getpid())), std::string::npos) << why;
  // Once the first lets go, the other name opens.
  first.close();
  EXPECT_EQ(second.open(peer.slavePath(), 19200), SerialPort::OpenResult::Ok);
}

}  // namespace
