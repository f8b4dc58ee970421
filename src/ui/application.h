#pragma once
// The running program's pieces and their order of making: operator interface, chart,
// core, window.
#include <memory>

#include "app/mainform.h"
#include "chart/stripchart.h"
#include "ui/mainwindow.h"
#include "ui/qtoperatorui.h"

namespace ui {

/// Owns everything main() needs. Made by makeApplication(); start() shows the window
/// and starts the timers. Destruction takes the chart back from the window before the
/// window goes, so the core never holds a chart that is already gone.
struct Application {
  QtOperatorUi ops;
  std::unique_ptr<chart::StripChart> chart;
  std::unique_ptr<app::MainForm> form;
  std::unique_ptr<MainWindow> window;

  Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application();

  /// Shows the main window centred on the screen and starts its three timers.
  void start();
};

/// Makes the operator interface, the strip chart, the core (with `options`) and the main
/// window. A QApplication must exist. When `options.quit` is empty, quitting ends the
/// event loop with the given status (QCoreApplication::exit).
std::unique_ptr<Application> makeApplication(app::MainFormOptions options = {});

}  // namespace ui
