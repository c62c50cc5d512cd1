#pragma once
// The configuration document: sections of key/value entries in file order,
// duplicates kept. Names and keys are compared exactly (case-sensitive).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// `line`: the entry's or header's line, counted as the parser splits the text
// (at CR LF only), from 1. It changes nothing in how the document is read.
struct IniEntry {
  std::wstring key;
  std::wstring value;
  size_t line = 0;
};

struct IniSection {
  std::wstring name;
  std::vector<IniEntry> entries;
  size_t line = 0;
};

struct IniFile {
  std::vector<IniSection> sections;
};

// A non-empty line that the parser passed over.
enum class IgnoredLineKind {
  BeforeFirstSection,  // no section header came before it
  NoEquals,            // not a header and without "="
};
struct IgnoredLine {
  size_t line = 0;  // counted as for IniEntry::line
  IgnoredLineKind kind = IgnoredLineKind::NoEquals;
  std::wstring text;  // the whole line as read
};

// Parses UTF-16 configuration text (after the two byte-order-mark bytes the
// reader skips). Lines end only at CR LF; a leading U+FEFF is dropped. When
// `ignored` is given, the non-empty lines that add nothing to the document
// are appended to it, in file order.
IniFile ParseIni(std::wstring_view text, std::vector<IgnoredLine>* ignored = nullptr);

// The first section with exactly this name, or nullptr.
const IniSection* FindSection(const IniFile& ini, std::wstring_view name);

// The first entry with exactly this key, or nullptr.
const IniEntry* FindEntry(const IniSection& section, std::wstring_view key);

// Decimal reading of every numeric configuration value: leading U+0020 blanks,
// an optional "-", an optional "+", then digits up to the first non-digit.
// Wraps in 32 bits; anything that is not a number reads as 0.
int32_t ParseDecimal(std::wstring_view text);

}  // namespace prereq
