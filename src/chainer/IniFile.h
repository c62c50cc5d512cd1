#pragma once
// The configuration document: sections of key/value entries in file order,
// duplicates kept. Names and keys are compared exactly (case-sensitive).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

struct IniEntry {
  std::wstring key;
  std::wstring value;
};

struct IniSection {
  std::wstring name;
  std::vector<IniEntry> entries;
};

struct IniFile {
  std::vector<IniSection> sections;
};

// Parses UTF-16 configuration text (after the two byte-order-mark bytes the
// reader skips). Lines end only at CR LF; a leading U+FEFF is dropped.
IniFile ParseIni(std::wstring_view text);

// The first section with exactly this name, or nullptr.
const IniSection* FindSection(const IniFile& ini, std::wstring_view name);

// The first entry with exactly this key, or nullptr.
const IniEntry* FindEntry(const IniSection& section, std::wstring_view key);

// Decimal reading of every numeric configuration value: leading U+0020 blanks,
// an optional "-", an optional "+", then digits up to the first non-digit.
// Wraps in 32 bits; anything that is not a number reads as 0.
int32_t ParseDecimal(std::wstring_view text);

}  // namespace prereq
