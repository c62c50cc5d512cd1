#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SelectionReference.h"
#include "evaluation/Selection.h"
#include "platform/core/Exception.h"

using namespace prereq;

namespace {

using S = PrereqState;

struct Item {
  std::wstring name;
  std::wstring parent;
  S state;
  bool selected = false;
};

struct Fixture {
  PrereqList list;
  std::vector<std::wstring> log;

  explicit Fixture(const std::vector<Item>& items) {
    for (const Item& item : items) {
      Prerequisite p;
      p.DisplayName = item.name;
      p.ParentPrereq = item.parent;
      p.state = item.state;
      p.selected = item.selected;
      list.prereqs.push_back(p);
    }
  }
  void Set(size_t index, bool flag) {
    SetSelectedWithLog(list, index, flag, [this](std::wstring_view line) { log.emplace_back(line); });
  }
  std::vector<bool> Selected() const {
    std::vector<bool> out;
    for (const Prerequisite& p : list.prereqs) out.push_back(p.selected);
    return out;
  }
};

std::wstring Line(const std::wstring& name) { return L"Prerequisite selected for install:" + name; }

TEST(SetSelected, ParentLinks) {
  struct Case {
    const char* what;
    std::vector<Item> items;
    size_t index;
    bool flag;
    std::vector<bool> selected;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"plain selection logs the name",
       {{L"A", L"", S::Download}},
       0, true, {true}, {Line(L"A")}},
      {"no change, no line",
       {{L"A", L"", S::Download, true}},
       0, true, {true}, {}},
      {"clearing logs the same line",
       {{L"A", L"", S::Download, true}},
       0, false, {false}, {Line(L"A")}},
      {"a selected child selects its parent that needs installing",
       {{L"P", L"", S::FromPackage}, {L"C", L"P", S::Download}},
       1, true, {true, true}, {Line(L"C"), Line(L"P")}},
      {"an installed or unsupported parent stays as it is",
       {{L"P", L"", S::Installed}, {L"Q", L"", S::OsNotSupported}, {L"C", L"P", S::Download},
        {L"D", L"Q", S::Download}},
       2, true, {false, false, true, false}, {Line(L"C")}},
      {"selecting a parent selects the children that must be obtained",
       {{L"P", L"", S::Download}, {L"C1", L"P", S::OpenSite}, {L"C2", L"P", S::Installed},
        {L"C3", L"P", S::FromPackage}},
       0, true, {true, true, false, true}, {Line(L"P"), Line(L"C1"), Line(L"C3")}},
      {"an installed child that was selected is deselected with the parent's selection",
       {{L"P", L"", S::Download}, {L"C", L"P", S::Installed, true}},
       0, true, {true, false}, {Line(L"P"), Line(L"C")}},
      {"deselecting the parent deselects every child, grandchildren too",
       {{L"P", L"", S::Download, true}, {L"C", L"P", S::Download, true},
        {L"G", L"C", S::Download, true}, {L"X", L"", S::Download, true}},
       0, false, {false, false, false, true}, {Line(L"P"), Line(L"C"), Line(L"G")}},
      {"unsupported children are left alone",
       {{L"P", L"", S::Download, true}, {L"C", L"P", S::OsNotSupported, true}},
       0, false, {false, true}, {Line(L"P")}},
      {"the parent name is compared exactly",
       {{L"p", L"", S::Download}, {L"P", L"", S::Download}, {L"C", L"P", S::Download}},
       2, true, {false, true, true}, {Line(L"C"), Line(L"P")}},
      {"the first prerequisite of the parent's name is the parent",
       {{L"P", L"", S::Download}, {L"P", L"", S::Download}, {L"C", L"P", S::Download}},
       2, true, {true, false, true}, {Line(L"C"), Line(L"P")}},
      {"a parent that does not exist is logged and ignored",
       {{L"C", L"Missing", S::Download}},
       0, true, {true}, {Line(L"C"), L"Parent prerequisite not found:Missing"}},
      {"a link cycle ends",
       {{L"A", L"B", S::Download}, {L"B", L"A", S::Download}},
       0, true, {true, true}, {Line(L"A"), Line(L"B")}},
      {"a prerequisite that is its own parent",
       {{L"A", L"A", S::Download}},
       0, true, {true}, {Line(L"A")}},
  };
  for (const Case& c : cases) {
    Fixture f(c.items);
    EXPECT_NO_THROW(f.Set(c.index, c.flag)) << c.what;
    EXPECT_EQ(f.Selected(), c.selected) << c.what;
    EXPECT_EQ(f.log, c.log) << c.what;
  }
}

// Shapes of links; every start and both flags, from no selection and from a
// selection left by an earlier run: the walk gives the lines and flags of the
// rule written as a recursion.
TEST(SetSelected, WalkAgreesWithTheRecursionOnEveryShape) {
  struct Shape {
    const char* what;
    std::vector<Item> items;
  };
  const Shape shapes[] = {
      {"chain towards the front",
       {{L"A", L"B", S::Download}, {L"B", L"C", S::FromPackage}, {L"C", L"D", S::OpenSite},
        {L"D", L"", S::Download}}},
      {"chain towards the back",
       {{L"D", L"", S::Download}, {L"C", L"D", S::Download}, {L"B", L"C", S::Download},
        {L"A", L"B", S::Download}}},
      {"chain broken by an installed link",
       {{L"A", L"B", S::Download}, {L"B", L"C", S::Installed}, {L"C", L"D", S::Download},
        {L"D", L"", S::Download}}},
      {"chain broken by an unsupported link",
       {{L"A", L"B", S::Download}, {L"B", L"C", S::OsNotSupported}, {L"C", L"", S::Download}}},
      {"tree",
       {{L"R", L"", S::Download}, {L"A", L"R", S::Download}, {L"B", L"R", S::Installed},
        {L"A1", L"A", S::Download}, {L"A2", L"A", S::OpenSite}, {L"B1", L"B", S::Download},
        {L"C", L"R", S::FromPackage}, {L"C1", L"C", S::OsNotSupported}}},
      {"cycle of three",
       {{L"A", L"B", S::Download}, {L"B", L"C", S::Download}, {L"C", L"A", S::Download}}},
      {"cycle with an installed member",
       {{L"A", L"B", S::Download}, {L"B", L"C", S::Installed}, {L"C", L"A", S::Download}}},
      {"cycle with a tail",
       {{L"T", L"A", S::Download}, {L"A", L"B", S::Download}, {L"B", L"A", S::FromPackage}}},
      {"own parent among others",
       {{L"A", L"A", S::Download}, {L"B", L"A", S::Download}}},
      {"missing parents",
       {{L"A", L"Nobody", S::Download}, {L"B", L"A", S::Download}, {L"C", L"Gone", S::Installed}}},
      {"repeated names",
       {{L"X", L"Q", S::Download}, {L"X", L"I", S::Download}, {L"D", L"X", S::Download},
        {L"Q", L"", S::Download}, {L"I", L"Q", S::Installed}, {L"I", L"Q", S::Download}}},
      {"empty names",
       {{L"", L"", S::Download}, {L"A", L"", S::Download}, {L"B", L"A", S::Installed}}},
  };
  for (const Shape& shape : shapes) {
    for (int start = 0; start < 2; ++start) {
      for (size_t index = 0; index < shape.items.size(); ++index) {
        for (bool flag : {true, false}) {
          Fixture walk(shape.items);
          Fixture recursion(shape.items);
          // The second start: every prerequisite selected as an earlier run left it.
          for (size_t i = 0; start == 1 && i < shape.items.size(); ++i)
            walk.list.prereqs[i].selected = recursion.list.prereqs[i].selected = i % 2 == 0;
          walk.Set(index, flag);
          oracle::RecursiveSelection(recursion.list,
                                      [&](std::wstring_view line) { recursion.log.emplace_back(line); },
                                      1000)
              .Set(index, flag);
          const std::string what = std::string(shape.what) + ", start " + std::to_string(start) +
                                   ", index " + std::to_string(index) + (flag ? ", set" : ", clear");
          EXPECT_EQ(walk.log, recursion.log) << what;
          EXPECT_EQ(walk.Selected(), recursion.Selected()) << what;
        }
      }
    }
  }
}

// Far deeper than any stack would take one call per link.
TEST(SetSelected, DeepChainsAreWalkedWithoutRecursion) {
  constexpr size_t kDepth = 30000;
  auto name = [](size_t i) { return L"P" + std::to_wstring(i); };

  // Each prerequisite's parent is the next one: selecting the first climbs
  // to the last, one line per link, in link order.
  std::vector<Item> up;
  for (size_t i = 0; i < kDepth; ++i)
    up.push_back({name(i), i + 1 < kDepth ? name(i + 1) : L"", S::Download});
  Fixture climb(up);
  climb.Set(0, true);
  ASSERT_EQ(climb.log.size(), kDepth);
  for (size_t i = 0; i < kDepth; i += 2999) EXPECT_EQ(climb.log[i], Line(name(i)));
  EXPECT_EQ(climb.log.back(), Line(name(kDepth - 1)));
  EXPECT_EQ(climb.Selected(), std::vector<bool>(kDepth, true));

  // Deselecting the root of that chain reaches down to the first one.
  climb.log.clear();
  climb.Set(kDepth - 1, false);
  ASSERT_EQ(climb.log.size(), kDepth);
  EXPECT_EQ(climb.log.front(), Line(name(kDepth - 1)));
  EXPECT_EQ(climb.log.back(), Line(name(0)));
  EXPECT_EQ(climb.Selected(), std::vector<bool>(kDepth, false));

  // Each prerequisite's parent is the one before: selecting the root walks
  // down through the children; a cycle closes the chain on itself.
  std::vector<Item> down;
  for (size_t i = 0; i < kDepth; ++i) down.push_back({name(i), name(i == 0 ? kDepth - 1 : i - 1), S::Download});
  Fixture descend(down);
  descend.Set(0, true);
  ASSERT_EQ(descend.log.size(), kDepth);
  EXPECT_EQ(descend.log[1], Line(name(1)));
  EXPECT_EQ(descend.log.back(), Line(name(kDepth - 1)));
  EXPECT_EQ(descend.Selected(), std::vector<bool>(kDepth, true));
}

// Links that deselect and reselect each other for ever (possible only with
// states no evaluation gives): the walk stops and says where.
TEST(SetSelected, AWalkThatWouldRepeatItselfStops) {
  // X is to be obtained and has B as its parent; B, selected from before
  // and not to be obtained, has X as its parent. Selecting X deselects B as
  // its child, which deselects X; X's parent step then selects B again,
  // which would select X again as its child with every flag as it was when
  // X was first selected: from there the rule can only go round.
  Fixture f({{L"X", L"B", S::Download}, {L"B", L"X", S::Unset, true}});
  f.Set(0, true);
  const std::vector<std::wstring> expected = {
      Line(L"X"), Line(L"B"), Line(L"X"), Line(L"B"),
      L"Prerequisite links loop, selection stopped at:X"};
  EXPECT_EQ(f.log, expected);

  // The recursion on the same shape never comes to its end.
  Fixture r({{L"X", L"B", S::Download}, {L"B", L"X", S::Unset, true}});
  oracle::RecursiveSelection recursion(r.list, {}, 10000);
  recursion.Set(0, true);
  EXPECT_TRUE(recursion.Exhausted());
}

TEST(SetSelected, IndexOutsideTheListRaisesTheRangeError) {
  Fixture f({{L"A", L"", S::Download}});
  try {
    f.Set(1, true);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Code(), kErrorRange);
  }
  EXPECT_TRUE(f.log.empty());
}

}  // namespace
