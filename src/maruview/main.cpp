// maruview: the program. Options are few and only for operators' convenience and tests:
//   --port N=PATH   bind host-port item "COM N" to a device path (repeatable)
//   --demo          run on the built-in virtual meter (started as a child process)
//   --version       print the version
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <clocale>
#include <cstdio>
#include <string>

#include "app/demo.h"
#include "ui/application.h"
#include "version.h"

namespace {

const char* kUsage =
    "usage: maruview [--port N=PATH]... [--demo]\n"
    "       maruview --version\n"
    "\n"
    "  --port N=PATH  bind the host-port item \"Host Port - COM N\" (1-8) to a serial device\n"
    "                 (for example --port 1=/dev/ttyUSB0); items left unbound take the serial\n"
    "                 adapters found on this machine, USB adapters first\n"
    "  --demo         start the virtual meter and show its live data (no meter needed)\n"
    "  --version      print the version and exit\n";

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

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Qt takes the desktop's locale for the C library; numbers in files and commands never
  // follow it (the core formats in the C locale anyway).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("MARU View");

  app::MainFormOptions options;
  bool demo = false;
  const QStringList args = QCoreApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("maruview %s\n", MARU_VERSION_STRING);
      return 0;
    } else if (a == "--demo") {
      demo = true;
    } else if (a == "--port" && i + 1 < args.size()) {
      if (!options.ports.bindSpec(args[++i].toStdString())) {
        std::fprintf(stderr, "maruview: bad --port '%s' (want N=PATH with N from 1 to 8)\n%s",
                     args[i].toLocal8Bit().constData(), kUsage);
        return 2;
      }
    } else if (a.startsWith("--port=")) {
      if (!options.ports.bindSpec(a.mid(7).toStdString())) {
        std::fprintf(stderr, "maruview: bad %s\n%s", a.toLocal8Bit().constData(), kUsage);
        return 2;
      }
    } else {
      std::fprintf(stderr, "maruview: unknown argument '%s'\n%s", a.toLocal8Bit().constData(), kUsage);
      return 2;
    }
  }

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
