#pragma once
// The names of every control the core drives, grouped by page, with their captions at
// design time. The Qt layer builds its widgets from this table (objectName = name) so
// that both sides agree on names and captions.
#include <cstdint>
#include <string>
#include <vector>

namespace app {

class ViewModel;

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
  int columns = 1;         ///< radio groups: items are laid out down this many columns
  bool checkable = false;  ///< menu items that carry a check mark
  bool checked = false;    ///< design check state of a checkable menu item
};

/// Every control, in the order the window lays them out.
/// Pages: "main" (beside and below the page control), "menubar" (the menu "&File"),
/// "menu" (its items in order; a separator is an item with an empty name), the six
/// pages of PageTable(), and "Form2", "SelectHPForm", "PasswordForm" for the small
/// windows' controls. The small windows themselves are Widget::Page entries on the page
/// "dialogs" whose caption is the window caption.
const std::vector<ControlSpec>& ControlTable();
/// Every named control of the table in `view`, in its design-time state.
void defineControls(ViewModel& view);

/// Pages of PageControl1 in order.
const std::vector<std::pair<std::string, std::string>>& PageTable();  // (name, caption)

}  // namespace app
