#include "link/lineassembler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Framed {
  std::vector<std::string> lines;
  int overflows = 0;
  meterlink::LineAssembler assembler;
  Framed() {
    assembler.setSinks([this](std::string_view l) { lines.emplace_back(l); }, [this] { ++overflows; });
  }
  void feed(const std::string& s) { assembler.feed(s.data(), s.size()); }
};

TEST(LineAssembler, LineArrivingOverThreeReadsIsDispatchedOnce) {
  Framed f;
  f.feed("a");
  f.feed("bc\r");
  EXPECT_TRUE(f.lines.empty());
  f.feed("\n");
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0], "abc");
}

TEST(LineAssembler, BareCarriageReturnNeverEndsALine) {
  Framed f;
  f.feed("one\rtwo\r\r");
  EXPECT_TRUE(f.lines.empty());
  f.feed("\n");
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0], "onetwo");
}

TEST(LineAssembler, EmptyLinesAreDispatchedToo) {
  Framed f;
  f.feed("\n\r\n");
  EXPECT_EQ(f.lines, (std::vector<std::string>{"", ""}));
}

TEST(LineAssembler, OverlongLineWarnsOnceAndKeepsWhatFollowsTheCut) {
  Framed f;
  std::string line;
  for (int i = 0; i < 300; ++i) line.push_back(static_cast<char>('A' + i % 26));
  f.feed(line + "\n");
  EXPECT_EQ(f.overflows, 1);
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0], line.substr(250));
}

TEST(LineAssembler, EndlessLineWarnsOnlyOnceUntilALineFeed) {
  Framed f;
  f.feed(std::string(2000, 'x'));
  EXPECT_EQ(f.overflows, 1);
  // Later pieces hold 251 characters: the byte that caused the cut is kept uncounted.
  EXPECT_LE(f.assembler.pending().size(), 251u);
  f.feed("\n");
  f.feed(std::string(260, 'y') + "\n");
  EXPECT_EQ(f.overflows, 2);
}

TEST(LineAssembler, ZeroBytesAreCountedButNotKept) {
  Framed f;
  f.feed(std::string("a\0b\n", 4));
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0], "ab");
}

TEST(LineAssembler, ExactlyTwoHundredFiftyCharactersPass) {
  Framed f;
  f.feed(std::string(250, 'z') + "\n");
  EXPECT_EQ(f.overflows, 0);
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0].size(), 250u);
}

TEST(LineAssembler, HowTheStreamIsCutIntoReadsChangesNothing) {
  // Whole plain lines take a shortcut; it must frame exactly as byte-by-byte feeding does.
  std::mt19937 rng(77);
  const char alphabet[] = {'1', '\t', '.', '\r', '\n', '\0', 'x'};
  for (int round = 0; round < 50; ++round) {
    std::string stream;
    const int pieces = 1 + static_cast<int>(rng() % 40);
    for (int p = 0; p < pieces; ++p) {
      const int length = static_cast<int>(rng() % (rng() % 4 == 0 ? 400 : 60));
      for (int i = 0; i < length; ++i) stream.push_back(alphabet[rng() % (rng() % 3 == 0 ? 7 : 3)]);
      stream.push_back('\n');
    }
    Framed whole, bytes, chunks;
    whole.feed(stream);
    for (const char c : stream) bytes.feed(std::string(1, c));
    for (size_t at = 0; at < stream.size();) {
      const size_t n = std::min<size_t>(1 + rng() % 120, stream.size() - at);
      chunks.feed(stream.substr(at, n));
      at += n;
    }
    ASSERT_EQ(whole.lines, bytes.lines) << "round " << round;
    ASSERT_EQ(chunks.lines, bytes.lines) << "round " << round;
    ASSERT_EQ(whole.overflows, bytes.overflows);
    ASSERT_EQ(chunks.overflows, bytes.overflows);
  }
}

}  // namespace
