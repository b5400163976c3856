// The command table and its update rules, and the reading view's input rules
// (auto-scroll rate and steps, speed drag, wheel notches, arrow choices).
#include "app/core/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/core/view_input.h"

namespace {

TEST(CommandTable, IdsAreUniqueAndEveryMenuItemIsACommand) {
  std::set<std::uint16_t> ids;
  std::set<std::string> keys;
  for (const CommandInfo& c : Command_Table()) {
    EXPECT_TRUE(ids.insert(c.id).second) << c.id;
    for (const char* k : c.keys)
      if (k != nullptr) {
        EXPECT_TRUE(keys.insert(k).second) << "accelerator used twice: " << k;
      }
  }
  for (MenuId m : {MenuId::File, MenuId::Edit, MenuId::View, MenuId::Go, MenuId::Bookmarks,
                   MenuId::Tools, MenuId::Window, MenuId::Help}) {
    for (std::uint16_t id : Command_MenuItems(m)) {
      if (id == 0 || id == kMenuRecentFiles) continue;
      const CommandInfo* c = Command_Find(id);
      ASSERT_NE(c, nullptr) << id;
      EXPECT_EQ(c->menu, m) << id;
    }
  }
  // Every command with a menu is listed in that menu.
  for (const CommandInfo& c : Command_Table()) {
    if (c.menu == MenuId::None) continue;
    bool listed = false;
    for (std::uint16_t id : Command_MenuItems(c.menu))
      listed = listed || id == c.id;
    EXPECT_TRUE(listed) << c.text;
  }
}

TEST(CommandTable, AcceleratorsOfTheMainWindow) {
  struct Case {
    const char* key;
    std::uint16_t id;
  } cases[] = {
      {"Ctrl+B", Cmd::AddBookmark},
      {"Ctrl+C", Cmd::Copy},
      {"Ctrl+Ins", Cmd::Copy},
      {"Ctrl+E", Cmd::EditBookmarks},
      {"Ctrl+F", Cmd::Find},
      {"Ctrl+G", Cmd::FindAgain},
      {"Ctrl+I", Cmd::DocumentInformation},
      {"Ctrl+J", Cmd::JumpToMark},
      {"Ctrl+K", Cmd::Bookmarks},
      {"Ctrl+M", Cmd::MarkLocation},
      {"Ctrl+O", Cmd::Open},
      {"Ctrl+P", Cmd::Print},
      {"Ctrl+S", Cmd::SaveAs},
      {"Ctrl+T", Cmd::Autoscroll},
      {"Ctrl+V", Cmd::Paste},
      {"Shift+Ins", Cmd::Paste},
      {"Ctrl+X", Cmd::Cut},
      {"Shift+Del", Cmd::Cut},
      {"Ctrl+Z", Cmd::Undo},
      {"Alt+Backspace", Cmd::Undo},
      {"F1", Cmd::Help},
      {"Shift+F1", Cmd::ContextHelp},
      {"F6", Cmd::NextPane},
      {"Shift+F6", Cmd::PreviousPane},
      {"F11", Cmd::FullScreen},
      {"Alt+Home", Cmd::Home},
      {"Alt+Left", Cmd::Back},
      {"Alt+Right", Cmd::Forward},
      {"Ctrl+PgUp", Cmd::PreviousPage},
      {"Ctrl+PgDown", Cmd::NextPage},
  };
  for (const Case& c : cases) {
    const CommandInfo* info = Command_Find(c.id);
    ASSERT_NE(info, nullptr);
    const bool has = (info->keys[0] && std::string(info->keys[0]) == c.key) ||
                     (info->keys[1] && std::string(info->keys[1]) == c.key);
    EXPECT_TRUE(has) << c.key << " -> " << c.id;
  }
}

// The three states every rule is checked in, then the states that move one
// rule at a time.
CommandState NoDocument() {
  CommandState s;
  s.storeOpen = true;
  s.hasCategory = true;
  return s;
}
CommandState Document() {
  CommandState s = NoDocument();
  s.hasView = s.hasTextView = s.hasHandler = true;
  s.savedPosition = 0xFFFFFFFFu;
  s.backEmpty = s.forwardEmpty = true;
  s.page = 1;
  s.pageCount = 3;
  return s;
}
CommandState Selection() {
  CommandState s = Document();
  s.viewMode = ViewMode::Select;
  return s;
}

TEST(CommandUpdate, NoDocumentDocumentSelection) {
  struct Case {
    std::uint16_t id;
    bool none, doc, sel;
  } cases[] = {
      {Cmd::Open, true, true, true},
      {Cmd::OpenCategorized, true, true, true},
      {Cmd::Close, false, true, true},
      {Cmd::Exit, true, true, true},
      {Cmd::SaveAs, false, true, true},
      {Cmd::PrintSetup, true, true, true},
      {Cmd::Print, false, true, true},
      {Cmd::PrintDirect, false, true, true},
      {Cmd::PrintPreview, false, true, true},
      {Cmd::Copy, false, false, true},
      {Cmd::CopyEntireScreen, false, true, true},
      {Cmd::CopyEntirePage, false, true, true},
      {Cmd::CopyEntireDocument, false, true, true},
      {Cmd::SelectMode, false, true, true},
      {Cmd::Find, false, true, true},
      {Cmd::FindAgain, false, false, false},
      {Cmd::Annotate, false, false, true},
      {Cmd::ViewAnnotations, false, false, false},
      {Cmd::AnnotationSettings, false, true, true},
      {Cmd::Toolbar, true, true, true},
      {Cmd::StatusBar, true, true, true},
      {Cmd::FullScreen, true, true, true},
      {Cmd::DocumentInformation, false, true, true},
      {Cmd::Categories, false, true, true},
      {Cmd::GoTo, false, true, true},
      {Cmd::GoToButton, false, true, true},
      {Cmd::Home, false, true, true},
      {Cmd::Back, false, false, false},
      {Cmd::Forward, false, false, false},
      {Cmd::PreviousPage, false, false, false},
      {Cmd::NextPage, false, true, true},
      {Cmd::Autoscroll, false, true, true},
      {Cmd::AddBookmark, false, true, true},
      {Cmd::EditBookmarks, false, true, true},
      {Cmd::Bookmarks, false, false, false},
      {Cmd::MarkLocation, false, true, true},
      {Cmd::JumpToMark, false, false, false},
      {Cmd::ClearHistory, false, false, false},
      {Cmd::Options, true, true, true},
      {Cmd::Cascade, false, true, true},
      {Cmd::HelpContents, true, true, true},
      {Cmd::SystemInformation, true, true, true},
      {Cmd::Cut, false, false, false},
      {Cmd::Paste, false, false, false},
      {Cmd::Undo, false, false, false},
      {Cmd::NextPane, false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Command_Update(c.id, NoDocument()).enabled, c.none) << c.id << " no document";
    EXPECT_EQ(Command_Update(c.id, Document()).enabled, c.doc) << c.id << " document";
    EXPECT_EQ(Command_Update(c.id, Selection()).enabled, c.sel) << c.id << " selection";
  }
  EXPECT_FALSE(Command_Update(Cmd::SelectMode, Document()).checked);
  EXPECT_TRUE(Command_Update(Cmd::SelectMode, Selection()).checked);
}

TEST(CommandUpdate, RulesThatReadTheViewsQueries) {
  struct Case {
    const char* what;
    void (*change)(CommandState&);
    std::uint16_t id;
    bool enabled;
  } cases[] = {
      {"mark set", [](CommandState& s) { s.savedPosition = 0; }, Cmd::JumpToMark, true},
      {"mark query failed", [](CommandState& s) { s.savedPosition.reset(); }, Cmd::JumpToMark,
       false},
      {"history behind", [](CommandState& s) { s.backEmpty = false; }, Cmd::Back, true},
      {"history behind", [](CommandState& s) { s.backEmpty = false; }, Cmd::ClearHistory, true},
      {"history behind", [](CommandState& s) { s.backEmpty = false; }, Cmd::Forward, false},
      {"history ahead", [](CommandState& s) { s.forwardEmpty = false; }, Cmd::Forward, true},
      {"history ahead", [](CommandState& s) { s.forwardEmpty = false; }, Cmd::ClearHistory, true},
      {"no handler", [](CommandState& s) { s.hasHandler = false, s.backEmpty = false; }, Cmd::Back,
       false},
      {"no handler", [](CommandState& s) { s.hasHandler = false; }, Cmd::NextPage, false},
      {"no handler", [](CommandState& s) { s.hasHandler = false, s.forwardEmpty = false; },
       Cmd::ClearHistory, false},
      {"searched", [](CommandState& s) { s.viewMode |= ViewMode::Searched; }, Cmd::FindAgain, true},
      {"bookmarks", [](CommandState& s) { s.anyBookmarks = true; }, Cmd::Bookmarks, true},
      {"bookmarks, no handler",
       [](CommandState& s) { s.anyBookmarks = true, s.hasHandler = false; }, Cmd::Bookmarks, false},
      {"bookmarks, no text view",
       [](CommandState& s) { s.anyBookmarks = true, s.hasTextView = false; }, Cmd::Bookmarks,
       false},
      {"annotations", [](CommandState& s) { s.anyAnnotations = true; }, Cmd::ViewAnnotations, true},
      {"middle page", [](CommandState& s) { s.page = 2; }, Cmd::PreviousPage, true},
      {"middle page", [](CommandState& s) { s.page = 2; }, Cmd::NextPage, true},
      {"last page", [](CommandState& s) { s.page = 3; }, Cmd::NextPage, false},
      {"last page", [](CommandState& s) { s.page = 3; }, Cmd::PreviousPage, true},
      {"one page", [](CommandState& s) { s.pageCount = 1; }, Cmd::NextPage, false},
      {"store closed", [](CommandState& s) { s.storeOpen = false; }, Cmd::OpenCategorized, false},
      {"no category", [](CommandState& s) { s.hasCategory = false; }, Cmd::OpenCategorized, false},
      {"page query failed", [](CommandState& s) { s.page.reset(); }, Cmd::GoToButton, false},
      {"percent mode", [](CommandState& s) { s.viewMode |= ViewMode::Percent, s.percent = 40; },
       Cmd::GoToButton, true},
      {"percent query failed", [](CommandState& s) { s.viewMode |= ViewMode::Percent; },
       Cmd::GoToButton, false},
  };
  for (const Case& c : cases) {
    CommandState s = Document();
    c.change(s);
    EXPECT_EQ(Command_Update(c.id, s).enabled, c.enabled) << c.what << " " << c.id;
  }
}

TEST(CommandUpdate, FailedPageQueryLeavesThePageCommandsAsTheyWere) {
  CommandState s = Document();
  s.pageCount.reset();
  EXPECT_TRUE(Command_Update(Cmd::PreviousPage, s).keep);
  EXPECT_TRUE(Command_Update(Cmd::NextPage, s).keep);
  s.hasHandler = false;  // without a handler they are greyed whatever the query
  EXPECT_FALSE(Command_Update(Cmd::NextPage, s).keep);
  EXPECT_FALSE(Command_Update(Cmd::NextPage, s).enabled);
}

TEST(CommandUpdate, ChecksAndTheGoToButtonText) {
  CommandState s = NoDocument();
  s.toolbarShown = false;
  s.fullScreen = true;
  EXPECT_FALSE(Command_Update(Cmd::Toolbar, s).checked);
  EXPECT_TRUE(Command_Update(Cmd::StatusBar, s).checked);
  EXPECT_TRUE(Command_Update(Cmd::FullScreen, s).checked);
  EXPECT_EQ(Command_GoToButtonText(s), "");
  s = Document();
  s.page = 2;
  s.pageCount = 17;
  EXPECT_EQ(Command_GoToButtonText(s), "Page 2 of 17");
  s.viewMode = ViewMode::Percent;
  s.percent = 42;
  EXPECT_EQ(Command_GoToButtonText(s), "42%");
}

TEST(GoTo, EachAnswerMakesItsMove) {
  struct Case {
    int result;
    std::uint32_t value;
    bool moves;
    std::uint16_t code;
    std::uint32_t argument;
  } cases[] = {
      {GoToResult::Page, 7, true, 17, 7},      {GoToResult::FirstPage, 7, true, 17, 1},
      {GoToResult::LastPage, 7, true, 17, 12}, {GoToResult::Percent, 55, true, 27, 55},
      {GoToResult::TopOfPage, 7, true, 13, 0}, {GoToResult::EndOfPage, 7, true, 14, 0},
      {GoToResult::Cancel, 7, false, 0, 0},    {1030, 7, false, 0, 0},
  };
  for (const Case& c : cases) {
    const auto move = Command_GoToMove(c.result, c.value, 12);
    ASSERT_EQ(move.has_value(), c.moves) << c.result;
    if (move) {
      EXPECT_EQ(move->code, c.code) << c.result;
      EXPECT_EQ(move->argument, c.argument) << c.result;
    }
  }
}

TEST(AutoScroll, RateForEachSpeed) {
  struct Case {
    std::uint8_t speed;
    std::uint32_t rate;
  } cases[] = {{1, 8}, {10, 327}, {20, 6021}, {0, 327}, {21, 6021}, {255, 6021}, {2, 24}};
  for (const Case& c : cases)
    EXPECT_EQ(AutoScroll_Rate(c.speed), c.rate) << int(c.speed);
  EXPECT_EQ(AutoScroll_ClampSpeed(0), 10);
  EXPECT_EQ(AutoScroll_ClampSpeed(30), 20);
  EXPECT_EQ(AutoScroll_ClampSpeed(7), 7);
  // Every speed is faster than the one below it.
  for (std::uint8_t s = 2; s <= 20; ++s)
    EXPECT_GT(AutoScroll_Rate(s), AutoScroll_Rate(s - 1)) << int(s);
}

TEST(AutoScroll, FractionsCarryOverAndAStallCannotWrap) {
  AutoScrollTiming t;
  t.Start(327, 1000);  // speed 10: about 5 pixels a second
  std::uint64_t owed = t.Owed(1100);
  EXPECT_EQ(owed, 32700u);  // under one pixel: nothing yet
  EXPECT_EQ(AutoScrollTiming::WholePixels(owed), 0);
  owed = t.Owed(1300);  // 300 ms: 4.99 pixels
  EXPECT_EQ(AutoScrollTiming::WholePixels(owed), 1);
  t.Scrolled(1300, owed, 1);
  EXPECT_EQ(t.remainder, 300u * 327 - 65536);
  EXPECT_EQ(t.tick, 1300u);
  // Across the clock's wrap the time is still a short one.
  t.Start(6021, 0xFFFFFFF0u);
  EXPECT_EQ(t.Owed(0x10u), 32u * 6021);
  // A stall of many minutes: the pixels are capped and the debt is not kept.
  t.Start(6021, 0);
  owed = t.Owed(3'600'000);
  EXPECT_EQ(AutoScrollTiming::WholePixels(owed), 0x7FFF);
  t.Scrolled(3'600'000, owed, 0x7FFF);
  EXPECT_LE(t.remainder, 0xFFFFu);
}

TEST(AutoScroll, SpeedDragStartsAfterAWholeStep) {
  SpeedDrag drag{320, false};         // pressed at y 320, client 320 high: steps of 20
  EXPECT_EQ(drag.Move(305, 320), 0);  // less than a step: no drag
  EXPECT_FALSE(drag.started);
  EXPECT_EQ(drag.Move(299, 320), 1);  // one step up
  EXPECT_TRUE(drag.started);
  EXPECT_EQ(drag.referenceY, 300);
  EXPECT_EQ(drag.Move(250, 320), 2);  // two more, the rest kept for later
  EXPECT_EQ(drag.referenceY, 260);
  EXPECT_EQ(drag.Move(319, 320), -2);  // back down two steps
  EXPECT_EQ(drag.referenceY, 300);
  EXPECT_EQ(drag.Move(310, 0), 0);  // no client height: no steps
}

TEST(Wheel, HighResolutionDeltasGatherIntoNotches) {
  WheelAccumulator w;
  EXPECT_EQ(w.Add(40), 0);
  EXPECT_EQ(w.Add(40), 0);
  EXPECT_EQ(w.Add(40), 1);  // three thirds make a notch
  EXPECT_EQ(w.pending(), 0);
  EXPECT_EQ(w.Add(300), 2);
  EXPECT_EQ(w.pending(), 60);
  EXPECT_EQ(w.Add(-30), 0);  // a turn drops the part gathered the other way
  EXPECT_EQ(w.pending(), -30);
  EXPECT_EQ(w.Add(-90), -1);
  EXPECT_EQ(w.Add(0), 0);  // no movement scrolls nothing
  EXPECT_EQ(w.Add(-240), -2);
}

TEST(Wheel, LineCountPlans) {
  struct Case {
    int lines;
    WheelPlan::Kind kind;
    std::uint32_t count;
  } cases[] = {{-1, WheelPlan::Screen, 0},   {0, WheelPlan::Nothing, 0},
               {3, WheelPlan::Lines, 3},     {100, WheelPlan::Lines, 100},
               {250, WheelPlan::Lines, 100}, {-5, WheelPlan::Lines, 100}};
  for (const Case& c : cases) {
    const WheelPlan p = Wheel_Plan(c.lines);
    EXPECT_EQ(p.kind, c.kind) << c.lines;
    EXPECT_EQ(p.lines, c.count) << c.lines;
  }
}

TEST(ArrowKeys, EachChoiceOfEachKey) {
  using A = ArrowAction;
  using K = ArrowKey;
  struct Case {
    K key;
    std::uint8_t choice;
    A action;
  } cases[] = {
      {K::Up, 0, A::ScreenUp},     {K::Up, 1, A::LineUp},       {K::Up, 2, A::LineDown},
      {K::Up, 3, A::ScreenDown},   {K::Up, 9, A::ScreenUp},     {K::Down, 0, A::ScreenUp},
      {K::Down, 1, A::LineUp},     {K::Down, 2, A::LineDown},   {K::Down, 3, A::ScreenDown},
      {K::Down, 9, A::ScreenDown}, {K::Left, 0, A::PageLeft},   {K::Left, 1, A::LineLeft},
      {K::Left, 2, A::LineRight},  {K::Left, 3, A::PageRight},  {K::Left, 9, A::PageLeft},
      {K::Right, 0, A::PageLeft},  {K::Right, 1, A::LineLeft},  {K::Right, 2, A::LineRight},
      {K::Right, 3, A::PageRight}, {K::Right, 9, A::PageRight},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Arrow_Action(c.key, c.choice), c.action) << int(c.key) << " choice " << int(c.choice);
}

}  // namespace
