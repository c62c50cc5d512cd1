#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "evaluation/FolderProperties.h"

using namespace prereq;

namespace {

std::string Narrow(std::wstring_view w) { return std::string(w.begin(), w.end()); }

// A resolver over fixed tables that records what it was asked for.
struct FakeMachine {
  std::map<std::wstring, std::wstring, std::less<>> folders{
      {L"A", L"C:\\A\\"},
      {L"Loop", L"[A]%E%!R!"},  // a value that looks like references
  };
  std::map<std::wstring, std::wstring, std::less<>> environment{
      {L"E", L"env"},
      {L"Loop", L"[A]"},
      {L"b", L"a"},
      {L"Empty", L""},  // defined, with an empty value
  };
  std::map<std::wstring, std::wstring, std::less<>> registry{
      {L"HKCU\\k\\v", L"reg"},
      {L"a", L"short"},
      {L"!x", L"bang"},
      {L"[A]", L"bracketed"},
  };
  std::vector<std::wstring> asked;

  ReferenceResolver Resolver() {
    ReferenceResolver r;
    r.folderProperty = [this](std::wstring_view name, std::wstring& value) {
      asked.push_back(L"[" + std::wstring(name) + L"]");
      auto it = folders.find(name);
      if (it == folders.end()) return false;
      value = it->second;
      return true;
    };
    r.environment = [this](std::wstring_view name, std::wstring& value) {
      asked.push_back(L"%" + std::wstring(name) + L"%");
      auto it = environment.find(name);
      if (it == environment.end()) return false;
      value = it->second;
      return true;
    };
    r.registry = [this](std::wstring_view path) {
      asked.push_back(L"!" + std::wstring(path) + L"!");
      auto it = registry.find(path);
      return it == registry.end() ? std::wstring() : it->second;
    };
    return r;
  }
};

struct ExpandCase {
  const wchar_t* text;
  const wchar_t* expanded;
  std::vector<std::wstring> asked;  // the references looked up, in order
};

void Check(const ExpandCase& c) {
  FakeMachine machine;
  EXPECT_EQ(Narrow(ExpandReferences(c.text, machine.Resolver())), Narrow(c.expanded))
      << "text: " << Narrow(c.text);
  std::string asked, expected;
  for (const auto& a : machine.asked) asked += Narrow(a) + " ";
  for (const auto& a : c.asked) expected += Narrow(a) + " ";
  EXPECT_EQ(asked, expected) << "text: " << Narrow(c.text);
}

TEST(ExpandReferences, FolderProperties) {
  const ExpandCase cases[] = {
      {L"", L"", {}},
      {L"plain\\path.exe", L"plain\\path.exe", {}},
      {L"[A]App\\setup.exe", L"C:\\A\\App\\setup.exe", {L"[A]"}},
      {L"x[A]y[A]", L"xC:\\A\\yC:\\A\\", {L"[A]", L"[A]"}},
      {L"[B]\\x", L"[B]\\x", {L"[B]"}},              // unrecognised: kept with brackets
      {L"[]", L"[]", {L"[]"}},
      {L"[a]", L"[a]", {L"[a]"}},                    // case-sensitive
      {L"[[A]", L"[[A]", {L"[[A]"}},                 // the name is "[A"
      {L"[A]]", L"C:\\A\\]", {L"[A]"}},              // a lone "]" is text
      {L"]x[A]", L"]xC:\\A\\", {L"[A]"}},
      {L"[", L"[", {}},                              // no closing bracket
      {L"x\\[A", L"x\\[A", {}},
      {L"[A]x[y", L"C:\\A\\x[y", {L"[A]"}},          // the rest after an unclosed one
      {L"[A%E%]", L"[A%E%]", {L"[A%E%]"}},           // not expanded inside a name
      {L"[Loop]", L"[A]%E%!R!", {L"[Loop]"}},        // values are not scanned again
  };
  for (const ExpandCase& c : cases) Check(c);
}

TEST(ExpandReferences, EnvironmentVariables) {
  const ExpandCase cases[] = {
      {L"%E%", L"env", {L"%E%"}},
      {L"a%E%b%E%c", L"aenvbenvc", {L"%E%", L"%E%"}},
      {L"%E%%E%", L"envenv", {L"%E%", L"%E%"}},
      {L"x%Empty%y", L"xy", {L"%Empty%"}},           // defined and empty
      {L"%%", L"%%", {L"%%"}},                       // the empty name is no variable
      {L"100%", L"100%", {}},
      {L"%E", L"%E", {}},
      {L"%E%50%", L"env50%", {L"%E%"}},
      {L"%Loop%", L"[A]", {L"%Loop%"}},              // not scanned again
      {L"%[A]%", L"%[A]%", {L"%[A]%"}},              // the first opener decides the kind
  };
  for (const ExpandCase& c : cases) Check(c);
}

TEST(ExpandReferences, UndefinedVariablesStayAsWritten) {
  // As the command processor does: "%NAME" stays and the scan goes on at the
  // second sign, which may open the next reference.
  const ExpandCase cases[] = {
      {L"x%UNDEFINED%y", L"x%UNDEFINED%y", {L"%UNDEFINED%"}},
      {L"http://host/My%20Setup%20v2.exe", L"http://host/My%20Setup%20v2.exe", {L"%20Setup%"}},
      {L"a%20b%20c%20d", L"a%20b%20c%20d", {L"%20b%", L"%20c%"}},
      {L"%a %b% c%", L"%a a c%", {L"%a %", L"%b%"}},
      {L"%UNDEF%E%", L"%UNDEFenv", {L"%UNDEF%", L"%E%"}},
      {L"%20%E%x", L"%20envx", {L"%20%", L"%E%"}},
      {L"%%E%", L"%env", {L"%%", L"%E%"}},
      {L"%%%", L"%%%", {L"%%", L"%%"}},
      // The second sign without a partner is text; what follows is scanned.
      {L"%U%[A]", L"%U%C:\\A\\", {L"%U%", L"[A]"}},
      {L"%U%!a!", L"%U%short", {L"%U%", L"!a!"}},
      {L"%U% 100%[A]", L"%U% 100%C:\\A\\", {L"%U%", L"% 100%", L"[A]"}},
      {L"%U![A]%", L"%U![A]%", {L"%U![A]%"}},
      {L"%e%", L"%e%", {L"%e%"}},  // names with case: "e" is not "E"
  };
  for (const ExpandCase& c : cases) Check(c);
}

TEST(ExpandReferences, RegistryReferences) {
  const ExpandCase cases[] = {
      {L"!HKCU\\k\\v!", L"reg", {L"!HKCU\\k\\v!"}},
      {L"<!HKCU\\k\\missing!>", L"<>", {L"!HKCU\\k\\missing!"}},
      {L"!a!", L"short", {L"!a!"}},
      // The closing sign is looked for from the second character after the
      // opening one: "!!" does not close, "!!x!" names "!x".
      {L"!!", L"!!", {}},
      {L"!!x!", L"bang", {L"!!x!"}},
      {L"x!!", L"x!!", {}},
      {L"!", L"!", {}},
      {L"x!", L"x!", {}},
      {L"!a", L"!a", {}},
      {L"!ab", L"!ab", {}},
      {L"![A]!", L"bracketed", {L"![A]!"}},
      {L"!a!!a!", L"shortshort", {L"!a!", L"!a!"}},
  };
  for (const ExpandCase& c : cases) Check(c);
}

TEST(ExpandReferences, MixedKinds) {
  const ExpandCase cases[] = {
      {L"[A]%E%!a!", L"C:\\A\\envshort", {L"[A]", L"%E%", L"!a!"}},
      {L"%E%[A]x[B]!a!%", L"envC:\\A\\x[B]short%", {L"%E%", L"[A]", L"[B]", L"!a!"}},
      {L"[A]!unclosed %E%", L"C:\\A\\!unclosed %E%", {L"[A]"}},
  };
  for (const ExpandCase& c : cases) Check(c);
}

TEST(ExpandReferences, MissingResolversLeaveFoldersAndVariablesAndDropTheRest) {
  EXPECT_EQ(Narrow(ExpandReferences(L"[A]x%E%y!a!z", ReferenceResolver{})), "[A]x%E%yz");
}

}  // namespace
