// maru convert as a command: output, locale, errors and help. Its agreement with the
// window's own recording is tested beside the main form (tests/app).
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <string>

#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;
using testsupport::runMaru;
using testsupport::ToolRun;
using testsupport::writeFile;

using testsupport::example;

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
