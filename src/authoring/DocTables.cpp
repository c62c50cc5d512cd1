#include "authoring/DocTables.h"

#include <algorithm>

#include "authoring/Languages.h"
#include "chainer/ConfigSchema.h"
#include "chainer/RunReportRules.h"
#include "evaluation/FolderPropertyNames.h"
#include "evaluation/OsConditions.h"
#include "evaluation/SearchRules.h"
#include "execution/ExitCodeRules.h"
#include "platform/core/TextCodec.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

std::wstring Code(std::wstring_view text) { return L"`" + std::wstring(text) + L"`"; }

// A table cell: "|" would end it.
std::wstring Cell(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'|') out += L"\\|";
    else out.push_back(c);
  }
  return out;
}

std::wstring SystemNamesTable() {
  std::wstring md =
      L"| Windows version | Names on 32-bit Windows (`WinNTVersions`) | Names on 64-bit Windows "
      L"(`WinNT64Versions`) |\n| --- | --- | --- |\n";
  const std::vector<SystemName> names = KnownSystemNames();
  std::vector<std::pair<uint32_t, uint32_t>> versions;
  for (const SystemName& n : names)
    if (std::find(versions.begin(), versions.end(), std::make_pair(n.majorVersion, n.minorVersion)) ==
        versions.end())
      versions.emplace_back(n.majorVersion, n.minorVersion);
  for (auto [major, minor] : versions) {
    std::wstring on32, on64;
    for (const SystemName& n : names) {
      if (n.majorVersion != major || n.minorVersion != minor) continue;
      std::wstring item = Code(n.name);
      if (!n.general) item += L" (detailed)";
      if (n.on32BitWindows) on32 += (on32.empty() ? L"" : L", ") + item;
      if (n.on64BitWindows) on64 += (on64.empty() ? L"" : L", ") + item;
    }
    const std::wstring version =
        major == 0 ? L"any other" : Format(L"%u.%u", {major, minor});
    md += L"| " + version + L" | " + (on32.empty() ? L"—" : on32) + L" | " +
          (on64.empty() ? L"—" : on64) + L" |\n";
  }
  return md;
}

std::wstring AllSystemsTable() {
  return L"| Key | The text that excludes every system |\n| --- | --- |\n| `WinNTVersions` | `" +
         std::wstring(AllSystemsList(false)) + L"` |\n| `WinNT64Versions` | `" +
         std::wstring(AllSystemsList(true)) + L"` |\n";
}

std::wstring FolderPropertiesTable() {
  std::wstring md = L"| Property | Resolves to |\n| --- | --- |\n";
  std::vector<std::wstring_view> special;
  for (const SpecialFolderProperty& p : SpecialFolderProperties()) {
    md += L"| " + Code(L"[" + std::wstring(p.name) + L"]") + L" | " + Cell(p.value) + L" |\n";
    special.push_back(p.name);
  }
  for (const KnownFolderProperty& p : KnownFolderProperties()) {
    if (std::find(special.begin(), special.end(), p.name) != special.end()) continue;
    md += L"| " + Code(L"[" + std::wstring(p.name) + L"]") + L" | the known folder " +
          Code(p.folderId) + L" of the current user |\n";
  }
  return md;
}

std::wstring SearchKindsTable() {
  std::wstring md =
      L"| SearchType | Kind | SearchString | Collects | Found when |\n"
      L"| --- | --- | --- | --- | --- |\n";
  for (const SearchKindInfo& k : SearchKinds()) {
    md += L"| " + Format(L"%d", {static_cast<int>(k.kind)}) + L" | " + Code(k.name) + L" | " +
          Cell(k.searchString) + (k.expandsSearchString ? L" (references expanded)" : L"") + L" | " +
          (k.byRange ? Cell(k.collects) : std::wstring(L"—")) + L" | " +
          (k.byRange ? std::wstring(L"a value lies within VerMin and VerMax") : Cell(k.collects)) +
          L" |\n";
  }
  md += L"| any other | — | — | — | always (nothing is run) |\n";
  return md;
}

std::wstring LanguagesTable() {
  std::wstring md = L"| Identifier | Locale | Language |\n| --- | --- | --- |\n";
  for (const Language& l : Languages())
    md += L"| " + Format(L"%u", {l.id}) + L" | " + Code(l.tag) + L" | " + Cell(l.englishName) + L" |\n";
  return md;
}

std::wstring KeepFilesTable() {
  std::wstring md = L"| KeepFiles | Value | Downloads kept |\n| --- | --- | --- |\n";
  for (const ChoiceWord& w : KeepFilesWords())
    md += L"| " + Code(w.word) + L" | " + Format(L"%d", {w.value}) + L" | " +
          (w.value == static_cast<int32_t>(KeepFilesMode::Complete) ||
                   w.value == static_cast<int32_t>(KeepFilesMode::Prereqs)
               ? L"yes"
               : L"no") +
          L" |\n";
  md += L"| anything else | 0 | no |\n";
  return md;
}

std::wstring ExitMeaningsTable() {
  std::wstring md = L"| Meaning | What a run does after the package returned such a code |\n| --- | --- |\n";
  for (const ExitMeaningInfo& m : ExitMeanings())
    md += L"| " + Code(m.word) + L" | " + Cell(m.effect) + L" |\n";
  return md;
}

std::wstring ExitCodesTable() {
  std::wstring md = L"| Return code | Meaning without `ExitCodes` |\n| --- | --- |\n";
  for (const ExitCodeEntry& e : DefaultExitCodes())
    md += L"| " + Format(L"%u", {e.code}) + L" | " + Code(ExitMeaningWord(e.meaning)) + L" |\n";
  md += L"| any other | " + Code(ExitMeaningWord(ExitMeaning::Failure)) + L" |\n";
  return md;
}

std::wstring RunReasonsTable() {
  std::wstring md = L"| `reason` | When | Exit code with `e` |\n| --- | --- | --- |\n";
  for (const RunReasonInfo& r : RunReasons())
    md += L"| " + Code(DecodeUtf8(r.word)) + L" | " + Cell(r.when) + L" | " +
          Format(L"%d", {InstallerExitCode(r.reason)}) + L" |\n";
  return md;
}

std::wstring OutcomesTable() {
  std::wstring md = L"| `outcome` | What became of the prerequisite |\n| --- | --- |\n";
  for (const PrereqOutcomeInfo& o : PrereqOutcomes())
    md += L"| " + Code(DecodeUtf8(o.word)) + L" | " + Cell(o.what) + L" |\n";
  return md;
}

template <typename Record>
std::wstring KeyLines(std::span<const KeySpec<Record>> table) {
  std::wstring out;
  for (const KeySpec<Record>& row : table)
    out += std::wstring(row.key) + L"\t" + std::wstring(ValueTypeName(static_cast<int>(row.type))) +
           L"\t" + (row.use == KeyUse::Consulted ? L"used" : L"no effect") + L"\n";
  return out;
}

}  // namespace

std::wstring_view ValueTypeName(int type) {
  switch (static_cast<ValueType>(type)) {
    case ValueType::Text: return L"text";
    case ValueType::Integer: return L"integer";
    case ValueType::Bool: return L"bool";
    case ValueType::Present: return L"present";
    case ValueType::Letters: return L"letters";
    case ValueType::Choice: return L"choice";
    case ValueType::Path: return L"path";
    case ValueType::Location: return L"location";
  }
  return L"?";
}

std::vector<std::wstring> DocTableNames() {
  return {L"system-names", L"all-systems", L"languages", L"folder-properties", L"search-kinds",
          L"keepfiles", L"exit-meanings", L"exit-codes", L"run-reasons", L"outcomes"};
}

bool DocTable(std::wstring_view name, std::wstring& markdown) {
  if (name == L"system-names") markdown = SystemNamesTable();
  else if (name == L"all-systems") markdown = AllSystemsTable();
  else if (name == L"languages") markdown = LanguagesTable();
  else if (name == L"folder-properties") markdown = FolderPropertiesTable();
  else if (name == L"search-kinds") markdown = SearchKindsTable();
  else if (name == L"keepfiles") markdown = KeepFilesTable();
  else if (name == L"exit-meanings") markdown = ExitMeaningsTable();
  else if (name == L"exit-codes") markdown = ExitCodesTable();
  else if (name == L"run-reasons") markdown = RunReasonsTable();
  else if (name == L"outcomes") markdown = OutcomesTable();
  else return false;
  return true;
}

bool SectionKeyList(std::wstring_view section, std::wstring& lines) {
  if (section == kGeneralOptionsSection) lines = KeyLines(GeneralOptionKeys());
  else if (section == L"App") lines = KeyLines(PrerequisiteKeys());
  else if (section == L"SearchEntry") lines = KeyLines(SearchEntryKeys());
  else if (section == L"Mirror") lines = KeyLines(MirrorKeys());
  else if (section == kChainerSection) lines = KeyLines(ChainerSettingKeys());
  else return false;
  return true;
}

}  // namespace prereq
