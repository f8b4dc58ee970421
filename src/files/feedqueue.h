#pragma once
// The store of a feed that must lose nothing: every message is kept, in order, until the
// receiver acknowledged it, in append-only segment files that survive a crash of the
// program (and, synced each second, of the machine). Bounded by size and age: the oldest
// segment goes first, its unacknowledged messages counted as dropped. Plain C++ and POSIX;
// one thread at a time (the feed holds a lock around it).
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace files {

/// How much a feed queue may hold.
struct FeedQueueLimits {
  std::uint64_t maxBytes = 200ull * 1000 * 1000;  ///< the segment files together
  std::int64_t maxAgeSeconds = 7 * 24 * 3600;     ///< a segment whose newest message is older goes
};

/// One queued message.
struct QueuedMessage {
  std::uint64_t id = 0;     ///< its place in the queue, counting up from 1 and never reused
  long long seq = 0;        ///< the sequence number it carries
  std::int64_t timeMs = 0;  ///< when it was queued (Unix milliseconds)
  std::string topic, payload;
};

/// Messages kept until acknowledged. On disk in DIR: segment files `<first id>.q` (each
/// message a 40-byte header, then its topic and payload, deflated against the segment's
/// first message: a day of a meter's JSON takes about a third of its size), `acked` (the
/// oldest message not acknowledged) and `seq` (the last sequence number of each topic),
/// and a lock, so one program at a time uses DIR. Reopened, it hands out again every
/// message from the oldest not acknowledged; a message cut short by a crash is cut off.
class FeedQueue {
 public:
  FeedQueue();
  ~FeedQueue();
  FeedQueue(const FeedQueue&) = delete;
  FeedQueue& operator=(const FeedQueue&) = delete;

  /// Opens the queue in `dir` (made when missing) or, with `dir` "", one in memory that
  /// lasts as long as this object. False (with `error`) when DIR cannot be used or another
  /// program holds it.
  bool open(const std::string& dir, FeedQueueLimits limits, std::string& error);
  void close();
  bool isOpen() const { return m_open; }
  const std::string& dir() const { return m_dir; }

  /// The sequence number of the next message on `topic`: one more than the last one
  /// queued on it, also in an earlier run; 1 for a new topic.
  long long nextSeq(const std::string& topic);
  /// Keeps a message (queued at `nowMs`), after dropping what the limits no longer allow.
  /// False (with `error`) when it could not be written: then it is not kept.
  bool append(const std::string& topic, std::string_view payload, long long seq, std::int64_t nowMs,
              std::string& error);
  /// The oldest message not acknowledged and not handed out since the last rewind; false
  /// when there is none.
  bool next(QueuedMessage& out);
  /// The receiver has message `id`. Any order; unknown ids are ignored.
  void acknowledge(std::uint64_t id);
  /// The next call to next() starts again at the oldest message not acknowledged.
  void rewind();

  /// Messages kept and not acknowledged.
  std::uint64_t backlog() const;
  /// The segment files' size.
  std::uint64_t bytes() const { return m_bytes; }
  /// Messages the limits dropped before they were acknowledged, since open().
  std::uint64_t dropped() const { return m_dropped; }
  /// Notes the acknowledged position on disk (a small write, no sync).
  void saveAcked();
  /// A descriptor of the segment being written (a duplicate: close it), so that the caller
  /// can sync it without holding the queue; -1 in memory or when none.
  int duplicateForSync() const;

 private:
  struct Segment;
  bool openSegmentForAppend(std::uint64_t firstId, std::string& error);
  /// Closes and deletes the oldest segment, the positions saved first.
  void removeFrontSegment();
  bool scanSegment(Segment& segment, std::string& error);
  bool readAt(const Segment& segment, std::uint64_t offset, std::size_t size, std::string& out) const;
  bool decode(const Segment& segment, std::uint64_t offset, QueuedMessage& out, std::uint64_t& length,
              bool topicOnly) const;
  void dropOldest();
  void removeAcknowledgedSegments();
  void saveSeqs();
  bool writeRecord(Segment& segment, const std::string& record, std::string& error);

  bool m_open = false;
  std::string m_dir;
  FeedQueueLimits m_limits;
  std::uint64_t m_segmentLimit = 4 << 20;
  int m_lockFd = -1, m_ackFd = -1;
  std::deque<std::unique_ptr<Segment>> m_segments;  // oldest first; the last one is written
  std::uint64_t m_nextId = 1;                       // of the next message appended
  std::uint64_t m_head = 1;                         // the oldest not acknowledged
  std::uint64_t m_savedHead = 0;
  std::set<std::uint64_t> m_ackedAhead;             // acknowledged after m_head
  std::uint64_t m_readId = 1;                       // what next() hands out
  std::uint64_t m_readOffset = 0;                   // where m_readId is, when m_readKnown
  bool m_readKnown = false;
  std::uint64_t m_readSegment = 0;                  // the firstId of the segment m_readOffset is in
  std::uint64_t m_bytes = 0, m_dropped = 0;
  std::map<std::string, long long> m_seqs;  // the last per topic
  bool m_seqsChanged = false;
  struct Zlib;
  std::unique_ptr<Zlib> m_zlib;
  std::string m_buffer, m_record;
};

}  // namespace files
