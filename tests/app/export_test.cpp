// File > Export Recording... on the form: its dialogs, a progress bar and Cancel while it runs
// a slice per tick, the status label, and a box for what failed. What it writes is the
// conversion's (tests/acquire/export_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "formaccess.h"
#include "formfixture.h"
#include "support/testfiles.h"

using testsupport::FormFixture;

namespace {

using testsupport::example;
using testsupport::writeFile;

class ExportForm : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    tick();
    testsupport::editState(*form).SetupRequestTicks = 0;
    loadExample("ntu.dev");
  }
  void exportVia(const std::string& raw, const std::string& out) {
    ui.files.push_back(raw);
    ui.files.push_back(out);
    ASSERT_TRUE(form->click("ExportRecording1"));
  }
  bool running() { return form->files().ExportRunning(); }
};

TEST_F(ExportForm, ProgressAndCancelShowWhileItRunsAndTheLabelTellsHowItEnded) {
  std::string bytes;
  for (int i = 0; i < 30000; ++i) bytes += "1103\t4094\t560\r\n";
  const std::string raw = dir.file("big.raw"), out = dir.file("out.csv");
  writeFile(raw, bytes);
  exportVia(raw, out);
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[1].defaultSuffix, "csv");
  EXPECT_TRUE(ui.dialogSpecs[1].confirmOverwrite);
  ASSERT_TRUE(running());
  form->Timer55msTimer();
  ASSERT_TRUE(running()) << "one slice per tick";
  EXPECT_GT(form->view().itemIndex("PBExport"), 0);
  EXPECT_TRUE(form->view().visible("PBExport"));
  EXPECT_TRUE(form->view().visible("BTExportCancel"));
  EXPECT_FALSE(form->view().get("ExportRecording1").enabled);
  form->click("BTExportCancel");
  EXPECT_FALSE(running());
  EXPECT_FALSE(form->view().visible("PBExport"));
  EXPECT_FALSE(form->view().visible("BTExportCancel"));
  EXPECT_NE(form->view().text("LBExportStatus").find("cancelled"), std::string::npos);

  exportVia(raw, out);
  for (int n = 0; n < 200 && running(); ++n) form->Timer55msTimer();
  EXPECT_FALSE(running());
  EXPECT_EQ(form->view().itemIndex("PBExport"), 100);
  EXPECT_TRUE(form->view().get("ExportRecording1").enabled);
  EXPECT_EQ(form->view().text("LBExportStatus"), "Exported 30000 samples to '" + out + "'");
  EXPECT_EQ(form->shared().Sample.SampleCounter, 0);  // the live state saw none of it
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ExportForm, WhatFailsOrIsWarnedOfIsABox) {
  const std::string three = dir.file("three.raw"), long_ = dir.file("long.raw");
  writeFile(three, "1103\t4094\t560\r\nVER MARU 1.0\r\n1112\t4095\t560\r\n");
  writeFile(long_, "1103\t4094\t560\r\n" + std::string(300, '7') + "\r\n");
  exportVia(three, "/dev/full");
  for (int n = 0; n < 20 && running(); ++n) form->Timer55msTimer();
  ASSERT_EQ(ui.countBoxes("Export Failed"), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Line 3 of '" + three + "'"), std::string::npos) << ui.boxes[0].text;
  EXPECT_NE(form->view().text("LBExportStatus").find("failed"), std::string::npos);
  exportVia(dir.file("missing.raw"), dir.file("out.csv"));
  EXPECT_FALSE(running());
  ASSERT_EQ(ui.countBoxes("Export Failed"), 2u);
  EXPECT_NE(ui.boxes[1].text.find("missing.raw"), std::string::npos);
  exportVia(long_, dir.file("long.csv"));
  for (int n = 0; n < 20 && running(); ++n) form->Timer55msTimer();
  ASSERT_EQ(ui.countBoxes("Export Recording"), 1u);
  EXPECT_NE(ui.boxes[2].text.find("line 2: Input Buffer Overflow"), std::string::npos) << ui.boxes[2].text;
}

}  // namespace
