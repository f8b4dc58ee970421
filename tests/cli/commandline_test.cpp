// The command lines of maru, its commands and maruview: help, version, bad arguments (exit
// status 2), help and version without a display, and --wire-log on the running program.
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>
#include <regex>
#include <string>

#include "support/testfiles.h"

namespace {

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs `program args` with no display at all: no X, no Wayland, no Qt platform chosen.
// A program that made its QApplication would fail here.
ProgramRun runHeadless(const QString& program, const QStringList& args, bool offscreen = false) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  if (offscreen) env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(program, args);
  ProgramRun r;
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Case {
  const char* program;  // "maru" or "maruview"
  QStringList args;
  int status;
  const char* out;  // "" when stdout must be empty
  const char* err;  // "" when stderr must be empty
};

TEST(CommandLine, HelpVersionAndBadArgumentsOfEveryCommand) {
  const Case cases[] = {
      {"maru", {"--help"}, 0, "Usage: maru [OPTIONS] COMMAND [ARGS]...", ""},
      {"maru", {"help"}, 0, "\n  ports ", ""},
      {"maru", {"--version"}, 0, "maru ", ""},
      {"maru", {}, 2, "", "maru: a command is needed"},
      {"maru", {"bogus"}, 2, "", "maru: unknown command 'bogus'"},
      {"maru", {"--bogus", "sim"}, 2, "", "maru: "},
      {"maru", {"sim", "--help"}, 0, "Usage: maru sim [OPTIONS]", ""},
      {"maru", {"sim", "--baud"}, 2, "", "maru sim: "},
      {"maru", {"sim", "--stopped=1"}, 2, "", "maru sim: "},
      {"maru", {"ports", "--help"}, 0, "Usage: maru ports [OPTIONS]", ""},
      {"maru", {"ports", "--port"}, 2, "", "maru ports: "},
      {"maru", {"log", "--help"}, 0, "Usage: maru log [OPTIONS]", ""},
      {"maru", {"convert", "--help"}, 0, "Usage: maru convert [OPTIONS]", ""},
      {"maru", {"log", "--baud", "1200"}, 2, "", "maru log: --baud"},
      {"maru", {"convert", "--format", "xls"}, 2, "", "maru convert: "},
      {"maruview", {"--help"}, 0, "Usage: maruview [OPTIONS]", ""},
      {"maruview", {"-h"}, 0, "--wire-log FILE", ""},
      {"maruview", {"--version"}, 0, "maruview ", ""},
      {"maruview", {"--port", "9=/dev/ttyUSB0"}, 2, "", "maruview: --port: want N=PATH"},
      {"maruview", {"--port"}, 2, "", "maruview: "},
      {"maruview", {"--demo=yes"}, 2, "", "maruview: "},
      {"maruview", {"--wire-log"}, 2, "", "maruview: "},
  };
  for (const Case& c : cases) {
    const QString program = std::string(c.program) == "maru" ? MARU_TOOL : MARU_VIEW;
    const ProgramRun r = runHeadless(program, c.args);
    const std::string what = std::string(c.program) + " " + c.args.join(' ').toStdString();
    EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
    if (*c.out) {
      EXPECT_TRUE(contains(r.out, c.out)) << what << ":\n" << r.out;
    } else {
      EXPECT_EQ(r.out, "") << what;
    }
    if (*c.err) {
      EXPECT_TRUE(contains(r.err, c.err)) << what << ":\n" << r.err;
      // A bad argument is one line, then where to read more; not the whole help.
      const std::string err = c.err;
      const std::string command = err.substr(0, err.find(':'));
      EXPECT_TRUE(std::regex_match(r.err, std::regex("[^\n]+\nRun '" + command + " --help' for the options\\.\n")))
          << what << ":\n" << r.err;
    } else {
      EXPECT_EQ(r.err, "") << what;
    }
    // The help names what an option takes, not how it is checked.
    for (const char* leak : {":{", "in [", "HOST[:PORT]:", "HOST:PORT:", "ZONE:"})
      EXPECT_FALSE(contains(r.out, leak)) << what << " shows '" << leak << "':\n" << r.out;
    if (contains(what, "--version")) {
      // "<program> <project version>[ (<git describe>)]", one line.
      EXPECT_TRUE(std::regex_match(r.out, std::regex(std::string(c.program) + R"( \d+\.\d+[^\n]*\n)"))) << r.out;
    }
  }
}

// Arguments that neither maruview nor Qt knows are refused once Qt has taken its own.
TEST(CommandLine, MaruviewRefusesWhatQtDoesNotTakeEither) {
  const ProgramRun r = runHeadless(MARU_VIEW, {"-platform", "offscreen", "--bogus"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(contains(r.err, "maruview: unknown argument '--bogus'")) << r.err;

  testsupport::TempDir dir;
  const ProgramRun log = runHeadless(MARU_VIEW, {"--wire-log", QString::fromStdString(dir.path())}, true);
  EXPECT_EQ(log.status, 1) << log.err;
  EXPECT_TRUE(contains(log.err, "cannot open wire log '" + dir.path() + "'")) << log.err;
}

// The demo's meter talks through the main form's port, so its bytes land in the wire log:
// the program's requests marked '>' and the meter's lines marked '<'. An earlier session's
// lines stay.
TEST(CommandLine, MaruviewWireLogHoldsTheDemoMetersTraffic) {
  testsupport::TempDir dir;
  const std::string log = dir.file("wire.log");
  testsupport::writeFile(log, "earlier session\n");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.setWorkingDirectory(QString::fromStdString(dir.path()));
  p.start(MARU_VIEW, {"--demo", "--wire-log", QString::fromStdString(log)});
  ASSERT_TRUE(p.waitForStarted(10000));
  QDeadlineTimer deadline(60000);
  std::string text;
  const auto done = [&] {
    return contains(text, " # opened ") && contains(text, " > ") && contains(text, " < ") &&
           contains(text, "\\r\\n");
  };
  while (!deadline.hasExpired() && p.state() == QProcess::Running) {
    text = testsupport::readFile(log);
    if (done()) break;
    QThread::msleep(100);
  }
  p.terminate();
  if (!p.waitForFinished(10000)) p.kill();
  p.waitForFinished();
  ASSERT_TRUE(done()) << text << "\n" << p.readAllStandardError().toStdString();
  EXPECT_EQ(text.rfind("earlier session\n", 0), 0u);
}

}  // namespace
