#include "files/feedqueue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <vector>

namespace files {

namespace {

// A message on disk: this header, then its topic and payload (deflated against the
// segment's first message when that is shorter). Host byte order: the queue never
// leaves the machine that wrote it.
struct Header {
  std::uint64_t id;
  std::int64_t seq;
  std::int64_t timeMs;
  std::uint32_t bodyLength;   // bytes after the header
  std::uint32_t plainLength;  // topic and payload, not deflated
  std::uint16_t topicLength;
  std::uint8_t deflated;
  std::uint8_t mark;          // kMark: a header, not the zeros a crash may leave
  std::uint32_t reserved;
};
constexpr std::size_t kHeaderSize = 40;
static_assert(sizeof(Header) == kHeaderSize);
constexpr std::uint8_t kMark = 0xA5;
constexpr std::uint32_t kMaxPlain = 16u << 20;

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool readWhole(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

struct FeedQueue::Segment {
  std::uint64_t firstId = 0, lastId = 0;  // lastId < firstId: no message yet
  std::int64_t lastTimeMs = 0;
  std::uint64_t size = 0;
  int fd = -1;
  std::string path;
  std::string memory;      // the queue in memory: the segment's bytes
  std::string dictionary;  // the first message's topic and payload
  bool empty() const { return lastId < firstId; }
};

struct FeedQueue::Zlib {
  z_stream deflater{}, inflater{};
  bool deflaterReady = false, inflaterReady = false;
  Zlib() {
    deflaterReady = deflateInit2(&deflater, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    inflaterReady = inflateInit2(&inflater, -15) == Z_OK;
  }
  ~Zlib() {
    if (deflaterReady) deflateEnd(&deflater);
    if (inflaterReady) inflateEnd(&inflater);
  }
  // `plain` deflated against `dictionary` into `out`; false when it did not get shorter.
  bool deflate(const std::string& dictionary, std::string_view plain, std::string& out) {
    if (!deflaterReady || deflateReset(&deflater) != Z_OK ||
        deflateSetDictionary(&deflater, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size())) != Z_OK)
      return false;
    out.resize(deflateBound(&deflater, static_cast<uLong>(plain.size())));
    deflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    deflater.avail_in = static_cast<uInt>(plain.size());
    deflater.next_out = reinterpret_cast<Bytef*>(out.data());
    deflater.avail_out = static_cast<uInt>(out.size());
    if (::deflate(&deflater, Z_FINISH) != Z_STREAM_END) return false;
    out.resize(out.size() - deflater.avail_out);
    return out.size() < plain.size();
  }
  // The first `size` bytes that `body` inflates to against `dictionary`.
  bool inflate(const std::string& dictionary, std::string_view body, std::size_t size, std::string& out) {
    out.resize(size);
    if (!inflaterReady || inflateReset(&inflater) != Z_OK ||
        inflateSetDictionary(&inflater, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size())) != Z_OK)
      return false;
    inflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    inflater.avail_in = static_cast<uInt>(body.size());
    inflater.next_out = reinterpret_cast<Bytef*>(out.data());
    inflater.avail_out = static_cast<uInt>(size);
    const int rc = ::inflate(&inflater, Z_SYNC_FLUSH);
    return (rc == Z_OK || rc == Z_STREAM_END) && inflater.avail_out == 0;
  }
};

FeedQueue::FeedQueue() = default;
FeedQueue::~FeedQueue() { close(); }

bool FeedQueue::open(const std::string& dir, FeedQueueLimits limits, std::string& error) {
  close();
  m_dir = dir;
  m_limits = limits;
  m_segmentLimit = std::clamp<std::uint64_t>(limits.maxBytes / 8, 64 << 10, 4 << 20);
  m_zlib = std::make_unique<Zlib>();
  if (!m_zlib->deflaterReady || !m_zlib->inflaterReady) {
    error = "cannot set up compression";
    return false;
  }
  m_nextId = m_head = m_readId = 1;
  if (!dir.empty()) {
    std::error_code made;
    std::filesystem::create_directories(dir, made);
    if (made) {
      error = "cannot make the queue folder '" + dir + "': " + made.message();
      return false;
    }
    m_lockFd = ::open((dir + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
      error = errnoText("cannot use the queue folder '" + dir + "'");
      return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
      error = "another program uses the queue in '" + dir + "'";
      ::close(m_lockFd);
      m_lockFd = -1;
      return false;
    }
    std::string text;
    if (readWhole(dir + "/acked", text))
      std::from_chars(text.data(), text.data() + text.size(), m_head);
    if (readWhole(dir + "/seq", text)) {
      // Lines "SEQ TOPIC".
      std::size_t at = 0;
      while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::size_t space = text.find(' ', at);
        long long seq = 0;
        if (space < end && std::from_chars(text.data() + at, text.data() + space, seq).ec == std::errc())
          m_seqs[text.substr(space + 1, end - space - 1)] = seq;
        at = end + 1;
      }
    }
    std::vector<std::uint64_t> firsts;
    for (const auto& entry : std::filesystem::directory_iterator(dir, made)) {
      const std::string name = entry.path().filename().string();
      std::uint64_t first = 0;
      const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), first);
      if (ec == std::errc() && std::string_view(end) == ".q" && first > 0) firsts.push_back(first);
    }
    std::sort(firsts.begin(), firsts.end());
    for (const std::uint64_t first : firsts) {
      auto segment = std::make_unique<Segment>();
      segment->firstId = first;
      segment->lastId = first - 1;
      char name[32];
      std::snprintf(name, sizeof name, "/%020llu.q", static_cast<unsigned long long>(first));
      segment->path = dir + name;
      segment->fd = ::open(segment->path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
      if (segment->fd < 0 || first < m_nextId) {  // overlapping an earlier one: not ours
        if (segment->fd >= 0) ::close(segment->fd);
        continue;
      }
      if (!scanSegment(*segment, error)) return false;
      if (segment->empty()) {
        ::close(segment->fd);
        ::unlink(segment->path.c_str());
        continue;
      }
      m_nextId = segment->lastId + 1;
      m_bytes += segment->size;
      m_segments.push_back(std::move(segment));
    }
    if (!m_segments.empty()) m_head = std::max(m_head, m_segments.front()->firstId);
    m_nextId = std::max(m_nextId, m_head);
    m_head = std::min(m_head, m_nextId);
    m_savedHead = m_head;
    m_ackFd = ::open((dir + "/acked").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  }
  m_readId = m_head;
  m_open = true;
  removeAcknowledgedSegments();
  return true;
}

void FeedQueue::close() {
  if (m_open) {
    saveAcked();
    saveSeqs();
  }
  for (auto& segment : m_segments)
    if (segment->fd >= 0) ::close(segment->fd);
  m_segments.clear();
  if (m_ackFd >= 0) ::close(m_ackFd);
  if (m_lockFd >= 0) ::close(m_lockFd);
  m_ackFd = m_lockFd = -1;
  m_ackedAhead.clear();
  m_seqs.clear();
  m_bytes = m_dropped = 0;
  m_readKnown = false;
  m_open = false;
}

// Finds the segment's messages, its last one and its dictionary; cuts off a message a
// crash left incomplete, and what follows it.
bool FeedQueue::scanSegment(Segment& segment, std::string& error) {
  std::string bytes;
  if (!readWhole(segment.path, bytes)) {
    error = errnoText("cannot read '" + segment.path + "'");
    return false;
  }
  std::uint64_t offset = 0;
  std::string topic;
  while (offset + kHeaderSize <= bytes.size()) {
    Header h;
    std::memcpy(&h, bytes.data() + offset, kHeaderSize);
    const bool first = segment.empty();
    if (h.mark != kMark || h.id != segment.lastId + 1 || h.plainLength > kMaxPlain ||
        h.topicLength > h.plainLength || offset + kHeaderSize + h.bodyLength > bytes.size() ||
        (first && (h.deflated || h.bodyLength != h.plainLength)))
      break;
    const std::string_view body(bytes.data() + offset + kHeaderSize, h.bodyLength);
    if (first) segment.dictionary.assign(body);
    if (!h.deflated) topic.assign(body.substr(0, h.topicLength));
    else if (!m_zlib->inflate(segment.dictionary, body, h.topicLength, topic)) break;
    long long& seq = m_seqs[topic];
    seq = std::max<long long>(seq, h.seq);
    segment.lastId = h.id;
    segment.lastTimeMs = h.timeMs;
    offset += kHeaderSize + h.bodyLength;
  }
  if (offset < bytes.size() && ::ftruncate(segment.fd, static_cast<off_t>(offset)) != 0) {
    error = errnoText("cannot cut the incomplete end of '" + segment.path + "'");
    return false;
  }
  segment.size = offset;
  return true;
}

bool FeedQueue::openSegmentForAppend(std::uint64_t firstId, std::string& error) {
  auto segment = std::make_unique<Segment>();
  segment->firstId = firstId;
  segment->lastId = firstId - 1;
  if (!m_dir.empty()) {
    char name[32];
    std::snprintf(name, sizeof name, "/%020llu.q", static_cast<unsigned long long>(firstId));
    segment->path = m_dir + name;
    segment->fd = ::open(segment->path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (segment->fd < 0) {
      error = errnoText("cannot make '" + segment->path + "'");
      return false;
    }
  }
  m_segments.push_back(std::move(segment));
  return true;
}

long long FeedQueue::nextSeq(const std::string& topic) {
  const auto found = m_seqs.find(topic);
  return found == m_seqs.end() ? 1 : found->second + 1;
}

bool FeedQueue::writeRecord(Segment& segment, const std::string& record, std::string& error) {
  if (segment.fd < 0) {
    segment.memory += record;
    return true;
  }
  if (writeAll(segment.fd, record.data(), record.size())) return true;
  error = errnoText("cannot write '" + segment.path + "'");
  // Only whole messages: what reached the file of this one goes again.
  [[maybe_unused]] const int cut = ::ftruncate(segment.fd, static_cast<off_t>(segment.size));
  return false;
}

bool FeedQueue::append(const std::string& topic, std::string_view payload, long long seq, std::int64_t nowMs,
                       std::string& error) {
  if (!m_open) {
    error = "the queue is not open";
    return false;
  }
  long long& last = m_seqs[topic];
  last = std::max(last, seq);
  m_seqsChanged = true;
  const std::size_t plain = topic.size() + payload.size();
  if (topic.size() > 0xffff || plain > kMaxPlain) {
    error = "a message of " + std::to_string(plain) + " bytes is too large to keep";
    return false;
  }
  // What the limits no longer allow goes first.
  const std::int64_t oldest = nowMs - m_limits.maxAgeSeconds * 1000;
  while (!m_segments.empty() && !m_segments.front()->empty() &&
         (m_bytes + kHeaderSize + plain > m_limits.maxBytes || m_segments.front()->lastTimeMs < oldest))
    dropOldest();
  if (m_segments.empty() || m_segments.back()->size >= m_segmentLimit)
    if (!openSegmentForAppend(m_nextId, error)) return false;
  Segment& segment = *m_segments.back();

  m_buffer.assign(topic);
  m_buffer.append(payload);
  Header h{};
  h.plainLength = static_cast<std::uint32_t>(plain);
  h.id = m_nextId;
  h.seq = seq;
  h.timeMs = nowMs;
  h.topicLength = static_cast<std::uint16_t>(topic.size());
  h.mark = kMark;
  const bool first = segment.empty();
  h.deflated = !first && m_zlib->deflate(segment.dictionary, m_buffer, m_record);
  const std::string& body = h.deflated ? m_record : m_buffer;
  h.bodyLength = static_cast<std::uint32_t>(body.size());
  std::string record(reinterpret_cast<const char*>(&h), kHeaderSize);
  record += body;
  if (!writeRecord(segment, record, error)) return false;
  if (first) segment.dictionary = m_buffer;
  segment.lastId = m_nextId++;
  segment.lastTimeMs = nowMs;
  segment.size += record.size();
  m_bytes += record.size();
  return true;
}

bool FeedQueue::readAt(const Segment& segment, std::uint64_t offset, std::size_t size, std::string& out) const {
  if (offset + size > segment.size) return false;
  if (segment.fd < 0) {
    out.assign(segment.memory, offset, size);
    return true;
  }
  out.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(segment.fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool FeedQueue::decode(const Segment& segment, std::uint64_t offset, QueuedMessage& out, std::uint64_t& length,
                       bool headerOnly) const {
  std::string bytes;
  if (!readAt(segment, offset, kHeaderSize, bytes)) return false;
  Header h;
  std::memcpy(&h, bytes.data(), kHeaderSize);
  length = kHeaderSize + h.bodyLength;
  out.id = h.id;
  out.seq = h.seq;
  out.timeMs = h.timeMs;
  if (headerOnly) return true;
  if (!readAt(segment, offset + kHeaderSize, h.bodyLength, bytes)) return false;
  std::string plain;
  if (!h.deflated) plain = std::move(bytes);
  else if (!m_zlib->inflate(segment.dictionary, bytes, h.plainLength, plain)) return false;
  out.topic.assign(plain, 0, h.topicLength);
  out.payload.assign(plain, h.topicLength);
  return true;
}

bool FeedQueue::next(QueuedMessage& out) {
  if (m_readId < m_head) {
    m_readId = m_head;
    m_readKnown = false;
  }
  while (m_readId < m_nextId) {
    auto it = std::find_if(m_segments.begin(), m_segments.end(),
                           [&](const auto& s) { return !s->empty() && s->lastId >= m_readId; });
    if (it == m_segments.end()) return false;
    const Segment& segment = **it;
    if (m_readId < segment.firstId) {
      m_readId = segment.firstId;
      m_readKnown = false;
    }
    // A reader that caught up stays at the end of the segment being written, so a new
    // message is read where it was appended, not found by a walk from the start.
    if (!m_readKnown || m_readSegment != segment.firstId || m_readOffset > segment.size) {
      // Walk the headers from the segment's start to the message wanted.
      m_readOffset = 0;
      m_readSegment = segment.firstId;
      QueuedMessage header;
      std::uint64_t length = 0;
      while (decode(segment, m_readOffset, header, length, true) && header.id < m_readId) m_readOffset += length;
      m_readKnown = true;
    }
    std::uint64_t length = 0;
    const bool wanted = !m_ackedAhead.count(m_readId);
    if (!decode(segment, m_readOffset, out, length, !wanted) || out.id != m_readId) {
      // Unreadable: skip the rest of this segment rather than stop the feed.
      m_readId = segment.lastId + 1;
      m_readKnown = false;
      continue;
    }
    ++m_readId;
    m_readOffset += length;
    if (wanted) return true;
  }
  return false;
}

void FeedQueue::acknowledge(std::uint64_t id) {
  if (id < m_head || id >= m_nextId) return;
  if (id != m_head) {
    m_ackedAhead.insert(id);
    return;
  }
  ++m_head;
  while (!m_ackedAhead.empty() && *m_ackedAhead.begin() == m_head) {
    m_ackedAhead.erase(m_ackedAhead.begin());
    ++m_head;
  }
  removeAcknowledgedSegments();
}

void FeedQueue::rewind() {
  m_readId = m_head;
  m_readKnown = false;
}

std::uint64_t FeedQueue::backlog() const { return m_nextId - m_head - m_ackedAhead.size(); }

void FeedQueue::removeAcknowledgedSegments() {
  // Every segment but the one written, and that one too once full.
  while (!m_segments.empty() && !m_segments.front()->empty() && m_segments.front()->lastId < m_head &&
         (m_segments.size() > 1 || m_segments.front()->size >= m_segmentLimit)) {
    removeFrontSegment();
  }
}

void FeedQueue::removeFrontSegment() {
  saveSeqs();
  saveAcked();
  Segment& segment = *m_segments.front();
  if (segment.fd >= 0) ::close(segment.fd);
  if (!segment.path.empty()) ::unlink(segment.path.c_str());
  m_bytes -= segment.size;
  m_segments.pop_front();
  m_readKnown = false;
}

void FeedQueue::dropOldest() {
  Segment& segment = *m_segments.front();
  const std::uint64_t from = std::max(segment.firstId, m_head);
  if (segment.lastId >= from) {
    std::uint64_t acked = 0;
    for (auto it = m_ackedAhead.lower_bound(from); it != m_ackedAhead.end() && *it <= segment.lastId;) {
      ++acked;
      it = m_ackedAhead.erase(it);
    }
    m_dropped += segment.lastId - from + 1 - acked;
    m_head = segment.lastId + 1;
    while (!m_ackedAhead.empty() && *m_ackedAhead.begin() == m_head) {
      m_ackedAhead.erase(m_ackedAhead.begin());
      ++m_head;
    }
  }
  removeFrontSegment();
}

void FeedQueue::saveAcked() {
  if (m_ackFd < 0 || m_head == m_savedHead) return;
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%020llu\n", static_cast<unsigned long long>(m_head));
  if (::pwrite(m_ackFd, text, static_cast<std::size_t>(n), 0) == n) m_savedHead = m_head;
}

void FeedQueue::saveSeqs() {
  if (m_dir.empty() || !m_seqsChanged) return;
  std::string text;
  for (const auto& [topic, seq] : m_seqs) text += std::to_string(seq) + " " + topic + "\n";
  const std::string path = m_dir + "/seq", temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool written = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) m_seqsChanged = false;
}

int FeedQueue::duplicateForSync() const {
  if (m_segments.empty() || m_segments.back()->fd < 0) return -1;
  return ::fcntl(m_segments.back()->fd, F_DUPFD_CLOEXEC, 0);
}

}  // namespace files
