// The control table: names, the captions operators and stored habits rely on, and what
// assistive technology is told about each entry field.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "app/controls.h"
#include "app/viewmodel.h"

namespace {

using app::ControlSpec;
using app::Widget;

std::map<std::string, const ControlSpec*> byName() {
  std::map<std::string, const ControlSpec*> out;
  for (const ControlSpec& s : app::ControlTable())
    if (!s.name.empty()) out[s.name] = &s;
  return out;
}

TEST(ControlTable, NamesAreUniqueAndEveryControlHasAKnownPage) {
  std::set<std::string> names;
  std::set<std::string> pages = {"main", "menubar", "menu", "dialogs", "Form2", "SelectHPForm", "PasswordForm"};
  for (const auto& [name, caption] : app::PageTable()) pages.insert(name);
  for (const ControlSpec& s : app::ControlTable()) {
    EXPECT_TRUE(pages.count(s.page)) << s.name << " on " << s.page;
    if (s.name.empty()) {
      EXPECT_EQ(s.page, "menu") << "only menu separators are nameless";
      continue;
    }
    EXPECT_TRUE(names.insert(s.name).second) << "duplicate " << s.name;
    // A small window's controls carry the window's name before the dot.
    const auto dot = s.name.find('.');
    if (s.page == "Form2" || s.page == "SelectHPForm" || s.page == "PasswordForm") {
      EXPECT_EQ(s.name.substr(0, dot), s.page) << s.name;
    } else {
      EXPECT_EQ(dot, std::string::npos) << s.name;
    }
  }
}

TEST(ControlTable, EveryEntryFieldSaysWhatItHolds) {
  for (const ControlSpec& s : app::ControlTable()) {
    if (s.kind == Widget::Edit || s.kind == Widget::Combo || s.kind == Widget::RadioGroup) {
      EXPECT_FALSE(s.accessibleName.empty()) << s.name;
    }
    if (s.kind == Widget::Combo || s.kind == Widget::RadioGroup) {
      EXPECT_FALSE(s.items.empty()) << s.name;
      EXPECT_LT(s.itemIndex, static_cast<int>(s.items.size())) << s.name;
    }
  }
}

struct Expected {
  const char* name;
  Widget kind;
  const char* caption;
  const char* page;
  bool visible;
};

// Captions whose exact spelling (blanks included) the program's operators see.
const Expected kExpected[] = {
    {"BTStartData", Widget::Button, "Start Data", "main", true},
    {"BTRecordRaw", Widget::Button, "Record  Raw", "main", true},
    {"BTRecordEngr", Widget::Button, "Record Engr", "main", true},
    {"CBBaudRate", Widget::Combo, "19200 Baud", "main", true},
    {"PCOMPort", Widget::Panel, "Select COM Port", "main", true},
    {"PMeterType", Widget::Panel, "Select Device File", "main", true},
    {"PStore", Widget::Panel, "Setup Not Stored", "main", false},
    {"LBMARUDandT", Widget::Label, "MARU:  MM/DD/YY HH:MM:SS", "main", true},
    {"LBRecordStatus", Widget::Label, "Recording:  OFF", "main", true},
    {"LBPortDevice", Widget::Label, "", "main", true},
    {"Exit1", Widget::MenuItem, "E&xit", "menu", true},
    {"File1", Widget::MenuItem, "&File", "menubar", true},
    {"BTAverage", Widget::Button, "Set Avg / Data Rate", "TSSetup", true},
    {"TimeInterval", Widget::Edit, "HHMMSS", "TSSetup", true},
    {"LBStorageUsed", Widget::Label, "Used:  ", "TSSetup", true},
    {"Label5", Widget::Label, "  Ram Settings  ", "TSSetup", true},
    {"LBHz2", Widget::Label, "Sample Rate:", "TSSetup", true},
    {"LBUR", Widget::Label, "Update In:", "TSSetup", false},
    {"BTOne", Widget::Button, "Take One Measurment", "TSAdvanced", true},
    {"Label16", Widget::Label, "  RAM Settings  ", "TSAdvanced", true},
    {"PowerUserPanel", Widget::Panel, "Normal User", "TSAdvanced", true},
    {"CBAnalogRange", Widget::Combo, "ASV2:  Std Res", "TSFLSetup", true},
    {"LBStdRes", Widget::Label, "ASV2:  Std Resolution 0-60 Engr Units", "TSFLSetup", true},
    {"LBWideRange", Widget::Label, "ASV4:  Wide Range:   0-120 Engr Units", "TSFLSetup", true},
    {"SRArrow", Widget::Label, "==>", "TSFLSetup", false},
    {"MEflscale", Widget::Edit, "0.0001", "TSFLSetup", true},
    {"Label48", Widget::Label, "  Settings  ", "TSFLSetup", true},
    {"Memo1", Widget::Memo, "", "TSRaw", true},
    {"iPlot1", Widget::Chart, "", "TSPlot", true},
    {"PresCB", Widget::Combo, "No Pressure Plot", "TSPlot", false},
    {"BTGetData", Widget::Button, "Receive Data", "TabSheet1", true},
    {"BitBtnCancel", Widget::Button, "Cancel", "TabSheet1", true},
    {"Form2", Widget::Page, "WARNING!!!", "dialogs", false},
    {"Form2.Label1", Widget::Label, "    Internal Memory is Full.  Internal Logging has been stopped.    ", "Form2",
     true},
    {"SelectHPForm.BRRG", Widget::RadioGroup, "Baud Rate", "SelectHPForm", true},
    {"PasswordForm.Lablexx", Widget::Label, "Warning:  ", "PasswordForm", true},
};

class ControlCaption : public ::testing::TestWithParam<Expected> {};

TEST_P(ControlCaption, MatchesTheProgram) {
  const Expected& e = GetParam();
  const auto table = byName();
  auto it = table.find(e.name);
  ASSERT_NE(it, table.end()) << e.name;
  EXPECT_EQ(it->second->kind, e.kind);
  EXPECT_EQ(it->second->caption, e.caption);
  EXPECT_EQ(it->second->page, e.page);
  EXPECT_EQ(it->second->visible, e.visible);
}

INSTANTIATE_TEST_SUITE_P(Captions, ControlCaption, ::testing::ValuesIn(kExpected),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

TEST(ControlTable, ChoiceListsMatchIndexForIndex) {
  const auto t = byName();
  const auto& host = t.at("CBHostPort")->items;
  const auto& hostDialog = t.at("SelectHPForm.HPRG")->items;
  ASSERT_EQ(host.size(), 9u);
  ASSERT_EQ(hostDialog.size(), 9u);
  EXPECT_EQ(host[0], "Select Host Port");
  EXPECT_EQ(host[8], "Host Port - COM 8");
  EXPECT_EQ(hostDialog[0], "OFF");
  EXPECT_EQ(hostDialog[3], "COM 3");
  EXPECT_EQ(hostDialog[4], "COM4");
  EXPECT_EQ(t.at("CBBaudRate")->items, t.at("SelectHPForm.BRRG")->items);
  EXPECT_EQ(t.at("CBBaudRate")->itemIndex, -1) << "no baud item is chosen at start";
  EXPECT_EQ(t.at("CBHostPort")->itemIndex, -1) << "no host-port item is chosen at start";
  EXPECT_EQ(t.at("SelectHPForm.HPRG")->itemIndex, 0);
  EXPECT_EQ(t.at("SelectHPForm.BRRG")->itemIndex, 2);
  EXPECT_EQ(t.at("SelectHPForm.HPRG")->columns, 3);
  EXPECT_EQ(t.at("SelectHPForm.BRRG")->columns, 2);
  EXPECT_EQ(t.at("CBAnalogRange")->items.at(2), "SAV4:  Wide Range");
  EXPECT_EQ(t.at("StdDevCB")->items.at(3), "Std Dev-60");
  EXPECT_EQ(t.at("BBPlotCB")->items.at(1), "Beta Particles(117)");
}

TEST(ControlTable, DesignColoursAndHint) {
  const auto t = byName();
  EXPECT_EQ(t.at("PCOMPort")->colour, app::kColourYellow);
  EXPECT_EQ(t.at("PStore")->colour, app::kColourYellow);
  EXPECT_EQ(t.at("PowerUserPanel")->colour, app::kColourButtonFace);
  EXPECT_EQ(t.at("Form2")->colour, app::kColourRed);
  EXPECT_EQ(t.at("BTAverage")->hint, "High Count = Lower Hz ... Low Count = High Hz");
}

TEST(ControlTable, MenuInOrder) {
  std::vector<std::string> menu;
  for (const ControlSpec& s : app::ControlTable())
    if (s.page == "menu") menu.push_back(s.name.empty() ? "-" : s.name);
  EXPECT_EQ(menu, (std::vector<std::string>{"LoadDeviceFile1", "-", "RealTimeData1", "ReplayRawFile1", "-",
                                            "ExportRecording1", "LoadQcConfiguration1", "-", "MenuAdvancedSetup", "-", "Exit1"}));
  const auto t = byName();
  EXPECT_TRUE(t.at("RealTimeData1")->checkable && t.at("RealTimeData1")->checked);
  EXPECT_TRUE(t.at("ReplayRawFile1")->checkable && !t.at("ReplayRawFile1")->checked);
}

TEST(PageTable, SixPagesInOrder) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"TSSetup", "Meter Setup"}, {"TSAdvanced", "Advanced Setup"}, {"TSFLSetup", "FL-Setup"},
      {"TSRaw", "Raw Data"},      {"TSPlot", "Plot Data"},          {"TabSheet1", "Transfer Data"}};
  EXPECT_EQ(app::PageTable(), expected);
}

}  // namespace
