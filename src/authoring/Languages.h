#pragma once
// The language identifiers that a LanguageList can name.
#include <cstdint>
#include <span>
#include <string_view>

namespace prereq {

struct Language {
  uint32_t id;                   // the decimal identifier a LanguageList names, e.g. 1033
  std::wstring_view tag;         // the platform's locale name, e.g. "en-US"
  std::wstring_view englishName; // e.g. "English (United States)"
};

// Every identifier, in increasing order.
std::span<const Language> Languages();
// nullptr for an identifier that names no language.
const Language* FindLanguage(uint32_t id);

}  // namespace prereq
