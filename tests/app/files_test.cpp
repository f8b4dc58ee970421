// Raw and engineering-units recording, replay and memory transfer through the main form,
// with the test playing the meter on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "files/openfiles.h"
#include "formaccess.h"
#include "formfixture.h"

using filestest::openDescriptorCount;
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
  void startRaw(const std::string& path) {
    ui.files.push_back(path);
    form->click("BTRecordRaw");
  }
  void startEngr(const std::string& path) {
    ui.files.push_back(path);
    form->click("BTRecordEngr");
  }
  void startTransfer(const std::string& path) {
    ui.files.push_back(path);
    form->click("BTGetData");
  }
  void startReplay(const std::string& path) {
    ui.files.push_back(path);
    form->click("ReplayRawFile1");
  }
  std::string statusLabel() {
    form->Timer1SecondTimer();
    return form->view().text("LBReceiveStatus");
  }
};

// ---------------------------------------------------------------- raw recording

TEST_F(FilesForm, RecordRawAsksWithItsSaveDialogAndShowsTheFileName) {
  const std::string path = dir.file("a.raw");
  startRaw(path);
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

TEST_F(FilesForm, RawFileHoldsOnlyAcceptedLinesEachWithCrLfAndOnDiskAtOnce) {
  loadExample("ntu.dev");
  const std::string path = dir.file("a.raw");
  startRaw(path);
  meterSends("1103\t4094\t560\r\n");
  EXPECT_EQ(readFile(path), "1103\t4094\t560\r\n");  // flushed while still recording
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 15);
  meterSends("VER MARU 1.0\r\n1\t2\r\n1112\t4095\t560\n");  // reply, wrong column count, LF only
  EXPECT_EQ(form->view().memoTotal(), 4u);
  EXPECT_EQ(readFile(path), "1103\t4094\t560\r\n1112\t4095\t560\r\n");
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 30);
  form->click("BTStopRecord");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  meterSends("1141\t4095\t560\r\n");
  EXPECT_EQ(readFile(path), "1103\t4094\t560\r\n1112\t4095\t560\r\n");
  EXPECT_EQ(form->view().text("LBRawFileName"), "Raw File Name:  " + path);  // kept after the stop
}

TEST_F(FilesForm, StopRecordEndsBothRecordingsAndDoesNothingWhenNoneRuns) {
  form->click("BTStopRecord");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
  loadExample("ntu.dev");
  startRaw(dir.file("a.raw"));
  startEngr(dir.file("a.eng"));
  form->Timer1SecondTimer();
  EXPECT_EQ(form->view().text("LBRecordStatus"), "Recording:  Raw + Engr Units");
  form->click("BTStopRecord");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
  form->Timer1SecondTimer();
  EXPECT_EQ(form->view().text("LBRecordStatus"), "Recording:  OFF");
}

// ---------------------------------------------------------------- engineering units

TEST_F(FilesForm, RecordEngrLoadsADeviceFileFirstThenWritesHeaderAndConvertedLines) {
  const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/flcd.dev";
  const std::string path = dir.file("a.eng");
  ui.files.push_back(dev);
  startEngr(path);
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Open Device File");
  EXPECT_EQ(ui.dialogSpecs[1].title, "Open Engr Units Record File");
  EXPECT_EQ(ui.dialogSpecs[1].defaultSuffix, "eng");
  EXPECT_EQ(ui.dialogSpecs[1].filter, "Engineering Units|*.eng|All Files|*.*");
  EXPECT_TRUE(ui.dialogSpecs[1].confirmOverwrite);
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
  EXPECT_EQ(form->view().text("LBEngrFileName"), "Engr Units File:  " + path);

  const std::string header = "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)\r\n";
  EXPECT_EQ(readFile(path), header);
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Engr), static_cast<long>(header.size()));

  // CHL (1033-48) x 0.0073, CDOM (1099-50) x 0.0905, iTemp 560 x 0.125 - 50,
  // xTemp 3913 x 0.01 - 20, pressure 1052 x 0.01 - 10 as "%5.1lf".
  meterSends("05/14/24\t11:02:00\t1033\t1099\t560\t3913\t1052\r\n");
  const std::string line = "0\t051424\t110200\t7.1905\t94.9345\t20.0000\t19.1300\t  0.5\r\n";
  EXPECT_EQ(readFile(path), header + line);
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Engr), static_cast<long>(header.size() + line.size()));
  meterSends("VER MARU 1.0\r\n");  // replies are not recorded
  EXPECT_EQ(readFile(path), header + line);
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

TEST_P(RecordOpenFailure, LeavesARunningRecordingGoing) {
  const OpenFailCase& c = GetParam();
  loadExample("ntu.dev");
  const std::string first = dir.file("first");
  ui.files.push_back(first);
  form->click(c.button);
  ASSERT_TRUE(form->files().recordings().on(c.stream));
  const std::string shown = form->view().text(c.label);
  ui.files.push_back(dir.file("no-such-folder/second"));
  form->click(c.button);
  EXPECT_TRUE(form->files().recordings().on(c.stream));
  EXPECT_EQ(form->view().text(c.label), *c.failedLabel ? std::string(c.failedLabel) : shown);
  const size_t before = readFile(first).size();
  meterSends("1103\t4094\t560\r\n");
  EXPECT_GT(readFile(first).size(), before);
  EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Data, RecordOpenFailure,
    ::testing::Values(OpenFailCase{"Raw", "BTRecordRaw", acquire::Recordings::Stream::Raw, "LBRawFileName", ""},
                      OpenFailCase{"Engr", "BTRecordEngr", acquire::Recordings::Stream::Engr, "LBEngrFileName",
                                   "Engr Units File: "}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- reopening and failed writes

struct FileKindCase {
  const char* name;
  const char* button;
};

void PrintTo(const FileKindCase& c, std::ostream* os) { *os << c.name; }

class ReopenCloses : public FilesForm, public ::testing::WithParamInterface<FileKindCase> {};

TEST_P(ReopenCloses, TheOldFileCompleteAndLeaksNoHandle) {
  const std::string button = GetParam().button;
  loadExample("ntu.dev");
  const std::string a = dir.file("a"), b = dir.file("b");
  const bool transfer = button == "BTGetData";
  const bool replay = button == "ReplayRawFile1";
  if (replay) {
    writeFile(a, "1\t2\t3\r\n");
    writeFile(b, "4\t5\t6\r\n");
  }
  const int before = openDescriptorCount();
  ui.files.push_back(a);
  form->click(button);
  const int withOne = openDescriptorCount();
  EXPECT_EQ(withOne, before + 1);
  if (transfer) meterDumps("memory page\r\n");
  if (!transfer && !replay) meterSends("1103\t4094\t560\r\n");
  const std::string oldContent = readFile(a);

  ui.files.push_back(b);
  form->click(button);
  EXPECT_EQ(openDescriptorCount(), withOne);  // the old one was closed, the new one is open
  if (transfer) {
    EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 1);
    meterDumps("more\r\n");
    EXPECT_EQ(readFile(b), "more\r\n");
  } else if (!replay) {
    meterSends("1112\t4095\t560\r\n");
    EXPECT_EQ(readFile(a), oldContent);  // nothing more reaches the old file
    EXPECT_GT(readFile(b).size(), 0u);
  } else {
    form->BTStartClick();
    tick();
    EXPECT_EQ(form->view().memoLines().back(), "4\t5\t6");
  }
  if (transfer) {
    EXPECT_EQ(oldContent, "memory page\r\n");
  } else if (!replay) {
    EXPECT_FALSE(oldContent.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Data, ReopenCloses,
                         ::testing::Values(FileKindCase{"Raw", "BTRecordRaw"}, FileKindCase{"Engr", "BTRecordEngr"},
                                           FileKindCase{"Replay", "ReplayRawFile1"},
                                           FileKindCase{"Transfer", "BTGetData"}),
                         [](const auto& info) { return std::string(info.param.name); });

class FullDisk : public FilesForm, public ::testing::WithParamInterface<FileKindCase> {};

TEST_P(FullDisk, StopsThatFileCountsNothingAndWarnsOnce) {
  const std::string button = GetParam().button;
  loadExample("ntu.dev");
  ui.files.push_back("/dev/full");
  form->click(button);
  if (button == "BTGetData") {
    meterDumps("memory page\r\n");
    EXPECT_FALSE(form->session().transfer().active());
    EXPECT_EQ(form->session().transfer().progress().current, 0);
    EXPECT_EQ(statusLabel(), "Receive File Status:  Incomplete");
    ticks(25);  // no second box from the idle time-out either
  } else {
    meterSends("1103\t4094\t560\r\n");
    meterSends("1112\t4095\t560\r\n");
    EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
    EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
    EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 0);
    EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Engr), 0);
  }
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("could not be written"), std::string::npos) << ui.boxes[0].text;
  EXPECT_EQ(ui.beeps, 1);
  // A new recording or transfer into a good file works as before.
  const std::string good = dir.file("good");
  ui.files.push_back(good);
  form->click(button);
  if (button == "BTGetData") {
    meterDumps("etx");
    EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  } else {
    meterSends("1141\t4095\t560\r\n");
  }
  EXPECT_FALSE(readFile(good).empty());
}

INSTANTIATE_TEST_SUITE_P(Data, FullDisk,
                         ::testing::Values(FileKindCase{"Raw", "BTRecordRaw"}, FileKindCase{"Engr", "BTRecordEngr"},
                                           FileKindCase{"Transfer", "BTGetData"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesForm, RawFileRemovedWhileRecordingStopsItWithOneWarning) {
  loadExample("ntu.dev");
  const std::string path = dir.file("removed.raw");
  ui.files.push_back(path);
  form->click("BTRecordRaw");
  meterSends("1103\t4094\t560\r\n");
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 15);  // 13 characters and CR LF
  ASSERT_EQ(std::remove(path.c_str()), 0);
  meterSends("1112\t4095\t560\r\n");
  meterSends("1141\t4095\t560\r\n");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 15);  // 13 characters and CR LF
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("could not be written"), std::string::npos);
}

// ---------------------------------------------------------------- replay

std::string numberedLines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 10) + "\r\n";
  return text;
}

TEST_F(FilesForm, ReplayAndRealTimeAreExclusiveModes) {
  const std::string path = dir.file("r.raw");
  writeFile(path, numberedLines(2));
  const int before = openDescriptorCount();
  startReplay(path);
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
  // The port is not read while replaying.
  peer.send("9\t9\r\n");
  ticks(3);
  EXPECT_EQ(form->view().memoTotal(), 0u);

  form->click("RealTimeData1");
  EXPECT_FALSE(form->session().replaying());
  EXPECT_TRUE(form->view().get("RealTimeData1").checked);
  EXPECT_FALSE(form->view().get("ReplayRawFile1").checked);
  EXPECT_EQ(form->view().text("BTStartData"), "Start Data");
  EXPECT_EQ(form->view().text("BTStopData"), "Stop Data");
  EXPECT_EQ(form->view().timer55IntervalMs, 55);
  EXPECT_EQ(openDescriptorCount(), before);  // the replay file is closed
  tick();
  EXPECT_EQ(form->view().memoLines().back(), "9\t9");

  startReplay(dir.file("missing.raw"));  // cannot be opened: nothing changes
  EXPECT_FALSE(form->session().replaying());
  EXPECT_EQ(form->view().timer55IntervalMs, 55);
}

TEST_F(FilesForm, TenLinesReplayInTenTicksTheEleventhReadsNothingTheTwelfthRewinds) {
  const std::string path = dir.file("r.raw");
  writeFile(path, numberedLines(10));
  startReplay(path);
  form->click("BTStartData");
  EXPECT_EQ(form->view().text("BTStartData"), "Resume Replay");
  for (int i = 1; i <= 10; ++i) {
    tick();
    ASSERT_EQ(form->view().memoTotal(), static_cast<uint64_t>(i));
    EXPECT_EQ(form->view().memoLines().back(), std::to_string(i) + "\t" + std::to_string(i * 10));
  }
  EXPECT_EQ(form->view().text("BTStartData"), "Resume Replay");
  tick();  // 11th: end of file reached, nothing read
  EXPECT_EQ(form->view().memoTotal(), 10u);
  EXPECT_EQ(form->view().text("BTStartData"), "Start Replay");
  EXPECT_TRUE(form->session().replayRunning());
  tick();  // 12th: stops and rewinds
  EXPECT_FALSE(form->session().replayRunning());
  EXPECT_EQ(form->view().memoTotal(), 10u);
  const unsigned long bytes = form->shared().TotalBytesRead;
  ticks(2);  // stopped: nothing is read
  EXPECT_EQ(form->shared().TotalBytesRead, bytes);
  form->click("BTStartData");
  tick();
  EXPECT_EQ(form->view().memoLines().back(), "1\t10");
}

TEST_F(FilesForm, LongLineIsReadInTwoTicksAndDispatchedOnce) {
  const std::string path = dir.file("r.raw");
  std::string line;
  for (int i = 0; line.size() < 150; ++i) line += std::to_string(i % 10);
  writeFile(path, line + "\r\n1\t2\r\n");
  startReplay(path);
  form->click("BTStartData");
  tick();
  EXPECT_EQ(form->shared().TotalBytesRead, 98u);
  EXPECT_EQ(form->view().memoTotal(), 0u);
  tick();
  ASSERT_EQ(form->view().memoTotal(), 1u);
  EXPECT_EQ(form->view().memoLines().back(), line);
  tick();
  EXPECT_EQ(form->view().memoLines().back(), "1\t2");
}

TEST_F(FilesForm, StopThenStartContinuesWithTheNextLine) {
  const std::string path = dir.file("r.raw");
  writeFile(path, numberedLines(6));
  startReplay(path);
  form->click("BTStartData");
  ticks(3);
  form->click("BTStopData");
  EXPECT_FALSE(form->session().replayRunning());
  ticks(3);
  EXPECT_EQ(form->view().memoTotal(), 3u);
  form->click("BTStartData");
  tick();
  EXPECT_EQ(form->view().memoLines().back(), "4\t40");
}

TEST_F(FilesForm, LastLineWithoutLineEndIsJoinedToTheFirstAfterTheRewind) {
  const std::string path = dir.file("r.raw");
  writeFile(path, "1\t10\r\n2\t20\r\n3\t3");
  startReplay(path);
  form->click("BTStartData");
  ASSERT_TRUE(tickUntil([&] { return !form->session().replayRunning(); }, 10));
  EXPECT_EQ(form->view().memoTotal(), 2u);
  form->click("BTStartData");
  tick();
  ASSERT_EQ(form->view().memoTotal(), 3u);
  EXPECT_EQ(form->view().memoLines().back(), "3\t31\t10");
}

TEST_F(FilesForm, RecordingWhileReplayingCopiesTheReplayedDataLines) {
  loadExample("ntu.dev");
  const std::string path = dir.file("r.raw"), copy = dir.file("copy.raw");
  writeFile(path, "1103\t4094\t560\r\nVER X\r\n1112\t4095\t560\n");
  startReplay(path);
  startRaw(copy);
  form->click("BTStartData");
  ASSERT_TRUE(tickUntil([&] { return !form->session().replayRunning(); }, 10));
  EXPECT_EQ(readFile(copy), "1103\t4094\t560\r\n1112\t4095\t560\r\n");
}

// ---------------------------------------------------------------- sample rate

TEST_F(FilesForm, SampleRateOverAWindowOfFiveThenFortyFive) {
  form->click("BTStartData");
  peer.receive(200);
  auto sample = [&] {
    const uint64_t before = form->view().memoTotal();
    peer.send("1\t2\n");
    tick(20);
    ASSERT_EQ(form->view().memoTotal(), before + 1) << "the line must arrive on its tick";
  };
  sample();  // restarts the measurement
  for (int s = 1; s <= 5; ++s) {
    EXPECT_EQ(form->view().text("LBHz1"), "Sample Rate:");
    ticks(3);
    sample();
  }
  EXPECT_EQ(form->view().text("LBHz1"), "Sample Rate: 4.55 Hz");  // 20 ticks x 0.055 s / 5
  EXPECT_EQ(form->view().text("LBHz2"), "Sample Rate: 4.55 Hz");
  // The next window is 45 samples; now one every other tick.
  for (int s = 1; s <= 45; ++s) {
    EXPECT_EQ(form->view().text("LBHz1"), "Sample Rate: 4.55 Hz") << "sample " << s;
    tick();
    sample();
  }
  EXPECT_EQ(form->view().text("LBHz1"), "Sample Rate: 9.09 Hz");  // 90 ticks x 0.055 s / 45
}

TEST_F(FilesForm, RateLabelsReadReplayWhileReplaying) {
  const std::string path = dir.file("r.raw");
  writeFile(path, numberedLines(8));
  startReplay(path);
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
  startTransfer(path);
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

struct MarkerCase {
  const char* name;
  std::vector<std::string> reads;
};

void PrintTo(const MarkerCase& c, std::ostream* os) { *os << c.name; }

class TransferMarker : public FilesForm, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(TransferMarker, EndsCompleteWithEveryByteOfTheLastRead) {
  const std::string path = dir.file("m.raw");
  startTransfer(path);
  std::string all;
  for (size_t i = 0; i < GetParam().reads.size(); ++i) {
    EXPECT_TRUE(form->session().transfer().active()) << "before read " << i;
    meterDumps(GetParam().reads[i]);
    all += GetParam().reads[i];
  }
  EXPECT_FALSE(form->session().transfer().active());
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  EXPECT_EQ(readFile(path), all);
  EXPECT_EQ(form->session().transfer().progress().current, static_cast<long>(all.size()));
  EXPECT_EQ(statusLabel(), "Receive File Status:  Complete");
  EXPECT_EQ(form->shared().TotalBytesRead, 0u);  // the transfer's bytes bypass the line receiver
  EXPECT_EQ(form->view().memoTotal(), 0u);
  // Afterwards the line receiver has the port again.
  meterSends("1\t2\r\n");
  EXPECT_EQ(form->view().memoLines().back(), "1\t2");
  EXPECT_EQ(readFile(path), all);
  ticks(25);
  EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Data, TransferMarker,
    ::testing::Values(MarkerCase{"SplitAcrossReads", {"05/14/24\t11:02:00\t1033\r\ne", "tx\r\n"}},
                      MarkerCase{"UpperCase", {"1\t2\r\nETX"}}, MarkerCase{"MixedCase", {"1\t2\r\nEtx"}},
                      MarkerCase{"BytesAfterTheMarker", {"1\t2\r\netx\r\nmore"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SilenceCase {
  const char* name;
  std::string data;  // sent once right after "$get"; empty = nothing at all
  int ticksToEnd;    // ticks after the last data (or after "$get") until the transfer ends
};

void PrintTo(const SilenceCase& c, std::ostream* os) { *os << c.name; }

class TransferSilence : public FilesForm, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(TransferSilence, EndsIncompleteWithOneWarning) {
  startTransfer(dir.file("m.raw"));
  EXPECT_EQ(peer.receive(), "$get\r\n");
  if (!GetParam().data.empty()) meterDumps(GetParam().data);
  for (int i = 1; i < GetParam().ticksToEnd; ++i) {
    tick();
    ASSERT_TRUE(form->session().transfer().active()) << "tick " << i;
  }
  EXPECT_TRUE(ui.boxes.empty());
  tick();
  EXPECT_FALSE(form->session().transfer().active());
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 3);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Data Transfer Terminated Before Completion");
  EXPECT_EQ(ui.beeps, 1);
  ticks(25);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(statusLabel(), "Receive File Status:  Incomplete");
}

INSTANTIATE_TEST_SUITE_P(Data, TransferSilence,
                         ::testing::Values(SilenceCase{"NothingAfterGet", "", 21},
                                           SilenceCase{"SilenceAfterData", "page one\r\n", 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesForm, CancelThenSilenceEndsCancelledWithoutAWarning) {
  startTransfer(dir.file("m.raw"));
  EXPECT_EQ(peer.receive(), "$get\r\n");
  meterDumps("page one\r\n");
  form->click("BitBtnCancel");
  EXPECT_EQ(peer.receive(), "!!!!!");
  ASSERT_TRUE(tickUntil([&] { return !form->session().transfer().active(); }, 30));
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 4);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(statusLabel(), "Receive File Status:  Cancelled");
}

TEST_F(FilesForm, CancelledTransferStaysCancelledWhenTheMarkerComes) {
  startTransfer(dir.file("m.raw"));
  form->click("BitBtnCancel");
  meterDumps("page\r\netx\r\n");
  EXPECT_FALSE(form->session().transfer().active());
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 4);
}

TEST_F(FilesForm, CancelAfterACompleteTransferKeepsItsOutcome) {
  startTransfer(dir.file("m.raw"));
  meterDumps("etx");
  ASSERT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  peer.receive(200);
  form->click("BitBtnCancel");
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  EXPECT_EQ(peer.receive(), "!!!!!");  // still the Stop button's action
}

TEST_F(FilesForm, CancelInReplayModeStillTellsTheMeterToStop) {
  const std::string path = dir.file("r.raw");
  writeFile(path, numberedLines(3));
  startReplay(path);
  form->click("BTStartData");
  startTransfer(dir.file("m.raw"));
  EXPECT_EQ(peer.receive(), "$get\r\n");
  form->click("BitBtnCancel");
  EXPECT_EQ(peer.receive(), "!!!!!");
  EXPECT_FALSE(form->session().replayRunning());  // and the replay pauses, as with Stop
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 4);
}

TEST_F(FilesForm, ProgressFollowsTheMeterReportedMemoryUse) {
  testsupport::editState(*form).Meter.MeterMemoryUsed = 2;  // 528 bytes
  startTransfer(dir.file("m.raw"));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 0);
  meterDumps(std::string(264, 'a'));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 50);
  EXPECT_EQ(form->view().text("LBTransferElapsed").rfind("Elapsed: ", 0), 0u);
  meterDumps(std::string(100, 'b') + "etx\r\n");
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 100);  // complete, though short of the report

  testsupport::editState(*form).Meter.MeterMemoryUsed = -1;  // not known: busy, with the bytes so far
  startTransfer(dir.file("n.raw"));
  meterDumps(std::string(300, 'c'));
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), app::kProgressBusy);
  EXPECT_NE(form->view().text("LBTransferElapsed").find("Received: 300 bytes"), std::string::npos);
  meterDumps("etx");
  EXPECT_EQ(form->view().itemIndex("PBTransfer"), 100);
}

}  // namespace

namespace {

TEST_F(FilesForm, ReceiveDataIntoAFileThatCannotBeMadeLeavesTheRunningTransferGoing) {
  const std::string first = dir.file("m.raw");
  startTransfer(first);
  ASSERT_EQ(peer.receive(), "$get\r\n");
  meterDumps("abc");
  startTransfer(dir.file("no-such-folder/n.raw"));
  EXPECT_TRUE(form->session().transfer().active());
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 1);
  EXPECT_EQ(peer.receive(200), "");  // no second "$get"
  meterDumps("def etx");
  EXPECT_EQ(readFile(first), "abcdef etx");
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
}

TEST_F(FilesForm, CorrectionThatWouldDivideByZeroIsLeftOutWithOneWarningPerRecording) {
  loadExample("bb3.dev");
  testsupport::editState(*form).RefCorrectionOn = true;   // the references' first reading is 0 …
  testsupport::editState(*form).TempCorrectionOn = true;  // … and so is the internal temperature
  const std::string line = "05/14/24\t10:21:00\t0\t1175\t0\t1317\t0\t979\t0\r\n";
  const std::string first = dir.file("a.eng");
  startEngr(first);
  for (int i = 0; i < 3; ++i) meterSends(line);
  EXPECT_EQ(ui.countBoxes("Correction Skipped"), 2u);  // one for each correction
  EXPECT_EQ(form->shared().Sample.KindCounts[9], 1175);         // the signal as it came
  EXPECT_NEAR(form->shared().Eng.KindBeta[9], (1175 - 51) * 1.812e-06, 1e-9);
  const std::string text = readFile(first);
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;

  startEngr(dir.file("b.eng"));
  meterSends(line);
  EXPECT_EQ(ui.countBoxes("Correction Skipped"), 4u);  // told again for the new recording
}

}  // namespace
