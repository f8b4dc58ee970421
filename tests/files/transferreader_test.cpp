#include "files/transferreader.h"

#include <gtest/gtest.h>

#include <string>

#include "openfiles.h"
#include "support/ptypeer.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

TEST(TransferReader, MarkerSplitAcrossReads) {
  TempDir dir;
  files::TransferReader t;
  ASSERT_TRUE(t.open(dir.file("dump.raw")));
  files::TransferReader::Result r = t.take("page 1 data\r\ne");
  EXPECT_TRUE(r.written);
  EXPECT_FALSE(r.endMarker);
  EXPECT_TRUE(t.isOpen());
  r = t.take("tx\r\n");
  EXPECT_TRUE(r.endMarker);
  EXPECT_FALSE(t.isOpen());
  EXPECT_EQ(readFile(dir.file("dump.raw")), "page 1 data\r\netx\r\n");
  EXPECT_EQ(t.bytes(), 18);
}

TEST(TransferReader, MarkerInAnyCaseEndsAndBytesAfterItAreKept) {
  for (const std::string marker : {"etx", "ETX", "Etx", "eTx"}) {
    TempDir dir;
    files::TransferReader t;
    ASSERT_TRUE(t.open(dir.file("dump.raw")));
    const std::string read = "0A1B2C\r\n" + marker + "\r\nafter";
    const files::TransferReader::Result r = t.take(read);
    EXPECT_TRUE(r.written) << marker;
    EXPECT_TRUE(r.endMarker) << marker;
    EXPECT_FALSE(t.isOpen()) << marker;
    EXPECT_EQ(readFile(dir.file("dump.raw")), read) << marker;
  }
}

TEST(TransferReader, NoMarkerKeepsTheFileOpen) {
  TempDir dir;
  files::TransferReader t;
  ASSERT_TRUE(t.open(dir.file("dump.raw")));
  EXPECT_FALSE(t.take("ex tx et x").endMarker);
  EXPECT_FALSE(t.take("").endMarker);
  EXPECT_TRUE(t.isOpen());
  EXPECT_EQ(t.tail(), "t x");
}

TEST(TransferReader, TailCarriesOverToTheNextTransfer) {
  TempDir dir;
  files::TransferReader t;
  ASSERT_TRUE(t.open(dir.file("first.raw")));
  t.take("incomplete e");
  t.close();  // ended by silence
  ASSERT_TRUE(t.open(dir.file("second.raw")));
  const files::TransferReader::Result r = t.take("tx");
  EXPECT_TRUE(r.endMarker);
  EXPECT_EQ(readFile(dir.file("second.raw")), "tx");
}

TEST(TransferReader, WriteFailureIsReported) {
  files::TransferReader t;
  ASSERT_TRUE(t.open("/dev/full"));
  files::TransferReader::Result r = t.take("data that cannot be stored");
  EXPECT_FALSE(r.written);
  EXPECT_FALSE(r.endMarker);
  EXPECT_EQ(t.bytes(), 0);
  // The marker still ends the transfer.
  r = t.take("etx");
  EXPECT_FALSE(r.written);
  EXPECT_TRUE(r.endMarker);
  EXPECT_FALSE(t.isOpen());
}

TEST(TransferReader, BytesWithNoFileOpenAreNotWritten) {
  files::TransferReader t;
  const files::TransferReader::Result r = t.take("etx");
  EXPECT_FALSE(r.written);
  EXPECT_FALSE(r.endMarker);
}

TEST(TransferReader, ReopeningClosesTheEarlierFileComplete) {
  TempDir dir;
  files::TransferReader t;
  ASSERT_TRUE(t.open(dir.file("first.raw")));
  t.take("abc");
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(t.open(dir.file("second.raw")));
  if (before >= 0) {
    EXPECT_EQ(filestest::openDescriptorCount(), before);
  }
  EXPECT_EQ(readFile(dir.file("first.raw")), "abc");
  EXPECT_EQ(t.bytes(), 0);
}

}  // namespace
