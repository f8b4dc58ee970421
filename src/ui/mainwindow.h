#pragma once
// The main window and its three small windows, built from app::ControlTable(). The
// widgets are thin: clicks, choices and typing go to app::MainForm by the controls'
// names, and sync() copies the form's view model back onto the widgets.
#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/mainform.h"

class QAction;
class QButtonGroup;
class QDialog;
class QGridLayout;
class QPlainTextEdit;
class QTabWidget;

namespace ui {

class QtOperatorUi;

/// The program's main window ("Form1").
///
/// Every control of the table exists once, with the table's name as objectName (for the
/// small windows' controls the part after the dot, inside the QDialog of that name).
/// `form` must outlive the window; `chart` (may be null: an empty placeholder is made)
/// is reparented onto the "Plot Data" page and owned by the window from then on;
/// `ops`, when given, is handed the small windows and the window as parent of boxes.
/// Timers do not run until startTimers().
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(app::MainForm& form, QWidget* chart, QtOperatorUi* ops = nullptr,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  /// Copies what changed in the view model onto the widgets: the dirty controls, the
  /// window caption, tab visibility, the active page, new memo lines, the receive interval.
  void sync();

  /// Starts the 55 ms (view's interval), 500 ms and 1 s timers.
  void startTimers();
  void stopTimers();
  int receiveIntervalMs() const { return m_timer55.interval(); }

  /// The widget or menu action of a table name ("BTStartData", "Exit1",
  /// "SelectHPForm.HPRG"); null when unknown.
  QObject* control(const std::string& name) const;
  QWidget* widget(const std::string& name) const;
  QDialog* dialog(const std::string& formName) const;
  QTabWidget* pageControl() const { return m_pages; }
  QPlainTextEdit* memo() const { return m_memo; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Entry {
    const app::ControlSpec* def = nullptr;
    QWidget* widget = nullptr;
    QAction* action = nullptr;
    QButtonGroup* group = nullptr;
  };

  QWidget* makeControl(const app::ControlSpec& def, QWidget* parent, QWidget* chart);
  void buildMenu();
  QWidget* buildPage(const std::string& page, QWidget* chart);
  void fillGrid(QGridLayout* grid, const std::string& page, QWidget* parent, QWidget* chart);
  QWidget* buildMainArea(QWidget* tabs, QWidget* chart);
  void buildDialog(const app::ControlSpec& form);
  void wire(const std::string& name, Entry& entry);
  /// Keys for Start Data, Stop Data and the recordings, shown in the buttons' tooltips.
  void addShortcuts();
  /// The File menu's recent device files, as the form lists them now.
  void syncRecentFiles();

  void onClick(const std::string& name);
  /// Writes every edit's text as shown to the view model.
  void storeEditTexts();
  /// A finished entry in the edit `name` (Return, leaving it, or text set whole).
  void onEdited(const std::string& name);
  void onChoice(const std::string& name, int index);
  /// Writes the radio choices and edit texts of one small window to the view model.
  void storeDialogState(const std::string& form);
  void applyAll();
  void apply(const std::string& name);
  void applyColour(const Entry& entry, int64_t colour);
  void syncPages();
  void syncMemo();

  app::MainForm& m_form;
  std::map<std::string, Entry> m_entries;
  std::map<std::string, QDialog*> m_dialogs;
  QTabWidget* m_pages = nullptr;
  QPlainTextEdit* m_memo = nullptr;
  QTimer m_timer55;
  QTimer m_timer500;
  QTimer m_timer1s;
  uint64_t m_memoShown = 0;
  std::vector<std::string> m_recentShown;  ///< the paths the File menu lists
  std::vector<QAction*> m_recentActions;
  int m_pageGeneration = -1;
};

}  // namespace ui
