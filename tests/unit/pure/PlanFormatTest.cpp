// The plan as support staff read it, one line per rule, and the JSON quoting
// under it.
#include <gtest/gtest.h>

#include <functional>

#include "platform/core/Json.h"
#include "authoring/PlanFormat.h"

using namespace prereq;

namespace {

TEST(PlanFormat, ActionAndMachineNames) {
  const std::pair<int, std::wstring> actions[] = {
      {0, L"installed"},
      {1, L"run the shipped file"},
      {2, L"download, then run"},
      {3, L"open the site for a manual download"},
      {4, L"not applicable on this system"},
      {5, L"run the file already downloaded"},
      {6, L"undefined"},
      {7, L"not selected: nothing happens"},
      {8, L"undefined"},
  };
  for (const auto& [action, name] : actions) EXPECT_EQ(ActionName(action), name) << action;
  const std::pair<uint32_t, std::wstring> machines[] = {
      {0x14C, L"x86"}, {0x8664, L"x64"}, {0xAA64, L"ARM64"}, {0x1C4, L"ARM"}, {0x8665, L"0x8665"}};
  for (const auto& [machine, name] : machines) EXPECT_EQ(MachineName(machine), name) << machine;
}

// One change to a plan of one prerequisite, and the line the text then holds.
TEST(PlanFormat, TextLines) {
  struct Case {
    const char* name;
    std::function<void(Plan&)> change;
    std::wstring line;
  };
  auto search = [](int type, std::wstring kind) {
    PlanSearch s;
    s.number = 1;
    s.type = type;
    s.kindName = std::move(kind);
    s.searchString = L"HKLM\\A";
    s.ran = true;
    return s;
  };
  const Case cases[] = {
      {"selected", [](Plan& p) { p.prereqs[0].selected = true; }, L"  selected: yes\n"},
      {"selected_by_parent", [](Plan& p) { p.prereqs[0].parentPrereq = L"Base"; },
       L"  selected: no (parent \"Base\")\n"},
      {"run", [](Plan& p) { p.prereqs[0].action = 1; },
       L"  action: run the shipped file: run \"C:\\x.exe\" with NoUiCommandLine \"/q\"\n"},
      {"download", [](Plan& p) { p.prereqs[0].action = 2; },
       L"  action: download, then run: download \"http://h/x.exe\" to \"C:\\dl\\x.exe\", then run it with "
       L"NoUiCommandLine \"/q\"\n"},
      {"site", [](Plan& p) { p.prereqs[0].action = 3; },
       L"  action: open the site for a manual download: open \"http://h/x.exe\" in the browser\n"},
      {"addresses", [](Plan& p) { p.prereqs[0].addresses = {L"http://h/x.exe", L"http://m/x.exe"}; },
       L"  addresses, tried in this order:\n    1. \"http://h/x.exe\"\n    2. \"http://m/x.exe\"\n"},
      {"processor", [](Plan& p) { p.machine.nativeMachineKnown = true; p.machine.nativeMachine = 0x8664; },
       L"  processor: x64\n"},
      {"not_applicable", [](Plan& p) { p.prereqs[0].state = 4; }, L"  conditions:\n"},
      {"operator_1", [](Plan& p) { p.prereqs[0].operatorValue = 1; },
       L"  searches (Operator 1, one is enough):\n    none\n"},
      {"operator_2", [](Plan& p) { p.prereqs[0].operatorValue = 2; }, L"(Operator 2, never installed)"},
      {"skipped", [](Plan& p) { p.prereqs[0].detectionSkipped = true; }, L"    skipped: option \"i\"\n"},
      {"not_run", [&](Plan& p) { p.prereqs[0].searches = {search(5, L"registry key")}; p.prereqs[0].searches[0].ran = false; },
       L"    1. SearchType 5 registry key \"HKLM\\A\": not run, the result was already decided\n"},
      {"no_kind", [&](Plan& p) { p.prereqs[0].searches = {search(77, L"")}; },
       L"    1. SearchType 77 (no such kind) \"HKLM\\A\": runs nothing, counts as found\n"},
      {"range", [&](Plan& p) {
         PlanSearch s = search(2, L"file version");
         s.byRange = true;
         s.values = {L"1.2", L"1.3"};
         s.verMin = L"1.0";
         s.found = true;
         p.prereqs[0].searches = {s};
       },
       L": found \"1.2\", \"1.3\"; bounds 1.0 to - -> found\n"},
      {"compare", [&](Plan& p) {
         PlanSearch s = search(9, L"registry value compare");
         s.refContent = L"G5";
         p.prereqs[0].searches = {s};
       },
       L": value not read, compared with \"G5\" -> not found\n"},
      {"command", [&](Plan& p) {
         PlanSearch s = search(10, L"detection program");
         s.searchCmdLine = L"detect.exe";
         p.prereqs[0].searches = {s};
       },
       L": ran with \"detect.exe\" -> not found\n"},
      {"to_obtain", [](Plan& p) { p.anyToObtain = true; }, L"A run would obtain and install the selected prerequisites.\n"},
  };
  for (const Case& c : cases) {
    Plan plan;
    plan.prereqs.resize(1);
    PlanPrerequisite& p = plan.prereqs[0];
    p.number = 1;
    p.runPath = L"C:\\x.exe";
    p.url = L"http://h/x.exe";
    p.target = L"C:\\dl\\x.exe";
    p.commandLineKey = L"NoUiCommandLine";
    p.commandLine = L"/q";
    c.change(plan);
    const std::wstring text = FormatPlanText(plan);
    EXPECT_NE(text.find(c.line), std::wstring::npos) << c.name << "\n" << std::string(text.begin(), text.end());
    if (std::string(c.name) == "not_applicable") {
      EXPECT_EQ(text.find(L"  searches ("), std::wstring::npos);
    }
  }
}

TEST(JsonQuote, ControlCharactersAndQuotes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string(1, '\0'), "\"\\u0000\""},
      {"\x1F", "\"\\u001f\""},
      {"\x10", "\"\\u0010\""},
      {"\x20\x7F", "\"\x20\x7F\""},
      {"\xC3\xA9", "\"\xC3\xA9\""},  // UTF-8 as it is
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(JsonQuote(text), quoted) << quoted;
}

}  // namespace
