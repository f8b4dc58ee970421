// maru convert: replays a raw recording through the program's own pipeline (framing,
// decoding, conversion, reply parsing) into an engineering-units file, headless.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/engrformat.h"
#include "files/recording.h"
#include "files/replayreader.h"
#include "link/linedispatch.h"
#include "measure/devicefile.h"
#include "measure/engunits.h"

namespace {

const char* kUsage =
    "usage: maru convert --dev FILE.dev [--ref-correction] [--temp-correction] INPUT.raw [-o OUTPUT.eng]\n"
    "\n"
    "Writes the engineering-units file that \"Record Engr\" would write if INPUT were replayed\n"
    "right after start with FILE.dev loaded: the same header, one line per accepted data line.\n"
    "Lines are framed as in a replay (reads of at most 98 characters, CR dropped, LF ends a line,\n"
    "250 characters at most; a last line without LF is never taken). Lines that are not data go to\n"
    "the reply parser as in the program, so \"DAT\" and \"CLK\" lines set the date and time of the\n"
    "lines after them. Every warning the program would show goes to stderr, one line each.\n"
    "\n"
    "  --dev FILE.dev        the device file (required)\n"
    "  --ref-correction      divide backscatter counts by their reference drift\n"
    "  --temp-correction     divide backscatter counts by the temperature term\n"
    "  -o OUTPUT.eng         where to write (default: standard output)\n"
    "\n"
    "Exit status: 0 done; 1 the device file, input or output failed; 2 bad arguments.\n";

// Every warning the window would box becomes one stderr line, "caption: text".
void warnLine(const std::string& caption, const std::string& text) {
  std::string oneLine = text;
  for (char& c : oneLine)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), oneLine.c_str());
}

// The device file as the program loads it right after start: the first tick's defaults,
// then the file.
bool loadDeviceFile(const std::string& path, measure::DeviceConfig& config) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) {
    std::fprintf(stderr, "Device File Error: Could not open device file '%s'\n", path.c_str());
    return false;
  }
  config.setStartupDefaults();
  const bool ok = measure::ParseDeviceFile(file, config, warnLine);
  std::fclose(file);
  if (!ok) warnLine("Device File Error", "Missing or Invalid device file '" + path + "'");
  return ok;
}

}  // namespace

int convertMain(int argc, char** argv) {
  std::string dev, input, output = "-";
  bool refCorrection = false, tempCorrection = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--dev" && i + 1 < argc) {
      dev = argv[++i];
    } else if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "--ref-correction") {
      refCorrection = true;
    } else if (a == "--temp-correction") {
      tempCorrection = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "maru convert: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 2;
    } else if (input.empty()) {
      input = a;
    } else {
      std::fprintf(stderr, "maru convert: more than one input file\n%s", kUsage);
      return 2;
    }
  }
  if (dev.empty() || input.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  using Stream = files::Recording::Stream;
  meterlink::MeterState state;
  if (!loadDeviceFile(dev, state.config)) return 1;
  files::ReplayReader replay;
  if (!replay.open(input)) {
    std::fprintf(stderr, "maru convert: cannot read '%s'\n", input.c_str());
    return 1;
  }
  files::Recording recording;
  const std::string header = files::EngrHeader(state.config);
  const bool opened = output == "-" ? recording.start(Stream::Engr, stdout, "-", header)
                                    : recording.start(Stream::Engr, output, header);
  if (!opened) {
    std::fprintf(stderr, "maru convert: cannot write '%s'\n", output.c_str());
    return 1;
  }
  // One flush at the end: a converter has no crash to survive mid-file.
  recording.setFlushEachLine(Stream::Engr, false);

  // No host clock: the host's time of day is no part of the file.
  meterlink::LineDispatch dispatch(state, warnLine, nullptr);
  dispatch.deviceFileInForce = true;
  dispatch.refCorrection = refCorrection;
  dispatch.tempCorrection = tempCorrection;
  dispatch.setOverflowHandler([] { warnLine("Input Buffer Overflow", "Check Baud Rate"); });
  // Lines are gathered and written a block at a time.
  constexpr size_t kOutputBlock = 1 << 16;
  std::string out;
  out.reserve(kOutputBlock + 1024);
  int warned = measure::CorrectionNone;
  bool failed = false;
  auto writeFailed = [&] {
    failed = true;
    warnLine("Recording Stopped", "The engineering units file '" + output +
                                      "' could not be written (disk full or file gone). Recording to it has stopped.");
  };
  if (!recording.on(Stream::Engr)) writeFailed();  // the header did not reach the file
  dispatch.setLineHandler([&](const meterlink::Line& line) {
    if (line.kind != meterlink::Line::Kind::Sample || failed) return;
    if (const int fresh = line.correctionsSkipped & ~warned) {
      warned |= fresh;
      for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
        if (fresh & flag) warnLine("Correction Skipped", measure::CorrectionSkippedText(flag));
    }
    files::appendEngrLine(out, state.config, state.sample, state.clock, state.eng);
    if (out.size() >= kOutputBlock) {
      if (!recording.writeEngr(out)) writeFailed();
      out.clear();
    }
  });

  std::vector<char> block(1 << 16);
  while (const size_t n = replay.readBlock(block.data(), block.size())) dispatch.feed(block.data(), n);
  if (!failed && !out.empty() && !recording.writeEngr(out)) writeFailed();
  if (!recording.stop(Stream::Engr) || failed) {
    std::fprintf(stderr, "maru convert: writing '%s' failed\n", output.c_str());
    return 1;
  }
  return 0;
}
