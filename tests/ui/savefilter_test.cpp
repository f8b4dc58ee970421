// The save dialog as the operator uses it: a name typed without a suffix takes the
// suffix of the file type chosen (Export Recording... tells CSV from NetCDF by it).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

#include <string>

#include "support/testfiles.h"
#include "ui/qtoperatorui.h"

namespace {

struct FilterCase {
  int filterIndex;  // -1: the first filter, as the dialog opens
  const char* typed;
  const char* saved;
};

class SaveFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(SaveFilter, TypedNameTakesTheChosenFiltersSuffix) {
  const FilterCase c = GetParam();
  testsupport::TempDir dir;
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path())));
  bool answered = false;
  QTimer::singleShot(0, [&] {
    QFileDialog* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
    ASSERT_NE(dialog, nullptr);
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(types && name);
    if (c.filterIndex >= 0) {
      types->setCurrentIndex(c.filterIndex);
      // The operator's choice: the combo box tells its index and its text.
      emit types->activated(c.filterIndex);
      emit types->textActivated(types->itemText(c.filterIndex));
    }
    name->setText(QString::fromLatin1(c.typed));
    answered = true;
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);  // the Save button
  });
  ui::QtOperatorUi ops;
  app::FileDialogSpec def;
  def.title = "Export Recording As";
  def.defaultSuffix = "csv";
  def.filter = "CSV, UTC times (*.csv)|*.csv|NetCDF-4, CF (*.nc)|*.nc|All Files (*.*)|*.*";
  const auto path = ops.saveFile(def);
  QDir::setCurrent(previous);
  ASSERT_TRUE(answered);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(QFileInfo(QString::fromStdString(*path)).fileName().toStdString(), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, SaveFilter,
                         ::testing::Values(FilterCase{-1, "run1", "run1.csv"}, FilterCase{1, "run1", "run1.nc"},
                                           FilterCase{1, "run1.csv", "run1.csv"},
                                           FilterCase{0, "run1", "run1.csv"},
                                           FilterCase{2, "run1", "run1.csv"}),
                         [](const auto& info) {
                           const int index = info.param.filterIndex;
                           return testsupport::testNameOf(std::string(info.param.typed) + " filter " +
                                                          (index < 0 ? "untouched" : std::to_string(index)));
                         });

}  // namespace
