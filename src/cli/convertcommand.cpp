// maru convert: replays a raw recording through the program's own pipeline (framing,
// decoding, conversion, reply parsing) into an engineering-units file, a CSV table or a
// NetCDF-CF file, headless.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "acquire/conversion.h"
#include "acquire/meterzone.h"
#include "cli/attributes.h"
#include "cli/commandline.h"
#include "files/archivetime.h"
#include "files/netcdfwriter.h"
#include "link/linedispatch.h"
#include "measure/boundedfile.h"
#include "acquire/session.h"
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
    "           with UDUNITS units, the raw fields in one counts variable (a column per\n"
    "           channel), the device file and the settings as global attributes. Needs -o FILE.\n"
    "The meter's dates are MMDDYY; the year is read as 20YY.\n"
    "\n"
    "Quality control (--qc FILE, a YAML file of QARTOD tests per column; see docs/FORMATS.md):\n"
    "each checked column gets its aggregate flag in a <column>_qc column (csv), or an\n"
    "aggregate and one flag variable per test (netcdf); 1 pass, 2 not evaluated, 3 suspect,\n"
    "4 fail, 9 missing. The .eng file stays as it is. A summary of the flags goes to stderr.\n";

const char* kFooter =
    "Exit status: 0 done; 1 the device file, input or output failed; 2 bad arguments, a\n"
    "QC configuration that cannot be used, a device, QC or attributes file over 1 MiB, or a\n"
    "--dev file that is no device file at all (binary, a recording, no columns).\n"
    "INPUT must be a regular file, and OUTPUT must not be INPUT (nor a link to it).\n"
    "A csv or netcdf file is written under a temporary name and renamed when complete: a run\n"
    "that fails or is ended by SIGINT or SIGTERM leaves no partial file. An OUTPUT that is a\n"
    "symbolic link stays one: the file it points to is written.";

using Format = acquire::ConversionFormat;

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
    const std::string word = cli::historyWord(argc, argv, i);
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

}  // namespace

int convertMain(int argc, char** argv) {
  std::string dev, input, output = "-", formatName = "eng", meterTz = "UTC", qcPath, attrsPath;
  std::vector<std::string> attrPairs;
  int deflate = 0;
  bool refCorrection = false, tempCorrection = false;

  CLI::App app(kDescription, "maru convert");
  cli::setUpHelp(app);
  app.footer(kFooter);
  app.add_option("--dev", dev, "the device file")->required()->type_name("FILE.dev");
  app.add_flag("--ref-correction", refCorrection, "divide backscatter counts by their reference drift");
  app.add_flag("--temp-correction", tempCorrection, "divide backscatter counts by the temperature term");
  app.add_option("--format", formatName, "eng, csv or netcdf (default: the -o extension's, .csv or .nc;\n"
                                         "else eng)")
      ->check(cli::unlisted(CLI::IsMember({"eng", "csv", "netcdf"})))
      ->type_name("FORMAT");
  app.add_option("--meter-tz", meterTz,
                 "the time zone the meter's clock was set to: UTC, +HH:MM / -HH:MM, or a zone name\n"
                 "such as Europe/Oslo (summer time followed) (default: UTC);\n"
                 "csv and netcdf times are read in it and the zone is recorded")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return acquire::parseMeterZone(text) ? std::string() : acquire::meterZoneProblem(text);
          },
          ""))
      ->type_name("ZONE");
  app.add_option("-o", output, "where to write (default: standard output; netcdf needs a file)")
      ->type_name("OUTPUT");
  app.add_option("--qc", qcPath, "flag the values with the QARTOD tests of this configuration")
      ->type_name("FILE.yml");
  app.add_option("--attr", attrPairs,
                 "netcdf: a global attribute of the file (ACDD: institution, creator_name, project,\n"
                 "platform, license, geospatial_lat, geospatial_lon, ...); may be repeated")
      ->type_name("KEY=VALUE")
      ->allow_extra_args(false);
  app.add_option("--attrs", attrsPath, "netcdf: global attributes from a YAML map of KEY: VALUE, each key once\n"
                 "(--attr wins); its map 'variables:' gives variables theirs:\n"
                 "NAME or PATTERN ('*' any characters): {KEY: VALUE, ...}")
      ->type_name("FILE.yml");
  cli::addPositionOptions(app, attrPairs);
  app.add_option("--deflate", deflate, "netcdf: compress every variable at this zlib level, 1-9 (default 0: not\n"
                                       "compressed; about a third of the size, about six times the time)")
      ->check(cli::unlisted(CLI::Range(0, 9)))
      ->type_name("LEVEL");
  app.add_option("INPUT", input, "the raw recording")->required()->type_name("INPUT.raw");
  if (const auto status = cli::parseCommandLine(app, argc, argv)) return *status;
  // Without --format, the output's extension says it (x.csv, x.nc); anything else is .eng text.
  const Format format = app.get_option("--format")->count() == 0
                            ? acquire::conversionFormatFor(output).value_or(Format::Eng)
                        : formatName == "csv"    ? Format::Csv
                        : formatName == "netcdf" ? Format::Netcdf
                                                 : Format::Eng;
  const files::UtcOffset zone = *acquire::parseMeterZone(meterTz);
  if (format != Format::Netcdf && (!attrPairs.empty() || !attrsPath.empty() || deflate != 0)) {
    std::fprintf(stderr, "maru convert: --attr, --attrs, --lat, --lon, --depth, --platform and --deflate are for "
                         "--format netcdf\n");
    return 2;
  }
  if (format == Format::Netcdf && output == "-") {
    std::fprintf(stderr, "maru convert: --format netcdf needs -o OUTPUT.nc (it cannot go to standard output)\n");
    return 2;
  }

  cli::Attributes attributes;
  cli::VariableAttributes variableAttributes;
  if (std::string why; !cli::readAttributes(attrPairs, attrsPath, attributes, variableAttributes, why)) {
    std::fprintf(stderr, "maru convert: %s\n", why.c_str());
    return 2;
  }
  // A device file over the size limit is a bad argument; one that does not load, a failure.
  std::string deviceText, tooLarge;
  if (measure::readBoundedFile(dev, deviceText, tooLarge) == measure::FileRead::TooLarge) {
    std::fprintf(stderr, "maru convert: %s\n", tooLarge.c_str());
    return 2;
  }
  meterlink::MeterState state;
  // A file that is no device file at all (a recording given by mistake) is a bad argument.
  if (bool notDeviceFile = false; !acquire::loadDeviceFileAtStart(dev, state.config, warnLine, &notDeviceFile))
    return notDeviceFile ? 2 : 1;
  std::optional<qc::Config> qcConfig;
  if (!qcPath.empty()) {
    qc::ConfigResult read = qc::loadConfig(qcPath);
    std::string why = read.error;
    if (read.config && !files::QcRun::bind(*read.config, state.config, why)) why = qcPath + ": " + why;
    if (!why.empty()) {
      std::fprintf(stderr, "maru convert: %s\n", why.c_str());
      return 2;
    }
    qcConfig = std::move(read.config);
  }
  acquire::ConversionJob::Request request;
  request.format = format;
  request.input = input;
  request.output = output;
  request.config = state.config;
  request.refCorrection = refCorrection;
  request.tempCorrection = tempCorrection;
  request.meterTimeZone = zone;
  request.qc = std::move(qcConfig);
  if (format == Format::Netcdf) {
    request.deviceFileText = deviceText;
    request.history = std::string("maru ") + MARU_VERSION_STRING + ": " + commandLine(argc, argv);
    request.attributes = std::move(attributes);
    request.variableAttributes = std::move(variableAttributes);
    request.deflateLevel = deflate;
    // The user's variable attributes against the file as it will be defined.
    std::string why;
    std::vector<std::string> unmatched;
    const bool fits = acquire::ConversionJob::checkNetcdf(request, why, unmatched);
    for (const std::string& line : unmatched) std::fprintf(stderr, "maru convert: %s\n", line.c_str());
    if (!fits) {
      std::fprintf(stderr, "maru convert: %s\n", why.c_str());
      return 2;
    }
  }
  // Every warning as it comes, as the window would box it.
  acquire::ConversionJob job(std::move(request),
                             [](long, const std::string& caption, const std::string& text) { warnLine(caption, text); });
  {
    // The temporary file is made and noted with SIGINT and SIGTERM held back, so that it is
    // never there unnoted.
    const EndSignalsHeld held;
    if (!job.start()) {
      std::fprintf(stderr, "maru convert: %s\n", job.error().c_str());
      return 1;
    }
    notePartFile(job.temporaryPath());
  }
  while (job.step(std::size_t{1} << 24) == acquire::ConversionJob::Status::Running) {
  }
  notePartFile("");  // renamed into place, or removed
  if (job.status() != acquire::ConversionJob::Status::Done) {
    std::fprintf(stderr, "maru convert: %s\n", job.error().c_str());
    return 1;
  }
  const std::vector<std::string> streams = job.qcStreams();
  for (size_t i = 0; i < streams.size(); ++i) {
    const auto& n = job.flagCounts()[i];
    std::fprintf(stderr, "QC %s: %lld pass, %lld not evaluated, %lld suspect, %lld fail, %lld missing\n",
                 streams[i].c_str(), n[1], n[2], n[3], n[4], n[9]);
  }
  return 0;
}
