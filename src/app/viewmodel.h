#pragma once
// What the widgets show, as plain data keyed by the controls' own names (objectName).
// Timers and handlers write it; the Qt layer copies changed entries onto widgets and
// writes the operator's input (edit texts, combo and radio choices) back into it.
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace app {

/// Colours as 0x00BBGGRR; the two system colours are symbolic.
constexpr int64_t kColourButtonFace = -1;  ///< the system's button-face colour
constexpr int64_t kColourMenu = -2;        ///< the system's menu colour
constexpr int64_t kColourDefault = -3;     ///< whatever the widget has by design
constexpr int64_t kColourYellow = 0x00FFFF;
constexpr int64_t kColourRed = 0x0000FF;

/// A progress bar's item index while the work's size is not known: shown as busy.
constexpr int kProgressBusy = -2;

struct Control {
  std::string text;        ///< caption, label text, edit text or combo text
  bool visible = true;
  bool enabled = true;
  bool checked = false;    ///< menu items
  int itemIndex = -1;      ///< combo boxes and radio groups (-1 = no item selected); progress in percent
  int64_t colour = kColourDefault;
  std::vector<std::string> itemHints;  ///< combo boxes: shown beside each item (same order)
};

class ViewModel {
 public:
  /// Returns the control, creating it with default values on first use.
  const Control& get(const std::string& name) const;
  bool has(const std::string& name) const { return m_controls.count(name) != 0; }

  // Writers mark the control dirty only when something changes.
  void setText(const std::string& name, const std::string& text);
  void setVisible(const std::string& name, bool visible);
  void setEnabled(const std::string& name, bool enabled);
  void setChecked(const std::string& name, bool checked);
  void setItemIndex(const std::string& name, int index);
  void setColour(const std::string& name, int64_t colour);
  void setItemHints(const std::string& name, const std::vector<std::string>& hints);
  /// Declares a control with its design-time state (not marked dirty).
  void define(const std::string& name, const Control& c);

  const std::string& text(const std::string& name) const { return get(name).text; }
  int itemIndex(const std::string& name) const { return get(name).itemIndex; }
  bool visible(const std::string& name) const { return get(name).visible; }

  /// Names changed since the last call, for the Qt layer to apply.
  std::set<std::string> takeDirty();
  std::vector<std::string> names() const;

  // Window-level state.
  std::string windowCaption = "MARU View  v1.13   07/01/03";
  int activePage = 0;               ///< index into PageControl1 (0 "Meter Setup" … 5 "Transfer Data")
  int pageGeneration = 0;           ///< bumped whenever activePage is set, so re-selecting applies
  int timer55IntervalMs = 55;       ///< 220 while a replay file is open
  void setActivePage(int page) { activePage = page; ++pageGeneration; }

  // The "Raw Data" memo: at most 501 lines, oldest dropped first.
  static constexpr size_t kMemoMax = 501;
  void appendMemoLine(const std::string& line);
  const std::deque<std::string>& memoLines() const { return m_memo; }
  /// Count of lines ever appended; the Qt layer appends what it has not seen yet.
  uint64_t memoTotal() const { return m_memoTotal; }

 private:
  mutable std::map<std::string, Control> m_controls;
  std::set<std::string> m_dirty;
  std::deque<std::string> m_memo;
  uint64_t m_memoTotal = 0;
  Control& ref(const std::string& name) { return m_controls[name]; }
};

}  // namespace app
