// The main window over a real core: every control of the table is there under its name,
// operator input reaches the core, and sync() shows what the core wrote.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/formaccess.h"
#include "app/controls.h"
#include "qstringprint.h"
#include "support/ptypeer.h"
#include "ui/application.h"

namespace {

using app::ControlSpec;
using app::Widget;

QString qs(const std::string& s) { return QString::fromStdString(s); }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app::MainFormOptions options;
    options.workingDir = dir.path();
    options.quit = [this](int status) { quitStatus = status; };
    program = ui::makeApplication(std::move(options));
    program->ops.messageBoxHook = [this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + "|" + text);
    };
    program->ops.fileDialogHook = [this](const app::FileDialogSpec& def, bool) {
      dialogTitles.push_back(def.title);
      return nextFile;
    };
  }
  void TearDown() override { program.reset(); }

  ui::MainWindow& win() { return *program->window; }
  app::MainForm& form() { return *program->form; }
  app::ViewModel& view() { return program->form->view(); }

  template <typename T>
  T* w(const std::string& name) {
    T* widget = qobject_cast<T*>(win().control(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QAction* action(const std::string& name) { return w<QAction>(name); }

  testsupport::TempDir dir;
  std::unique_ptr<ui::Application> program;
  std::vector<std::string> boxes;
  std::vector<std::string> dialogTitles;
  std::optional<std::string> nextFile;
  int quitStatus = -1;
};

// Finds a control the way a test tool would: by objectName, inside its window.
QObject* findByName(ui::MainWindow& window, const ControlSpec& def) {
  if (def.page == "dialogs") return window.findChild<QDialog*>(qs(def.name));
  if (def.page == "menubar") return window.menuBar()->findChild<QMenu*>(qs(def.name));
  if (def.page == "menu") return window.menuBar()->findChild<QAction*>(qs(def.name));
  const auto dot = def.name.find('.');
  if (dot != std::string::npos) {
    QDialog* d = window.findChild<QDialog*>(qs(def.page));
    return d ? d->findChild<QWidget*>(qs(def.name.substr(dot + 1))) : nullptr;
  }
  return window.centralWidget()->findChild<QWidget*>(qs(def.name));
}

QString accessibleName(QObject* o) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
  return iface ? iface->text(QAccessible::Name) : QString();
}

TEST_F(WindowTest, EveryControlOfTheTableIsThereWithItsCaption) {
  int checked = 0;
  int named = 0;
  for (const ControlSpec& def : app::ControlTable()) named += def.name.empty() ? 0 : 1;
  for (const ControlSpec& def : app::ControlTable()) {
    if (def.name.empty()) continue;
    SCOPED_TRACE(def.name);
    QObject* o = findByName(win(), def);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o, win().control(def.name));
    const QString caption = qs(def.caption);
    switch (def.kind) {
      case Widget::Button:
      case Widget::Panel: {
        auto* b = qobject_cast<QPushButton*>(o);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), caption);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::Button);
        EXPECT_EQ(iface->text(QAccessible::Name), caption);
        // A button with a key shows it in its tooltip.
        QString tip = qs(def.hint);
        if (auto* key = win().findChild<QAction*>(qs(def.name + "Shortcut"))) {
          const QString keys = key->shortcut().toString(QKeySequence::NativeText);
          tip = tip.isEmpty() ? keys : tip + " (" + keys + ")";
        }
        EXPECT_EQ(b->toolTip(), tip);
        break;
      }
      case Widget::Label: {
        auto* l = qobject_cast<QLabel*>(o);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->text(), caption);
        EXPECT_EQ(accessibleName(l), def.accessibleName.empty() ? caption : qs(def.accessibleName));
        if (!def.accessibleName.empty()) {
          EXPECT_EQ(l->accessibleDescription(), caption);
        }
        break;
      }
      case Widget::Edit: {
        auto* e = qobject_cast<QLineEdit*>(o);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->text(), caption);
        break;
      }
      case Widget::Combo: {
        auto* c = qobject_cast<QComboBox*>(o);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->placeholderText(), caption);
        ASSERT_EQ(c->count(), static_cast<int>(def.items.size()));
        for (int i = 0; i < c->count(); ++i) EXPECT_EQ(c->itemText(i), qs(def.items[static_cast<size_t>(i)]));
        EXPECT_EQ(c->currentIndex(), def.itemIndex);
        break;
      }
      case Widget::RadioGroup: {
        auto* g = qobject_cast<QGroupBox*>(o);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->title(), caption);
        const auto radios = g->findChildren<QRadioButton*>();
        ASSERT_EQ(radios.size(), static_cast<qsizetype>(def.items.size()));
        for (qsizetype i = 0; i < radios.size(); ++i) {
          EXPECT_EQ(radios[i]->text(), qs(def.items[static_cast<size_t>(i)]));
          EXPECT_EQ(radios[i]->isChecked(), i == def.itemIndex);
        }
        break;
      }
      case Widget::MenuItem:
        if (auto* m = qobject_cast<QMenu*>(o)) {
          EXPECT_EQ(m->title(), caption);
        } else {
          auto* a = qobject_cast<QAction*>(o);
          ASSERT_NE(a, nullptr);
          EXPECT_EQ(a->text(), caption);
          EXPECT_EQ(a->isCheckable(), def.checkable);
          EXPECT_EQ(a->isChecked(), def.checked);
        }
        break;
      case Widget::Memo:
        EXPECT_NE(qobject_cast<QPlainTextEdit*>(o), nullptr);
        break;
      case Widget::ProgressBar:
        EXPECT_NE(qobject_cast<QProgressBar*>(o), nullptr);
        break;
      case Widget::Page:
        EXPECT_EQ(static_cast<QDialog*>(o)->windowTitle(), caption);
        EXPECT_TRUE(static_cast<QDialog*>(o)->isHidden());
        break;
      case Widget::Chart:
        EXPECT_EQ(o, program->chart.get());
        break;
    }
    if (!def.accessibleName.empty()) {
      auto* widget = qobject_cast<QWidget*>(o);
      ASSERT_NE(widget, nullptr);
      EXPECT_EQ(widget->accessibleName(), qs(def.accessibleName));
      // On Linux Qt names a combo box by its current text; what it holds goes in the description.
      if (def.kind == Widget::Combo) {
        EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description),
                  qs(def.accessibleName));
      } else {
        EXPECT_EQ(accessibleName(widget), qs(def.accessibleName));
      }
    }
    if (auto* widget = qobject_cast<QWidget*>(o); widget && def.kind != Widget::Page && def.kind != Widget::MenuItem) {
      EXPECT_EQ(widget->isHidden(), !def.visible);
    }
    ++checked;
  }
  EXPECT_EQ(checked, named);
}

TEST_F(WindowTest, PagesAndMenuInOrder) {
  QTabWidget* tabs = win().pageControl();
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->objectName(), "PageControl1");
  const auto& pages = app::PageTable();
  ASSERT_EQ(tabs->count(), static_cast<int>(pages.size()));
  for (int i = 0; i < tabs->count(); ++i) {
    EXPECT_EQ(tabs->tabText(i), qs(pages[static_cast<size_t>(i)].second));
    EXPECT_EQ(tabs->widget(i)->objectName(), qs(pages[static_cast<size_t>(i)].first));
  }
  EXPECT_NE(tabs->widget(3)->findChild<QPlainTextEdit*>("Memo1"), nullptr);
  EXPECT_TRUE(tabs->widget(4)->isAncestorOf(program->chart.get()));

  QMenu* file = win().menuBar()->findChild<QMenu*>("File1");
  ASSERT_NE(file, nullptr);
  QStringList items;
  for (QAction* a : file->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items, (QStringList{"Load Device File", "-", "Real Time Data", "Replay Raw File", "-",
                                "Export Recording...", "Load QC Configuration...", "-", "Advanced Setup", "-", "E&xit"}));
  EXPECT_EQ(win().size(), QSize(772, 591));
}

TEST_F(WindowTest, SyncShowsCaptionVisibilityColourAndChoice) {
  win().show();
  view().setText("LBTotalIn", "Bytes Read: 12345");
  view().setVisible("PStore", true);
  view().setText("PStore", "Setup Not Stored");
  view().setColour("PowerUserPanel", app::kColourRed);
  view().setText("PowerUserPanel", "Power User");
  view().setEnabled("BTStopRecord", false);
  view().setItemIndex("CBBaudRate", 3);
  view().setItemIndex("SelectHPForm.HPRG", 4);
  view().windowCaption = "MARU View:  v1.13 07/01/03      MARU: VER 2.10";
  win().sync();

  EXPECT_EQ(w<QLabel>("LBTotalIn")->text(), "Bytes Read: 12345");
  EXPECT_FALSE(w<QWidget>("PStore")->isHidden());
  EXPECT_FALSE(w<QWidget>("BTStopRecord")->isEnabled());
  EXPECT_EQ(w<QComboBox>("CBBaudRate")->currentText(), "38400 Baud");
  EXPECT_EQ(win().windowTitle(), "MARU View:  v1.13 07/01/03      MARU: VER 2.10");
  auto* group = w<QGroupBox>("SelectHPForm.HPRG");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->findChildren<QRadioButton*>().at(4)->isChecked(), true);

  // The panel is drawn in the colour the view asks for.
  win().pageControl()->setCurrentIndex(1);
  view().setVisible("TSAdvanced", true);
  win().sync();
  auto* panel = w<QPushButton>("PowerUserPanel");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->text(), "Power User");
  const QImage red = panel->grab().toImage();
  EXPECT_EQ(red.pixelColor(4, 4), QColor(255, 0, 0));
  view().setColour("PowerUserPanel", app::kColourButtonFace);
  win().sync();
  EXPECT_EQ(panel->grab().toImage().pixelColor(4, 4), QApplication::palette().color(QPalette::Button));

  // No item chosen: the combo shows its default text.
  view().setItemIndex("CBBaudRate", -1);
  win().sync();
  EXPECT_EQ(w<QComboBox>("CBBaudRate")->currentIndex(), -1);
  EXPECT_EQ(w<QComboBox>("CBBaudRate")->placeholderText(), "19200 Baud");
}

TEST_F(WindowTest, TypingGoesToTheViewAndIsNotDisturbedBySync) {
  auto* edit = w<QLineEdit>("MEAverage");
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->setCursorPosition(2);
  QTest::keyClicks(edit, "5");
  EXPECT_EQ(view().text("MEAverage"), "305");
  edit->setCursorPosition(1);
  view().setEnabled("MEAverage", false);
  view().setEnabled("MEAverage", true);  // dirty, same text
  win().sync();
  EXPECT_EQ(edit->cursorPosition(), 1);
  view().setText("MEAverage", "40");
  win().sync();
  EXPECT_EQ(edit->text(), "40");
}

TEST_F(WindowTest, MemoAppendsNewLinesAndKeepsTheLast501) {
  view().appendMemoLine("first");
  view().appendMemoLine("second\twith tab");
  win().sync();
  QPlainTextEdit* memo = win().memo();
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->toPlainText(), "first\nsecond\twith tab");
  view().appendMemoLine("third");
  win().sync();
  win().sync();  // nothing new: nothing repeated
  EXPECT_EQ(memo->toPlainText(), "first\nsecond\twith tab\nthird");
  EXPECT_TRUE(memo->isReadOnly());

  for (int i = 0; i < 700; ++i) view().appendMemoLine("line " + std::to_string(i));
  win().sync();
  EXPECT_EQ(memo->blockCount(), 501);
  EXPECT_EQ(memo->document()->firstBlock().text(), "line 199");
  EXPECT_EQ(memo->document()->lastBlock().text(), "line 699");

  // Appending a few to a full memo drops the oldest.
  view().appendMemoLine("newest");
  win().sync();
  EXPECT_EQ(memo->blockCount(), 501);
  EXPECT_EQ(memo->document()->firstBlock().text(), "line 200");
  EXPECT_EQ(memo->document()->lastBlock().text(), "newest");
}

TEST_F(WindowTest, PagesFollowTheViewAndTheOperatorsChoiceGoesBack) {
  QTabWidget* tabs = win().pageControl();
  view().setVisible("TSAdvanced", false);
  view().setVisible("TSFLSetup", false);
  view().setActivePage(4);
  win().sync();
  EXPECT_FALSE(tabs->isTabVisible(1));
  EXPECT_FALSE(tabs->isTabVisible(2));
  EXPECT_EQ(tabs->currentIndex(), 4);

  tabs->setCurrentIndex(0);  // the operator picks "Meter Setup"
  EXPECT_EQ(view().activePage, 0);
  win().sync();
  EXPECT_EQ(tabs->currentIndex(), 0) << "an old page request is not applied again";

  view().setActivePage(4);
  win().sync();
  EXPECT_EQ(tabs->currentIndex(), 4) << "asking for the same page again applies again";
}

TEST_F(WindowTest, ButtonsMenusAndCombosReachTheCore) {
  win().show();
  // The first tick hides the Advanced Setup page; the menu item brings it forward.
  form().Timer55msTimer();
  win().sync();
  EXPECT_FALSE(win().pageControl()->isTabVisible(1));
  QSignalSpy spy(win().pageControl(), &QTabWidget::currentChanged);
  action("MenuAdvancedSetup")->trigger();
  EXPECT_TRUE(win().pageControl()->isTabVisible(1));
  EXPECT_EQ(win().pageControl()->currentIndex(), 1);
  EXPECT_GE(spy.count(), 1);

  // An operator's choice in a combo is written to the view before the core's handler runs.
  auto* plotType = w<QComboBox>("PlotTypeCB");
  ASSERT_NE(plotType, nullptr);
  plotType->setCurrentIndex(1);
  emit plotType->activated(1);
  EXPECT_EQ(view().itemIndex("PlotTypeCB"), 1);
  EXPECT_EQ(form().shared().Plot.PlotType, 1);
}

TEST_F(WindowTest, ReplayMenuChecksFollowTheCoreNotQt) {
  // Cancelling the replay dialog changes nothing, although Qt ticks the item when triggered.
  nextFile.reset();
  action("ReplayRawFile1")->trigger();
  ASSERT_EQ(dialogTitles.size(), 1u);
  EXPECT_FALSE(action("ReplayRawFile1")->isChecked());
  EXPECT_TRUE(action("RealTimeData1")->isChecked());
  EXPECT_EQ(win().receiveIntervalMs(), 55);

  nextFile = dir.file("old.raw");
  testsupport::writeFile(*nextFile, "1\t2\t3\r\n");
  action("ReplayRawFile1")->trigger();
  EXPECT_TRUE(action("ReplayRawFile1")->isChecked());
  EXPECT_FALSE(action("RealTimeData1")->isChecked());
  EXPECT_EQ(w<QPushButton>("BTStartData")->text(), "Start Replay");
  EXPECT_EQ(w<QPushButton>("BTStopData")->text(), "Stop Replay");
  EXPECT_EQ(win().receiveIntervalMs(), 220);

  action("RealTimeData1")->trigger();
  EXPECT_FALSE(action("ReplayRawFile1")->isChecked());
  EXPECT_TRUE(action("RealTimeData1")->isChecked());
  EXPECT_EQ(w<QPushButton>("BTStartData")->text(), "Start Data");
  EXPECT_EQ(win().receiveIntervalMs(), 55);
}

TEST_F(WindowTest, HostPortDialogAppliesBothChoices) {
  win().show();
  QTest::mouseClick(w<QPushButton>("PCOMPort"), Qt::LeftButton);
  QDialog* d = win().dialog("SelectHPForm");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());

  auto* hp = w<QGroupBox>("SelectHPForm.HPRG");
  auto* br = w<QGroupBox>("SelectHPForm.BRRG");
  ASSERT_TRUE(hp && br);
  QTest::mouseClick(hp->findChildren<QRadioButton*>().at(3), Qt::LeftButton);  // "COM 3"
  QTest::mouseClick(br->findChildren<QRadioButton*>().at(3), Qt::LeftButton);  // "38400 Baud"
  QTest::mouseClick(w<QPushButton>("SelectHPForm.BTOK"), Qt::LeftButton);

  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(view().itemIndex("CBHostPort"), 3);
  EXPECT_EQ(view().itemIndex("CBBaudRate"), 3);
  EXPECT_EQ(w<QComboBox>("CBHostPort")->currentText(), "Host Port - COM 3");
  EXPECT_EQ(w<QComboBox>("CBBaudRate")->currentText(), "38400 Baud");
}

TEST_F(WindowTest, PasswordDialogHidesTheEntryAndGrantsRights) {
  win().show();
  QDialog* d = win().dialog("PasswordForm");
  ASSERT_NE(d, nullptr);
  auto* entry = w<QLineEdit>("PasswordForm.MEPassword");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->echoMode(), QLineEdit::Password);

  view().setVisible("TSAdvanced", true);
  win().pageControl()->setCurrentIndex(1);
  QTest::mouseClick(w<QPushButton>("PowerUserPanel"), Qt::LeftButton);
  EXPECT_TRUE(d->isVisible());
  QTest::keyClicks(entry, "BlueHeron");
  QTest::mouseClick(w<QPushButton>("PasswordForm.BTPasswordOK"), Qt::LeftButton);
  EXPECT_FALSE(d->isVisible());
  EXPECT_TRUE(form().shared().PowerUser);
}

TEST_F(WindowTest, MemoryFullWindowIsRedAndCentred) {
  win().show();
  program->ops.showDialog(app::Dialog::MemoryFull, true);
  QDialog* d = win().dialog("Form2");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle(), "WARNING!!!");
  EXPECT_EQ(d->palette().color(QPalette::Window), QColor(255, 0, 0));
  const QPoint delta = d->frameGeometry().center() - win().frameGeometry().center();
  EXPECT_LE(delta.manhattanLength(), 40);
  QTest::mouseClick(w<QPushButton>("Form2.Button1"), Qt::LeftButton);
  EXPECT_FALSE(d->isVisible());
}

TEST_F(WindowTest, TimersDriveTheCore) {
  win().startTimers();
  // The first receive tick writes the run-time caption.
  const QString before = win().windowTitle();
  QElapsedTimer clock;
  clock.start();
  while (win().windowTitle() == before && clock.elapsed() < 3000) QTest::qWait(20);
  EXPECT_NE(win().windowTitle(), before);
  EXPECT_TRUE(win().windowTitle().startsWith("MARU View:  v1.13 07/01/03      MARU:"));
  win().stopTimers();
}

TEST_F(WindowTest, KeysDoWhatTheirButtonsDo) {
  win().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&win()));
  // Start and Stop Data resume and pause a replay.
  ASSERT_TRUE(form().files().StartReplay(testsupport::example("ntu.raw")));
  QTest::keyClick(&win(), Qt::Key_F5);
  EXPECT_TRUE(form().session().replayRunning());
  QTest::keyClick(&win(), Qt::Key_F6);
  EXPECT_FALSE(form().session().replayRunning());
  // The recordings ask for their file (the dialogs are cancelled).
  QTest::keyClick(&win(), Qt::Key_R, Qt::ControlModifier);
  QTest::keyClick(&win(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dialogTitles, (std::vector<std::string>{"Record Raw Data", "Open Device File", "Record CSV (UTC)"}));
  EXPECT_EQ(w<QPushButton>("BTStartData")->toolTip(), "F5");
}

TEST_F(WindowTest, RecentDeviceFilesInTheFileMenu) {
  const std::string ntu = testsupport::example("ntu.dev");
  const std::string bb = testsupport::example("bb3.dev");
  ASSERT_TRUE(form().openDeviceFile(ntu, ntu));
  ASSERT_TRUE(form().openDeviceFile(bb, bb));
  win().sync();
  QMenu* file = win().menuBar()->findChild<QMenu*>("File1");
  ASSERT_NE(file, nullptr);
  QStringList items;
  for (QAction* a : file->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items.mid(0, 4), (QStringList{"Load Device File", "1 bb3.dev", "2 ntu.dev", "-"}));
  QAction* second = file->findChild<QAction*>("RecentDeviceFile2");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->toolTip(), qs(ntu));
  second->trigger();
  EXPECT_EQ(form().shared().DeviceFilePath, ntu);
}

TEST_F(WindowTest, ClosingByTheFrameSavesNothing) {
  win().show();
  testsupport::editState(form()).DeviceFilePath = dir.file("x.dev");
  view().setItemIndex("CBHostPort", 0);
  EXPECT_TRUE(win().close());
  EXPECT_TRUE(testsupport::readFile(dir.file("last.rbs")).empty());
  EXPECT_EQ(quitStatus, -1);
}

}  // namespace
