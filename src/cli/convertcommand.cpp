// maru convert: replays a raw recording through the program's own pipeline (framing,
// decoding, conversion, reply parsing) with engineering-units recording on, headless.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/mainform.h"
#include "app/nullchart.h"

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

// Warnings become stderr lines; nothing waits for an operator.
class ConsoleUi : public app::OperatorUi {
 public:
  void beep() override {}
  void messageBox(const std::string& caption, const std::string& text, std::function<void()> closed) override {
    std::string oneLine = text;
    for (char& c : oneLine)
      if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), oneLine.c_str());
    ++shown;
    if (closed) closed();  // nobody to wait for
  }
  std::optional<std::string> openFile(const app::FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> saveFile(const app::FileDialogSpec&) override { return std::nullopt; }
  void showDialog(app::Dialog, bool) override {}
  int shown = 0;
};

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

  ConsoleUi ui;
  app::NullChart chart;
  app::MainForm form(ui, chart);
  // The first tick sets the start-up defaults, as right after the program starts.
  form.Timer55msTimer();
  if (!form.LoadDeviceFilePath(dev, dev)) {
    if (ui.shown == 0) std::fprintf(stderr, "Device File Error: Could not open device file '%s'\n", dev.c_str());
    return 1;
  }
  form.RefCorrectionOn = refCorrection;
  form.TempCorrectionOn = tempCorrection;
  if (!form.StartReplay(input)) {
    std::fprintf(stderr, "maru convert: cannot read '%s'\n", input.c_str());
    return 1;
  }
  if (!form.StartEngrRecording(output, true)) {
    std::fprintf(stderr, "maru convert: cannot write '%s'\n", output.c_str());
    return 1;
  }
  form.BTStartClick();
  // The replay's plot channels are built before the first read, as on the next tick.
  // A read error (not the end) would yield nothing for ever; stop after a few empty steps.
  int idle = 0;
  while (form.ReplayRunning && idle < 3) {
    const unsigned long before = form.TotalBytesRead;
    form.ReceiveStep(0);
    idle = form.TotalBytesRead == before ? idle + 1 : 0;
  }
  if (!form.StopEngrRecording()) {
    std::fprintf(stderr, "maru convert: writing '%s' failed\n", output.c_str());
    return 1;
  }
  return 0;
}
