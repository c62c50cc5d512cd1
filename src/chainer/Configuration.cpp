#include "chainer/Configuration.h"

#include <optional>
#include <type_traits>
#include <variant>

#include "chainer/ConfigSchema.h"
#include "platform/core/Exception.h"
#include "platform/core/PathForms.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

// Fills a record field from an entry by the key's value type.
template <typename Record>
void ReadKey(const KeySpec<Record>& row, const IniEntry& entry, Record& record) {
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, std::wstring Record::*>) {
          record.*member = row.type == ValueType::Path
                               ? WithTrailingBackslash(NormalizePath(entry.value))
                               : entry.value;
        } else if constexpr (std::is_same_v<Member, int32_t Record::*>) {
          record.*member =
              row.type == ValueType::Choice ? KeepFilesValue(entry.value) : ParseDecimal(entry.value);
        } else if constexpr (std::is_same_v<Member, bool Record::*>) {
          record.*member = row.type == ValueType::Present ? !entry.value.empty()
                                                           : IsTrueWord(entry.value);
        } else if constexpr (std::is_same_v<Member, std::optional<std::wstring> Record::*>) {
          record.*member = entry.value;
        }
      },
      row.field);
}

// Reads every key of the table that the section has; a missing key leaves
// its field unchanged. Numbered tables append `number` to every key.
template <typename Record>
void ReadKeys(std::span<const KeySpec<Record>> table, const IniSection& section, Record& record,
              int number = 0) {
  for (const KeySpec<Record>& row : table) {
    const IniEntry* e =
        FindEntry(section, number == 0 ? std::wstring(row.key) : NumberedKey(row.key, number));
    if (e != nullptr) ReadKey(row, *e, record);
  }
}

// The search entries of one prerequisite section; false (with the number in
// `failed`) when an entry has a SearchType key without the SearchString key
// of the same number.
bool LoadSearches(const IniSection& section, std::vector<SearchEntry>& searches, int& failed) {
  for (int k = 1;; ++k) {
    if (FindEntry(section, NumberedKey(L"SearchType", k)) == nullptr) return true;
    if (FindEntry(section, NumberedKey(L"SearchString", k)) == nullptr) {
      failed = k;
      return false;
    }
    SearchEntry entry;
    ReadKeys(SearchEntryKeys(), section, entry, k);
    searches.push_back(std::move(entry));
  }
}

// The further addresses Url2, Url3, ...: they end at the first missing number.
void LoadMirrors(const IniSection& section, std::vector<std::wstring>& mirrors) {
  for (int k = kFirstMirrorNumber;; ++k) {
    const IniEntry* e = FindEntry(section, NumberedKey(MirrorKeys()[0].key, k));
    if (e == nullptr) return;
    mirrors.push_back(e->value);  // text, as the table says
  }
}

// The first location key that the section has, in the table's order.
bool ReadLocation(const IniSection& section, Prerequisite& p) {
  static constexpr std::pair<std::wstring_view, LocationKind> kKinds[] = {
      {L"SetupFile", LocationKind::SetupFile},
      {L"OpenSite", LocationKind::OpenSite},
      {L"Url", LocationKind::Url}};
  for (const KeySpec<Prerequisite>& row : PrerequisiteKeys()) {
    if (row.type != ValueType::Location) continue;
    const IniEntry* e = FindEntry(section, row.key);
    if (e == nullptr) continue;
    p.Location = e->value;
    for (const auto& [key, kind] : kKinds)
      if (key == row.key) p.locationKind = kind;
    return true;
  }
  return false;
}

std::wstring Expand(const PropertyExpander& expander, std::wstring_view text) {
  return expander ? expander(text, false) : std::wstring(text);
}

}  // namespace

Prerequisite& PrereqList::At(size_t index) {
  if (index >= prereqs.size()) PREREQ_RAISE_RANGE();
  return prereqs[index];
}

const Prerequisite& PrereqList::At(size_t index) const {
  if (index >= prereqs.size()) PREREQ_RAISE_RANGE();
  return prereqs[index];
}

bool LoadGeneralOptions(const IniFile& ini, GeneralOptions& o) {
  const IniSection* section = FindSection(ini, kGeneralOptionsSection);
  if (section != nullptr) ReadKeys(GeneralOptionKeys(), *section, o);
  return true;
}

void LoadConfiguration(const IniFile& ini, PrereqList& list, LoadOutcome* outcome) {
  LoadOutcome local;
  LoadOutcome& out = outcome ? *outcome : local;
  out = LoadOutcome{};
  LoadGeneralOptions(ini, list.general);
  const IniSection* index = FindSection(ini, kPrerequisitesSection);
  if (index == nullptr) return;  // NoIndexSection
  for (int n = 1;; ++n) {
    out.appNumber = n;
    Prerequisite p;
    const std::wstring key = NumberedKey(kAppKeyPrefix, n);
    const IniEntry* id = FindEntry(*index, key);
    if (id == nullptr) {
      out.stop = LoadStop::EndOfList;
      return;
    }
    p.Id = id->value;
    const IniSection* section = FindSection(ini, key);
    if (section == nullptr) {
      out.stop = LoadStop::NoSection;
      return;
    }
    if (!ReadLocation(*section, p)) {
      out.stop = LoadStop::NoLocation;
      return;
    }
    ReadKeys(PrerequisiteKeys(), *section, p);
    LoadMirrors(*section, p.Mirrors);
    if (!LoadSearches(*section, p.Searches, out.searchNumber)) {
      out.stop = LoadStop::SearchWithoutString;
      return;
    }

    if (!p.LanguageList.empty() && p.LanguageList.back() != L';') p.LanguageList.push_back(L';');
    if (p.locationKind != LocationKind::SetupFile) p.Location = Expand(list.expander, p.Location);
    if (p.locationKind == LocationKind::Url)
      for (std::wstring& mirror : p.Mirrors) mirror = Expand(list.expander, mirror);
    p.ignoreDetection = p.HasOption(L'i');
    p.state = PrereqState::Unset;
    p.present = false;
    p.selected = false;
    list.prereqs.push_back(std::move(p));
  }
}

bool LoadChainerSettings(const IniFile& ini, ChainerSettings& s) {
  const IniSection* section = FindSection(ini, kChainerSection);
  if (section == nullptr) return false;
  ReadKeys(ChainerSettingKeys(), *section, s);
  return true;
}

std::wstring ResolveConfiguredFolder(std::wstring_view configured, std::wstring_view tempFolder,
                                     std::wstring_view defaultProdCode,
                                     const PropertyExpander& expander) {
  if (!configured.empty())
    return WithTrailingBackslash(NormalizePath(Expand(expander, configured)));
  std::wstring out = WithTrailingBackslash(tempFolder);
  out += defaultProdCode;
  out.push_back(L'\\');
  return out;
}

const std::wstring& PrereqList::DownloadFolder() {
  if (!downloadResolved_) {
    downloadResolved_ = true;
    general.DownloadFolder = ResolveConfiguredFolder(
        general.DownloadFolder, tempFolder ? tempFolder() : std::wstring(),
        general.DefaultProdCode, expander);
  }
  return general.DownloadFolder;
}

const std::wstring& PrereqList::ResolveExtractionFolder() {
  if (!extractionResolved_) {
    extractionResolved_ = true;
    general.ExtractionFolder = ResolveConfiguredFolder(
        general.ExtractionFolder, tempFolder ? tempFolder() : std::wstring(),
        general.DefaultProdCode, expander);
  }
  return general.ExtractionFolder;
}

}  // namespace prereq
