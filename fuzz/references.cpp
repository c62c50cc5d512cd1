// The reference expansion ([Folder], %NAME%, !ROOT\key\value!) with a fake
// environment and registry. Properties: a resolver that answers every
// reference with its own text gives the input back unchanged (so the scanner
// never loses, doubles or rescans text); a text without an opening sign is
// returned as it is; replacement values are never scanned again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "evaluation/FolderProperties.h"

using namespace prereq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);

  // A machine whose values are themselves full of references.
  ReferenceResolver fake;
  fake.folderProperty = [](std::wstring_view name, std::wstring& value) {
    if (name == L"WindowsFolder") value = L"C:\\Windows\\";
    else if (name == L"Loop") value = L"[Loop]%PATH%!HKLM\\x\\y!";
    else return false;
    return true;
  };
  fake.environment = [](std::wstring_view name, std::wstring& value) {
    if (name == L"PATH") value = L"C:\\bin;%PATH%";
    else if (name == L"EMPTY") value.clear();
    else if (name.size() == 1) value = L"[" + std::wstring(name) + L"]";
    else return false;  // not defined: the reference stays as written
    return true;
  };
  fake.registry = [](std::wstring_view path) { return L"!" + std::wstring(path) + L"!%X%"; };
  const std::wstring expanded = ExpandReferences(text, fake);
  if (text.find_first_of(L"[%!") == std::wstring::npos)
    fuzz::Check(expanded == text, "text without references changed");

  // Every reference answered with its own text: the identity.
  ReferenceResolver echo;
  echo.folderProperty = [](std::wstring_view, std::wstring&) { return false; };
  echo.environment = [](std::wstring_view name, std::wstring& value) {
    value = L"%" + std::wstring(name) + L"%";
    return true;
  };
  echo.registry = [](std::wstring_view path) { return L"!" + std::wstring(path) + L"!"; };
  fuzz::Check(ExpandReferences(text, echo) == text, "echoing resolver changed the text");

  // Every reference answered with nothing: never longer than the input.
  ReferenceResolver none;
  none.folderProperty = [](std::wstring_view, std::wstring& value) {
    value.clear();
    return true;
  };
  fuzz::Check(ExpandReferences(text, none).size() <= text.size(), "empty answers made it longer");
  ExpandReferences(text, ReferenceResolver{});

  // No variable defined, no folder known, no registry reference in the text:
  // nothing changes (percent-encoded URLs keep every sign).
  ReferenceResolver undefined;
  undefined.folderProperty = [](std::wstring_view, std::wstring&) { return false; };
  undefined.environment = [](std::wstring_view, std::wstring&) { return false; };
  undefined.registry = [](std::wstring_view path) { return L"!" + std::wstring(path) + L"!"; };
  fuzz::Check(ExpandReferences(text, undefined) == text, "an undefined variable changed the text");
  return 0;
}
