// maruview: the program. Options are few and only for operators' convenience, support and
// tests (see --help): --port N=PATH, --demo, --wire-log FILE, --version.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/demo.h"
#include "cli/commandline.h"
#include "link/wirelog.h"
#include "ui/application.h"
#include "version.h"

namespace {

QString findTool(const QString& name) {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {dir + "/" + name, dir + "/../cli/" + name}) {
    QFileInfo info(candidate);
    if (info.isExecutable()) return info.canonicalFilePath();
  }
  return QStandardPaths::findExecutable(name);
}

// <prefix>/share/maruview/examples for an installed program; in the build tree, the folder
// named in maruview-examples.path beside the executable (written by CMake, never installed).
QString findExamples() {
  const QString dir = QCoreApplication::applicationDirPath();
  QStringList candidates{dir + "/../share/maruview/examples"};
  QFile buildTreePointer(dir + "/maruview-examples.path");
  if (buildTreePointer.open(QIODevice::ReadOnly | QIODevice::Text))
    candidates << QString::fromUtf8(buildTreePointer.readAll()).trimmed();
  for (const QString& candidate : candidates) {
    if (QFileInfo(candidate + "/bb3.dev").isFile()) return QDir(candidate).canonicalPath();
  }
  return {};
}

// Starts the virtual meter and returns the path of its pseudo-terminal ("" on failure).
QString startVirtualMeter(QProcess& sim, const QString& deviceFile) {
  const QString tool = findTool("maru");
  if (tool.isEmpty()) {
    std::fprintf(stderr, "maruview: the virtual meter ('maru') was not found next to the program\n");
    return {};
  }
  sim.setProgram(tool);
  sim.setArguments({"sim", "--dev", deviceFile, "--baud", "19200"});
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start();
  if (!sim.waitForStarted(5000)) return {};
  QByteArray first;
  while (!first.contains('\n') && sim.waitForReadyRead(5000)) first += sim.readAllStandardOutput();
  const int end = first.indexOf('\n');
  return end > 0 ? QString::fromLocal8Bit(first.left(end)).trimmed() : QString();
}

struct CommandLine {
  std::vector<std::string> ports;
  bool demo = false;
  std::string wireLog;
  acquire::MqttOptions mqtt;
  cli::FeedQueueOptions queue;
  std::string udp;
  std::string qc;
};

// Reads maruview's own options; Qt's (-platform, -style, ...) are left over for
// QApplication. Returns the exit status when done already: 0 after --help or --version,
// 2 after a bad option value. No display is needed up to here.
std::optional<int> readCommandLine(CLI::App& app, CommandLine& line, int argc, char** argv) {
  cli::setUpHelp(app);
  app.set_version_flag("--version", std::string("maruview ") + MARU_VERSION_STRING, "print the version and exit");
  app.allow_extras();
  app.add_option("--port", line.ports,
                 "bind the host-port item \"Host Port - COM N\" (1-8) to a\n"
                 "serial device (for example --port 1=/dev/ttyUSB0); may be\n"
                 "repeated. Items left unbound take the serial adapters found\n"
                 "on this machine, USB adapters first")
      ->type_name("N=PATH")
      ->allow_extra_args(false)
      ->check([](const std::string& binding) {
        meterlink::PortSlots scratch;
        return scratch.bindSpec(binding) ? std::string() : "want N=PATH with N from 1 to 8, not '" + binding + "'";
      });
  app.add_flag("--demo", line.demo, "start the virtual meter and show its live data (no meter\nneeded)")
      ->disable_flag_override();
  cli::addFeedOptions(app, line.mqtt, line.udp);
  cli::addFeedQueueOptions(app, line.mqtt, line.queue, "mqtt-queue in the working directory");
  app.add_option("--qc", line.qc,
                 "flag every sample with the QARTOD tests of this YAML\n"
                 "configuration, as File > Load QC Configuration... does")
      ->type_name("FILE.yml");
  app.add_option("--wire-log", line.wireLog,
                 "append every byte sent to and received from the meter to\n"
                 "FILE, one line per chunk: UTC time, '>' host to meter or '<'\n"
                 "meter to host, the bytes (\\r \\n \\t \\\\ \\xHH for the rest).\n"
                 "For support: send us the file with your question")
      ->type_name("FILE");
  app.footer("Exit status: as the window ends (0 normally); 1 when the demo or the wire log\n"
             "cannot start; 2 for bad arguments.");
  return cli::parseCommandLine(app, argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{"Shows the live data of an in-water optical meter (fluorometer, turbidity or\n"
               "backscattering meter) on a serial line in engineering units, records raw and\n"
               "engineering-units files, and sets the meter's clock and sampling. It needs the\n"
               "meter's device file (.dev), which holds its calibration.",
               "maruview"};
  CommandLine line;
  if (const auto status = readCommandLine(cli, line, argc, argv)) return *status;
  const std::vector<std::string> extras = cli.remaining();

  // Qt reads "--platform" as its own "-platform" (which window system); here it is the
  // MQTT platform, so Qt does not see it. Qt's stays "-platform", with one dash.
  std::vector<char*> qtArgv;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--platform" && i + 1 < argc) ++i;
    else if (!arg.starts_with("--platform=")) qtArgv.push_back(argv[i]);
  }
  int qtArgc = static_cast<int>(qtArgv.size());
  qtArgv.push_back(nullptr);
  QApplication application(qtArgc, qtArgv.data());
  // Qt takes the desktop's locale for the C library; numbers in files and commands never
  // follow it (the core formats in the C locale anyway).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("MARU View");
  // What CLI11 did not know and Qt did not take either is an unknown argument.
  const QStringList left = QCoreApplication::arguments().mid(1);
  for (const std::string& extra : extras) {
    if (left.contains(QString::fromStdString(extra))) {
      std::fputs(cli::badArgumentText("maruview", "unknown argument '" + extra + "'").c_str(), stderr);
      return 2;
    }
  }

  app::MainFormOptions options;
  for (const std::string& binding : line.ports) options.ports.bindSpec(binding);
  line.queue.apply(line.mqtt, "mqtt-queue");
  options.feeds = {line.mqtt, line.udp, MARU_VERSION_STRING};
  options.qcPath = line.qc;
  meterlink::WireLog wireLog;
  if (!line.wireLog.empty()) {
    std::string error;
    if (!wireLog.open(line.wireLog, error)) {
      std::fprintf(stderr, "maruview: %s\n", error.c_str());
      return 1;
    }
  }
  const bool demo = line.demo;

  QProcess sim;
  QString demoDevice;
  if (demo) {
    const QString examples = findExamples();
    if (examples.isEmpty()) {
      std::fprintf(stderr, "maruview: the demo's device files (examples/) were not found\n");
      return 1;
    }
    demoDevice = examples + "/bb3.dev";
    const QString pty = startVirtualMeter(sim, demoDevice);
    if (pty.isEmpty()) {
      std::fprintf(stderr, "maruview: the virtual meter did not start\n");
      return 1;
    }
    options.ports.bind(1, pty.toStdString());
    // Once start-up is over, so that the first tick's defaults and the restored settings
    // of the last run come first and the demo shows what a load by hand shows.
    options.onStarted = [device = demoDevice.toStdString()](app::MainForm& form) { app::StartDemo(form, device); };
  }
  options.ports.autoBindSystem();

  // Handed to the session before the timers start, so the log holds the port's first byte.
  if (wireLog.isOpen()) options.wireLog = &wireLog;
  auto program = ui::makeApplication(std::move(options));
  program->start();
  const int status = QApplication::exec();
  program.reset();
  if (sim.state() != QProcess::NotRunning) {
    sim.terminate();
    if (!sim.waitForFinished(2000)) sim.kill();
  }
  return status;
}
