#include "acquire/dailynetcdf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <regex>

#include "acquire/logclock.h"
#include "files/csvformat.h"
#include "files/qcrun.h"

namespace acquire {

namespace {

constexpr double kTieStep = 1e-6;  // seconds between records of the same receive time
constexpr size_t kLookAhead = 256;  // rows looked at for a raw line's own row

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

std::optional<double> epochSeconds(std::string_view text) {
  const auto at = parseUtcTime(std::string(text));
  if (!at) return std::nullopt;
  return std::chrono::duration<double>(at->time_since_epoch()).count();
}

std::vector<std::string_view> fields(std::string_view row) {
  std::vector<std::string_view> out;
  size_t at = 0;
  for (size_t comma; (comma = row.find(',', at)) != std::string_view::npos; at = comma + 1)
    out.push_back(row.substr(at, comma - at));
  out.push_back(row.substr(at));
  return out;
}

// The modification time of a file in nanoseconds; nothing when it is not there.
std::optional<long long> modified(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// The first line of `file` from where it stands, without its line end; the stream is left
// after it. A header is never longer than kMaxHeader: what is longer is not one of ours.
constexpr size_t kMaxHeader = 1 << 16;
std::string readFirstLine(std::FILE* file) {
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && line.size() <= kMaxHeader;) line += static_cast<char>(c);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string firstLine(const std::string& path) {
  std::string line;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    line = readFirstLine(f);
    std::fclose(f);
  }
  return line;
}

}  // namespace

// ------------------------------------------------------------------------------ CsvTimes

CsvTimes::~CsvTimes() {
  if (m_csv) std::fclose(m_csv);
  if (m_raw) std::fclose(m_raw);
}

bool CsvTimes::open(const std::string& csvPath, const std::string& rawPath, const std::string& header,
                    const std::vector<std::string>& valueNames) {
  m_csv = std::fopen(csvPath.c_str(), "rb");
  if (!m_csv) {
    m_error = "cannot read " + inQuotes(csvPath) + ": " + std::strerror(errno);
    return false;
  }
  m_raw = std::fopen(rawPath.c_str(), "rb");
  if (!m_raw) {
    m_error = "cannot read " + inQuotes(rawPath) + ": " + std::strerror(errno);
    return false;
  }
  const std::string found = readFirstLine(m_csv);
  if (found != header) {
    m_error = inQuotes(csvPath) + " has other columns than this run writes (another device file or QC)";
    return false;
  }
  const std::vector<std::string_view> columns = fields(found);
  m_valueColumn.assign(columns.size(), false);
  for (size_t c = 3, v = 0; c < columns.size(); ++c)
    if (v < valueNames.size() && columns[c] == valueNames[v]) m_valueColumn[c] = true, ++v;
  m_partial.clear();  // the rows start after the header
  return true;
}

bool CsvTimes::read(size_t maxBytes) {
  char block[1 << 16];
  size_t budget = std::max<size_t>(maxBytes, 1);
  while (budget > 0 && (m_raw || m_csv)) {
    if (m_raw) {
      const size_t n = std::fread(block, 1, std::min(sizeof block, budget), m_raw);
      budget -= std::min(budget, n);
      for (size_t i = 0; i < n; ++i) {
        if (block[i] == '\n') {
          m_rawLines += m_rawLineOpen;
          m_rawLineOpen = false;
        } else if (block[i] != '\r') {
          m_rawLineOpen = true;
        }
      }
      if (n == 0) {
        std::fclose(m_raw);
        m_raw = nullptr;
      }
      continue;
    }
    const size_t n = std::fread(block, 1, std::min(sizeof block, budget), m_csv);
    budget -= std::min(budget, n);
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
      if (block[i] != '\n') continue;
      if (m_partial.empty()) {
        takeRow(std::string_view(block + start, i - start));
      } else {
        m_partial.append(block + start, i - start);
        takeRow(m_partial);
        m_partial.clear();
      }
      start = i + 1;
    }
    m_partial.append(block + start, n - start);
    if (n == 0) {
      // A row a crash cut off has no line end: not a row.
      if (!m_partial.empty()) ++m_unreadableRows;
      std::fclose(m_csv);
      m_csv = nullptr;
      order();
    }
  }
  return !m_raw && !m_csv;
}

void CsvTimes::takeRow(std::string_view row) {
  if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
  if (row.empty()) return;
  const std::vector<std::string_view> columns = fields(row);
  const std::optional<double> host = columns.size() > 2 ? epochSeconds(columns[0]) : std::nullopt;
  if (!host) {
    ++m_unreadableRows;
    return;
  }
  Row r;
  r.host = *host;
  const std::optional<double> meter = columns[1].empty() ? std::nullopt : epochSeconds(columns[1]);
  r.meter = meter ? *meter : std::nan("");
  // The values as files::appendCsvValues writes them: ",v1,v2,…".
  std::string values;
  for (size_t c = 3; c < columns.size(); ++c)
    if (c < m_valueColumn.size() && m_valueColumn[c]) (values += ',') += columns[c];
  r.key = std::hash<std::string>{}(values);
  m_rows.push_back(r);
}

void CsvTimes::order() {
  const size_t n = m_rows.size();
  std::vector<size_t> byTime(n);
  std::iota(byTime.begin(), byTime.end(), size_t{0});
  for (size_t i = 1; i < n; ++i) m_stepsBack += m_rows[i].host < m_rows[i - 1].host;
  if (m_stepsBack > 0)
    std::stable_sort(byTime.begin(), byTime.end(), [&](size_t a, size_t b) { return m_rows[a].host < m_rows[b].host; });
  double previous = -INFINITY;
  for (size_t k = 0; k < n; ++k) {
    Row& row = m_rows[byTime[k]];
    row.host = std::max(row.host, previous + std::max(kTieStep, std::abs(previous) * 4e-16));
    previous = row.host;
  }
  m_places.clear();
  if (m_stepsBack > 0) {
    m_places.resize(n);
    for (size_t k = 0; k < n; ++k) m_places[byTime[k]] = k;
  }
  // In normal operation each raw line has its row; otherwise rows pair with lines by value.
  m_oneToOne = m_rawLines == static_cast<long long>(n);
}

files::SampleTimes CsvTimes::timesOf(size_t row) const {
  const Row& r = m_rows[row];
  files::SampleTimes times;
  times.host = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(r.host)));
  if (!std::isnan(r.meter)) times.meterEpochSeconds = r.meter;
  return times;
}

void CsvTimes::next(const std::string& values, std::vector<files::SampleTimes>& missing,
                    std::optional<files::SampleTimes>& times) {
  const size_t key = std::hash<std::string>{}(values);
  if (m_next >= m_rows.size()) {
    ++m_linesWithoutRow;
    return;
  }
  if (m_oneToOne) {
    m_unpairedValues += m_rows[m_next].key != key;
    times = timesOf(m_next++);
    return;
  }
  for (size_t j = 0; j < kLookAhead && m_next + j < m_rows.size(); ++j) {
    if (m_rows[m_next + j].key != key) continue;
    // The rows before it lost their raw lines (a write that failed).
    for (size_t k = 0; k < j; ++k) missing.push_back(timesOf(m_next + k));
    m_rowsWithoutLine += static_cast<long long>(j);
    m_next += j;
    times = timesOf(m_next++);
    return;
  }
  ++m_linesWithoutRow;  // its row was lost: it has no receive time
}

void CsvTimes::rest(std::vector<files::SampleTimes>& missing) {
  for (; m_next < m_rows.size(); ++m_next) {
    missing.push_back(timesOf(m_next));
    ++m_rowsWithoutLine;
  }
}

std::string CsvTimes::timeComment() const {
  return "The host's receive time of each record, from its row of the day's CSV file (to the millisecond). "
         "Records are in the order of these times (a stable sort: rows of one time keep their order), and a "
         "record whose time is not after the one before lies 1 microsecond after it, so that the coordinate "
         "strictly increases with every row kept." +
         (m_stepsBack > 0 ? " The host clock went back " + std::to_string(m_stepsBack) + " time(s) during the day."
                          : std::string());
}

// --------------------------------------------------------------------------- DailyNetcdf

DailyNetcdf::DailyNetcdf(std::string folder, Settings settings, measure::WarningSink warn)
    : m_folder(std::move(folder)), m_settings(std::move(settings)), m_warn(std::move(warn)) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
  std::string why;
  const std::optional<files::QcRun> qc =
      m_settings.qc ? files::QcRun::bind(*m_settings.qc, m_settings.config, why) : std::nullopt;
  m_csvHeader = qc ? files::CsvHeader(m_settings.config, *qc) : files::CsvHeader(m_settings.config);
  while (!m_csvHeader.empty() && (m_csvHeader.back() == '\n' || m_csvHeader.back() == '\r')) m_csvHeader.pop_back();
}

DailyNetcdf::~DailyNetcdf() = default;

void DailyNetcdf::catchUp(const std::string& current) {
  m_current = current;
  static const std::regex kSet(R"(\d{8}(_\d+)?)");
  std::vector<std::string> sets;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(m_folder.empty() ? "." : m_folder, ec)) {
    const std::filesystem::path& p = entry.path();
    if (p.extension() != ".csv" || !std::regex_match(p.stem().string(), kSet)) continue;
    const std::string set = m_folder + p.stem().string();
    if (set == current) continue;
    const auto raw = modified(set + ".raw"), csv = modified(set + ".csv"), nc = modified(fileOf(set));
    if (!raw || !csv || (nc && *nc > std::max(*raw, *csv))) continue;
    if (std::filesystem::file_size(set + ".csv", ec) == 0) continue;  // not even a header
    if (firstLine(set + ".csv") != m_csvHeader) {
      if (m_warn)
        m_warn("NetCDF Not Made", inQuotes(set + ".csv") +
                                      " has other columns than this run writes (another device file or QC); " +
                                      inQuotes(fileOf(set)) + " is left as it is");
      continue;
    }
    sets.push_back(set);
  }
  std::sort(sets.begin(), sets.end());
  for (const std::string& set : sets) queue(set);
}

void DailyNetcdf::queue(const std::string& set) {
  if (set.empty() || std::find(m_queue.begin(), m_queue.end(), set) != m_queue.end()) return;
  m_retry.erase(set);
  m_queue.push_back(set);
}

void DailyNetcdf::tick(const std::string& current, Steady::time_point now) {
  if (current != m_current) {
    queue(m_current);  // its day is over
    m_current = current;
  }
  for (auto it = m_retry.begin(); it != m_retry.end();) {
    if (now - it->second >= m_settings.retryAfter) {
      const std::string set = it->first;
      it = m_retry.erase(it);
      queue(set);
    } else {
      ++it;
    }
  }
}

ConversionJob::Request DailyNetcdf::requestFor(const std::string& set) const {
  ConversionJob::Request request;
  request.format = ConversionFormat::Netcdf;
  request.input = set + ".raw";
  request.output = fileOf(set);
  request.config = m_settings.config;
  request.deviceFileText = m_settings.deviceFileText;
  request.history = m_settings.history;
  request.attributes = m_settings.attributes;
  request.variableAttributes = m_settings.variableAttributes;
  request.deflateLevel = m_settings.deflateLevel;
  request.qc = m_settings.qc;
  request.program = "maru log";
  return request;
}

bool DailyNetcdf::check(std::string& error, std::vector<std::string>& warnings) const {
  ConversionJob::Request request = requestFor((std::filesystem::path(m_folder) / "check").string());
  request.hostTimes = std::make_shared<CsvTimes>();  // the shape of a day's file: along the receive time
  return ConversionJob::checkNetcdf(request, error, warnings);
}

void DailyNetcdf::begin() {
  m_set = m_queue.front();
  m_queue.pop_front();
  m_times = std::make_shared<CsvTimes>();
  if (!m_times->open(m_set + ".csv", m_set + ".raw", m_csvHeader, files::CsvColumnNames(m_settings.config)))
    failed(m_times->error());
}

bool DailyNetcdf::work(size_t maxBytes) {
  if (!m_times && !m_job) {
    if (m_queue.empty()) return false;
    begin();
    return busy();
  }
  if (m_times) {
    if (!m_times->read(maxBytes)) return true;
    ConversionJob::Request request = requestFor(m_set);
    request.hostTimes = m_times;
    // The logger told each line's warnings as it took the line.
    m_job = std::make_unique<ConversionJob>(std::move(request), nullptr);
    m_times.reset();  // the job has them now
    if (!m_job->start()) {
      failed(m_job->error());
      return busy();
    }
    return true;
  }
  switch (m_job->step(maxBytes)) {
    case ConversionJob::Status::Running: return true;
    case ConversionJob::Status::Done: made(); break;
    default: failed(m_job->error()); break;
  }
  return busy();
}

void DailyNetcdf::failed(const std::string& why) {
  if (m_warn && m_told.insert(m_set).second)
    m_warn("NetCDF Not Made", inQuotes(fileOf(m_set)) + ": " + why + "; its .raw and .csv stay as they are" +
                                  " (and an earlier .nc); trying again in a while");
  m_retry[m_set] = Steady::now();
  m_job.reset();
  m_times.reset();
  m_set.clear();
}

void DailyNetcdf::made() {
  const auto& times = *std::static_pointer_cast<CsvTimes>(m_job->request().hostTimes);
  std::string text = inQuotes(fileOf(m_set)) + ": " + std::to_string(times.rows()) + " rows of its .csv";
  if (times.stepsBack() > 0)
    text += "; the host clock went back " + std::to_string(times.stepsBack()) +
            " time(s): records in the order of their receive time";
  if (times.rowsWithoutLine() > 0)
    text += "; " + std::to_string(times.rowsWithoutLine()) + " rows without a raw line have fill values";
  if (times.linesWithoutRow() > 0)
    text += "; " + std::to_string(times.linesWithoutRow()) + " raw lines without a row are left out";
  if (times.unpairedValues() > 0)
    text += "; " + std::to_string(times.unpairedValues()) + " rows paired by position differ from their raw line";
  if (times.unreadableRows() > 0) text += "; " + std::to_string(times.unreadableRows()) + " unreadable rows left out";
  if (m_warn) m_warn("NetCDF Made", text);
  m_told.erase(m_set);
  m_job.reset();
  m_set.clear();
}

bool DailyNetcdf::stop(const std::string& current, Steady::duration limit) {
  const Steady::time_point deadline = Steady::now() + limit;
  if (current != m_current) queue(m_current);
  m_current = current;
  if (!current.empty() && std::filesystem::exists(current + ".csv")) queue(current);
  while (busy() && Steady::now() < deadline) work();
  if (!busy()) return true;
  std::vector<std::string> left(m_queue.begin(), m_queue.end());
  if (!m_set.empty()) left.insert(left.begin(), m_set);
  m_job.reset();  // its temporary file goes; the record stays
  m_times.reset();
  m_set.clear();
  m_queue.clear();
  std::string names;
  for (const std::string& set : left) names += (names.empty() ? "" : ", ") + inQuotes(fileOf(set));
  if (m_warn) m_warn("NetCDF Postponed", names + ": made at the next start (no time left at stop)");
  return false;
}

}  // namespace acquire
