#pragma once
// A scripted operator: records every box, beep and dialog, and answers file dialogs
// from a queue (an empty queue answers "cancel"). Boxes are dismissed at once unless
// `holdBoxes` is set; then they stay open until dismissBoxes().
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/operatorui.h"

namespace testsupport {

class ScriptedUi : public app::OperatorUi {
 public:
  struct Box {
    std::string caption, text;
  };
  void beep() override { ++beeps; }
  void messageBox(const std::string& caption, const std::string& text, std::function<void()> closed) override {
    boxes.push_back({caption, text});
    if (onBox) onBox(caption, text);
    if (holdBoxes)
      openBoxes.push_back(std::move(closed));
    else if (closed)
      closed();
  }
  /// The operator presses OK on every box still open, oldest first.
  void dismissBoxes() {
    auto pending = std::move(openBoxes);
    openBoxes.clear();
    for (auto& closed : pending)
      if (closed) closed();
  }
  /// Questions are recorded as boxes and answered from `answers` (empty: Cancel).
  void question(const std::string& caption, const std::string& text, std::function<void(bool)> answered) override {
    boxes.push_back({caption, text});
    bool ok = false;
    if (!answers.empty()) {
      ok = answers.front();
      answers.pop_front();
    }
    if (answered) answered(ok);
  }
  std::optional<std::string> openFile(const app::FileDialogSpec& def) override { return answer(def); }
  std::optional<std::string> saveFile(const app::FileDialogSpec& def) override { return answer(def); }
  void showDialog(app::Dialog which, bool show) override { dialogs.emplace_back(which, show); }

  std::optional<std::string> answer(const app::FileDialogSpec& def) {
    dialogSpecs.push_back(def);
    if (files.empty()) return std::nullopt;
    auto a = files.front();
    files.pop_front();
    return a;
  }
  bool shownLast(app::Dialog which) const {
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
      if (it->first == which) return it->second;
    return false;
  }
  size_t countBoxes(const std::string& caption) const {
    size_t n = 0;
    for (const auto& b : boxes) n += b.caption == caption;
    return n;
  }

  int beeps = 0;
  bool holdBoxes = false;
  std::vector<std::function<void()>> openBoxes;
  std::vector<Box> boxes;
  std::function<void(const std::string&, const std::string&)> onBox;  ///< runs "while the box is open"
  std::deque<std::optional<std::string>> files;
  std::deque<bool> answers;
  std::vector<app::FileDialogSpec> dialogSpecs;
  std::vector<std::pair<app::Dialog, bool>> dialogs;
};

}  // namespace testsupport
