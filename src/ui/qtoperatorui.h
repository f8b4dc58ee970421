#pragma once
// The operator interface over Qt: the warning beep, modal message boxes, Qt's own
// (non-native) file dialogs, and showing or hiding the three small windows.
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "app/operatorui.h"

namespace ui {

/// Implements app::OperatorUi for the running program.
///
/// The small windows and the parent of boxes and dialogs are handed over by attach()
/// once the main window exists; before that showDialog() does nothing and boxes have no
/// parent. The windows are held by QPointer, so they may be destroyed first.
/// Tests replace the blocking parts through messageBoxHook and fileDialogHook.
class QtOperatorUi : public app::OperatorUi {
 public:
  void beep() override;
  /// A window-modal box with the caption, the text, a warning icon and one OK button,
  /// shown without a nested event loop: it returns at once, the box deletes itself when
  /// dismissed and then runs `closed`.
  void messageBox(const std::string& caption, const std::string& text, std::function<void()> closed) override;
  /// A window-modal question box (OK, Cancel; Cancel the default), shown as messageBox is.
  void question(const std::string& caption, const std::string& text, std::function<void(bool ok)> answered) override;
  std::optional<std::string> openFile(const app::FileDialogSpec& def) override;
  std::optional<std::string> saveFile(const app::FileDialogSpec& def) override;
  /// Shows (non-modal, raised; the memory-full window centred on the main window) or hides.
  void showDialog(app::Dialog which, bool show) override;

  /// The main window (parent of boxes and dialogs) and the three small windows.
  void attach(QWidget* mainWindow, QWidget* form2, QWidget* selectHostPort, QWidget* password);
  QWidget* dialog(app::Dialog which) const;

  /// When set, called instead of showing the message box (caption, text); the box then
  /// counts as dismissed at once.
  std::function<void(const std::string&, const std::string&)> messageBoxHook;
  /// When set, called instead of showing a question (caption, text); its result is the answer.
  std::function<bool(const std::string&, const std::string&)> questionHook;
  /// When set, called instead of running a file dialog (def, true for save).
  std::function<std::optional<std::string>(const app::FileDialogSpec&, bool)> fileDialogHook;

  /// "Desc|pattern|Desc|pattern" as the program states filters, to Qt's
  /// "Desc (pattern);;Desc (pattern)". A description that already ends in its pattern
  /// in parentheses does not get it twice; "a;b" pattern lists become "a b"; a trailing
  /// description without a pattern matches everything.
  static QString qtFilter(const std::string& filter);
  /// The default suffix without a leading "*." or "." ("*.raw" -> "raw").
  static QString suffixOf(const std::string& defaultExtension);

 private:
  std::optional<std::string> runFileDialog(const app::FileDialogSpec& def, bool save);

  QPointer<QWidget> m_main;
  QPointer<QWidget> m_form2;
  QPointer<QWidget> m_selectHostPort;
  QPointer<QWidget> m_password;
  QString m_lastDir;
};

}  // namespace ui
