// Quality control in the window, the test playing the meter: File > Load QC Configuration,
// flags in words and colour, counted and marked on the chart (a spike once the sample
// after it came), and a device file the checks do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fakechart.h"
#include "formaccess.h"
#include "formfixture.h"
#include "support/qcexample.h"

namespace {

using testsupport::kFlcdQcYaml;

class QcForm : public testsupport::FormFixture {
 protected:
  chart::PlotChart& formChart() override { return fake; }
  void TearDown() override { form.reset(); }  // before the chart goes
  void meterSends(int second, int chlCounts) {
    const std::string line =
        "12/08/26\t04:44:0" + std::to_string(second) + "\t" + std::to_string(chlCounts) + "\t1384\t560\t3205\t2065\r\n";
    const unsigned long target = form->shared().TotalBytesRead + line.size();
    peer.send(line);
    for (int i = 0; i < 50 && form->shared().TotalBytesRead < target; ++i) tick(5);
    ASSERT_GE(form->shared().TotalBytesRead, target) << "not delivered: " << line;
  }
  /// Loads our QC configuration for flcd.dev through the File menu; gives its path.
  std::string loadQc() {
    const std::string yml = dir.file("qc.yml");
    testsupport::writeFile(yml, kFlcdQcYaml);
    ui.files.push_back(yml);
    form->click("LoadQcConfiguration1");
    return yml;
  }
  apptest::FakeChart fake;
};

TEST_F(QcForm, FlagsShowInWordsAndColourAreCountedAndMarkedAndAnUnfittingDeviceFileTurnsThemOff) {
  tick();
  loadExample("flcd.dev");
  choosePort(1);
  tick();
  testsupport::editState(*form).SetupRequestTicks = 0;
  const std::string yml = loadQc();
  ASSERT_EQ(form->view().text("PQcValues"), "QC: " + yml + " (waiting for data)");

  for (int s = 0; s < 3; ++s) meterSends(s, 1048);
  EXPECT_EQ(form->view().get("PQcValues").colour, 0x90EE90);
  meterSends(3, 3048);  // the spike: out of the suspect span, changing fast, CDOM flat for 3 s
  EXPECT_EQ(form->view().text("PQcValues"), "QC:  chl_ug_per_l 21.9 SUSPECT  counts_cdom 1384 SUSPECT");
  EXPECT_EQ(form->view().get("PQcValues").colour, 0x00A5FF);
  meterSends(4, 1048);  // tells the spike failed
  meterSends(5, 1048);  // CDOM flat for 5 s
  EXPECT_EQ(form->view().text("PQcValues"), "QC:  chl_ug_per_l 7.3 PASS  counts_cdom 1384 FAIL");
  EXPECT_EQ(form->view().get("PQcValues").colour, 0x3C3CFF);
  // The spike's sample counts as failed once its flag is known, not also as suspect.
  EXPECT_EQ(form->view().text("LBQcCounts"), "QC: 1 suspect, 2 failed samples since loaded");

  const int chl = form->plotPage().ColumnChannel()[2];
  const auto& points = fake.channels.at(size_t(chl)).points;
  const auto spike = std::find_if(points.begin(), points.end(), [](const auto& p) { return p.second == 3048; });
  ASSERT_NE(spike, points.end());
  const apptest::FakeChart::Mark failed{chl, spike->first, spike->second, 4};
  EXPECT_EQ(std::count(fake.marks.begin(), fake.marks.end(), failed), 1);
  // Each mark's tooltip names the tests that fired; the spike's adds what fired live.
  std::vector<std::pair<apptest::FakeChart::Mark, std::string>> marks;
  for (size_t i = 0; i < fake.marks.size(); ++i) marks.emplace_back(fake.marks[i], fake.markTests[i]);
  const int cdom = form->plotPage().ColumnChannel()[3];
  const std::pair<apptest::FakeChart::Mark, std::string> wanted[] = {
      {{chl, spike->first, spike->second, 3}, "SUSPECT: gross_range_test, rate_of_change_test"},
      {failed, "FAIL: spike_test; SUSPECT: gross_range_test, rate_of_change_test"},
      {{cdom, spike->first + 2, 1384, 4}, "FAIL: flat_line_test"}};
  for (const auto& mark : wanted)
    EXPECT_EQ(std::count(marks.begin(), marks.end(), mark), 1) << mark.second;

  loadExample("bb3.dev");  // no such streams
  EXPECT_EQ(ui.countBoxes("QC Configuration"), 1u);
  EXPECT_EQ(form->view().text("PQcValues").rfind("QC: off", 0), 0u) << form->view().text("PQcValues");
}

// Checks loaded while a recording runs are held for the next one: the CSV keeps the
// checks of its header, and the screen agrees with it, until Stop Record.
TEST_F(QcForm, ChecksLoadedDuringARecordingApplyFromTheNext) {
  tick();
  loadExample("flcd.dev");
  choosePort(1);
  tick();
  testsupport::editState(*form).SetupRequestTicks = 0;
  loadQc();
  const std::string csv = dir.file("a.csv");
  ui.files.push_back(csv);
  form->click("BTRecordCsv");
  meterSends(0, 1048);

  // Stricter: chlorophyll at 7.3 becomes suspect.
  const std::string strict = dir.file("strict.yml");
  std::string yaml = testsupport::kFlcdQcYaml;
  yaml.replace(yaml.find("suspect_span: [0, 20]"), 21, "suspect_span: [0, 5]");
  testsupport::writeFile(strict, yaml);
  ui.files.push_back(strict);
  form->click("LoadQcConfiguration1");
  meterSends(1, 1048);
  EXPECT_EQ(form->view().text("PQcValues"), "QC:  chl_ug_per_l 7.3 PASS  counts_cdom 1384 PASS");
  EXPECT_EQ(form->view().text("LBQcCounts"),
            "QC: 0 suspect, 0 failed samples in this recording; " + strict + " applies from the next recording");
  EXPECT_EQ(form->files().recordings().path(acquire::Recordings::Stream::Csv), csv);
  const std::string rows = testsupport::readFile(csv);
  const std::string lastRow = rows.substr(rows.rfind("\r\n", rows.size() - 3) + 2);
  EXPECT_NE(lastRow.find(",7.3000,1,"), std::string::npos) << rows;  // chlorophyll, then its flag: pass

  form->click("BTStopRecord");
  EXPECT_EQ(form->view().text("PQcValues"), "QC: " + strict + " (waiting for data)");
  meterSends(2, 1048);
  EXPECT_EQ(form->view().text("PQcValues"), "QC:  chl_ug_per_l 7.3 SUSPECT  counts_cdom 1384 PASS");
  EXPECT_EQ(ui.countBoxes("Columns Differ"), 0u);
}

// Files without end, picked in the window: one box naming the file and the limit, and the
// device file and QC configuration already loaded stay in force.
TEST_F(QcForm, EndlessFilesAreRefusedWithOneBoxAndLoadNothing) {
  tick();
  loadExample("flcd.dev");
  loadQc();
  const std::string loadedQc = form->view().text("PQcValues");
  const int fields = form->shared().Config.DataFieldCount;
  ui.boxes.clear();

  const std::string limit = "/dev/zero: larger than the limit of 1 MiB (1048576 bytes)";
  EXPECT_FALSE(form->openDeviceFile("/dev/zero", "/dev/zero"));
  ui.files.push_back("/dev/zero");
  form->click("LoadQcConfiguration1");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].caption, "Device File Error");
  EXPECT_EQ(ui.boxes[0].text, limit);
  EXPECT_EQ(ui.boxes[1].caption, "QC Configuration");
  EXPECT_NE(ui.boxes[1].text.find(limit), std::string::npos) << ui.boxes[1].text;
  EXPECT_EQ(form->shared().Config.DataFieldCount, fields);
  EXPECT_EQ(form->view().text("PQcValues"), loadedQc);
}

}  // namespace
