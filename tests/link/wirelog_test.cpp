// The wire log: its escaping and time stamps, and what it holds after real bytes went both
// ways through the serial port over a pseudo-terminal.
#include "link/wirelog.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "link/serialport.h"
#include "support/ptypeer.h"
#include "support/quietline.h"
#include "support/testfiles.h"

namespace {

using meterlink::WireLog;
using namespace std::chrono;

// Undoes WireLog::escape(); fails the test on a form escape() never writes.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c < 0x20 || c > 0x7E) ADD_FAILURE() << "unescaped byte " << int(static_cast<unsigned char>(c));
    if (c != '\\') {
      out += c;
      continue;
    }
    const char next = i + 1 < text.size() ? text[++i] : '\0';
    if (next == '\\') out += '\\';
    else if (next == 'r') out += '\r';
    else if (next == 'n') out += '\n';
    else if (next == 't') out += '\t';
    else if (next == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      ADD_FAILURE() << "bad escape in '" << text << "'";
    }
  }
  return out;
}

TEST(WireLog, EscapesEveryByteReadably) {
  const struct {
    std::string bytes;
    std::string text;
  } table[] = {
      {"$run\r", "$run\\r"},
      {"05/14/24\t10:21:00\t700\r\n", "05/14/24\\t10:21:00\\t700\\r\\n"},
      {"a\\b", "a\\\\b"},
      {" ~", " ~"},  // the ends of the printable range stay as they are
      {std::string("\0\x01\x1f", 3), "\\x00\\x01\\x1F"},
      {"\x7f\x80\xff", "\\x7F\\x80\\xFF"},
      {"\\x41", "\\\\x41"},  // a literal backslash-x is not mistaken for an escape on reading
      {"", ""},
  };
  for (const auto& row : table) {
    EXPECT_EQ(WireLog::escape(row.bytes.data(), row.bytes.size()), row.text);
    EXPECT_EQ(unescape(row.text), row.bytes) << row.text;
  }
  // Every byte value survives the round trip.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(unescape(WireLog::escape(all.data(), all.size())), all);
}

TEST(WireLog, TimeIsUtcWithMilliseconds) {
  const struct {
    WireLog::Clock::time_point when;
    const char* text;
  } table[] = {
      {WireLog::Clock::time_point{}, "1970-01-01T00:00:00.000Z"},
      {WireLog::Clock::time_point{milliseconds(1'798'778'643'123)}, "2027-01-01T04:44:03.123Z"},
      {WireLog::Clock::time_point{sys_days{2024y / 2 / 29}.time_since_epoch() + hours(23) + minutes(59) +
                                  seconds(59) + milliseconds(999) + microseconds(900)},
       "2024-02-29T23:59:59.999Z"},  // truncated, never rounded into the next day
      {WireLog::Clock::time_point{milliseconds(-1)}, "1969-12-31T23:59:59.999Z"},
  };
  for (const auto& row : table) EXPECT_EQ(WireLog::formatTime(row.when), row.text);
}

TEST(WireLog, OpenAppendsAndRefusesAFolder) {
  testsupport::TempDir dir;
  const std::string path = dir.file("wire.log");
  testsupport::writeFile(path, "earlier session\n");
  WireLog log;
  std::string error;
  ASSERT_TRUE(log.open(path, error)) << error;
  EXPECT_TRUE(log.note("again"));
  EXPECT_TRUE(log.record(WireLog::Direction::MeterToHost, "", 0));  // an empty chunk writes nothing
  log.close();
  const auto lines = testsupport::splitLines(testsupport::readFile(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier session");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z # again)")))
      << lines[1];

  EXPECT_FALSE(log.open(dir.path(), error));
  EXPECT_NE(error.find(dir.path()), std::string::npos) << error;
  EXPECT_FALSE(log.isOpen());
  EXPECT_FALSE(log.note("nowhere"));
}

struct Entry {
  std::string time;
  char direction;
  std::string bytes;
};

std::vector<Entry> readLog(const std::string& path) {
  static const std::regex kLine(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) ([<>#]) (.*))");
  std::vector<Entry> entries;
  for (const std::string& line : testsupport::splitLines(testsupport::readFile(path))) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) {
      ADD_FAILURE() << "not a wire-log line: '" << line << "'";
      continue;
    }
    entries.push_back({m[1], m[2].str()[0], unescape(m[3])});
  }
  return entries;
}

TEST(WireLog, SerialPortLogsBothDirectionsInOrderOverAPty) {
  testsupport::TempDir dir;
  const std::string path = dir.file("wire.log");
  WireLog log;
  std::string error;
  ASSERT_TRUE(log.open(path, error)) << error;

  testsupport::PtyPeer peer;
  meterlink::SerialPort port;
  port.setWireLog(&log);
  ASSERT_EQ(port.open(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(port);

  // Host to meter.
  ASSERT_TRUE(port.write("$run\r", 5));
  EXPECT_EQ(peer.receiveBytes(5), "$run\r");
  // Meter to host: a data line with a tab, a backslash and bytes outside ASCII.
  const std::string fromMeter = std::string("05/14/24\t10:21:00\t700\\\x01\xff\0end\r\n", 30);
  peer.send(fromMeter);
  std::string got;
  for (int i = 0; i < 200 && got.size() < fromMeter.size(); ++i) {
    char buffer[8];  // small reads: the line arrives as several chunks
    const size_t n = port.read(buffer, sizeof buffer);
    got.append(buffer, n);
    if (n == 0) testsupport::pumpEvents(10);
  }
  ASSERT_EQ(got, fromMeter);
  ASSERT_TRUE(port.write("$sto\r\n", 6));
  EXPECT_EQ(peer.receiveBytes(6), "$sto\r\n");
  EXPECT_TRUE(port.close());
  port.setWireLog(nullptr);
  log.close();

  const std::vector<Entry> entries = readLog(path);
  ASSERT_GE(entries.size(), 6u);
  EXPECT_EQ(entries.front().direction, '#');
  EXPECT_EQ(entries.front().bytes, "opened " + peer.slavePath() + " at 19200 baud, 8N1");
  EXPECT_EQ(entries[1].direction, '>');
  EXPECT_EQ(entries[1].bytes, "$run\r");
  // The meter's bytes, in as many chunks as the reads took, all marked '<' and in order.
  std::string received;
  size_t i = 2;
  for (; i < entries.size() && entries[i].direction == '<'; ++i) {
    EXPECT_LE(entries[i].bytes.size(), 8u);
    received += entries[i].bytes;
  }
  EXPECT_EQ(received, fromMeter);
  EXPECT_GE(i - 2, fromMeter.size() / 8);
  ASSERT_EQ(entries.size(), i + 2);
  EXPECT_EQ(entries[i].direction, '>');
  EXPECT_EQ(entries[i].bytes, "$sto\r\n");
  EXPECT_EQ(entries[i + 1].direction, '#');
  EXPECT_EQ(entries[i + 1].bytes, "closed " + peer.slavePath());
  for (size_t k = 1; k < entries.size(); ++k) EXPECT_LE(entries[k - 1].time, entries[k].time) << k;
  // The escaped text in the file itself: one chunk of the meter's line as an operator sees it.
  EXPECT_NE(testsupport::readFile(path).find(" > $run\\r\n"), std::string::npos);
}

}  // namespace
