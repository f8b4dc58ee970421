#include "files/recorders.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "openfiles.h"
#include "support/ptypeer.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

TEST(LineRecorder, EachWriteReachesTheFileAtOnce) {
  TempDir dir;
  files::LineRecorder rec;
  ASSERT_TRUE(rec.open(dir.file("a.raw")));
  ASSERT_TRUE(rec.write("1\t2\t3"));
  ASSERT_TRUE(rec.write("\r\n"));
  // Still open: the bytes are on disk already, so a crash now would lose nothing.
  EXPECT_EQ(readFile(dir.file("a.raw")), "1\t2\t3\r\n");
  EXPECT_EQ(rec.bytes(), 7);
  EXPECT_TRUE(rec.close());
  EXPECT_FALSE(rec.isOpen());
}

TEST(LineRecorder, FailedWriteIsReportedAndNotCounted) {
  files::LineRecorder rec;
  ASSERT_TRUE(rec.open("/dev/full"));
  EXPECT_FALSE(rec.write("1\t2\t3\r\n"));
  EXPECT_FALSE(rec.write("more\r\n"));
  EXPECT_EQ(rec.bytes(), 0);
  EXPECT_TRUE(rec.isOpen());
}

TEST(LineRecorder, CannotOpenLeavesItClosed) {
  TempDir dir;
  files::LineRecorder rec;
  EXPECT_FALSE(rec.open(dir.file("missing/folder/a.raw")));
  EXPECT_FALSE(rec.isOpen());
  EXPECT_FALSE(rec.write("x"));
}

TEST(LineRecorder, ReopeningClosesTheEarlierFileComplete) {
  TempDir dir;
  files::LineRecorder rec;
  ASSERT_TRUE(rec.open(dir.file("first.raw")));
  ASSERT_TRUE(rec.write("first line\r\n"));
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(rec.open(dir.file("second.raw")));
  if (before >= 0) {
    EXPECT_EQ(filestest::openDescriptorCount(), before);
  }
  EXPECT_EQ(rec.bytes(), 0);
  ASSERT_TRUE(rec.write("second\r\n"));
  EXPECT_EQ(readFile(dir.file("first.raw")), "first line\r\n");
  EXPECT_EQ(rec.path(), dir.file("second.raw"));
}

}  // namespace

TEST(LineRecorder, FileRemovedWhileRecordingIsReported) {
  TempDir dir;
  files::LineRecorder rec;
  const std::string path = dir.file("gone.raw");
  ASSERT_TRUE(rec.open(path));
  EXPECT_TRUE(rec.write("1\r\n"));
  ASSERT_EQ(std::remove(path.c_str()), 0);
  EXPECT_FALSE(rec.write("2\r\n"));
  EXPECT_EQ(rec.bytes(), 3);
}

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>

namespace {

// Files may grow to `bytes` at most while it lives (a disk with that much room): a write
// that crosses the limit is cut short, the next one fails.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_handler);
  }

 private:
  rlimit m_saved{};
  void (*m_handler)(int) = SIG_DFL;
};

}  // namespace

TEST(LineRecorder, ARowThatDoesNotFitIsCutOffAndTheNextStartsOnItsOwnLine) {
  TempDir dir;
  const std::string path = dir.file("full.csv");
  files::LineRecorder rec;
  ASSERT_TRUE(rec.open(path));
  const std::string row = "2026-12-08T10:00:00.000Z,1,2,3\r\n";  // 32 bytes
  {
    FileSizeLimit room(3 * row.size() + 10);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rec.write(row));
    // Ten bytes of the fourth row fit; they are taken back.
    EXPECT_FALSE(rec.write(row));
    EXPECT_EQ(readFile(path).size(), 3 * row.size());
    EXPECT_FALSE(rec.write(row));
  }
  const std::string last = "2026-12-08T10:00:05.000Z,4,5,6\r\n";
  ASSERT_TRUE(rec.write(last));
  EXPECT_EQ(readFile(path), row + row + row + last);
  EXPECT_EQ(rec.bytes(), static_cast<long>(4 * row.size()));
}

TEST(LineRecorder, AppendingCutsOffARowLeftWithoutItsLineEnd) {
  const struct {
    std::string before, after;
  } cases[] = {
      {"", ""},
      {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"a\r\nb\r\n2026-12-0", "a\r\nb\r\n"},
      {"no line end at all", ""},
      {std::string(10000, 'x') + "\n" + std::string(9000, 'y'), std::string(10000, 'x') + "\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.file("day.raw");
    testsupport::writeFile(path, c.before);
    files::LineRecorder rec;
    ASSERT_TRUE(rec.openAppend(path));
    EXPECT_EQ(rec.startSize(), static_cast<long>(c.after.size()));
    ASSERT_TRUE(rec.write("next\r\n"));
    EXPECT_EQ(readFile(path), c.after + "next\r\n") << c.before.substr(0, 40);
  }
}
#endif
