#pragma once
// The keys that the configuration loaders read, section by section: name,
// value type, whether the program acts on the value, and the record field it
// fills. The loaders read the configuration through these tables, so a key is
// known exactly when a loader reads it; the configuration checker and the
// guide's key lists take them from here too.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "chainer/Configuration.h"

namespace prereq {

inline constexpr std::wstring_view kGeneralOptionsSection = L"GeneralOptions";
inline constexpr std::wstring_view kPrerequisitesSection = L"PREREQUISITES";
inline constexpr std::wstring_view kChainerSection = L"PREREQ_CHAINER";
// [PREREQUISITES] lists "App1", "App2", ...; each names its own section.
inline constexpr std::wstring_view kAppKeyPrefix = L"App";

// How a value is read.
enum class ValueType {
  Text,      // as stored
  Integer,   // ParseDecimal: not a number reads as 0
  Bool,      // "true" without regard to case; anything else false
  Present,   // true when the key exists with a non-empty value
  Letters,   // single letters, tested case-sensitively
  Choice,    // fixed lower-case words (KeepFiles)
  Path,      // text, normalised as a path, with a trailing backslash
  Location,  // where the package comes from: the first of these keys wins
};

// Whether anything in the program acts on a key's value.
enum class KeyUse {
  Consulted,   // the value changes what a run does
  StoredOnly,  // read and kept in the record; nothing acts on it
};

// The record field a key fills; monostate for keys that fill none here.
template <typename Record>
using KeyField = std::variant<std::monostate, std::wstring Record::*, int32_t Record::*,
                              bool Record::*, std::optional<std::wstring> Record::*>;

template <typename Record>
struct KeySpec {
  std::wstring_view key;
  ValueType type;
  KeyUse use;
  KeyField<Record> field;
};

// [GeneralOptions], in reading order.
std::span<const KeySpec<GeneralOptions>> GeneralOptionKeys();
// The keys of a prerequisite section (App1, App2, ...), in reading order; the
// location keys SetupFile, OpenSite, Url in the order in which the first one
// present wins.
std::span<const KeySpec<Prerequisite>> PrerequisiteKeys();
// The keys of one search entry, each followed by its number (SearchType1,
// SearchString1, ...). SearchType opens an entry; SearchString must go with
// it.
std::span<const KeySpec<SearchEntry>> SearchEntryKeys();
// The further download addresses of a prerequisite section: the key
// followed by its number, from kFirstMirrorNumber on without gaps (Url2,
// Url3, ...); Url itself is the first address.
struct MirrorEntry {
  std::wstring Url;
};
inline constexpr int kFirstMirrorNumber = 2;
std::span<const KeySpec<MirrorEntry>> MirrorKeys();
// [PREREQ_CHAINER].
std::span<const KeySpec<ChainerSettings>> ChainerSettingKeys();

// The KeepFiles words and their values; anything else reads as 0.
struct ChoiceWord {
  std::wstring_view word;
  int32_t value;
};
std::span<const ChoiceWord> KeepFilesWords();
int32_t KeepFilesValue(std::wstring_view word);

// The "true" test of bool values.
bool IsTrueWord(std::wstring_view value);

// "App" followed by the number in decimal; also SearchType1 and the like.
std::wstring NumberedKey(std::wstring_view name, int number);

}  // namespace prereq
