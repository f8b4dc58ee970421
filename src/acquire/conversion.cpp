#include "acquire/conversion.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "files/csvformat.h"
#include "files/engrformat.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace acquire {

/// A thread that runs jobs one at a time in the order they are given: a conversion's
/// checks of its blocks while the next are read and written (the checks are about a fifth
/// of a conversion with them).
class CheckThread {
 public:
  CheckThread() : m_thread([this] { run(); }) {}
  // Notifications are made after the lock is let go, so that the thread woken does not
  // wait for it again (helgrind calls that "dubious"; it is not).
  /// Finishes the job running; those not started are dropped.
  ~CheckThread() {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }
  CheckThread(const CheckThread&) = delete;
  CheckThread& operator=(const CheckThread&) = delete;

  /// Queues `job` after those given before.
  void start(std::function<void()> job) {
    {
      std::lock_guard lock(m_mutex);
      m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
  }
  /// Returns once the first `n` jobs given are done.
  void waitFor(size_t n) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this, n] { return m_done >= n; });
  }
  /// Returns once every job given is done.
  void wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty(); });
  }

 private:
  void run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
      if (m_stop) return;
      // The job stays queued while it runs: wait() returns once it is done.
      std::function<void()>& job = m_jobs.front();
      lock.unlock();
      job();
      lock.lock();
      m_jobs.pop_front();
      ++m_done;
      lock.unlock();
      m_changed.notify_all();
      lock.lock();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_jobs;  ///< the one running first
  size_t m_done = 0;
  bool m_stop = false;
  std::thread m_thread;  ///< last: it starts once the rest is ready
};

ConversionFormat exportFormatFor(const std::string& path) {
  return conversionFormatFor(path) == ConversionFormat::Netcdf ? ConversionFormat::Netcdf : ConversionFormat::Csv;
}

namespace {

constexpr size_t kReadBlock = 1 << 16;
constexpr size_t kOutputBlock = 1 << 20;
// Samples checked at once: their values and flags stay in the processor's caches, and the
// check thread is woken a few hundred times in a million lines.
constexpr size_t kQcBlock = 2048;
// Apart from that, a stream's values and flags are this many places after the one before:
// stores of one sample to all streams at a power-of-two stride would all fall into one
// set of the first-level cache, and push each other out.
constexpr size_t kQcStride = kQcBlock + 8;
// Blocks in turn for NetCDF: its check thread also writes the file, about as long as the
// reading and converting take, so that a block slower on one side is made up by the next.
// Elsewhere the checks take a fraction of it and two blocks do; more would only keep more
// CSV rows back.
constexpr size_t kNetcdfQcBlocks = 4;

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

// Where the chain of symbolic links starting at `path` ends (`path` itself when it is no
// link), whether or not a file is there: a file written by renaming replaces that one, and
// the links stay links, as cp leaves them.
std::string linkTarget(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path at = path;
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(at, ec)); ++hops) {
    const fs::path next = fs::read_symlink(at, ec);
    if (ec) break;
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  return at.string();
}

// A free name beside `path` for a file that is renamed to `path` when complete; "" (errno
// set) when the folder does not take a new file.
std::string temporaryNameFor(const std::string& path) {
#if defined(_WIN32)
  std::string name = path + ".part";
  return name;
#else
  std::string name = path + ".part-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return {};
  // mkstemp makes the file private; the finished file takes the mode any new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return name;
#endif
}

}  // namespace

std::optional<ConversionFormat> conversionFormatFor(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".eng") return ConversionFormat::Eng;
  if (ext == ".csv") return ConversionFormat::Csv;
  if (ext == ".nc" || ext == ".nc4" || ext == ".cdf") return ConversionFormat::Netcdf;
  return std::nullopt;
}

ConversionJob::ConversionJob(Request request, Warn warn) : m_request(std::move(request)), m_warn(std::move(warn)) {
  m_state.config = m_request.config;
  // No host clock: the host's time of day is no part of a conversion.
  m_dispatch = std::make_unique<meterlink::LineDispatch>(
      m_state,
      [this](const std::string& caption, const std::string& text) {
        if (m_warn) m_warn(m_lines + 1, caption, text);
      },
      nullptr);
  m_dispatch->deviceFileInForce = true;
  m_dispatch->refCorrection = m_request.refCorrection;
  m_dispatch->tempCorrection = m_request.tempCorrection;
  m_dispatch->setOverflowHandler([this] {
    if (m_warn) m_warn(m_lines + 1, "Input Buffer Overflow", "Check Baud Rate");
  });
  m_dispatch->setLineHandler([this](const meterlink::Line& line) { takeLine(line); });
  // The device file is loaded once and no line changes its columns.
  m_engLine = std::make_unique<files::EngrLineWriter>(m_state.config, m_state.eng);
}

ConversionJob::~ConversionJob() {
  if (m_status == Status::Running) cancel();
}

bool ConversionJob::start() {
  if (m_started) return m_status == Status::Running;
  m_started = true;
  const std::string& input = m_request.input;
  const std::string& output = m_request.output;
  // A raw recording is often the only copy of a cast: nothing is opened for writing before
  // it is known that the input is a file and the output is not that same file.
  struct stat in {}, out {};
  if (::stat(input.c_str(), &in) != 0) {
    fail("cannot read " + inQuotes(input) + ": " + std::strerror(errno));
    return false;
  }
  if ((in.st_mode & S_IFMT) != S_IFREG) {
    fail("cannot read " + inQuotes(input) + ": " +
         ((in.st_mode & S_IFMT) == S_IFDIR ? std::strerror(EISDIR) : "not a regular file"));
    return false;
  }
  const bool toStdout = output == "-";
  const bool outputThere = toStdout ? ::fstat(fileno(stdout), &out) == 0 : ::stat(output.c_str(), &out) == 0;
  if (!outputThere && !toStdout && errno != ENOENT) {
    fail("cannot write " + inQuotes(output) + ": " + std::strerror(errno));
    return false;
  }
  if (outputThere && out.st_dev == in.st_dev && out.st_ino == in.st_ino) {
    fail("the output " + (toStdout ? std::string("(standard output)") : inQuotes(output)) + " is the input " +
         inQuotes(input) + "; nothing was written");
    return false;
  }
  if (m_request.qc) {
    std::string why;
    m_qc = files::QcRun::bind(*m_request.qc, m_state.config, why);
    if (!m_qc) {
      fail(why);
      return false;
    }
    m_flagCounts.assign(m_qc->streams().size(), {});
    // A CSV row is written with placeholder flags, put right once the spike flags are known:
    // passes, the flag most samples get, so that a block that passes stays as it is.
    const size_t streams = m_qc->streams().size();
    m_aggregates.assign(streams, qc::Flag::Pass);
    m_heldFlags.assign(streams, qc::Flags{});
    m_heldDigitAt.assign(streams, 0);
    m_heldColumns.assign(streams * (1 + qc::kTestCount), 0);
    if (!m_request.hostTimes) {
      for (size_t i = 0; i < streams; ++i) m_qcSources.push_back(m_qc->source(i, m_state.sample, m_state.eng));
      m_qcBlocks.resize(m_request.format == ConversionFormat::Netcdf ? kNetcdfQcBlocks : 2);
      for (QcBlock& block : m_qcBlocks) {
        block.seconds.resize(kQcBlock);
        block.values.resize(streams * kQcStride);
        block.flags.resize(streams * (1 + qc::kTestCount) * kQcStride);
        if (m_request.format == ConversionFormat::Csv) {
          block.digitAt.resize(streams * kQcStride);
          block.rowAt.resize(kQcBlock);
        }
      }
      if (std::thread::hardware_concurrency() > 1) m_checkThread = std::make_unique<CheckThread>();
    }
  }
  if (!m_reader.open(input)) {
    fail("cannot read " + inQuotes(input) + ": " + std::strerror(errno));
    return false;
  }
  m_inputBytes = static_cast<long long>(in.st_size);
  // A device or a pipe named as output is written into, never replaced.
  const bool special = !toStdout && outputThere && (out.st_mode & S_IFMT) != S_IFREG && (out.st_mode & S_IFMT) != S_IFDIR;
  if (special && m_request.format == ConversionFormat::Netcdf) {
    fail("cannot write " + inQuotes(output) + ": a NetCDF file must be a regular file");
    return false;
  }
  m_destination = toStdout || special ? output : linkTarget(output);
  if (m_request.format == ConversionFormat::Csv && !toStdout && !special) {
    m_partPath = temporaryNameFor(m_destination);
    if (m_partPath.empty()) {
      fail("cannot write " + inQuotes(output) + ": " + std::strerror(errno));
      return false;
    }
  }
  if (!openOutput()) return false;
  m_block.resize(kReadBlock);
  return true;
}

files::NetcdfProvenance ConversionJob::provenanceOf(const Request& request) {
  files::NetcdfProvenance provenance;
  provenance.deviceFileText = request.deviceFileText;
  provenance.history = request.history;
  provenance.meterTimeZone = request.meterTimeZone;
  provenance.attributes = request.attributes;
  provenance.variableAttributes = request.variableAttributes;
  provenance.deflateLevel = request.deflateLevel;
  if (!request.program.empty()) provenance.program = request.program;
  if (request.hostTimes) {
    provenance.hostTimes = true;
    provenance.timeSource = "host receive time; meter clock in meter_time";
    provenance.timeComment = request.hostTimes->timeComment();
  }
  return provenance;
}

bool ConversionJob::checkNetcdf(const Request& request, std::string& error, std::vector<std::string>& warnings) {
  files::NetcdfProvenance provenance = provenanceOf(request);
  provenance.inMemory = true;
  std::optional<files::QcRun> qc;
  if (request.qc && !(qc = files::QcRun::bind(*request.qc, request.config, error))) return false;
  // Nothing of the user's to fit: the program's own definitions always do. (Defining a file
  // with quality flags takes tens of milliseconds, a tenth of converting a million lines.)
  warnings.clear();
  if (request.attributes.empty() && request.variableAttributes.empty()) return true;
  files::NetcdfWriter writer;
  const bool defined = qc ? writer.open(request.output, request.config, provenance, *qc)
                          : writer.open(request.output, request.config, provenance);
  if (!defined) error = writer.error();
  warnings = writer.warnings();
  writer.abandon();
  return defined;
}

bool ConversionJob::openOutput() {
  const std::string& output = m_request.output;
  if (m_request.format == ConversionFormat::Netcdf) {
    files::NetcdfProvenance provenance = provenanceOf(m_request);
    // About a record per 8 bytes of input: more than data lines ever give, and any guess
    // only sets the chunk size (a whole block from 32 KiB of input on).
    provenance.expectedRecords = static_cast<size_t>(std::max(0LL, m_inputBytes) / 8 + 1);
    if (m_qc ? !m_netcdf.open(m_destination, m_state.config, provenance, *m_qc)
             : !m_netcdf.open(m_destination, m_state.config, provenance)) {
      fail(m_netcdf.error());
      return false;
    }
    if (m_request.hostTimes) m_netcdf.setRecordPlaces(m_request.hostTimes->places());
    if (m_qc && !m_request.hostTimes) {
      m_recordSources = m_netcdf.valueSources(m_state.sample, m_state.eng);
      for (QcBlock& block : m_qcBlocks) block.records.resize(kQcStride * m_recordSources.size());
    }
    return true;
  }
  if (output == "-") {
    m_file.attach(stdout, "-");
  } else if (!m_file.open(m_partPath.empty() ? m_destination : m_partPath)) {
    fail("cannot write " + inQuotes(output) + ": " + std::strerror(errno));
    return false;
  }
  m_file.setFlushEachWrite(false);  // large blocks; a converter has no crash to survive
  // The header goes out with the first block of lines.
  const std::string header = m_request.format == ConversionFormat::Eng ? files::EngrHeader(m_state.config)
                             : m_qc ? files::CsvHeader(m_state.config, *m_qc)
                                    : files::CsvHeader(m_state.config);
  m_out.resize(kOutputBlock + m_engLine->maxChars() + header.size() + 4096);
  std::memcpy(m_out.data(), header.data(), header.size());
  m_used = header.size();
  return true;
}

ConversionJob::Status ConversionJob::step(size_t maxBytes) {
  if (m_status != Status::Running || !m_started) return m_status;
  size_t budget = std::max<size_t>(maxBytes, 1);
  while (budget > 0 && m_status == Status::Running) {
    const size_t n = m_reader.readBlock(m_block.data(), std::min(budget, m_block.size()));
    if (n == 0) {
      if (finish()) m_status = Status::Done;
      break;
    }
    m_readBytes += static_cast<long long>(n);
    budget -= std::min(budget, n);
    m_dispatch->feed(m_block.data(), n);
  }
  return m_status;
}

void ConversionJob::takeLine(const meterlink::Line& line) {
  if (m_status != Status::Running) return;
  ++m_lines;
  if (line.kind == meterlink::Line::Kind::Reply) {
    m_known.noteReply(line.text, line.reply.matched);
    return;
  }
  m_known.noteDataLine(line.text);
  if (const int fresh = line.correctionsSkipped & ~m_correctionWarned) {
    m_correctionWarned |= fresh;
    for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
      if ((fresh & flag) && m_warn) m_warn(m_lines, "Correction Skipped", measure::CorrectionSkippedText(flag));
  }
  ++m_samples;
  const measure::MeterClock& clock = m_state.clock;
  switch (m_request.format) {
    case ConversionFormat::Eng:
      // Written in place: the hot path of a long conversion. Flags are only counted.
      m_used = static_cast<size_t>(m_engLine->write(m_out.data() + m_used, m_state.sample, clock) - m_out.data());
      if (m_qc)
        gatherFlags(files::meterEpochSeconds(clock, m_known.dateKnown(clock), m_known.timeKnown(),
                                             m_request.meterTimeZone));
      break;
    case ConversionFormat::Csv: {
      const files::SampleTimes times{
          std::nullopt,
          files::meterEpochSeconds(clock, m_known.dateKnown(clock), m_known.timeKnown(), m_request.meterTimeZone)};
      m_row.clear();
      if (m_qc)
        files::appendCsvRow(m_row, times, m_state.config, m_state.sample, clock, m_state.eng, *m_qc, m_aggregates,
                            &m_rowFlagAt);
      else
        files::appendCsvRow(m_row, times, m_state.config, m_state.sample, clock, m_state.eng);
      if (m_used + m_row.size() > m_out.size()) m_out.resize(m_used + m_row.size());
      std::memcpy(m_out.data() + m_used, m_row.data(), m_row.size());
      m_lastRowAt = m_used;
      m_used += m_row.size();
      if (m_qc) {
        // The row's flags are placeholders until its block is checked; the spike flags of
        // the last row in the block wait for the next sample.
        QcBlock& block = gatheringBlock();
        const size_t rowAt = m_outBase + m_lastRowAt;
        block.rowAt[block.count] = rowAt;
        for (size_t i = 0; i < m_rowFlagAt.size(); ++i) block.digitAt[i * kQcStride + block.count] = rowAt + m_rowFlagAt[i];
        gatherFlags(times.meterEpochSeconds);
        if (m_used >= kOutputBlock) flushCsvKeepingHeldRow();
        return;
      }
      break;
    }
    case ConversionFormat::Netcdf: {
      const auto time =
          files::meterEpochSeconds(clock, m_known.dateKnown(clock), m_known.timeKnown(), m_request.meterTimeZone);
      if (m_request.hostTimes) {
        // The flags come from the samples in the order the meter sent them, as a
        // conversion's do; the records go where the host's receive times put them.
        m_values.clear();
        files::appendCsvValues(m_values, m_state.config, m_state.sample, clock, m_state.eng);
        m_missing.clear();
        std::optional<files::SampleTimes> times;
        m_request.hostTimes->next(m_values, m_missing, times);
        if (m_qc) takeFlags(time);
        if (!writeMissing()) return;
        if (times) {
          if (times->meterEpochSeconds == std::nullopt) times->meterEpochSeconds = time;
          if (!m_netcdf.write(*times, m_state.sample, m_state.eng, m_qc ? &m_qc->now() : nullptr))
            return fail(m_netcdf.error());
        }
        m_heldWritten = times.has_value();
        return;
      }
      // With checks, the record waits in its block and is written with its flags.
      if (!m_qc) {
        if (!m_netcdf.write(time, m_state.sample, m_state.eng)) return fail(m_netcdf.error());
        return;
      }
      QcBlock& block = gatheringBlock();
      for (size_t j = 0; j < m_recordSources.size(); ++j) block.records[j * kQcStride + block.count] = *m_recordSources[j];
      gatherFlags(time);
      return;
    }
  }
  if (m_used >= kOutputBlock) flush();
}

// Checks the sample just decoded (NetCDF along the host's times, whose records may wait
// for missing ones before them); the one held before it gets its spike flags and goes out.
void ConversionJob::takeFlags(std::optional<double> time) {
  m_qc->push(time, m_state.sample, m_state.eng);
  completeHeldSample(m_qc->previousSpike());
  m_held = true;
  m_heldFlags = m_qc->now();
}

// Takes the sample just decoded into the block (all but a NetCDF file along the host's
// times), and has the block checked once full.
void ConversionJob::gatherFlags(std::optional<double> time) {
  QcBlock& block = gatheringBlock();
  const size_t k = block.count++;
  block.seconds[k] = time ? *time : std::numeric_limits<double>::quiet_NaN();
  for (size_t i = 0; i < m_qcSources.size(); ++i) block.values[i * kQcStride + k] = *m_qcSources[i];
  if (block.count == kQcBlock) submitBlock();
}

// The gathered block goes to be checked (on the check thread, after those before it, while
// the next is gathered). Meanwhile m_qc is only read for what the checks leave alone: its
// streams and CSV layout.
void ConversionJob::submitBlock() {
  QcBlock& block = gatheringBlock();
  if (block.count == 0 || m_status != Status::Running) return;
  ++m_submitted;
  if (m_checkThread)
    m_checkThread->start([this, &block] { checkOnThread(block); });
  else
    checkOnThread(block);
  // The next block is gathered in place of the oldest, whose flags are taken first.
  if (m_submitted - m_collected == m_qcBlocks.size()) collectBlock();
}

void ConversionJob::checkOnThread(QcBlock& block) {
  m_qc->pushBlock(block.seconds.data(), block.values.data(), block.count, kQcStride, block.flags.data());
  block.heldSpike = m_qc->previousSpike();
  block.lastFlags = m_qc->now();
  if (m_request.format == ConversionFormat::Netcdf) {
    if (m_checkThread) files::NetcdfWriter::quietOnThisThread();
    // Once a write failed, the file is not touched again: the conversion fails.
    block.written = m_checkedWritten && writeBlock(block);
    m_checkedWritten = block.written;
  }
}

// Takes the oldest checked block's flags: the held sample and all of the block but its
// last sample get their final flags (counted, and in a CSV row put in place); the last is
// held.
void ConversionJob::collectBlock() {
  if (m_collected == m_submitted) return;
  QcBlock& block = m_qcBlocks[m_collected % m_qcBlocks.size()];
  if (m_checkThread) m_checkThread->waitFor(m_collected + 1);
  ++m_collected;
  const size_t n = block.count;
  block.count = 0;
  const bool netcdf = m_request.format == ConversionFormat::Netcdf;
  completeHeldSample(block.heldSpike, !netcdf);  // the check thread gave NetCDF its flags
  const bool csv = m_request.format == ConversionFormat::Csv;
  for (size_t i = 0; i < m_heldFlags.size(); ++i) {
    const uint8_t* aggregate = files::QcRun::flagColumns(block.flags.data(), i, kQcStride).aggregate;
    std::array<long long, 10>& counts = m_flagCounts[i];
    // Mostly passes: counted in vector code, the rest one by one.
    size_t passes = 0;
    for (size_t k = 0; k + 1 < n; ++k) passes += aggregate[k] == static_cast<uint8_t>(qc::Flag::Pass);
    const bool allPass = passes + 1 == n;
    if (allPass)
      counts[static_cast<size_t>(qc::Flag::Pass)] += static_cast<long long>(passes);
    else
      for (size_t k = 0; k + 1 < n; ++k) ++counts[aggregate[k]];
    if (csv) {
      const size_t* digitAt = &block.digitAt[i * kQcStride];
      if (!allPass)  // else the placeholders are right
        for (size_t k = 0; k + 1 < n; ++k)
          m_out[digitAt[k] - m_outBase] = files::csvFlagDigit(static_cast<qc::Flag>(aggregate[k]));
      m_heldDigitAt[i] = digitAt[n - 1];
    }
  }
  m_heldFlags = block.lastFlags;
  if (csv) m_heldRowAt = block.rowAt[n - 1];
  m_held = true;
  // A failed write is the check thread's last use of the file (m_checkedWritten).
  if (netcdf && !block.written) fail(m_netcdf.error());
}

// One sample's flags per stream as flag columns of one sample (files::QcRun::flagColumns).
static void putInColumns(const std::vector<qc::Flags>& flags, std::vector<uint8_t>& columns) {
  for (size_t i = 0; i < flags.size(); ++i) {
    const qc::FlagColumns column = files::QcRun::flagColumns(columns.data(), i, 1);
    *column.aggregate = static_cast<uint8_t>(flags[i].aggregate());
    for (size_t t = 0; t < qc::kTestCount; ++t) *column.test[t] = static_cast<uint8_t>(flags[i].test[t]);
  }
}

bool ConversionJob::writeBlock(const QcBlock& block) {
  if (m_checkedHeld) {
    // The sample held before the block: its spike flag is known now.
    std::vector<qc::Flags> flags = m_checkedHeldFlags;
    for (size_t i = 0; i < flags.size(); ++i)
      if (block.heldSpike[i]) flags[i][qc::Test::Spike] = *block.heldSpike[i];
    std::vector<uint8_t> columns(flags.size() * (1 + qc::kTestCount));
    putInColumns(flags, columns);
    if (!m_netcdf.writeFlags(columns.data(), 1, 1)) return false;
  }
  m_checkedHeld = true;
  m_checkedHeldFlags = block.lastFlags;
  if (!m_netcdf.writeColumns(block.seconds.data(), block.records.data(), block.count, kQcStride)) return false;
  return m_netcdf.writeFlags(block.flags.data(), block.count - 1, kQcStride);
}

// Checks all that is gathered, and waits for it.
void ConversionJob::checkBlock() {
  if (m_qcBlocks.empty()) return;  // checked one by one (along host times)
  submitBlock();
  while (m_collected < m_submitted && m_status == Status::Running) collectBlock();
}

// CSV with checks: the rows before the first still waiting for flags go out (the held
// sample's, else the first being checked or gathered).
bool ConversionJob::flushCsvKeepingHeldRow() {
  const QcBlock& oldest = m_qcBlocks[m_collected % m_qcBlocks.size()];
  const size_t firstWaiting = m_held                    ? m_heldRowAt
                              : oldest.count > 0        ? oldest.rowAt[0]
                                                        : m_outBase + m_used;
  const size_t keep = firstWaiting - m_outBase;
  if (keep == 0) return true;
  if (!m_file.write(std::string_view(m_out.data(), keep))) {
    fail(inQuotes(m_request.output) + " could not be written: " + std::strerror(errno));
    return false;
  }
  std::memmove(m_out.data(), m_out.data() + keep, m_used - keep);
  m_used -= keep;
  m_lastRowAt -= std::min(m_lastRowAt, keep);
  m_outBase += keep;
  return true;
}

void ConversionJob::completeHeldSample(const std::vector<std::optional<qc::Flag>>& spike, bool toFile) {
  if (!m_held) return;
  m_held = false;
  for (size_t i = 0; i < m_heldFlags.size(); ++i) {
    if (spike[i]) m_heldFlags[i][qc::Test::Spike] = *spike[i];
    const qc::Flag flag = m_heldFlags[i].aggregate();
    ++m_flagCounts[i][static_cast<size_t>(flag)];
    if (m_request.format == ConversionFormat::Csv) m_out[m_heldDigitAt[i] - m_outBase] = files::csvFlagDigit(flag);
  }
  if (m_request.format != ConversionFormat::Netcdf || !toFile) return;
  if (m_request.hostTimes) {
    if (m_heldWritten) m_netcdf.setLastSpike(spike);
    return;
  }
  putInColumns(m_heldFlags, m_heldColumns);
  if (!m_netcdf.writeFlags(m_heldColumns.data(), 1, 1)) fail(m_netcdf.error());
}

bool ConversionJob::writeMissing() {
  for (const files::SampleTimes& times : m_missing)
    if (!m_netcdf.writeMissing(times)) {
      fail(m_netcdf.error());
      return false;
    }
  return true;
}

std::vector<std::string> ConversionJob::qcStreams() const {
  std::vector<std::string> names;
  if (m_qc)
    for (const files::QcStream& stream : m_qc->streams()) names.push_back(stream.name);
  return names;
}

bool ConversionJob::flush() {
  if (m_used == 0) return true;
  if (!m_file.write(std::string_view(m_out.data(), m_used))) {
    fail(inQuotes(m_request.output) + " could not be written: " + std::strerror(errno));
    return false;
  }
  m_used = 0;
  return true;
}

bool ConversionJob::finish() {
  if (m_qc) {
    checkBlock();
    if (m_status != Status::Running) return false;
    m_qc->finish();
    completeHeldSample(m_qc->previousSpike());
    if (m_status != Status::Running) return false;
  }
  if (m_request.format == ConversionFormat::Netcdf) {
    if (m_request.hostTimes) {
      m_missing.clear();
      m_request.hostTimes->rest(m_missing);
      if (!writeMissing()) return false;
    }
    if (!m_netcdf.finish()) {
      fail(m_netcdf.error());
      return false;
    }
    return true;
  }
  if (!flush()) return false;
  if (m_request.output == "-" && std::fflush(stdout) != 0) {
    fail(inQuotes(m_request.output) + " could not be completed: " + std::strerror(errno));
    return false;
  }
  if (!m_file.close()) {
    fail(inQuotes(m_request.output) + " could not be completed: " + std::strerror(errno));
    return false;
  }
  if (!m_partPath.empty()) {
    std::error_code ec;
    std::filesystem::rename(m_partPath, m_destination, ec);
    if (ec) {
      fail("cannot rename " + inQuotes(m_partPath) + " to " + inQuotes(m_destination) + ": " + ec.message());
      return false;
    }
    m_partPath.clear();
  }
  return true;
}

void ConversionJob::fail(const std::string& text) {
  m_status = Status::Failed;
  // Once lines were read, the line being converted when it failed is named.
  m_error = m_lines > 0 || m_readBytes > 0
                ? "Line " + std::to_string(std::max<long>(m_lines, 1)) + " of " + inQuotes(m_request.input) + ": " + text
                : text;
  discardOutput();
}

void ConversionJob::cancel() {
  if (m_status != Status::Running) return;
  m_status = Status::Cancelled;
  discardOutput();
}

void ConversionJob::discardOutput() {
  // The check thread may be writing the NetCDF file.
  if (m_checkThread) m_checkThread->wait();
  m_reader.close();
  if (m_request.format == ConversionFormat::Netcdf) {
    m_netcdf.abandon();
  } else {
    m_file.close();
    // Only the temporary file this conversion made is removed (never the chosen file, nor
    // a device such as /dev/full).
    if (!m_partPath.empty()) std::remove(m_partPath.c_str());
    m_partPath.clear();
  }
  m_used = 0;
}

std::string ConversionJob::temporaryPath() const {
  return m_request.format == ConversionFormat::Netcdf ? m_netcdf.temporaryPath() : m_partPath;
}

int ConversionJob::percent() const {
  if (m_status == Status::Done) return 100;
  if (m_inputBytes <= 0) return 0;
  return static_cast<int>(std::min<long long>(100, m_readBytes * 100 / m_inputBytes));
}

ConversionJob::Request exportRequest(const std::string& input, const std::string& output, ConversionFormat format,
                                     const measure::DeviceConfig& config, const std::string& deviceFilePath,
                                     const files::QcRun* qc, bool refCorrection, bool tempCorrection,
                                     files::UtcOffset zone) {
  ConversionJob::Request request;
  request.format = format;
  request.input = input;
  request.output = output;
  request.config = config;
  // The checks in force flag the export too (their spike flags complete, as in maru convert).
  if (qc) request.qc = qc->config();
  request.refCorrection = refCorrection;
  request.tempCorrection = tempCorrection;
  request.deviceFileText = files::readWholeFile(deviceFilePath);
  request.meterTimeZone = zone;
  // Names without their folders: a file's history says nothing about this machine.
  request.history = "maruview Export Recording: '" + std::filesystem::path(input).filename().string() + "' with '" +
                    std::filesystem::path(deviceFilePath).filename().string() + "'";
  return request;
}

ConversionJob::Warn collectWarnings(std::vector<std::string>& into) {
  return [&into](long line, const std::string& caption, const std::string& text) {
    std::string oneLine = text;
    for (char& c : oneLine)
      if (c == '\n' || c == '\r') c = ' ';
    into.push_back("line " + std::to_string(line) + ": " + caption + ": " + oneLine);
  };
}

std::string listLines(const std::vector<std::string>& lines, size_t shown) {
  std::string text;
  shown = std::min(shown, lines.size());
  for (size_t i = 0; i < shown; ++i) text += "\n" + lines[i];
  if (lines.size() > shown) text += "\n... and " + std::to_string(lines.size() - shown) + " more";
  return text;
}

}  // namespace acquire
