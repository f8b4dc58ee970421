// Raw and engineering-units recording, replay and memory transfer through the main form,
// with the test playing the meter on a pseudo-terminal: dialogs, labels, modes and boxes.
// What the files hold and what replay reads are the session's (tests/acquire recordings_test,
// intake_test).
#include <gtest/gtest.h>

#include <cstdio>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char* kRawFilter = "Raw Files (*.raw)|*.raw|All Files (*.*)|*.*";

class FilesForm : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    choosePort(1);
    tick();                       // start-up defaults, before any device file is loaded
    testsupport::editState(*form).SetupRequestTicks = 0;  // keeps "$mnu" off the line
  }

  /// Runs ticks until `done` holds (at most `limit` ticks); false when it never did.
  bool tickUntil(const std::function<bool()>& done, int limit = 50) {
    for (int i = 0; i < limit; ++i) {
      if (done()) return true;
      tick(5);
    }
    return done();
  }
  /// The meter sends `bytes`; ticks until the line receiver took them all.
  void meterSends(const std::string& bytes) {
    const unsigned long target = form->shared().TotalBytesRead + bytes.size();
    peer.send(bytes);
    ASSERT_TRUE(tickUntil([&] { return form->shared().TotalBytesRead >= target; })) << "not delivered: " << bytes;
  }
  /// The meter sends `bytes` during a transfer; ticks until the transfer reader took them.
  void meterDumps(const std::string& bytes) {
    const long target = form->session().transfer().progress().current + static_cast<long>(bytes.size());
    peer.send(bytes);
    ASSERT_TRUE(tickUntil([&] { return form->session().transfer().progress().current >= target || !form->session().transfer().active(); }))
        << "not delivered: " << bytes;
  }
  /// Clicks `button` with its file dialog answered by `path`.
  void clickWithFile(const char* button, const std::string& path) {
    ui.files.push_back(path);
    form->click(button);
  }
  /// Opens for replay a raw file of `n` numbered lines ("1\t10", "2\t20", ...).
  void replayLines(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 10) + "\r\n";
    writeFile(dir.file("r.raw"), text);
    clickWithFile("ReplayRawFile1", dir.file("r.raw"));
  }
  std::string statusLabel() {
    form->Timer1SecondTimer();
    return form->view().text("LBReceiveStatus");
  }
};

// ---------------------------------------------------------------- raw recording

TEST_F(FilesForm, RecordRawAsksWithItsSaveDialogAndShowsTheFileName) {
  const std::string path = dir.file("a.raw");
  clickWithFile("BTRecordRaw", path);
  ASSERT_EQ(ui.dialogSpecs.size(), 1u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Record Raw Data");
  EXPECT_EQ(ui.dialogSpecs[0].defaultSuffix, "raw");
  EXPECT_EQ(ui.dialogSpecs[0].filter, kRawFilter);
  EXPECT_TRUE(ui.dialogSpecs[0].confirmOverwrite);
  EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 0);
  EXPECT_EQ(form->view().text("LBRawFileName"), "Raw File Name:  " + path);

  form->click("BTRecordRaw");  // cancelled: the running recording stays as it is
  EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_EQ(form->view().text("LBRawFileName"), "Raw File Name:  " + path);
}

// ---------------------------------------------------------------- engineering units

TEST_F(FilesForm, RecordEngrLoadsADeviceFileFirstThenWritesItsHeader) {
  const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/flcd.dev";
  const std::string path = dir.file("a.eng");
  ui.files.push_back(dev);
  clickWithFile("BTRecordEngr", path);
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Open Device File");
  EXPECT_EQ(ui.dialogSpecs[1].title, "Open Engr Units Record File");
  EXPECT_EQ(ui.dialogSpecs[1].defaultSuffix, "eng");
  EXPECT_EQ(ui.dialogSpecs[1].filter, "Engineering Units|*.eng|All Files|*.*");
  EXPECT_TRUE(ui.dialogSpecs[1].confirmOverwrite);
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
  EXPECT_EQ(form->view().text("LBEngrFileName"), "Engr Units File:  " + path);

  // The header of the device file the dialog loaded.
  EXPECT_EQ(readFile(path), "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)\r\n");
}

struct OpenFailCase {
  const char* name;
  const char* button;
  acquire::Recordings::Stream stream;
  const char* label;
  const char* failedLabel;  // what the label shows after the failed open ("" = unchanged)
};

void PrintTo(const OpenFailCase& c, std::ostream* os) { *os << c.name; }

class RecordOpenFailure : public FilesForm, public ::testing::WithParamInterface<OpenFailCase> {};

TEST_P(RecordOpenFailure, KeepsTheLabelAndGivesNoBox) {
  const OpenFailCase& c = GetParam();
  loadExample("ntu.dev");
  clickWithFile(c.button, dir.file("first"));
  ASSERT_TRUE(form->files().recordings().on(c.stream));
  const std::string shown = form->view().text(c.label);
  clickWithFile(c.button, dir.file("no-such-folder/second"));
  EXPECT_TRUE(form->files().recordings().on(c.stream));
  EXPECT_EQ(form->view().text(c.label), *c.failedLabel ? std::string(c.failedLabel) : shown);
  EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Data, RecordOpenFailure,
    ::testing::Values(OpenFailCase{"Raw", "BTRecordRaw", acquire::Recordings::Stream::Raw, "LBRawFileName", ""},
                      OpenFailCase{"Engr", "BTRecordEngr", acquire::Recordings::Stream::Engr, "LBEngrFileName",
                                   "Engr Units File: "},
                      OpenFailCase{"Csv", "BTRecordCsv", acquire::Recordings::Stream::Csv, "LBCsvFileName", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- reopening and failed writes

TEST_F(FilesForm, AFileThatCannotBeWrittenIsOneBoxAndBeepForRecordingAndTransfer) {
  loadExample("ntu.dev");
  clickWithFile("BTRecordRaw", "/dev/full");
  meterSends("1103\t4094\t560\r\n");
  meterSends("1112\t4095\t560\r\n");
  ASSERT_EQ(ui.countBoxes("Recording Stopped"), 1u);
  EXPECT_NE(ui.boxes[0].text.find("The raw file '/dev/full' could not be written"), std::string::npos);
  clickWithFile("BTGetData", "/dev/full");
  meterDumps("memory page\r\n");
  EXPECT_EQ(statusLabel(), "Receive File Status:  Incomplete");
  ticks(25);  // no second box from the idle time-out
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "Data Transfer Failed: the receive file could not be written (disk full or file gone).");
  EXPECT_EQ(ui.beeps, 2);
}

// ---------------------------------------------------------------- replay

TEST_F(FilesForm, ReplayAndRealTimeAreExclusiveModes) {
  replayLines(2);
  ASSERT_EQ(ui.dialogSpecs.size(), 1u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Open Replay File");
  EXPECT_EQ(ui.dialogSpecs[0].defaultSuffix, "raw");
  EXPECT_EQ(ui.dialogSpecs[0].filter, kRawFilter);
  EXPECT_TRUE(form->session().replaying());
  EXPECT_FALSE(form->session().replayRunning());
  EXPECT_FALSE(form->view().get("RealTimeData1").checked);
  EXPECT_TRUE(form->view().get("ReplayRawFile1").checked);
  EXPECT_EQ(form->view().text("BTStartData"), "Start Replay");
  EXPECT_EQ(form->view().text("BTStopData"), "Stop Replay");
  EXPECT_EQ(form->view().timer55IntervalMs, 220);

  form->click("RealTimeData1");
  EXPECT_FALSE(form->session().replaying());
  EXPECT_TRUE(form->view().get("RealTimeData1").checked);
  EXPECT_FALSE(form->view().get("ReplayRawFile1").checked);
  EXPECT_EQ(form->view().text("BTStartData"), "Start Data");
  EXPECT_EQ(form->view().text("BTStopData"), "Stop Data");
  EXPECT_EQ(form->view().timer55IntervalMs, 55);

  clickWithFile("ReplayRawFile1", dir.file("missing.raw"));  // cannot be opened: nothing changes
  EXPECT_FALSE(form->session().replaying());
  EXPECT_EQ(form->view().timer55IntervalMs, 55);
}

TEST_F(FilesForm, StartReadsResumeReplayUntilTheEndOfTheFile) {
  replayLines(2);
  form->click("BTStartData");
  EXPECT_TRUE(form->session().replayRunning());
  EXPECT_EQ(form->view().text("BTStartData"), "Resume Replay");
  ticks(2);
  EXPECT_EQ(form->view().memoLines().back(), "2\t20");
  EXPECT_EQ(form->view().text("BTStartData"), "Resume Replay");
  tick();  // end of file reached, nothing read
  EXPECT_EQ(form->view().text("BTStartData"), "Start Replay");
  form->click("BTStopData");
  EXPECT_FALSE(form->session().replayRunning());
  EXPECT_EQ(peer.receive(200), "");  // Start and Stop in replay send the meter nothing
}

// ---------------------------------------------------------------- sample rate

TEST_F(FilesForm, SampleRateLabelsShowEachWindowMeasuredOrReplay) {
  form->click("BTStartData");
  peer.receive(200);
  for (int s = 0; s <= 5; ++s) {
    EXPECT_EQ(form->view().text("LBHz1"), "Sample Rate:");
    const uint64_t before = form->view().memoTotal();
    peer.send("1\t2\n");
    ASSERT_TRUE(tickUntil([&] { return form->view().memoTotal() > before; }));
    ticks(3);
  }
  EXPECT_EQ(form->view().text("LBHz1").rfind("Sample Rate: ", 0), 0u);
  EXPECT_NE(form->view().text("LBHz1"), "Sample Rate:");
  EXPECT_EQ(form->view().text("LBHz2"), form->view().text("LBHz1"));
  // While replaying they say so.
  replayLines(8);
  form->click("BTStartData");
  ticks(6);
  EXPECT_EQ(form->view().text("LBHz1"), "Replay");
  EXPECT_EQ(form->view().text("LBHz2"), "Replay");
}

// ---------------------------------------------------------------- memory transfer

TEST_F(FilesForm, ReceiveDataAsksForAFileAndSendsGet) {
  form->click("BTGetData");  // cancelled
  EXPECT_FALSE(form->session().transfer().active());
  EXPECT_EQ(peer.receive(100), "");
  const std::string path = dir.file("m.raw");
  clickWithFile("BTGetData", path);
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[1].title, "Retrieve Meter's Internal Data");
  EXPECT_EQ(ui.dialogSpecs[1].defaultSuffix, "raw");
  EXPECT_EQ(ui.dialogSpecs[1].filter, kRawFilter);
  EXPECT_TRUE(ui.dialogSpecs[1].confirmOverwrite);
  EXPECT_EQ(peer.receive(), "$get\r\n");
  EXPECT_TRUE(form->session().transfer().active());
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 1);
  EXPECT_EQ(form->session().transfer().idleTicks(), 20);
  EXPECT_EQ(form->view().text("LBReceiveFile"), "Receive File:  " + path);
  EXPECT_EQ(form->view().text("LBReceiveStatus"), "Receive File Status:  In Progress");
  EXPECT_EQ(form->view().text("LBReceiveFileSize"), "Receive File Size: 0 K");
}

TEST_F(FilesForm, TransferStatusLabelFollowsTheOutcome) {
  EXPECT_EQ(statusLabel(), "Receive File Status:  ");
  clickWithFile("BTGetData", dir.file("m.raw"));
  meterDumps("1\t2\r\netx");
  EXPECT_EQ(statusLabel(), "Receive File Status:  Complete");
  EXPECT_EQ(form->shared().TotalBytesRead, 0u);  // the transfer's bytes are not framed
  peer.receive(200);
  form->click("BitBtnCancel");  // after the end: the outcome stays, and Cancel still stops the meter
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  EXPECT_EQ(peer.receive(), "!!!!!");
  clickWithFile("BTGetData", dir.file("n.raw"));
  meterDumps("page one\r\n");
  ASSERT_TRUE(tickUntil([&] { return !form->session().transfer().active(); }));
  EXPECT_EQ(statusLabel(), "Receive File Status:  Incomplete");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Data Transfer Terminated Before Completion");
  clickWithFile("BTGetData", dir.file("o.raw"));
  form->click("BitBtnCancel");
  const std::string sent = peer.receive();
  EXPECT_EQ(sent.substr(sent.size() - 5), "!!!!!") << sent;
  ASSERT_TRUE(tickUntil([&] { return !form->session().transfer().active(); }));
  EXPECT_EQ(statusLabel(), "Receive File Status:  Cancelled");
  EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(FilesForm, CancelInReplayModeStillTellsTheMeterToStop) {
  replayLines(3);
  form->click("BTStartData");
  clickWithFile("BTGetData", dir.file("m.raw"));
  EXPECT_EQ(peer.receive(), "$get\r\n");
  form->click("BitBtnCancel");
  EXPECT_EQ(peer.receive(), "!!!!!");
  EXPECT_FALSE(form->session().replayRunning());  // and the replay pauses, as with Stop
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 4);
}

TEST_F(FilesForm, ProgressFollowsTheMeterReportedMemoryUse) {
  testsupport::editState(*form).Meter.MeterMemoryUsed = 2;  // 528 bytes
  clickWithFile("BTGetData", dir.file("m.raw"));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 0);
  meterDumps(std::string(264, 'a'));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 50);
  EXPECT_EQ(form->view().text("LBTransferElapsed").rfind("Elapsed: ", 0), 0u);
  testsupport::editState(*form).Meter.MeterMemoryUsed = -1;  // not known: busy, with the bytes so far
  clickWithFile("BTGetData", dir.file("n.raw"));
  meterDumps(std::string(300, 'c'));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), app::kProgressBusy);
  EXPECT_NE(form->view().text("LBTransferElapsed").find("Received: 300 bytes"), std::string::npos);
}

}  // namespace
