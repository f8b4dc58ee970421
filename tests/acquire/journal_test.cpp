// The logger's lines in the journal: each caption's priority, the "<N>" prefixes, and
// whether JOURNAL_STREAM names stderr.
#include "acquire/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/testfiles.h"

namespace {

using acquire::Priority;

struct PriorityCase {
  const char* caption;
  const char* text;
  Priority priority;
};

// Lines as the logger writes them.
const PriorityCase kLines[] = {
    {"Recording Stopped", "The file '/var/lib/maru-log/a/20261208.raw' could not be written (No space left)", Priority::Error},
    {"NetCDF Stopped", "cannot write 20261208.nc", Priority::Error},
    {"maru log", "cannot make the folder '/x': Permission denied", Priority::Error},
    {"Device File Error", "Missing or Invalid device file 'meter.dev'", Priority::Error},
    {"Port Lost", "/dev/ttyUSB0 went away (gone); trying again every second", Priority::Warning},
    {"Port Unavailable", "cannot open /dev/ttyUSB0; trying again every second", Priority::Warning},
    {"Lines Lost", "3 lines", Priority::Warning},
    {"No Data", "no data line from /dev/ttyUSB0 for 60 s", Priority::Warning},
    {"Input Buffer Overflow", "Check Baud Rate", Priority::Warning},
    {"MQTT", "the broker h:1883 refused the connection (not authorised); the files go on", Priority::Warning},
    {"MQTT", "lost the broker h:1883 (connection refused); the files go on", Priority::Warning},
    {"MQTT", "connected again to h:1883, publishing under maru/s/1/; 4 data messages were dropped while it was away",
     Priority::Warning},
    {"Some New Caption", "anything", Priority::Warning},
    {"MQTT", "connected to h:1883, publishing under maru/s/1/", Priority::Info},
    {"Logging", "/dev/ttyUSB0 at 19200 baud into /var/lib/maru-log/a (UTC day 20261208)", Priority::Info},
    {"Port Open", "/dev/ttyUSB0 opened at 19200 baud, 8N1", Priority::Info},
    {"Port Back", "/dev/ttyUSB0 reopened at 19200 baud, 8N1", Priority::Info},
    {"Data Resumed", "data lines from /dev/ttyUSB0 again after 70 s", Priority::Info},
    {"Recording Resumed", "Writing '20261208.raw' again.", Priority::Info},
};

TEST(JournalPriority, EachLineOfTheLogger) {
  for (const PriorityCase& c : kLines)
    EXPECT_EQ(acquire::linePriority(c.caption, c.text), c.priority) << c.caption << ": " << c.text;
}

TEST(JournalPriority, PrefixesEveryLineOnlyForTheJournal) {
  EXPECT_EQ(acquire::withPriority(true, Priority::Error, "a: b\nsee --help\n"), "<3>a: b\n<3>see --help\n");
  EXPECT_EQ(acquire::withPriority(false, Priority::Error, "a: b\n"), "a: b\n");
}

TEST(JournalStream, NamesTheOpenFileByDeviceAndInode) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("err"), "");
  testsupport::writeFile(dir.file("other"), "");
  const int fd = ::open(dir.file("err").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  struct stat mine {}, other {};
  ASSERT_EQ(::fstat(fd, &mine), 0);
  ASSERT_EQ(::stat(dir.file("other").c_str(), &other), 0);
  const std::string dev = std::to_string(mine.st_dev), ino = std::to_string(mine.st_ino);
  const struct {
    const char* name;
    std::string value;
    bool journal;
  } cases[] = {
      {"this file", dev + ":" + ino, true},
      {"another file", std::to_string(other.st_dev) + ":" + std::to_string(other.st_ino), false},
      {"another device", std::to_string(mine.st_dev + 1) + ":" + ino, false},
      {"no inode", dev + ":", false},
      {"trailing text", dev + ":" + ino + "x", false},
      {"no colon", dev + ino, false},
      {"empty", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(acquire::isJournalStream(fd, c.value.c_str()), c.journal) << c.name;
  EXPECT_FALSE(acquire::isJournalStream(fd, nullptr));
  ::close(fd);
}

}  // namespace
