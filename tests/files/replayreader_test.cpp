#include "files/replayreader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "openfiles.h"
#include "support/ptypeer.h"

namespace {

using Read = files::ReplayReader::Read;
using testsupport::TempDir;
using testsupport::writeFile;

struct Step {
  Read read;
  std::string text;
};

// One call as the receive tick makes it: a 100-byte buffer and a read size of 100.
Step readOnce(files::ReplayReader& r) {
  char buffer[100];
  std::fill(std::begin(buffer), std::end(buffer), 'Z');
  size_t length = sizeof buffer;
  const Read read = r.ReadReplayLine(buffer, length);
  // Everything past what was read is zero, so the bytes form a proper string.
  for (size_t i = length; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '\0') << "at " << i;
  return {read, std::string(buffer, length)};
}

TEST(ReplayReader, TenLinesThenNothingThenRewind) {
  TempDir dir;
  std::string content;
  for (int i = 1; i <= 10; ++i) content += "line " + std::to_string(i) + "\t42\r\n";
  writeFile(dir.file("ten.raw"), content);
  files::ReplayReader r;
  ASSERT_TRUE(r.open(dir.file("ten.raw")));
  for (int i = 1; i <= 10; ++i) {
    const Step s = readOnce(r);
    EXPECT_EQ(s.read, Read::Data);
    EXPECT_EQ(s.text, "line " + std::to_string(i) + "\t42\r\n");
  }
  // The 11th read runs into the end and gets nothing; the 12th sees the end and rewinds.
  EXPECT_EQ(readOnce(r).read, Read::Nothing);
  const Step rewound = readOnce(r);
  EXPECT_EQ(rewound.read, Read::Rewound);
  EXPECT_EQ(rewound.text, "");
  const Step again = readOnce(r);
  EXPECT_EQ(again.read, Read::Data);
  EXPECT_EQ(again.text, "line 1\t42\r\n");
}

TEST(ReplayReader, LongLineComesInTwoReads) {
  TempDir dir;
  std::string line;
  for (int i = 0; i < 150; ++i) line.push_back(static_cast<char>('0' + i % 10));
  writeFile(dir.file("long.raw"), line + "\n");
  files::ReplayReader r;
  ASSERT_TRUE(r.open(dir.file("long.raw")));
  const Step first = readOnce(r);
  const Step second = readOnce(r);
  EXPECT_EQ(first.text.size(), 98u);
  EXPECT_EQ(first.text + second.text, line + "\n");
}

TEST(ReplayReader, LastLineWithoutLineEndIsReadThenRewinds) {
  TempDir dir;
  writeFile(dir.file("tail.raw"), "a\t1\nb\t2");
  files::ReplayReader r;
  ASSERT_TRUE(r.open(dir.file("tail.raw")));
  EXPECT_EQ(readOnce(r).text, "a\t1\n");
  const Step last = readOnce(r);
  EXPECT_EQ(last.read, Read::Data);
  EXPECT_EQ(last.text, "b\t2");
  // That read already ran into the end of the file.
  EXPECT_EQ(readOnce(r).read, Read::Rewound);
  EXPECT_EQ(readOnce(r).text, "a\t1\n");
}

TEST(ReplayReader, EmptyOrMissingFile) {
  TempDir dir;
  writeFile(dir.file("empty.raw"), "");
  files::ReplayReader r;
  EXPECT_FALSE(r.open(dir.file("missing.raw")));
  EXPECT_FALSE(r.isOpen());
  EXPECT_EQ(readOnce(r).read, Read::Nothing);
  ASSERT_TRUE(r.open(dir.file("empty.raw")));
  EXPECT_EQ(readOnce(r).read, Read::Nothing);
  EXPECT_EQ(readOnce(r).read, Read::Rewound);
}

TEST(ReplayReader, ReopeningClosesTheEarlierFile) {
  TempDir dir;
  writeFile(dir.file("one.raw"), "one\n");
  writeFile(dir.file("two.raw"), "two\n");
  files::ReplayReader r;
  ASSERT_TRUE(r.open(dir.file("one.raw")));
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(r.open(dir.file("two.raw")));
  if (before >= 0) {
    EXPECT_EQ(filestest::openDescriptorCount(), before);
  }
  EXPECT_EQ(readOnce(r).text, "two\n");
  r.close();
  EXPECT_FALSE(r.isOpen());
  if (before >= 0) {
    EXPECT_EQ(filestest::openDescriptorCount(), before - 1);
  }
}

TEST(ReplayReader, BlocksGiveTheBytesOfSuccessiveLineReads) {
  // Zero bytes end a read's text early, so blocks must follow the 98-character reads.
  TempDir dir;
  std::mt19937 rng(5);
  const char alphabet[] = {'4', '\t', '\n', '\0', '\r'};
  for (int round = 0; round < 40; ++round) {
    std::string content;
    const int size = static_cast<int>(rng() % 3000);
    const bool zeros = round % 2 == 1;
    for (int i = 0; i < size; ++i) {
      const unsigned r = rng() % 100;
      content.push_back(r < 3 ? '\n' : zeros && r < 5 ? '\0' : alphabet[r % 2]);
    }
    writeFile(dir.file("r.raw"), content);
    files::ReplayReader lines, blocks;
    ASSERT_TRUE(lines.open(dir.file("r.raw")));
    ASSERT_TRUE(blocks.open(dir.file("r.raw")));
    std::string expected;
    for (;;) {
      char line[100];
      size_t length = sizeof line;
      if (lines.ReadReplayLine(line, length) != Read::Data) break;
      expected.append(line, length);
    }
    std::string got;
    std::vector<char> buffer(4096);
    for (;;) {
      const size_t n = blocks.readBlock(buffer.data(), 1 + rng() % 300);
      if (n == 0) break;
      got.append(buffer.data(), n);
    }
    ASSERT_EQ(got, expected) << "round " << round;
  }
}

}  // namespace
