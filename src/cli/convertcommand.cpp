// maru convert: replays a raw recording through the program's own pipeline (framing,
// decoding, conversion, reply parsing) into an engineering-units file, a CSV table or a
// NetCDF-CF file, headless.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "files/archivetime.h"
#include "files/csvformat.h"
#include "files/engrformat.h"
#include "files/netcdfwriter.h"
#include "files/recording.h"
#include "files/replayreader.h"
#include "link/linedispatch.h"
#include "measure/devicefile.h"
#include "measure/engunits.h"
#include "measure/numbertext.h"
#include "version.h"

namespace {

const char* kDescription =
    "Converts INPUT as if it were replayed right after start with FILE.dev loaded. By default it\n"
    "writes the engineering-units file that \"Record Engr\" would write: the same header, one line\n"
    "per accepted data line.\n"
    "Lines are framed as in a replay (reads of at most 98 characters, CR dropped, LF ends a line,\n"
    "250 characters at most; a last line without LF is never taken). Lines that are not data go to\n"
    "the reply parser as in the program, so \"DAT\" and \"CLK\" lines set the date and time of the\n"
    "lines after them. Every warning the program would show goes to stderr, one line each.\n"
    "\n"
    "Formats:\n"
    "  eng      the engineering-units file, tab-separated, as the window records it (default)\n"
    "  csv      the program's one CSV layout: host_time_utc (empty: a conversion has no\n"
    "           host time), meter_time_utc (the meter's time read in --meter-tz, as UTC,\n"
    "           empty while its date or time is unknown), count, then the values under names\n"
    "           with units (bbp_470_per_m, chl_ug_per_l, ...) as the .eng file prints them\n"
    "  netcdf   NetCDF-4 following CF-1.10: time in seconds since 1970-01-01T00:00:00Z (fill\n"
    "           value where the meter's date or time is unknown), one variable per .eng column\n"
    "           with UDUNITS units, the raw fields as counts_* variables, the device file and\n"
    "           the settings as global attributes. Needs -o FILE.\n"
    "The meter's dates are MMDDYY; the year is read as 20YY.\n";

const char* kFooter =
    "Exit status: 0 done; 1 the device file, input or output failed; 2 bad arguments.\n"
    "INPUT must be a regular file, and OUTPUT must not be INPUT (nor a link to it).\n"
    "A csv or netcdf file is written under a temporary name and renamed when complete: a run\n"
    "that fails or is ended by SIGINT or SIGTERM leaves no partial file. An OUTPUT that is a\n"
    "symbolic link stays one: the file it points to is written.";

enum class Format { Eng, Csv, Netcdf };

// Every warning the window would box becomes one stderr line, "caption: text".
void warnLine(const std::string& caption, const std::string& text) {
  std::string oneLine = text;
  for (char& c : oneLine)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), oneLine.c_str());
}

// The command line as typed, words with blanks or quotes in single quotes.
std::string commandLine(int argc, char** argv) {
  std::string text = "maru";
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    text += ' ';
    if (!word.empty() && word.find_first_of(" \t\n'\"\\$") == std::string::npos) {
      text += word;
      continue;
    }
    text += '\'';
    for (const char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += '\'';
  }
  return text;
}

// A free name beside `path` for a file that is renamed to `path` when complete; "" (errno
// set) when the folder does not take a new file.
std::string temporaryNameFor(const std::string& path) {
  std::string name = path + ".part-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return {};
  ::close(fd);
  std::remove(name.c_str());  // reopened by the writer with the usual permissions
  return name;
}

// The temporary file being written, for the handler of SIGINT and SIGTERM. Plain bytes
// and a flag: a signal handler may touch nothing else.
char g_partPath[PATH_MAX];
volatile sig_atomic_t g_havePart = 0;

extern "C" void onEndSignal(int sig) {
  if (g_havePart) ::unlink(g_partPath);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // ends the run as the signal would have, once this handler returns
}

// `path` is the temporary file from now on ("": there is none).
void notePartFile(const std::string& path) {
  g_havePart = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.empty() || path.size() >= sizeof g_partPath) return;
  std::memcpy(g_partPath, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_havePart = 1;
}

// Installs the handler of SIGINT and SIGTERM, and holds both back for its lifetime: a
// temporary file is made and noted while it lives, so that it is never there unnoted.
class EndSignalsHeld {
 public:
  EndSignalsHeld() {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_before);
    struct sigaction sa {};
    sa.sa_handler = onEndSignal;
    sa.sa_mask = m_set;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
  ~EndSignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_before, nullptr); }
  EndSignalsHeld(const EndSignalsHeld&) = delete;
  EndSignalsHeld& operator=(const EndSignalsHeld&) = delete;

 private:
  sigset_t m_set, m_before;
};

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

// Output gathered in one buffer and written a block at a time. Lines are written in
// place: the caller asks for room, writes, and commits the end.
class OutputBlock {
 public:
  static constexpr size_t kBlock = 1 << 16;
  char* room(size_t chars) {
    if (m_used + chars > m_buffer.size()) m_buffer.resize(std::max(m_used + chars, kBlock + chars));
    return m_buffer.data() + m_used;
  }
  void commit(const char* end) { m_used = static_cast<size_t>(end - m_buffer.data()); }
  void append(std::string_view text) {
    char* at = room(text.size());
    std::memcpy(at, text.data(), text.size());
    commit(at + text.size());
  }
  bool full() const { return m_used >= kBlock; }
  std::string_view text() const { return {m_buffer.data(), m_used}; }
  void clear() { m_used = 0; }

 private:
  std::vector<char> m_buffer;
  size_t m_used = 0;
};

}  // namespace

int convertMain(int argc, char** argv) {
  std::string dev, input, output = "-", formatName = "eng", meterTz = "UTC";
  bool refCorrection = false, tempCorrection = false;

  CLI::App app(kDescription, "maru convert");
  cli::setUpHelp(app);
  app.footer(kFooter);
  app.add_option("--dev", dev, "the device file")->required()->type_name("FILE.dev");
  app.add_flag("--ref-correction", refCorrection, "divide backscatter counts by their reference drift");
  app.add_flag("--temp-correction", tempCorrection, "divide backscatter counts by the temperature term");
  app.add_option("--format", formatName, "eng, csv or netcdf (default: eng)")
      ->check(cli::unlisted(CLI::IsMember({"eng", "csv", "netcdf"})))
      ->type_name("FORMAT");
  app.add_option("--meter-tz", meterTz,
                 "the time zone the meter's clock was set to: UTC or +HH:MM / -HH:MM (default: UTC);\n"
                 "csv and netcdf times are read in it and the zone is recorded")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return files::parseUtcOffset(text) ? std::string() : "'" + text + "' is not UTC, +HH:MM or -HH:MM";
          },
          ""))
      ->type_name("ZONE");
  app.add_option("-o", output, "where to write (default: standard output; netcdf needs a file)")
      ->type_name("OUTPUT");
  app.add_option("INPUT", input, "the raw recording")->required()->type_name("INPUT.raw");
  if (const auto status = cli::parseCommandLine(app, argc, argv)) return *status;
  const Format format = formatName == "csv" ? Format::Csv : formatName == "netcdf" ? Format::Netcdf : Format::Eng;
  const files::UtcOffset zone = *files::parseUtcOffset(meterTz);
  if (format == Format::Netcdf && output == "-") {
    std::fprintf(stderr, "maru convert: --format netcdf needs -o OUTPUT.nc (it cannot go to standard output)\n");
    return 2;
  }

  using Stream = files::Recording::Stream;
  meterlink::MeterState state;
  if (!measure::LoadDeviceFileAtStart(dev, state.config, warnLine)) return 1;
  // A raw recording is often the only copy of a cast: nothing is opened for writing before
  // it is known that INPUT is a file and the output is not that same file.
  struct stat inputFile {}, outputFile {};
  if (::stat(input.c_str(), &inputFile) != 0) {
    std::fprintf(stderr, "maru convert: cannot read '%s': %s\n", input.c_str(), std::strerror(errno));
    return 1;
  }
  if (!S_ISREG(inputFile.st_mode)) {
    const char* why = S_ISDIR(inputFile.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    std::fprintf(stderr, "maru convert: cannot read '%s': %s\n", input.c_str(), why);
    return 1;
  }
  const bool outputThere =
      output == "-" ? ::fstat(STDOUT_FILENO, &outputFile) == 0 : ::stat(output.c_str(), &outputFile) == 0;
  if (!outputThere && output != "-" && errno != ENOENT) {
    std::fprintf(stderr, "maru convert: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
    return 1;
  }
  if (outputThere && outputFile.st_dev == inputFile.st_dev && outputFile.st_ino == inputFile.st_ino) {
    const std::string shown = output == "-" ? "(standard output)" : "'" + output + "'";
    std::fprintf(stderr, "maru convert: the output %s is the input '%s'; nothing was written\n", shown.c_str(),
                 input.c_str());
    return 1;
  }
  files::ReplayReader replay;
  if (!replay.open(input)) {
    std::fprintf(stderr, "maru convert: cannot read '%s': %s\n", input.c_str(), std::strerror(errno));
    return 1;
  }

  // A csv file goes to a temporary name first and is renamed when complete (the NetCDF
  // writer does the same itself), both beside the file an OUTPUT link points to. A device
  // or a pipe named as OUTPUT is written into, never replaced.
  const bool special = output != "-" && outputThere && !S_ISREG(outputFile.st_mode) && !S_ISDIR(outputFile.st_mode);
  if (special && format == Format::Netcdf) {
    std::fprintf(stderr, "maru convert: cannot write '%s': a NetCDF file must be a regular file\n", output.c_str());
    return 1;
  }
  const bool renamed = format == Format::Csv && output != "-" && !special;
  const std::string destination = output == "-" ? output : linkTarget(output);
  std::string target = output;
  std::optional<EndSignalsHeld> signalsHeld;
  if (renamed || format == Format::Netcdf) signalsHeld.emplace();
  if (renamed) {
    target = temporaryNameFor(destination);
    if (target.empty()) {
      std::fprintf(stderr, "maru convert: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
      return 1;
    }
    notePartFile(target);
  }

  files::Recording recording;
  files::NetcdfWriter netcdf;
  int writeError = 0;  // errno of the first write that failed
  if (format == Format::Netcdf) {
    files::NetcdfProvenance provenance;
    provenance.deviceFileText = files::readWholeFile(dev);
    provenance.history = std::string("maru ") + MARU_VERSION_STRING + ": " + commandLine(argc, argv);
    provenance.meterTimeZone = zone;
    if (!netcdf.open(destination, state.config, provenance)) {
      std::fprintf(stderr, "maru convert: %s\n", netcdf.error().c_str());
      return 1;
    }
    notePartFile(netcdf.temporaryPath());
  } else {
    std::string header;
    if (format == Format::Eng) {
      header = files::EngrHeader(state.config);
    } else {
      header = files::CsvHeader(state.config);
    }
    const bool opened = output == "-" ? recording.start(Stream::Engr, stdout, "-", header)
                                      : recording.start(Stream::Engr, target, header);
    if (!opened) {
      std::fprintf(stderr, "maru convert: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
      return 1;
    }
    if (!recording.on(Stream::Engr)) writeError = errno;  // the header did not reach the file
    // One flush at the end: a converter has no crash to survive mid-file.
    recording.setFlushEachLine(Stream::Engr, false);
  }
  signalsHeld.reset();

  // No host clock: the host's time of day is no part of the file.
  meterlink::LineDispatch dispatch(state, warnLine, nullptr);
  dispatch.deviceFileInForce = true;
  dispatch.refCorrection = refCorrection;
  dispatch.tempCorrection = tempCorrection;
  dispatch.setOverflowHandler([] { warnLine("Input Buffer Overflow", "Check Baud Rate"); });
  // Lines are gathered and written a block at a time.
  OutputBlock out;
  // The device file is loaded once and no line changes its columns.
  const files::EngrLineWriter engLine(state.config, state.eng);
  const size_t engLineRoom = engLine.maxChars();
  int warned = measure::CorrectionNone;
  bool failed = false;
  long long lineNumber = 0;  // framed lines of INPUT so far
  files::MeterClockKnowledge known;
  std::string csvLine;
  auto writeFailed = [&] {
    if (!writeError) writeError = errno;
    failed = true;
    if (format == Format::Eng)
      warnLine("Recording Stopped", "The engineering units file '" + output +
                                        "' could not be written (disk full or file gone). Recording to it has stopped.");
    else
      warnLine("Recording Stopped", "The " + formatName + " file '" + output + "' could not be written at line " +
                                        std::to_string(lineNumber) + " of '" + input + "' (disk full or file gone).");
  };
  if (format != Format::Netcdf && !recording.on(Stream::Engr)) writeFailed();  // the header did not reach the file
  dispatch.setLineHandler([&](const meterlink::Line& line) {
    ++lineNumber;
    if (line.kind == meterlink::Line::Kind::Reply) known.noteReply(line.text, line.reply.matched);
    if (line.kind != meterlink::Line::Kind::Sample || failed) return;
    known.noteDataLine(line.text);
    if (const int fresh = line.correctionsSkipped & ~warned) {
      warned |= fresh;
      for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
        if (fresh & flag) warnLine("Correction Skipped", measure::CorrectionSkippedText(flag));
    }
    const bool dateKnown = known.dateKnown(state.clock);
    switch (format) {
      case Format::Eng:
        out.commit(engLine.write(out.room(engLineRoom), state.sample, state.clock));
        break;
      case Format::Csv:
        csvLine.clear();
        files::appendCsvRow(csvLine,
                            {std::nullopt, files::meterEpochSeconds(state.clock, dateKnown, known.timeKnown(), zone)},
                            state.config, state.sample, state.clock, state.eng);
        out.append(csvLine);
        break;
      case Format::Netcdf:
        if (!netcdf.write(files::meterEpochSeconds(state.clock, dateKnown, known.timeKnown(), zone), state.sample,
                          state.eng)) {
          failed = true;
          std::fprintf(stderr, "maru convert: line %lld of '%s': %s\n", lineNumber, input.c_str(),
                       netcdf.error().c_str());
        }
        return;
    }
    if (out.full()) {
      if (!recording.writeEngr(out.text())) writeFailed();
      out.clear();
    }
  });

  std::vector<char> block(1 << 16);
  while (const size_t n = replay.readBlock(block.data(), block.size())) dispatch.feed(block.data(), n);

  if (format == Format::Netcdf) {
    if (failed || !netcdf.finish()) {
      if (!failed) std::fprintf(stderr, "maru convert: %s\n", netcdf.error().c_str());
      std::fprintf(stderr, "maru convert: writing '%s' failed\n", output.c_str());
      return 1;
    }
    notePartFile("");  // renamed: nothing is left to remove
    return 0;
  }
  if (!failed && !out.text().empty() && !recording.writeEngr(out.text())) writeFailed();
  if (!recording.stop(Stream::Engr) && !failed) {
    writeError = errno;
    failed = true;
  }
  if (failed) {
    if (renamed) std::remove(target.c_str());
    std::fprintf(stderr, "maru convert: writing '%s' failed: %s\n", output.c_str(),
                 writeError ? std::strerror(writeError) : "cause unknown");
    return 1;
  }
  if (renamed && std::rename(target.c_str(), destination.c_str()) != 0) {
    std::fprintf(stderr, "maru convert: cannot rename '%s' to '%s': %s\n", target.c_str(), destination.c_str(),
                 std::strerror(errno));
    std::remove(target.c_str());
    return 1;
  }
  notePartFile("");  // renamed: nothing is left to remove
  return 0;
}
