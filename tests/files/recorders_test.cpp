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
