// maru convert --qc as a command: a configuration it cannot use is one line naming the file
// and the line, exit status 2 and no output; a good one ends with each stream's flags
// counted on stderr.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::example;

struct QcCase {
  const char* what;
  const char* yaml;
  int status;
  const char* err;  ///< all of stderr after "maru convert: <file>: " (status 2), else its QC lines
};

class ConvertQc : public ::testing::TestWithParam<QcCase> {};

TEST_P(ConvertQc, ReportsOnStderr) {
  const QcCase& c = GetParam();
  testsupport::TempDir dir;
  const std::string yml = dir.file("qc.yml"), out = dir.file("out.csv");
  testsupport::writeFile(yml, c.yaml);
  const testsupport::ToolRun r =
      testsupport::runMaru({"convert", "--dev", QString::fromStdString(example("flcd.dev")), "--format", "csv", "--qc",
                            QString::fromStdString(yml), QString::fromStdString(example("flcd.raw")), "-o",
                            QString::fromStdString(out)});
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.err, c.status == 2 ? "maru convert: " + yml + ": " + c.err : std::string(c.err));
  EXPECT_EQ(std::filesystem::exists(out), c.status == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertQc,
    ::testing::Values(
        QcCase{"unknown stream",
               "streams:\n  chl_ug_per_l:\n    qartod:\n      gross_range_test: {fail_span: [0, 50]}\n"
               "  chl:\n    qartod:\n      gross_range_test: {fail_span: [0, 50]}\n",
               2,
               "line 5: unknown stream 'chl'; the streams of this meter are: chl_ug_per_l, cdom_ppb, itemp_degc, "
               "xtemp_degc, pres_dbar, counts_chl, counts_cdom, counts_itemp, counts_xtemp, counts_pres\n"},
        QcCase{"good",
               "streams:\n  chl_ug_per_l:\n    qartod:\n      gross_range_test: {fail_span: [0, 50]}\n"
               "  counts_chl:\n    qartod:\n      gross_range_test: {fail_span: [0, 100]}\n",
               0,
               "QC chl_ug_per_l: 40 pass, 0 not evaluated, 0 suspect, 0 fail, 0 missing\n"
               "QC counts_chl: 0 pass, 0 not evaluated, 0 suspect, 40 fail, 0 missing\n"}),
    [](const auto& info) { return testsupport::testNameOf(info.param.what); });

}  // namespace
