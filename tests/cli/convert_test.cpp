// maru convert as a command: output, locale, errors and help. Its agreement with the
// window's own recording is tested beside the main form (tests/app).
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;
using testsupport::runMaru;
using testsupport::ToolRun;
using testsupport::writeFile;

using testsupport::example;

namespace fs = std::filesystem;

QStringList convertArgs(const std::string& format, const std::string& input, const std::string& output) {
  return {"convert", "--dev", QString::fromStdString(example("bb3.dev")), "--format", QString::fromStdString(format),
          QString::fromStdString(input), "-o", QString::fromStdString(output)};
}

// The temporary files of unfinished conversions in `folder`.
std::vector<std::string> partFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".part-") != std::string::npos) names.push_back(entry.path());
  return names;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Convert, DefaultsToStandardOutputAndMatchesTheFile) {
  testsupport::TempDir dir;
  const std::string out = dir.file("x.eng");
  const ToolRun toFile = runMaru({"convert", "--dev", QString::fromStdString(example("bb3.dev")),
                              QString::fromStdString(example("bb3.raw")), "-o", QString::fromStdString(out)});
  const ToolRun toStdout =
      runMaru({"convert", "--dev", QString::fromStdString(example("bb3.dev")), QString::fromStdString(example("bb3.raw"))});
  ASSERT_EQ(toFile.status, 0);
  ASSERT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, readFile(out));
  EXPECT_EQ(toStdout.out.substr(0, 5), "Count");
}

// Without --format the output's name says what to write, and every file takes the mode
// the umask gives a new file (not the private mode of its temporary name).
TEST(Convert, TheOutputsExtensionChoosesTheFormatAndFilesFollowTheUmask) {
  testsupport::TempDir dir;
  const mode_t before = ::umask(022);
  struct Case { const char* name; const char* startsWith; };
  for (const Case& c : {Case{"x.csv", "host_time_utc,"}, Case{"x.NC", "\x89HDF"}, Case{"x.eng", "Count"},
                        Case{"x.txt", "Count"}}) {
    const ToolRun r = runMaru({"convert", "--dev", QString::fromStdString(example("bb3.dev")),
                               QString::fromStdString(example("bb3.raw")), "-o", QString::fromStdString(dir.file(c.name))});
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    EXPECT_EQ(readFile(dir.file(c.name)).substr(0, std::strlen(c.startsWith)), c.startsWith) << c.name;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << c.name;
  }
  ::umask(before);
}

TEST(Convert, ADecimalCommaLocaleChangesNoByte) {
  QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
  german.insert("LC_ALL", "de_DE.UTF-8");
  german.insert("LANG", "de_DE.UTF-8");
  const QStringList args = {"convert", "--dev", QString::fromStdString(example("flcd.dev")),
                            QString::fromStdString(example("flcd.raw"))};
  const ToolRun plain = runMaru(args);
  const ToolRun comma = runMaru(args, german);
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(comma.status, 0);
  EXPECT_EQ(comma.out, plain.out);
  EXPECT_NE(plain.out.find('.'), std::string::npos);
}

TEST(Convert, ABadDeviceFileWritesNothingAndFails) {
  testsupport::TempDir dir;
  const std::string dev = dir.file("bad.dev");
  writeFile(dev, "Title\nColumns=2\nCHL=1 2\n");  // CHL needs three numbers
  const std::string out = dir.file("never.eng");
  const ToolRun r = runMaru({"convert", "--dev", QString::fromStdString(dev), QString::fromStdString(example("bb3.raw")),
                         "-o", QString::fromStdString(out)});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("MARU Device File Error: Invalid Line 'CHL=1 2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Device File Error: Missing or Invalid device file '" + dev + "'"), std::string::npos) << r.err;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));

  const ToolRun missing = runMaru({"convert", "--dev", QString::fromStdString(dir.file("none.dev")),
                               QString::fromStdString(example("bb3.raw"))});
  EXPECT_NE(missing.status, 0);
  EXPECT_TRUE(missing.out.empty());
}

// A file that is no device file at all is refused by name and reason, in both commands that
// take one, with exit status 2 and nothing written.
TEST(Convert, AFileThatIsNoDeviceFileIsABadArgument) {
  testsupport::TempDir dir;
  writeFile(dir.file("binary.dev"), std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "Date=1\n");
  writeFile(dir.file("title.dev"), "A meter without columns\nWater=SEA\n");
  struct Case { std::string dev; const char* why; };
  for (const Case& c : {Case{example("bb3.raw"), "lines of numbers"}, Case{example("bb3.eng"), "lines of numbers"},
                        Case{dir.file("binary.dev"), "binary data"}, Case{dir.file("title.dev"), "names no columns"}}) {
    const ToolRun convert = runMaru({"convert", "--dev", QString::fromStdString(c.dev),
                                     QString::fromStdString(example("bb3.raw")), "-o", QString::fromStdString(dir.file("x.eng"))});
    EXPECT_EQ(convert.status, 2) << c.dev;
    EXPECT_NE(convert.err.find("'" + c.dev + "' is not a device file: it "), std::string::npos) << convert.err;
    EXPECT_NE(convert.err.find(c.why), std::string::npos) << convert.err;
    EXPECT_FALSE(fs::exists(dir.file("x.eng")));
    const ToolRun log = runMaru({"log", "--dev", QString::fromStdString(c.dev), "--port", "/dev/null", "--out",
                             QString::fromStdString(dir.file("log"))});
    EXPECT_EQ(log.status, 2) << c.dev;
    EXPECT_NE(log.err.find("'" + c.dev + "' is not a device file"), std::string::npos) << log.err;
  }
}

// A raw recording may be the only copy of a cast: no spelling of it as the output may touch it.
TEST(Convert, AnOutputThatIsTheInputIsRefusedInEveryFormat) {
  const std::string cast = readFile(example("bb3.raw"));
  struct Case {
    const char* what;
    const char* input;
    const char* output;
  };
  const Case cases[] = {
      {"the same path", "cast.raw", "cast.raw"},
      {"another spelling", "cast.raw", "./cast.raw"},
      {"a symbolic link to the input", "cast.raw", "link.raw"},
      {"the input through a symbolic link", "link.raw", "cast.raw"},
      {"a hard link to the input", "cast.raw", "hard.raw"},
  };
  for (const char* format : {"eng", "csv", "netcdf"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(format) + ", " + c.what);
      testsupport::TempDir dir;
      writeFile(dir.file("cast.raw"), cast);
      fs::create_symlink("cast.raw", dir.file("link.raw"));
      fs::create_hard_link(dir.file("cast.raw"), dir.file("hard.raw"));
      const ToolRun r = runMaru(convertArgs(format, dir.file(c.input), dir.file(c.output)));
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(readFile(dir.file("cast.raw")), cast);
      EXPECT_TRUE(fs::is_symlink(dir.file("link.raw")));
      EXPECT_TRUE(contains(r.err, "the output '" + dir.file(c.output) + "' is the input '" + dir.file(c.input) + "'"))
          << r.err;
      EXPECT_TRUE(partFiles(dir.path()).empty());
    }
  }
}

TEST(Convert, AnInputThatIsNoRegularFileIsAnError) {
  testsupport::TempDir dir;
  const std::string fifo = dir.file("cast.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = dir.file("cast.eng");
  for (const std::string& input : {dir.path(), fifo}) {
    SCOPED_TRACE(input);
    // A FIFO without a writer would hold the run forever.
    const ToolRun r = runMaru(convertArgs("eng", input, out), QProcessEnvironment::systemEnvironment(), 10000);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "'" + input + "'")) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

// As cp does: a link given as the output is followed, and stays a link. Its target is named
// relative to the link's folder, not to the folder the command runs in.
TEST(Convert, AnOutputLinkStaysALinkAndItsTargetIsWritten) {
  testsupport::TempDir dir;
  fs::create_directory(dir.file("sub"));
  for (const std::string format : {"eng", "csv", "netcdf"}) {
    const std::string direct = dir.file("direct." + format);
    ASSERT_EQ(runMaru(convertArgs(format, example("bb3.raw"), direct)).status, 0);
    for (const bool targetThere : {true, false}) {
      SCOPED_TRACE(format + (targetThere ? ", a link to an older file" : ", a link to no file yet"));
      const std::string name = format + (targetThere ? ".old" : ".new");
      const std::string link = dir.file("link-" + name), target = dir.file("sub/" + name);
      if (targetThere) writeFile(target, "an older conversion\n");
      fs::create_symlink("sub/" + name, link);
      const ToolRun r = runMaru(convertArgs(format, example("bb3.raw"), link));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(fs::is_symlink(link));
      EXPECT_EQ(fs::read_symlink(link), "sub/" + name);
      if (format == "netcdf")
        EXPECT_EQ(readFile(target).substr(0, 4), "\x89HDF");  // its history names the output: not byte-equal
      else
        EXPECT_EQ(readFile(target), readFile(direct));
    }
  }
  EXPECT_TRUE(partFiles(dir.path()).empty());
  EXPECT_TRUE(partFiles(dir.file("sub")).empty());
}

// The signal is sent once the temporary file is there. A run that ends first is fine too,
// as long as it leaves no temporary file either.
TEST(Convert, ARunEndedBySigintOrSigtermLeavesNoTemporaryFile) {
  testsupport::TempDir dir;
  const std::string cast = readFile(example("bb3.raw"));
  std::string longCast;
  for (int i = 0; i < 6000; ++i) longCast += cast;  // some 360000 lines: most of a second
  const std::string input = dir.file("long.raw");
  writeFile(input, longCast);
  for (const std::string format : {"csv", "netcdf"}) {
    for (const int sig : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(format + ", " + strsignal(sig));
      const std::string out = dir.file("long." + format);
      fs::remove(out);
      QProcess p;
      p.start(QString(MARU_TOOL), convertArgs(format, input, out));
      ASSERT_TRUE(p.waitForStarted());
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      bool ended = false;
      while (partFiles(dir.path()).empty() && !(ended = p.waitForFinished(1)))
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      if (!ended) {
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(30000));
      }
      if (p.exitStatus() == QProcess::CrashExit) {
        EXPECT_FALSE(fs::exists(out));
      } else {
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(fs::exists(out));
      }
      EXPECT_TRUE(partFiles(dir.path()).empty());
    }
  }
}

TEST(Convert, AWriteErrorNamesItsCauseAndADeviceIsWrittenIntoNeverReplaced) {
  testsupport::TempDir dir;
  struct Case {
    const char* format;
    std::string output, cause;
  };
  for (const Case& c : {Case{"eng", "/dev/full", std::strerror(ENOSPC)}, Case{"csv", "/dev/full", std::strerror(ENOSPC)},
                        Case{"netcdf", "/dev/full", "must be a regular file"},
                        Case{"eng", dir.path(), std::strerror(EISDIR)}}) {
    SCOPED_TRACE(std::string(c.format) + " " + c.output);
    const ToolRun r = runMaru(convertArgs(c.format, example("bb3.raw"), c.output));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "'" + c.output + "'")) << r.err;
    EXPECT_TRUE(contains(r.err, c.cause)) << r.err;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

TEST(Convert, HelpAndUsage) {
  const ToolRun help = runMaru({"convert", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--ref-correction"), std::string::npos);
  const ToolRun top = runMaru({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_NE(top.out.find("convert"), std::string::npos);
  EXPECT_NE(top.out.find("sim"), std::string::npos);
  EXPECT_EQ(runMaru({"convert"}).status, 2);
  EXPECT_EQ(runMaru({"convert", "--bogus"}).status, 2);
}

}  // namespace
