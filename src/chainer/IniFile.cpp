#include "chainer/IniFile.h"

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

bool IsBlankOrControl(wchar_t c) { return static_cast<uint32_t>(c) <= 0x20; }

void ParseLine(std::wstring_view line, size_t number, IniFile& ini, IniSection*& current,
               std::vector<IgnoredLine>* ignored) {
  if (line.empty()) return;
  size_t first = 0;
  while (first < line.size() && IsBlankOrControl(line[first])) ++first;
  if (first < line.size() && line[first] == L'[') {
    size_t last = line.size();
    while (last > first && IsBlankOrControl(line[last - 1])) --last;
    if (last - first >= 2 && line[last - 1] == L']') {
      ini.sections.push_back(
          IniSection{std::wstring(line.substr(first + 1, last - first - 2)), {}, number});
      current = &ini.sections.back();
      return;
    }
  }
  if (current == nullptr) {
    if (ignored)
      ignored->push_back({number, IgnoredLineKind::BeforeFirstSection, std::wstring(line)});
    return;
  }
  size_t eq = line.find(L'=');
  if (eq == std::wstring_view::npos) {
    if (ignored) ignored->push_back({number, IgnoredLineKind::NoEquals, std::wstring(line)});
    return;
  }
  current->entries.push_back(IniEntry{std::wstring(TrimWideSpace(line.substr(0, eq))),
                                      std::wstring(TrimWideSpace(line.substr(eq + 1))), number});
}

}  // namespace

IniFile ParseIni(std::wstring_view text, std::vector<IgnoredLine>* ignored) {
  IniFile ini;
  IniSection* current = nullptr;
  if (!text.empty() && text.front() == L'\uFEFF') text.remove_prefix(1);
  size_t pos = 0;
  for (size_t number = 1; pos < text.size(); ++number) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring_view::npos) {
      ParseLine(text.substr(pos), number, ini, current, ignored);
      break;
    }
    ParseLine(text.substr(pos, end - pos), number, ini, current, ignored);
    pos = end + 2;
  }
  return ini;
}

const IniSection* FindSection(const IniFile& ini, std::wstring_view name) {
  for (const IniSection& s : ini.sections)
    if (s.name == name) return &s;
  return nullptr;
}

const IniEntry* FindEntry(const IniSection& section, std::wstring_view key) {
  for (const IniEntry& e : section.entries)
    if (e.key == key) return &e;
  return nullptr;
}

int32_t ParseDecimal(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  bool negative = false;
  if (i < text.size() && text[i] == L'-') {
    negative = true;
    ++i;
  }
  if (i < text.size() && text[i] == L'+') {
    ++i;
    if (i == text.size()) return 0;
  }
  uint32_t value = 0;  // unsigned: wraps without undefined behaviour
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<uint32_t>(text[i] - L'0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace prereq
