// The control model: code changes never run change rules, user actions do.
#include <gtest/gtest.h>

#include "ui/Controls.h"

namespace rlv::ui {
namespace {

struct Model : ::testing::Test {
  ControlModel m;
  std::vector<std::string> events;
  void SetUp() override {
    m.Add("Form", Kind::Window, "");
    m.Add("Group", Kind::GroupBox, "Form");
    m.Add("Edit", Kind::Edit, "Group");
    m.Add("Combo", Kind::ComboBox, "Group").SetItems({"a", "b", "c"});
    m.Add("Check", Kind::CheckBox, "Group");
    m.Add("Button", Kind::Button, "Group");
    m.Add("Memo", Kind::Memo, "Form");
    m.Add("Grid", Kind::Grid, "Form").SetGridSize(3, 2);
    for (const char* name : {"Edit", "Combo", "Check", "Button", "Grid"}) {
      for (Event e :
           {Event::Click, Event::Change, Event::KeyUp, Event::Enter, Event::Exit, Event::SelectCell}) {
        m.On(name, e, [this, name, e](const EventArgs&) {
          events.push_back(std::string(name) + ":" + std::to_string(static_cast<int>(e)));
        });
      }
    }
  }
  static std::string E(const char* name, Event e) {
    return std::string(name) + ":" + std::to_string(static_cast<int>(e));
  }
};

TEST_F(Model, SettingValuesFromCodeRunsNoHandler) {
  m["Edit"].SetText("12");
  m["Combo"].SetIndex(2);
  m["Check"].SetChecked(true);
  m["Grid"].SetCell(1, 1, "x");
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(m["Combo"].Text(), "c");
  EXPECT_EQ(m["Grid"].Cell(1, 1), "x");
}

TEST_F(Model, TypingFocusesChangesAndReleasesAKey) {
  m["Edit"].SetMaxLength(4);
  m["Edit"].SetDigitsOnly(true);
  EXPECT_TRUE(m.UserType("Edit", "12a345"));
  EXPECT_EQ(m["Edit"].Text(), "1234");
  EXPECT_EQ(events, (std::vector<std::string>{E("Edit", Event::Enter), E("Edit", Event::Change),
                                              E("Edit", Event::KeyUp)}));
  events.clear();
  m.UserType("Edit", "1234");  // same text: no change event
  EXPECT_EQ(events, std::vector<std::string>{E("Edit", Event::KeyUp)});
  events.clear();
  m.UserFocus("Combo");
  EXPECT_EQ(events, (std::vector<std::string>{E("Edit", Event::Exit), E("Combo", Event::Enter)}));
}

TEST_F(Model, DisabledParentsBlockUserActions) {
  m["Group"].SetEnabled(false);
  EXPECT_FALSE(m.UserClick("Button"));
  EXPECT_FALSE(m.UserType("Edit", "1"));
  EXPECT_FALSE(m.UserSelect("Combo", 1));
  EXPECT_TRUE(events.empty());
  m["Group"].SetEnabled(true);
  EXPECT_TRUE(m.UserClick("Button"));
  EXPECT_EQ(events, std::vector<std::string>{E("Button", Event::Click)});
}

TEST_F(Model, SelectionsAndChecks) {
  EXPECT_FALSE(m.UserSelect("Combo", 3));
  EXPECT_TRUE(m.UserSelect("Combo", 1));
  EXPECT_EQ(m["Combo"].Text(), "b");
  EXPECT_TRUE(m.UserCheck("Check", true));
  EXPECT_TRUE(m.UserCheck("Check", true));  // already checked: no click
  EXPECT_EQ(events, (std::vector<std::string>{E("Combo", Event::Change), E("Check", Event::Click)}));
  m["Combo"].SetText("zz");
  EXPECT_EQ(m["Combo"].Index(), -1);
  EXPECT_EQ(m["Combo"].Text(), "zz");
  m["Combo"].SetItems({"only"});
  EXPECT_EQ(m["Combo"].Index(), -1);
}

TEST_F(Model, MemoLinesAndGridBounds) {
  m["Memo"].SetText("one\ntwo\n");
  EXPECT_EQ(m["Memo"].Lines().size(), 3u);
  EXPECT_EQ(m["Memo"].Text(), "one\ntwo\n");
  m["Memo"].SetText("");
  EXPECT_TRUE(m["Memo"].Lines().empty());
  m["Grid"].SetCell(5, 5, "ignored");
  EXPECT_EQ(m["Grid"].Cell(5, 5), "");
  EXPECT_FALSE(m.UserSelectCell("Grid", 3, 0));
  m["Grid"].SetCell(2, 1, "kept");
  m["Grid"].SetGridSize(4, 3);
  EXPECT_EQ(m["Grid"].Cell(2, 1), "kept");
  EXPECT_TRUE(m.UserSelectCell("Grid", 3, 2));
  EXPECT_EQ(m["Grid"].SelectedCol(), 3);
  // A read-only grid is chosen from, not typed into.
  m["Grid"].SetReadOnly(true);
  EXPECT_FALSE(m.UserSetCell("Grid", 2, 1, "typed"));
  EXPECT_EQ(m["Grid"].Cell(2, 1), "kept");
  EXPECT_TRUE(m.UserSelectCell("Grid", 2, 1));
  m["Grid"].SetCell(2, 1, "from code");
  EXPECT_EQ(m["Grid"].Cell(2, 1), "from code");
}

TEST_F(Model, ObserversSeeChangesAndNamesAreUnique) {
  std::vector<Prop> seen;
  m.Observe([&](const Control& c, Prop p) {
    if (c.Name() == "Button") seen.push_back(p);
  });
  m["Button"].SetVisible(false);
  m["Button"].SetVisible(false);
  m["Button"].SetText("Go");
  EXPECT_EQ(seen, (std::vector<Prop>{Prop::Visible, Prop::Text}));
  EXPECT_THROW(m.Add("Button", Kind::Button, "Form"), std::logic_error);
  EXPECT_THROW(m.Add("Orphan", Kind::Button, "Nowhere"), std::logic_error);
  EXPECT_EQ(m.Find("Nowhere"), nullptr);
}

}  // namespace
}  // namespace rlv::ui
