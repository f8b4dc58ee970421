#include "files/feedqueue.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/testfiles.h"

namespace {

using testsupport::TempDir;

const std::string kTopic = "maru/ship/FLCD-1123/data";

// A data message much like a meter's: the same keys, other digits.
std::string payload(long long seq) {
  return "{\"platform\": \"ship\", \"meter_id\": \"FLCD-1123\", \"seq\": " + std::to_string(seq) +
         ", \"values\": {\"chl_ug_per_l\": " + std::to_string(seq * 0.0137) + "}, \"raw\": \"12/08/26\\t10:00:" +
         std::to_string(seq % 60) + "\\t" + std::to_string(4000 + seq % 97) + "\"}";
}

void appendSome(files::FeedQueue& queue, int count, std::int64_t timeMs = 1000) {
  for (int i = 0; i < count; ++i) {
    std::string error;
    const long long seq = queue.nextSeq(kTopic);
    ASSERT_TRUE(queue.append(kTopic, payload(seq), seq, timeMs, error)) << error;
  }
}

std::vector<files::QueuedMessage> takeAll(files::FeedQueue& queue) {
  std::vector<files::QueuedMessage> taken;
  files::QueuedMessage message;
  while (queue.next(message)) taken.push_back(message);
  return taken;
}

// What a crash or a restart leaves: every message not acknowledged comes again, in order,
// whole, and the sequence numbers go on; a message cut short by the crash is cut off.
TEST(FeedQueue, AReopenedQueueHandsOutWhatWasNotAcknowledgedAndGoesOnCounting) {
  TempDir dir;
  const std::string folder = dir.file("queue");
  {
    files::FeedQueue queue;
    std::string error;
    ASSERT_TRUE(queue.open(folder, {}, error)) << error;
    queue.close();
  }
  // A logger that sends 50, has 20 acknowledged (and the 30th, out of order) and is killed.
  const pid_t child = ::fork();
  if (child == 0) {
    files::FeedQueue queue;
    std::string error;
    if (!queue.open(folder, {}, error)) ::_exit(1);
    appendSome(queue, 50);
    if (takeAll(queue).size() != 50) ::_exit(2);
    for (std::uint64_t id = 1; id <= 20; ++id) queue.acknowledge(id);
    queue.acknowledge(30);
    queue.saveAcked();
    files::FeedQueue second;
    ::_exit(second.open(folder, {}, error) ? 3 : 0);  // one program at a time; no close: as kill -9
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // A crash in the middle of a write.
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".q") std::ofstream(entry.path(), std::ios::app) << "\xA5 half a message";

  files::FeedQueue queue;
  std::string error;
  ASSERT_TRUE(queue.open(folder, {}, error)) << error;
  EXPECT_EQ(queue.backlog(), 30u);
  EXPECT_EQ(queue.nextSeq(kTopic), 51);
  EXPECT_EQ(queue.nextSeq("maru/ship/other/data"), 1);
  appendSome(queue, 5);
  const std::vector<files::QueuedMessage> again = takeAll(queue);
  ASSERT_EQ(again.size(), 35u);
  for (size_t i = 0; i < again.size(); ++i) {
    EXPECT_EQ(again[i].seq, static_cast<long long>(21 + i));
    EXPECT_EQ(again[i].topic, kTopic);
    EXPECT_EQ(again[i].payload, payload(again[i].seq));
  }
  // Acknowledged all: the segments go, and the sequence numbers still go on.
  for (const auto& message : again) queue.acknowledge(message.id);
  queue.close();
  ASSERT_TRUE(queue.open(folder, {}, error)) << error;
  EXPECT_EQ(queue.backlog(), 0u);
  EXPECT_FALSE(queue.next(*std::make_unique<files::QueuedMessage>()));
  EXPECT_EQ(queue.nextSeq(kTopic), 56);
}

// The limits drop whole segments, oldest first, and count what was not acknowledged;
// a rewind hands out again from the oldest left. On disk and in memory alike.
TEST(FeedQueue, LimitsDropTheOldestAndCountThem) {
  TempDir dir;
  for (const std::string& folder : {dir.file("queue"), std::string()}) {
    SCOPED_TRACE(folder.empty() ? "in memory" : "on disk");
    files::FeedQueue queue;
    std::string error;
    files::FeedQueueLimits limits;
    limits.maxBytes = 1 << 20;  // segments of 128 KiB
    limits.maxAgeSeconds = 60;
    ASSERT_TRUE(queue.open(folder, limits, error)) << error;
    appendSome(queue, 20000);
    EXPECT_LE(queue.bytes(), limits.maxBytes);
    EXPECT_GT(queue.dropped(), 0u);
    EXPECT_EQ(queue.backlog() + queue.dropped(), 20000u);
    files::QueuedMessage first;
    ASSERT_TRUE(queue.next(first));
    EXPECT_EQ(first.seq, static_cast<long long>(queue.dropped() + 1));
    queue.rewind();
    files::QueuedMessage again;
    ASSERT_TRUE(queue.next(again));
    EXPECT_EQ(again.seq, first.seq);
    // A minute later everything before is too old.
    appendSome(queue, 1, 1000 + 61 * 1000);
    EXPECT_EQ(queue.backlog(), 1u);
    EXPECT_EQ(queue.dropped(), 20000u);
  }
}

}  // namespace

namespace {

// A live feed: each message is taken as soon as it is kept and acknowledged soon after,
// across several segments; each comes out whole, once, in order.
TEST(FeedQueue, AReaderThatKeepsUpTakesEachMessageAsItIsKept) {
  TempDir dir;
  files::FeedQueue queue;
  std::string error;
  files::FeedQueueLimits limits;
  limits.maxBytes = 512 << 10;  // segments of 64 KiB: about 300 messages each
  ASSERT_TRUE(queue.open(dir.file("queue"), limits, error)) << error;
  files::QueuedMessage message;
  for (long long n = 1; n <= 3000; ++n) {
    appendSome(queue, 1);
    ASSERT_TRUE(queue.next(message)) << n;
    ASSERT_EQ(message.seq, n);
    ASSERT_EQ(message.payload, payload(n));
    const std::uint64_t id = message.id;
    EXPECT_FALSE(queue.next(message));
    if (n > 5) queue.acknowledge(id - 5);
  }
  EXPECT_EQ(queue.backlog(), 5u);
}

}  // namespace
