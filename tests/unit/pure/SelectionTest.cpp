#include <gtest/gtest.h>

#include <string>
#include <vector>

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
