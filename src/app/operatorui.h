#pragma once
// Everything that waits for the operator goes through this narrow interface. The Qt
// layer implements it with message boxes and Qt's own file dialogs; tests script it.
#include <functional>
#include <optional>
#include <string>

namespace app {

struct FileDialogSpec {
  std::string title;
  std::string defaultSuffix;  ///< e.g. "dev", without the dot
  std::string filter;         ///< as the program states it: "Device File (*.dev)|*.dev|All files (*.*)|*.*"
  bool confirmOverwrite = false;
};

enum class Dialog { MemoryFull, SelectHostPort, Password };

class OperatorUi {
 public:
  virtual ~OperatorUi() = default;
  /// The system's exclamation beep.
  virtual void beep() = 0;
  /// A box with one OK button. It returns at once and stays up until the operator
  /// dismisses it; `closed` (may be empty) runs then. Nothing waits for the operator,
  /// so the timers, the receive loop and the recordings go on underneath.
  virtual void messageBox(const std::string& caption, const std::string& text,
                          std::function<void()> closed) = 0;
  /// A question with OK and Cancel, shown as messageBox is (it returns at once);
  /// `answered` runs with true when the operator chose OK, false for Cancel or closing it.
  virtual void question(const std::string& caption, const std::string& text,
                        std::function<void(bool ok)> answered) = 0;
  /// Open / save dialogs; nullopt when the operator cancels.
  virtual std::optional<std::string> openFile(const FileDialogSpec& def) = 0;
  virtual std::optional<std::string> saveFile(const FileDialogSpec& def) = 0;
  /// Shows (without blocking) or hides one of the small windows.
  virtual void showDialog(Dialog which, bool show) = 0;
};

}  // namespace app
