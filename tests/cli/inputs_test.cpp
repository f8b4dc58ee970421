// What maru reads from the user before it starts: files over the size limit or without
// end, and NetCDF attributes that cannot be written, end it at once with status 2 and one
// line saying why.
#include <gtest/gtest.h>

#include <QFile>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::example;
using testsupport::runMaru;
using testsupport::ToolRun;

QString q(const std::string& s) { return QString::fromStdString(s); }

// The files maru reads whole: each of them, as /dev/zero, a FIFO that never ends and a
// file one byte over 1 MiB.
TEST(Inputs, OverTheLimitEndsConvertAtOnce) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("big"), std::string((1 << 20) + 1, '#'));
  for (const char* option : {"--dev", "--qc", "--attrs"}) {
    for (const std::string kind : {"/dev/zero", "fifo", "big"}) {
      SCOPED_TRACE(std::string(option) + " " + kind);
      std::optional<testsupport::EndlessFifo> fifo;
      if (kind == "fifo") fifo.emplace(dir.file("fifo"));
      const std::string path = kind == "/dev/zero" ? kind : dir.file(kind);
      QStringList args = {"convert", "--format", "netcdf", "-o", q(dir.file("out.nc")), q(example("bb3.raw"))};
      args << "--dev" << q(std::string(option) == "--dev" ? path : example("bb3.dev"));
      if (std::string(option) != "--dev") args << option << q(path);
      const ToolRun r = runMaru(args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, "maru convert: " + path + ": larger than the limit of 1 MiB (1048576 bytes)\n");
      EXPECT_FALSE(QFile::exists(q(dir.file("out.nc"))));
      if (fifo) {
        fifo.reset();
        QFile::remove(q(dir.file("fifo")));
      }
    }
  }
}

struct BadAttributes {
  const char* name;
  std::vector<std::string> args;  // {file}, {b}: the attribute files below
  std::string says;
};

// Refused by maru convert and by maru log (before it opens the port), whose NetCDF files
// could not take them.
TEST(Inputs, AttributesNetcdfCannotTakeAreRefusedAtStart) {
  const std::string longKey(257, 'k');
  const BadAttributes cases[] = {
      {"reserved name", {"--attr", "_FillValue=1"}, "--attr '_FillValue=1': '_FillValue' is not an attribute name"},
      {"long name", {"--attr", longKey + "=1"}, "(257 characters; at most 256)"},
      {"computed", {"--attr", "history=x"}, "'history' is written by the program"},
      {"latitude over 90", {"--attr", "geospatial_lat=95"}, "'geospatial_lat' must be within -90..90, not 95"},
      {"longitude infinite", {"--attr", "geospatial_lon=1e999"}, "'geospatial_lon' must be a finite number, not '1e999'"},
      {"not a number", {"--attr", "geospatial_lat_min=.nan"}, "must be a finite number, not '.nan'"},
      {"text", {"--attr", "geospatial_vertical_max=abc"}, "must be a finite number, not 'abc'"},
      {"twice on the line", {"--attr", "project=a", "--attr", "project=b"}, "--attr 'project=b': 'project' is given twice"},
      {"twice in the file", {"--attrs", "{file}"}, "a.yml: line 3: 'project' appears twice (also line 1)"},
      {"bad value in the file", {"--attrs", "{b}"}, "b.yml: line 2: 'geospatial_lat' must be within -90..90"},
  };
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("a.yml"), "project: a\ninstitution: b\nproject: c\n");
  testsupport::writeFile(dir.file("b.yml"), "title: x\ngeospatial_lat: 95\n");
  for (const BadAttributes& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList extra;
    for (const std::string& a : c.args) extra << q(a == "{file}" ? dir.file("a.yml") : a == "{b}" ? dir.file("b.yml") : a);
    const ToolRun convert = runMaru(QStringList{"convert", "--dev", q(example("bb3.dev")), "--format", "netcdf", "-o",
                                                q(dir.file("out.nc")), q(example("bb3.raw"))} + extra);
    const ToolRun log = runMaru(QStringList{"log", "--port", q(dir.file("no-port")), "--dev", q(example("bb3.dev")),
                                            "--out", q(dir.file("out")), "--netcdf"} + extra);
    for (const auto& [program, r] : {std::pair{"maru convert: ", convert}, std::pair{"maru log: ", log}}) {
      EXPECT_EQ(r.status, 2) << program;
      EXPECT_EQ(r.err.rfind(program, 0), 0U) << r.err;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_FALSE(QFile::exists(q(dir.file("out.nc"))));
  }
}

}  // namespace
