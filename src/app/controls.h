#pragma once
// The names of every control the core drives, grouped by page, with their captions at
// design time. The Qt layer builds its widgets from this table (objectName = name) so
// that both sides agree on names and captions.
#include <cstdint>
#include <string>
#include <vector>

namespace app {

enum class Widget {
  Button, Label, Edit, Combo, Panel, Memo, RadioGroup, Chart, MenuItem, Page, ProgressBar
};

struct ControlSpec {
  std::string name;        ///< objectName; dialog controls are "Form.Name" (e.g. "Form2.Button1")
  Widget kind;
  std::string caption;     ///< design-time caption or default text
  std::string page;        ///< owning page (TSSetup …) or "main", "menu", "Form2", "SelectHPForm", "PasswordForm"
  std::vector<std::string> items;  ///< combo / radio items
  std::string accessibleName;      ///< for edits, combos and radio groups: what they hold
  bool visible = true;
  std::string hint;        ///< tooltip
  int itemIndex = -1;      ///< combo / radio choice at design time (-1: none, caption shows as placeholder)
  int64_t colour = -3;     ///< design colour 0x00BBGGRR, or kColourDefault (-3)
};

/// Every control, in the order the window lays them out.
const std::vector<ControlSpec>& ControlTable();

/// Pages of PageControl1 in order.
const std::vector<std::pair<std::string, std::string>>& PageTable();  // (name, caption)

}  // namespace app
