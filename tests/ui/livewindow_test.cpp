// The running window over a pseudo-terminal, with the real operator interface: entries
// count however their text got there, and a box left open stops nothing.
#include <gtest/gtest.h>

#include <QAbstractItemView>

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/formaccess.h"
#include "support/ptypeer.h"
#include "support/quietline.h"
#include "ui/application.h"

namespace {

using testsupport::PtyPeer;
using testsupport::TempDir;

class LiveWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    app::MainFormOptions options;
    options.workingDir = dir.path();
    options.ports.bind(1, peer.slavePath());
    options.quit = [](int) {};
    options.listAdapters = [this] { return adapters; };
    program = ui::makeApplication(std::move(options));
    program->start();
    form().view().setItemIndex("CBBaudRate", 2);
    form().view().setItemIndex("CBHostPort", 1);
    form().CBHostPortChange();
    testsupport::letLineBeSeenQuiet(testsupport::formSession(form()));
    ASSERT_EQ(form().shared().OpenPortNumber, 1);
    waitFor([this] { return form().shared().TickCount > 0; });
    testsupport::editState(form()).SetupRequestTicks = 0;  // keeps "$mnu" off the line
  }
  void TearDown() override {
    for (QMessageBox* box : openBoxes()) box->close();
    program.reset();
  }

  app::MainForm& form() { return *program->form; }
  template <typename T>
  T* widget(const std::string& name) {
    T* w = qobject_cast<T*>(program->window->control(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  /// Lets the timers run until `done` holds or `ms` pass; false when it never held.
  static bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QTest::qWait(10);
    return done();
  }
  static std::vector<QMessageBox*> openBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes.push_back(box);
    return boxes;
  }

  TempDir dir;
  PtyPeer peer;
  std::unique_ptr<ui::Application> program;
  std::vector<meterlink::SerialAdapter> adapters;
  QComboBox* openHostPorts(const std::string& path, const std::string& description, const std::string& serialNumber);
};

// ---- an entry is used as it is shown

struct EntryChannel {
  const char* name;
  std::function<void(QLineEdit*, const QString&)> set;
};

void PrintTo(const EntryChannel& c, std::ostream* os) { *os << c.name; }

class EntryAsShown : public LiveWindow, public ::testing::WithParamInterface<EntryChannel> {};

TEST_P(EntryAsShown, ScaleButtonSendsWhatTheEntryShows) {
  auto* entry = widget<QLineEdit>("MEflscale");
  ASSERT_NE(entry, nullptr);
  QTest::keyClicks(entry, "0.0001");  // the earlier, typed text
  GetParam().set(entry, QStringLiteral("0.0255"));
  ASSERT_EQ(entry->text(), "0.0255");
  widget<QPushButton>("BTflscale")->click();
  EXPECT_EQ(peer.receive(), "$ugl 255\r\n");
  EXPECT_TRUE(openBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Channels, EntryAsShown,
    ::testing::Values(
        EntryChannel{"Program", [](QLineEdit* e, const QString& t) { e->setText(t); }},
        EntryChannel{"AccessibleReplace",
                     [](QLineEdit* e, const QString& t) {
                       QAccessibleInterface* a = QAccessible::queryAccessibleInterface(e);
                       ASSERT_NE(a, nullptr);
                       ASSERT_NE(a->editableTextInterface(), nullptr);
                       a->editableTextInterface()->replaceText(0, static_cast<int>(e->text().size()), t);
                     }},
        EntryChannel{"AccessibleValue",
                     [](QLineEdit* e, const QString& t) {
                       QAccessibleInterface* a = QAccessible::queryAccessibleInterface(e);
                       ASSERT_NE(a, nullptr);
                       a->setText(QAccessible::Value, t);
                     }},
        EntryChannel{"Retyped", [](QLineEdit* e, const QString& t) {
                       e->selectAll();
                       QTest::keyClicks(e, t);
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LiveWindow, PasswordSetByAssistiveTechnologyCountsAndShowsStars) {
  auto* entry = widget<QLineEdit>("PasswordForm.MEPassword");
  ASSERT_NE(entry, nullptr);
  QAccessible::queryAccessibleInterface(entry)->setText(QAccessible::Value, QStringLiteral("BlueHeron"));
  EXPECT_EQ(entry->displayText(), QString(9, QLatin1Char('*')));
  widget<QPushButton>("PasswordForm.BTPasswordOK")->click();
  EXPECT_TRUE(form().shared().PowerUser);
}

// The meter clock zone takes an entry once it is finished: set whole by assistive
// technology, or typed and ended with Return; one that is no zone is refused with a box.
TEST_F(LiveWindow, MeterClockZoneTakesAFinishedEntry) {
  auto* entry = widget<QLineEdit>("EDExportZone");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->accessibleName(), "Meter clock zone");
  QAccessible::queryAccessibleInterface(entry)->setText(QAccessible::Value, QStringLiteral("+05:30"));
  EXPECT_TRUE(waitFor([this] { return form().session().meterTimeZone().text() == "+05:30"; }));
  program->window->activateWindow();
  entry->setFocus();
  ASSERT_TRUE(waitFor([entry] { return entry->hasFocus(); }));
  entry->selectAll();
  QTest::keyClicks(entry, "Mars/Base");
  EXPECT_TRUE(openBoxes().empty()) << "nothing is judged while typing";
  QTest::keyClick(entry, Qt::Key_Return);
  EXPECT_TRUE(waitFor([] { return !openBoxes().empty(); }));
  EXPECT_EQ(entry->text(), "+05:30");
  EXPECT_EQ(form().windowSettings().meterClockZone, "+05:30");
}

// ---- a box left open stops nothing

TEST_F(LiveWindow, LinesArrivingUnderAnOpenWarningBoxAreRecordedOnceEach) {
  ASSERT_TRUE(form().openDeviceFile(std::string(MARU_SOURCE_DIR) + "/examples/ntu.dev", "ntu.dev"));
  const std::string raw = dir.file("night.raw");
  ASSERT_TRUE(form().files().StartRecording(acquire::Recordings::Stream::Raw, raw));
  // Should the box block the caller, this ends the test instead of hanging it.
  QTimer::singleShot(8000, [] {
    for (QMessageBox* box : openBoxes()) box->close();
  });

  std::string expected;
  auto line = [](int i) { return std::to_string(1000 + i) + "\t4094\t560\r\n"; };
  peer.send(std::string(300, 'x') + "\n");  // a stray over-long line: the box comes up
  ASSERT_TRUE(waitFor([] { return !openBoxes().empty(); }));
  for (int i = 0; i < 40; ++i) {
    peer.send(line(i));
    expected += line(i);
    QTest::qWait(25);
  }
  EXPECT_TRUE(waitFor([&] { return testsupport::readFile(raw) == expected; })) << testsupport::readFile(raw);
  ASSERT_EQ(openBoxes().size(), 1u);
  EXPECT_EQ(openBoxes()[0]->windowTitle(), "Input Buffer Overflow");
  EXPECT_EQ(form().shared().MessageBoxDepth, 1);

  openBoxes()[0]->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(waitFor([] { return openBoxes().empty(); }));
  EXPECT_EQ(form().shared().MessageBoxDepth, 0);
  for (int i = 40; i < 45; ++i) {
    peer.send(line(i));
    expected += line(i);
  }
  EXPECT_TRUE(waitFor([&] { return testsupport::readFile(raw) == expected; })) << testsupport::readFile(raw);
}

TEST_F(LiveWindow, TransferWithoutAMemoryReportShowsABusyBar) {
  testsupport::editState(form()).Meter.MeterMemoryUsed = 0;
  program->ops.fileDialogHook = [this](const app::FileDialogSpec&, bool) {
    return std::optional<std::string>(dir.file("m.raw"));
  };
  form().click("BTGetData");
  program->window->sync();
  auto* bar = widget<QProgressBar>("PBTransfer");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->maximum(), 0);  // Qt's busy bar
  ASSERT_EQ(peer.receive(), "$get\r\n");
  peer.send("page etx");
  EXPECT_TRUE(waitFor([this] { return static_cast<int>(form().session().transfer().status()) == 2; }));
  EXPECT_TRUE(waitFor([bar] { return bar->maximum() == 100 && bar->value() == 100; }));
}

// ---- the host-port list knows the hardware

// Plugs in one adapter and opens the host-port list; the list.
QComboBox* LiveWindow::openHostPorts(const std::string& path, const std::string& description,
                                     const std::string& serialNumber) {
  auto* list = widget<QComboBox>("CBHostPort");
  if (!list) return nullptr;
  meterlink::SerialAdapter a;
  a.path = path;
  a.description = description;
  a.serialNumber = serialNumber;
  adapters = {a};
  list->showPopup();
  return list;
}

TEST_F(LiveWindow, OpeningTheHostPortListTakesInAdaptersPluggedInSinceStart) {
  QComboBox* list = openHostPorts("/dev/ttyUSB0", "USB UART", "FT12");
  ASSERT_NE(list, nullptr);
  list->hidePopup();
  EXPECT_EQ(list->itemText(2), "Host Port - COM 2");  // the item keeps its text
  EXPECT_EQ(list->itemData(2, Qt::ToolTipRole).toString(), "/dev/ttyUSB0 (USB UART, S/N FT12)");
  EXPECT_EQ(list->itemData(2, Qt::AccessibleDescriptionRole).toString(), "/dev/ttyUSB0 (USB UART, S/N FT12)");
}

TEST_F(LiveWindow, TheHostPortListIsWideEnoughForItsWidestItem) {
  QComboBox* list =
      openHostPorts("/dev/serial/by-id/usb-Maker_Long_Adapter_Name_With_Serial_A1B2C3D4-if00-port0",
                    "USB to RS-232 adapter with a long description", "A1B2C3D4");
  ASSERT_NE(list, nullptr);
  QAbstractItemView* view = list->view();
  QApplication::processEvents();
  // Every item, its adapter drawn beside its text, lies inside the open list: none is cut,
  // and an assistive tool clicking an item's centre hits that item.
  for (int row = 0; row < list->count(); ++row) {
    const QModelIndex index = list->model()->index(row, 0);
    QStyleOptionViewItem option;
    option.initFrom(view);
    const int wanted = view->itemDelegate()->sizeHint(option, index).width();
    EXPECT_GE(view->viewport()->width(), wanted) << list->itemText(row).toStdString();
    const QRect item = view->visualRect(index);
    EXPECT_TRUE(view->viewport()->rect().contains(item.center())) << list->itemText(row).toStdString();
    EXPECT_EQ(view->indexAt(item.center()), index);
  }
  EXPECT_GT(view->width(), list->width());
  list->hidePopup();
}

}  // namespace
