// The Qt operator interface: filter and suffix conversion, and the small windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QWidget>

#include <memory>

#include "qstringprint.h"
#include "support/testfiles.h"
#include "ui/qtoperatorui.h"

namespace {

struct FilterCase {
  const char* program;
  const char* qt;
};

class FilterConversion : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterConversion, ToQtForm) {
  EXPECT_EQ(ui::QtOperatorUi::qtFilter(GetParam().program).toStdString(), GetParam().qt);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterConversion,
    ::testing::Values(
        FilterCase{"Device File (*.dev)|*.dev|All files (*.*)|*.*", "Device File (*.dev);;All files (*.*)"},
        FilterCase{"Raw Files (*.raw)|*.raw|All Files (*.*)|*.*", "Raw Files (*.raw);;All Files (*.*)"},
        // Descriptions without their pattern get it appended.
        FilterCase{"Engineering Units|*.eng|All Files|*.*", "Engineering Units (*.eng);;All Files (*.*)"},
        // Pattern lists use blanks in Qt's form.
        FilterCase{"Data (*.raw;*.txt)|*.raw;*.txt", "Data (*.raw *.txt)"},
        FilterCase{"Text|*.txt;*.log", "Text (*.txt *.log)"},
        // A description without a pattern matches everything; nothing at all stays nothing.
        FilterCase{"Anything", "Anything (*)"}, FilterCase{"", ""}),
    [](const auto& info) { return testsupport::testNameOf(info.param.program); });

TEST(QtOperatorUi, SuffixWithoutStarOrDot) {
  EXPECT_EQ(ui::QtOperatorUi::suffixOf("*.raw"), "raw");
  EXPECT_EQ(ui::QtOperatorUi::suffixOf(".eng"), "eng");
  EXPECT_EQ(ui::QtOperatorUi::suffixOf("dev"), "dev");
  EXPECT_EQ(ui::QtOperatorUi::suffixOf(""), "");
}

TEST(QtOperatorUi, HooksReplaceTheBlockingParts) {
  ui::QtOperatorUi ops;
  std::string shown;
  ops.messageBoxHook = [&](const std::string& caption, const std::string& text) { shown = caption + "/" + text; };
  bool closed = false;
  ops.messageBox("Comm Error", "Could Not Open Comm Port 5", [&] { closed = true; });
  EXPECT_EQ(shown, "Comm Error/Could Not Open Comm Port 5");
  EXPECT_TRUE(closed);

  bool sawSave = false;
  ops.fileDialogHook = [&](const app::FileDialogSpec& def, bool save) -> std::optional<std::string> {
    sawSave = save;
    if (def.title == "cancel") return std::nullopt;
    return "/tmp/" + def.defaultSuffix;
  };
  app::FileDialogSpec def;
  def.title = "Record Raw Data";
  def.defaultSuffix = "raw";
  EXPECT_EQ(ops.saveFile(def), std::optional<std::string>("/tmp/raw"));
  EXPECT_TRUE(sawSave);
  def.title = "cancel";
  EXPECT_EQ(ops.openFile(def), std::nullopt);
  EXPECT_FALSE(sawSave);
}

TEST(QtOperatorUi, ShowsAndHidesTheAttachedWindows) {
  ui::QtOperatorUi ops;
  // Before attach there is nothing to show, and nothing breaks.
  ops.showDialog(app::Dialog::MemoryFull, true);

  QMainWindow main;
  main.setGeometry(100, 100, 600, 400);
  main.show();
  auto* form2 = new QWidget(&main, Qt::Dialog);
  form2->resize(200, 80);
  auto* hp = new QWidget(&main, Qt::Dialog);
  auto* pw = new QWidget(&main, Qt::Dialog);
  ops.attach(&main, form2, hp, pw);

  ops.showDialog(app::Dialog::MemoryFull, true);
  EXPECT_TRUE(form2->isVisible());
  EXPECT_FALSE(hp->isVisible());
  // Centred on the main window.
  const QPoint delta = form2->frameGeometry().center() - main.frameGeometry().center();
  EXPECT_LE(delta.manhattanLength(), 40) << delta.x() << "," << delta.y();

  ops.showDialog(app::Dialog::SelectHostPort, true);
  ops.showDialog(app::Dialog::Password, true);
  EXPECT_TRUE(hp->isVisible());
  EXPECT_TRUE(pw->isVisible());
  ops.showDialog(app::Dialog::MemoryFull, false);
  ops.showDialog(app::Dialog::Password, false);
  EXPECT_FALSE(form2->isVisible());
  EXPECT_FALSE(pw->isVisible());
  EXPECT_TRUE(hp->isVisible());

  // Windows destroyed before the interface are simply no longer there.
  delete hp;
  ops.showDialog(app::Dialog::SelectHostPort, true);
  EXPECT_EQ(ops.dialog(app::Dialog::SelectHostPort), nullptr);
}

}  // namespace
