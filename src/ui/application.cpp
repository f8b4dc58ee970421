#include "ui/application.h"

#include <QCoreApplication>

namespace ui {

Application::~Application() {
  if (window) {
    window->stopTimers();
    if (chart) chart->setParent(nullptr);
  }
  window.reset();
  form.reset();
  chart.reset();
}

void Application::start() {
  window->show();
  window->startTimers();
}

std::unique_ptr<Application> makeApplication(app::MainFormOptions options) {
  if (!options.quit) options.quit = [](int status) { QCoreApplication::exit(status); };
  auto a = std::make_unique<Application>();
  a->chart = std::make_unique<chart::StripChart>();
  a->form = std::make_unique<app::MainForm>(a->ops, *a->chart, std::move(options));
  a->window = std::make_unique<MainWindow>(*a->form, a->chart.get(), &a->ops);
  return a;
}

}  // namespace ui
