// The configuration text: parsing into sections and entries, the lookups, and
// the decimal reading of values. Properties: no section name, key or value
// holds a line end; writing the document out again and parsing that gives the
// same document; ParseDecimal agrees with a 64-bit reading wrapped to 32 bits.
#include <cstddef>
#include <cstdint>

#include "FuzzText.h"
#include "chainer/IniFile.h"

using namespace prereq;

namespace {

int32_t DecimalReference(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  const bool negative = i < text.size() && text[i] == L'-';
  if (negative) ++i;
  if (i < text.size() && text[i] == L'+') ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<uint64_t>(text[i] - L'0');
  const uint32_t low = static_cast<uint32_t>(value);
  return static_cast<int32_t>(negative ? 0u - low : low);
}

// The characters a line may begin with before its "[" (U+0000 to U+0020).
const std::wstring kBlanks = [] {
  std::wstring s;
  for (wchar_t c = 0; c <= 0x20; ++c) s.push_back(c);
  return s;
}();

bool HasLineEnd(std::wstring_view text) { return text.find(L"\r\n") != std::wstring_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const IniFile ini = ParseIni(text);

  std::wstring written;
  bool writable = true;
  for (const IniSection& section : ini.sections) {
    fuzz::Check(!HasLineEnd(section.name), "section name with a line end");
    fuzz::Check(FindSection(ini, section.name) != nullptr, "a parsed section is not found");
    written += L"[" + section.name + L"]\r\n";
    for (const IniEntry& entry : section.entries) {
      fuzz::Check(!HasLineEnd(entry.key) && !HasLineEnd(entry.value), "entry with a line end");
      fuzz::Check(entry.key.find(L'=') == std::wstring::npos, "key with \"=\"");
      const IniEntry* found = FindEntry(section, entry.key);
      fuzz::Check(found != nullptr && found->key == entry.key, "a parsed key is not found");
      fuzz::Check(ParseDecimal(entry.value) == DecimalReference(entry.value), "ParseDecimal");
      // A key that opens with "[" may read back as a section line; a line
      // end split across key and value cannot be written back either.
      const size_t first = entry.key.find_first_not_of(kBlanks);
      if (first != std::wstring::npos && entry.key[first] == L'[') writable = false;
      if (!entry.value.empty() && entry.value.back() == L'\r') writable = false;
      written += entry.key + L"=" + entry.value + L"\r\n";
    }
  }
  if (!writable) return 0;
  const IniFile again = ParseIni(written);
  fuzz::Check(again.sections.size() == ini.sections.size(), "round trip: section count");
  for (size_t s = 0; s < ini.sections.size(); ++s) {
    const IniSection& a = ini.sections[s];
    const IniSection& b = again.sections[s];
    fuzz::Check(a.name == b.name && a.entries.size() == b.entries.size(), "round trip: section");
    for (size_t e = 0; e < a.entries.size(); ++e)
      fuzz::Check(a.entries[e].key == b.entries[e].key && a.entries[e].value == b.entries[e].value,
                  "round trip: entry");
  }
  return 0;
}
