// Registry searches: keys, subkey and value names, value data.
#include <cstring>
#include <vector>

#include "evaluation/FolderProperties.h"
#include "evaluation/SearchKinds.h"
#include "evaluation/SearchRules.h"
#include "platform/core/Handles.h"

namespace prereq::searches {

namespace {

constexpr DWORD kSubkeyNameBuffer = 260;       // characters, with the terminating NUL
constexpr DWORD kValueNameBuffer = 16383 + 1;  // the longest value name and its NUL

bool OpenKey(const std::wstring& path, REGSAM view, RegKey& key) {
  const HKEY root = RegistryRoot(path);
  std::wstring subkey;
  if (root == nullptr || !SubkeyOf(path, subkey)) return false;
  return ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

// Opens the key of a ROOT\key\value path and names the value.
bool OpenValueKey(const std::wstring& path, REGSAM view, RegKey& key, std::wstring& valueName) {
  KeyAndValue split;
  if (!SplitValuePath(path, split)) return false;
  if (!OpenKey(split.keyPath, view, key)) return false;
  valueName = std::move(split.valueName);
  return true;
}

}  // namespace

bool KeyOpens(const std::wstring& path, REGSAM view) {
  RegKey key;
  return OpenKey(path, view, key);
}

void CollectSubkeyNames(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values) {
  RegKey key;
  if (!OpenKey(path, view, key)) return;
  wchar_t name[kSubkeyNameBuffer];
  for (DWORD index = 0;; ++index) {
    DWORD length = kSubkeyNameBuffer;
    const LSTATUS status =
        ::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;  // longer than any key name may be: passed over
    if (status != ERROR_SUCCESS) break;       // ERROR_NO_MORE_ITEMS, or the key went away
    values.emplace_back(name, length);
  }
}

void CollectValueNames(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values) {
  RegKey key;
  if (!OpenKey(path, view, key)) return;
  std::vector<wchar_t> name(kValueNameBuffer);
  for (DWORD index = 0;; ++index) {
    DWORD length = kValueNameBuffer;
    const LSTATUS status =
        ::RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    values.emplace_back(name.data(), length);
  }
}

void CollectValueData(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values) {
  RegKey key;
  std::wstring valueName;
  if (!OpenValueKey(path, view, key, valueName)) return;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS) return;  // an absent value collects nothing
  // The value may grow between the two queries: a few more tries then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    // Whole characters plus one NUL that the data may lack.
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr,
                                reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status == ERROR_MORE_DATA) {
      size = bytes;
      continue;
    }
    if (status != ERROR_SUCCESS) return;
    const size_t characters = bytes / sizeof(wchar_t);  // an odd last byte is no character
    std::wstring text(data.data(), characters);
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    values.push_back(std::move(text));
    return;
  }
}

bool ValueQueryable(const std::wstring& path, REGSAM view) {
  RegKey key;
  std::wstring valueName;
  if (!OpenValueKey(path, view, key, valueName)) return false;
  return ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool ReadValueAsText(const std::wstring& path, REGSAM view, std::wstring& text) {
  RegKey key;
  std::wstring valueName;
  if (!OpenValueKey(path, view, key, valueName)) return false;
  return ReadValueText(key.get(), valueName, text);
}

}  // namespace prereq::searches
