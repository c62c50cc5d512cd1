#include "authoring/LintRules.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "acquisition/DownloadRules.h"
#include "acquisition/SignerRules.h"
#include "authoring/Languages.h"
#include "chainer/CleanupRules.h"
#include "chainer/ConfigSchema.h"
#include "chainer/ConfigText.h"
#include "chainer/Configuration.h"
#include "chainer/IniFile.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/FolderPropertyNames.h"
#include "evaluation/OsConditions.h"
#include "evaluation/SearchRules.h"
#include "evaluation/Versions.h"
#include "execution/ExitCodeRules.h"
#include "platform/core/PathForms.h"
#include "platform/core/TextCodec.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

// ---------------------------------------------------------------------------
// Small text helpers

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::wstring Lower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = LowerAscii(c);
  return out;
}

std::wstring Q(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::wstring Bracketed(std::wstring_view section) { return L"[" + std::wstring(section) + L"]"; }

std::wstring Number(long long n) { return Format(L"%d", {n}); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsHexDigit(wchar_t c) {
  return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// An optional "-" and one or more digits, nothing else: the texts that read
// as the number they look like.
bool IsPlainDecimal(std::wstring_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == L'-') ++i;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (!IsDigit(text[i])) return false;
  // Beyond 32 bits the reading wraps.
  const std::wstring_view digits = text[0] == L'-' ? text.substr(1) : text;
  return digits.size() < 10 || (digits.size() == 10 && digits <= L"2147483647");
}

// The number of App<n>, SearchType<k> and the like: the name, then decimal
// digits without a leading zero. 0 when the key is not of that form.
int KeyNumber(std::wstring_view key, std::wstring_view name) {
  if (key.size() <= name.size() || key.substr(0, name.size()) != name) return 0;
  const std::wstring_view digits = key.substr(name.size());
  if (digits[0] == L'0' || digits.size() > 6) return 0;
  int n = 0;
  for (wchar_t c : digits) {
    if (!IsDigit(c)) return 0;
    n = n * 10 + (c - L'0');
  }
  return n;
}

std::wstring JoinNames(const std::vector<std::wstring>& names, size_t limit = 6) {
  std::wstring out;
  for (size_t i = 0; i < names.size() && i < limit; ++i) {
    if (i != 0) out += L", ";
    out += names[i];
  }
  if (names.size() > limit) out += L", ...";
  return out;
}

// Optimal string alignment distance (edits and swaps of neighbours).
size_t EditDistance(std::wstring_view a, std::wstring_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && LowerAscii(a[i - 1]) == LowerAscii(b[j - 2]) &&
          LowerAscii(a[i - 2]) == LowerAscii(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// ---------------------------------------------------------------------------
// References in paths and command lines, as the expansion scans them

struct Reference {
  wchar_t opener;  // '[', '%' or '!'
  std::wstring name;
};

std::vector<Reference> ScanReferences(std::wstring_view text) {
  std::vector<Reference> found;
  ReferenceResolver recorder;
  recorder.folderProperty = [&found](std::wstring_view name, std::wstring&) {
    found.push_back({L'[', std::wstring(name)});
    return false;
  };
  recorder.environment = [&found](std::wstring_view name, std::wstring& value) {
    found.push_back({L'%', std::wstring(name)});
    value.clear();
    return true;
  };
  recorder.registry = [&found](std::wstring_view path) {
    found.push_back({L'!', std::wstring(path)});
    return std::wstring();
  };
  ExpandReferences(text, recorder);
  return found;
}

// Environment variables that every Windows defines for a user.
bool IsStandardVariable(std::wstring_view name) {
  static constexpr std::wstring_view kNames[] = {
      L"ALLUSERSPROFILE", L"APPDATA", L"CommonProgramFiles", L"CommonProgramFiles(x86)",
      L"CommonProgramW6432", L"COMPUTERNAME", L"ComSpec", L"HOMEDRIVE", L"HOMEPATH",
      L"LOCALAPPDATA", L"NUMBER_OF_PROCESSORS", L"OS", L"Path", L"PATHEXT",
      L"PROCESSOR_ARCHITECTURE", L"ProgramData", L"ProgramFiles", L"ProgramFiles(x86)",
      L"ProgramW6432", L"PUBLIC", L"SystemDrive", L"SystemRoot", L"TEMP", L"TMP",
      L"USERDOMAIN", L"USERNAME", L"USERPROFILE", L"windir"};
  for (std::wstring_view known : kNames)
    if (EqualsNoCase(known, name)) return true;
  return false;
}

// The registry roots that a path may begin with (any other reads HKEY_USERS).
bool IsRegistryRootName(std::wstring_view root) {
  static constexpr std::wstring_view kRoots[] = {
      L"HKLM", L"HKEY_LOCAL_MACHINE", L"HKCU", L"HKEY_CURRENT_USER", L"HKCR",
      L"HKEY_CLASSES_ROOT", L"HKCC", L"HKEY_CURRENT_CONFIG", L"HKU", L"HKEY_USERS"};
  for (std::wstring_view known : kRoots)
    if (EqualsNoCase(known, root)) return true;
  return false;
}

bool LooksLikeRegistryPath(std::wstring_view path) {
  const size_t slash = path.find(L'\\');
  return slash != std::wstring_view::npos && IsRegistryRootName(path.substr(0, slash));
}

// Extensions of files that a package can be.
bool IsPackageExtension(std::wstring_view name) {
  static constexpr std::wstring_view kExtensions[] = {
      L".exe", L".msi", L".msp", L".msu", L".msix", L".msixbundle", L".appx", L".appxbundle",
      L".bat", L".cmd", L".ps1", L".vbs", L".zip", L".cab"};
  for (std::wstring_view ext : kExtensions)
    if (EndsWithNoCase(name, ext)) return true;
  return false;
}

bool IsGuid(std::wstring_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

bool IsAbsolutePath(std::wstring_view path) {
  return path.size() >= 2 && ((path[0] == L'\\' && path[1] == L'\\') || path[1] == L':');
}

// ---------------------------------------------------------------------------
// Decoding the file as a run does

struct DecodedFile {
  std::wstring text;           // what the parser is given (CR LF line ends)
  std::wstring chars;          // the characters as stored, line ends untouched
  ConfigLineEnds lineEnds = ConfigLineEnds::None;
  std::vector<Finding> notes;  // findings about the encoding and line ends (editor lines)
};

DecodedFile Decode(std::span<const uint8_t> bytes) {
  DecodedFile out;
  auto note = [&out](Severity s, std::wstring text) { out.notes.push_back({1, s, std::move(text)}); };
  const std::wstring_view everyVersion =
      L"; every version reads UTF-16 LE with the byte-order mark FF FE and CR LF line ends";
  const ConfigEncoding encoding = DetectConfigEncoding(bytes);
  switch (encoding) {
    case ConfigEncoding::Empty:
      note(Severity::Error, L"the file is empty: a run finds no configuration in it");
      return out;
    case ConfigEncoding::Utf16Le:
      break;
    case ConfigEncoding::Utf16LeBare:
      note(Severity::Warning,
           L"no byte-order mark: a run recognises UTF-16 LE by its zero bytes and reads it" +
               std::wstring(everyVersion));
      break;
    case ConfigEncoding::Utf8Bom:
    case ConfigEncoding::Utf8:
      note(Severity::Warning, L"UTF-8 text: a run reads it as UTF-8 and logs that it did" +
                                  std::wstring(everyVersion));
      break;
    case ConfigEncoding::Utf16Be:
      note(Severity::Error,
           L"UTF-16 big-endian text: a run does not read it and finds nothing in it; save the "
           L"file as UTF-16 LE with a byte-order mark; the findings below read it as big-endian");
      break;
    case ConfigEncoding::Unknown:
      note(Severity::Error,
           L"neither UTF-16 nor valid UTF-8 (ANSI text?): a run does not read it and finds "
           L"nothing in it; save the file as UTF-16 LE with a byte-order mark; the findings "
           L"below read it as UTF-8");
      break;
  }
  if (IsReadConfigEncoding(encoding)) {
    out.chars = DecodeConfigChars(bytes, encoding);
  } else if (encoding == ConfigEncoding::Utf16Be) {
    const bool marked = bytes[0] == 0xFE && bytes[1] == 0xFF;
    out.chars = DecodeUtf16(marked ? bytes.subspan(2) : bytes, true);
  } else {
    out.chars = DecodeUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  if ((encoding == ConfigEncoding::Utf16Le || encoding == ConfigEncoding::Utf16LeBare) &&
      bytes.size() % 2 != 0)
    note(Severity::Warning, L"odd number of bytes: a run drops the last byte");

  out.lineEnds = LineEndsOf(out.chars);
  if (IsReadConfigEncoding(encoding) &&
      (out.lineEnds == ConfigLineEnds::Lf || out.lineEnds == ConfigLineEnds::Cr))
    note(Severity::Warning, L"the lines end with " + ConfigLineEndsName(out.lineEnds) +
                                L" alone: a run reads them as line ends" +
                                std::wstring(everyVersion));
  out.text = WithCrLfLineEnds(out.chars);
  return out;
}

// The editor line of every run line (run lines end at CR LF only; editors
// also end lines at a lone LF or CR), indexed by run line from 1, and the
// editor lines that a run joins to the line before.
struct LineMap {
  std::vector<size_t> editorLine{0};
  std::vector<std::pair<size_t, wchar_t>> joins;  // editor line after a lone LF or CR, and it
};

LineMap MapLines(std::wstring_view text) {
  LineMap map;
  size_t editor = 1;
  map.editorLine.push_back(1);
  if (!text.empty() && text.front() == L'\uFEFF') text.remove_prefix(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      ++i;
      ++editor;
      map.editorLine.push_back(editor);
    } else if (text[i] == L'\r' || text[i] == L'\n') {
      ++editor;
      map.joins.push_back({editor, text[i]});
    }
  }
  return map;
}

// ---------------------------------------------------------------------------
// The checker

struct KnownKey {
  std::wstring_view key;
  ValueType type;
  KeyUse use;
};

template <typename Record>
std::vector<KnownKey> KeysOf(std::span<const KeySpec<Record>> table) {
  std::vector<KnownKey> keys;
  for (const KeySpec<Record>& row : table) keys.push_back({row.key, row.type, row.use});
  return keys;
}

// One listed prerequisite: its number, the [PREREQUISITES] entry, its section
// (when there is one) and its record as the loader reads it.
struct Listed {
  int number = 0;
  const IniEntry* indexEntry = nullptr;
  const IniSection* section = nullptr;
  std::optional<Prerequisite> record;  // none when the loader cannot read the section
  bool kept = false;                   // a run keeps it in its list
  std::wstring displayName;            // also of a section the loader cannot read
};

class Linter {
 public:
  Linter(const LintEnvironment& env, const LineMap& lines) : env_(env), lines_(lines) {}

  void Run(const IniFile& ini, const std::vector<IgnoredLine>& ignored);
  std::vector<Finding>& Findings() { return findings_; }

 private:
  void Add(size_t runLine, Severity severity, std::wstring text) {
    const size_t editor = runLine < lines_.editorLine.size() ? lines_.editorLine[runLine] : 1;
    findings_.push_back({editor == 0 ? 1 : editor, severity, std::move(text)});
  }
  void Warn(size_t runLine, std::wstring text) { Add(runLine, Severity::Warning, std::move(text)); }
  void Error(size_t runLine, std::wstring text) { Add(runLine, Severity::Error, std::move(text)); }

  size_t LineOf(const IniSection* section, std::wstring_view key) const {
    if (section == nullptr) return 1;
    const IniEntry* e = FindEntry(*section, key);
    return e ? e->line : section->line;
  }

  void CheckIgnoredLines(const std::vector<IgnoredLine>& ignored);
  void CheckSections(const IniFile& ini);
  void CheckKeys(const IniSection& section, const std::vector<KnownKey>& keys, bool searchKeys);
  void CheckUnknownKey(const IniSection& section, const IniEntry& entry,
                       const std::vector<KnownKey>& keys, bool searchKeys);
  void CheckValue(const IniSection& section, const IniEntry& entry, const KnownKey& key);
  void CheckIndex(const IniSection& index);
  void CheckList(const IniFile& ini);
  void CheckGeneral(const IniFile& ini);
  void CheckChainer(const IniFile& ini);
  void CheckResultFile(const IniSection& section, const ChainerSettings& settings);
  void CheckExitCodes(const IniSection& section, const Prerequisite& p);
  void CheckPrerequisite(const Listed& item);
  void CheckSearches(const Listed& item);
  void CheckMirrors(const Listed& item);
  void CheckSigner(const IniSection& section, const Prerequisite& p);
  void CheckSystems(const IniSection& section, std::wstring_view key, bool for64);
  void CheckLanguages(const IniSection& section, std::wstring_view key, std::wstring_view list);
  void CheckOptions(const IniSection& section, const Prerequisite& p);
  void CheckAcrossPrerequisites();
  void CheckShippedFile(size_t line, std::wstring_view what, std::wstring_view name,
                        bool joinedAlways);
  void CheckReferences(size_t line, std::wstring_view key, std::wstring_view value, bool expanded,
                       bool url = false);

  std::wstring AppName(int number) const { return NumberedKey(kAppKeyPrefix, number); }

  const LintEnvironment& env_;
  const LineMap& lines_;
  std::vector<Finding> findings_;

  GeneralOptions general_;
  const IniSection* generalSection_ = nullptr;
  std::vector<Listed> listed_;
  std::set<std::wstring> sectionNames_;  // names of the sections a run reads
  std::vector<std::wstring> appValues_;  // values of the App<n> keys
};

// --- lines the parser passes over ---------------------------------------------

bool IsCommentLine(std::wstring_view line) {
  size_t i = 0;
  while (i < line.size() && static_cast<uint32_t>(line[i]) <= 0x20) ++i;
  return i < line.size() && (line[i] == L';' || line[i] == L'#');
}

bool LooksLikeHeader(std::wstring_view line) {
  size_t i = 0;
  while (i < line.size() && static_cast<uint32_t>(line[i]) <= 0x20) ++i;
  return i < line.size() && line[i] == L'[';
}

void Linter::CheckIgnoredLines(const std::vector<IgnoredLine>& ignored) {
  for (const IgnoredLine& line : ignored) {
    if (IsCommentLine(line.text)) continue;  // a comment in effect: ignored as meant
    if (LooksLikeHeader(line.text)) {
      Warn(line.line,
           L"a section header must end with \"]\": a run ignores this line and the keys after "
           L"it belong to the section before");
    } else if (line.kind == IgnoredLineKind::BeforeFirstSection) {
      Warn(line.line, L"before the first section header: a run ignores this line");
    } else {
      Warn(line.line, L"no \"=\" in this line: a run ignores it");
    }
  }
}

// --- sections and keys ----------------------------------------------------------

void Linter::CheckSections(const IniFile& ini) {
  std::map<std::wstring, const IniSection*> first;
  std::vector<std::wstring> known(sectionNames_.begin(), sectionNames_.end());
  for (const IniSection& section : ini.sections) {
    auto [it, inserted] = first.emplace(section.name, &section);
    if (!inserted) {
      Warn(section.line, Bracketed(section.name) + L" again: a run reads only the first " +
                             Bracketed(section.name) + L", on line " +
                             Number(static_cast<long long>(
                                 lines_.editorLine.size() > it->second->line
                                     ? lines_.editorLine[it->second->line]
                                     : it->second->line)) +
                             L"; the keys here are read by nothing");
      continue;
    }
    if (sectionNames_.count(section.name)) continue;
    // A section that nothing reads.
    std::wstring text = L"section " + Bracketed(section.name) + L" is read by nothing";
    const int app = KeyNumber(section.name, kAppKeyPrefix);
    auto value = std::find(appValues_.begin(), appValues_.end(), section.name);
    if (app > 0) {
      text += L": [PREREQUISITES] does not list " + section.name;
    } else if (value != appValues_.end()) {
      const int n = static_cast<int>(value - appValues_.begin()) + 1;
      text += L": the keys of " + AppName(n) + L"=" + section.name + L" are read from " +
              Bracketed(AppName(n));
    } else if (std::wstring nearest = NearestName(section.name, known); !nearest.empty()) {
      text += L"; did you mean " + Bracketed(nearest) + L"?";
    }
    Warn(section.line, text);
  }
}

void Linter::CheckKeys(const IniSection& section, const std::vector<KnownKey>& keys,
                       bool searchKeys) {
  std::map<std::wstring, const IniEntry*> seen;
  for (const IniEntry& entry : section.entries) {
    auto [it, inserted] = seen.emplace(entry.key, &entry);
    if (!inserted) {
      Warn(entry.line, Q(entry.key) + L" is given again: a run uses the first, on line " +
                           Number(static_cast<long long>(lines_.editorLine[it->second->line])));
      continue;
    }
    const KnownKey* known = nullptr;
    for (const KnownKey& k : keys)
      if (k.key == entry.key) known = &k;
    if (known == nullptr && searchKeys) {
      for (const KeySpec<SearchEntry>& row : SearchEntryKeys())
        if (KeyNumber(entry.key, row.key) > 0) {
          static const std::vector<KnownKey> searchKnown = KeysOf(SearchEntryKeys());
          for (const KnownKey& k : searchKnown)
            if (k.key == row.key) known = &k;
        }
      static const std::vector<KnownKey> mirrorKnown = KeysOf(MirrorKeys());
      for (const KnownKey& k : mirrorKnown)
        if (KeyNumber(entry.key, k.key) >= kFirstMirrorNumber) known = &k;
    }
    if (known == nullptr) {
      CheckUnknownKey(section, entry, keys, searchKeys);
      continue;
    }
    CheckValue(section, entry, *known);
  }
}

void Linter::CheckUnknownKey(const IniSection& section, const IniEntry& entry,
                             const std::vector<KnownKey>& keys, bool searchKeys) {
  std::wstring text = L"key " + Q(entry.key) + L" is read by nothing";
  if (searchKeys && KeyNumber(entry.key, MirrorKeys()[0].key) == 1) {
    Warn(entry.line, text + L": the first address is Url, further ones are Url2, Url3, ...");
    return;
  }
  if (!entry.key.empty() && (entry.key[0] == L';' || entry.key[0] == L'#')) {
    Warn(entry.line, text + L" (the file has no comments: a line with \"=\" is a key)");
    return;
  }
  std::vector<std::wstring> candidates;
  for (const KnownKey& k : keys) candidates.emplace_back(k.key);
  if (searchKeys) {
    // A numbered key keeps its number; an unnumbered one is offered number 1.
    size_t digits = entry.key.size();
    while (digits > 0 && IsDigit(entry.key[digits - 1])) --digits;
    const std::wstring number = digits < entry.key.size() ? entry.key.substr(digits) : L"1";
    for (const KeySpec<SearchEntry>& row : SearchEntryKeys())
      candidates.push_back(std::wstring(row.key) + number);
    if (digits < entry.key.size() && entry.key[digits] == L'0') {
      const std::wstring_view name = std::wstring_view(entry.key).substr(0, digits);
      for (const KeySpec<SearchEntry>& row : SearchEntryKeys())
        if (row.key == name) {
          Warn(entry.line, text + L": entries are numbered without leading zeros (" +
                               std::wstring(name) + L"1, " + std::wstring(name) + L"2, ...)");
          return;
        }
    }
  }
  // A key of another section.
  struct Other {
    std::wstring_view section;
    std::vector<KnownKey> keys;
  };
  static const Other others[] = {{kGeneralOptionsSection, KeysOf(GeneralOptionKeys())},
                                 {kChainerSection, KeysOf(ChainerSettingKeys())},
                                 {L"App1", KeysOf(PrerequisiteKeys())}};
  std::wstring nearest = NearestName(entry.key, candidates);
  if (!nearest.empty()) {
    text += EqualsNoCase(nearest, entry.key) ? L"; keys are case-sensitive: did you mean " + Q(nearest) + L"?"
                                          : L"; did you mean " + Q(nearest) + L"?";
  } else {
    for (const Other& other : others) {
      if (other.section == section.name) continue;
      bool found = false;
      for (const KnownKey& k : other.keys) found = found || k.key == entry.key;
      if (found) {
        text += other.section == L"App1"
                    ? L": it belongs in a prerequisite's section"
                    : L": it belongs in " + Bracketed(other.section);
        break;
      }
    }
  }
  Warn(entry.line, text);
}

void Linter::CheckValue(const IniSection& section, const IniEntry& entry, const KnownKey& key) {
  const std::wstring& v = entry.value;
  switch (key.type) {
    case ValueType::Integer:
      if (!IsPlainDecimal(v))
        Warn(entry.line, entry.key + L" " + Q(v) + L" is not a plain decimal number: a run reads it as " +
                             Number(ParseDecimal(v)));
      break;
    case ValueType::Bool:
      if (!IsTrueWord(v) && !EqualsNoCase(v, L"false"))
        Warn(entry.line, entry.key + L" " + Q(v) + L" reads as false: only \"true\" (in any case) "
                                              L"is true");
      break;
    case ValueType::Choice:
      if (std::none_of(KeepFilesWords().begin(), KeepFilesWords().end(),
                       [&v](const ChoiceWord& w) { return w.word == v; }))
        Warn(entry.line, entry.key + L" " + Q(v) +
                             L" is no KeepFiles word: a run reads it as 0 and deletes the "
                             L"downloads; the words are complete, minimum, prereqs (lower case)");
      break;
    default:
      break;
  }
  if (key.use == KeyUse::StoredOnly) {
    std::wstring text = entry.key + L" has no effect: a run reads it but nothing acts on it";
    if (section.name == kGeneralOptionsSection && entry.key == L"LanguageList")
      text += L"; each prerequisite's own LanguageList is what counts";
    else if (entry.key == L"CommandLine")
      text += L"; quiet runs pass NoUiCommandLine, basic-UI runs BasicUiCommandLine";
    else if (entry.key == L"VerMin" || entry.key == L"VerMax")
      text += L"; the search entries carry their own bounds (" + entry.key + L"1, " + entry.key +
              L"2, ...)";
    Warn(entry.line, text);
  }
}

// --- the prerequisite list --------------------------------------------------------

void Linter::CheckIndex(const IniSection& index) {
  for (const IniEntry& entry : index.entries) {
    const int n = KeyNumber(entry.key, kAppKeyPrefix);
    if (n > 0) continue;
    std::wstring text = L"key " + Q(entry.key) + L" is read by nothing: [PREREQUISITES] lists "
                        L"App1, App2, ... (numbered from 1, without leading zeros)";
    Warn(entry.line, text);
  }
}

void Linter::CheckList(const IniFile& ini) {
  const IniSection* index = FindSection(ini, kPrerequisitesSection);
  if (index == nullptr) {
    bool anyApp = false;
    for (const IniSection& s : ini.sections) anyApp = anyApp || KeyNumber(s.name, kAppKeyPrefix) > 0;
    if (anyApp)
      Error(1, L"no [PREREQUISITES] section: a run reads no prerequisite (the App sections are "
               L"listed there as App1=..., App2=...)");
    else
      Warn(1, L"no [PREREQUISITES] section: the configuration has no prerequisites");
    return;
  }
  CheckIndex(*index);

  // Every App<n> that the index lists, by number.
  std::map<int, const IniEntry*> numbered;
  for (const IniEntry& entry : index->entries) {
    const int n = KeyNumber(entry.key, kAppKeyPrefix);
    if (n > 0) numbered.emplace(n, FindEntry(*index, entry.key));
  }
  for (const auto& [n, entry] : numbered) {
    if (static_cast<size_t>(n) > appValues_.size()) appValues_.resize(static_cast<size_t>(n));
    appValues_[static_cast<size_t>(n) - 1] = entry->value;
    sectionNames_.insert(AppName(n));
    Listed item;
    item.number = n;
    item.indexEntry = entry;
    item.section = FindSection(ini, AppName(n));
    if (item.section != nullptr) {
      // The loader on this section alone, as if it were App1 of its own list.
      IniFile single;
      IniSection listSection{std::wstring(kPrerequisitesSection), {{L"App1", entry->value, 0}}, 0};
      IniSection body = *item.section;
      body.name = L"App1";
      single.sections = {listSection, body};
      PrereqList one;
      LoadConfiguration(single, one);
      if (one.Count() == 1) item.record = one.prereqs[0];
      if (const IniEntry* name = FindEntry(*item.section, L"DisplayName")) item.displayName = name->value;
    }
    listed_.push_back(std::move(item));
  }

  // The run's own reading of the list.
  PrereqList list;
  LoadOutcome outcome;
  LoadConfiguration(ini, list, &outcome);
  for (Listed& item : listed_) item.kept = static_cast<size_t>(item.number) <= list.Count();

  auto laterOnes = [this](int from) {
    std::vector<std::wstring> names;
    for (const Listed& item : listed_)
      if (item.number > from) names.push_back(AppName(item.number));
    return names.empty() ? std::wstring() : L" (" + JoinNames(names) + L")";
  };
  auto drops = [&](int n) {
    return L"a run drops " + AppName(n) + L" and every later prerequisite" + laterOnes(n);
  };

  // Each listed prerequisite that a run could not read, also past the first.
  int expected = 1;
  for (const Listed& item : listed_) {
    if (item.number != expected) {
      // A gap: nothing from here on is read.
      Error(item.indexEntry->line,
            AppName(item.number) + L" is never read: [PREREQUISITES] has no " + AppName(expected) +
                L", and the list ends at the first missing number; " + drops(item.number));
      break;
    }
    ++expected;
    if (item.section == nullptr) {
      std::wstring text = L"no section " + Bracketed(AppName(item.number)) + L": " + drops(item.number);
      if (FindSection(ini, item.indexEntry->value) != nullptr)
        text += L"; the keys are read from " + Bracketed(AppName(item.number)) + L", not from " +
                Bracketed(item.indexEntry->value);
      Error(item.indexEntry->line, text);
      continue;
    }
    if (item.record) continue;
    // The loader could not read the section: which rule failed.
    bool hasLocation = false;
    for (const KeySpec<Prerequisite>& row : PrerequisiteKeys())
      if (row.type == ValueType::Location && FindEntry(*item.section, row.key)) hasLocation = true;
    if (!hasLocation) {
      std::wstring text = L"none of SetupFile, OpenSite or Url: " + drops(item.number);
      for (const IniEntry& e : item.section->entries)
        for (std::wstring_view k : {L"SetupFile", L"OpenSite", L"Url"})
          if (EqualsNoCase(e.key, k)) text += L"; keys are case-sensitive: " + Q(e.key) + L" is not " + Q(k);
      Error(item.section->line, text);
      continue;
    }
    for (int k = 1;; ++k) {
      const IniEntry* type = FindEntry(*item.section, NumberedKey(L"SearchType", k));
      if (type == nullptr) break;
      if (FindEntry(*item.section, NumberedKey(L"SearchString", k)) == nullptr) {
        Error(type->line, NumberedKey(L"SearchType", k) + L" without " +
                              NumberedKey(L"SearchString", k) + L": " + drops(item.number));
        break;
      }
    }
  }
  if (outcome.stop == LoadStop::EndOfList && list.Count() == 0 && listed_.empty())
    Warn(index->line, L"[PREREQUISITES] lists no App1: the configuration has no prerequisites");
}

// --- general options and the chainer settings -------------------------------------

void Linter::CheckGeneral(const IniFile& ini) {
  LoadGeneralOptions(ini, general_);
  generalSection_ = FindSection(ini, kGeneralOptionsSection);
  const size_t optionsLine = LineOf(generalSection_, L"Options");
  const std::wstring& options = general_.Options;
  std::wstring unknown;
  constexpr std::wstring_view kRunLetters = L"qbeo";
  for (wchar_t c : options)
    if (kRunLetters.find(c) == std::wstring_view::npos && unknown.find(c) == std::wstring::npos)
      unknown.push_back(c);
  if (!unknown.empty()) {
    std::wstring text = L"Options letters " + Q(unknown) + L" mean nothing in [GeneralOptions] "
                        L"(\"q\" quiet, \"b\" basic user interface, \"e\" installer exit codes, "
                        L"\"o\" overlapped run)";
    for (wchar_t c : unknown)
      if (c >= L'A' && c <= L'Z' && kRunLetters.find(LowerAscii(c)) != std::wstring_view::npos) {
        text += L"; letters are case-sensitive";
        break;
      }
    Warn(optionsLine, text);
  }
  const bool q = options.find(L'q') != std::wstring::npos;
  const bool b = options.find(L'b') != std::wstring::npos;
  if (!q && !b && FindSection(ini, kPrerequisitesSection) != nullptr)
    Warn(optionsLine, L"Options has neither \"q\" nor \"b\": a run searches but obtains and "
                      L"installs nothing");
  if (q && b)
    Warn(optionsLine, L"Options has \"q\" and \"b\": the run is quiet, but the packages get "
                      L"their BasicUiCommandLine");
  for (std::wstring_view key : {L"DownloadFolder", L"ExtractionFolder"}) {
    if (generalSection_ == nullptr) break;
    if (const IniEntry* e = FindEntry(*generalSection_, key))
      CheckReferences(e->line, key, e->value, true);
  }
}

void Linter::CheckChainer(const IniFile& ini) {
  const IniSection* section = FindSection(ini, kChainerSection);
  if (section == nullptr) return;
  ChainerSettings s;
  LoadChainerSettings(ini, s);
  for (std::wstring_view key :
       {L"LogFile", L"CleanupFiles", L"CleanupFolders", L"CleanupScript", L"ResultFile"})
    if (const IniEntry* e = FindEntry(*section, key)) CheckReferences(e->line, key, e->value, false);
  CheckResultFile(*section, s);
  if (!s.CleanupFiles.empty()) {
    const size_t line = LineOf(section, L"CleanupFiles");
    if (s.CleanupFolders.empty()) {
      Warn(line, L"CleanupFiles without CleanupFolders: a run deletes only files inside "
                 L"CleanupFolders, so none of these");
    } else {
      for (const std::wstring& item : SplitCleanupFiles(s.CleanupFiles))
        if (!AcceptCleanupToken(item, s.CleanupFolders))
          Warn(line, Q(item) + L" in CleanupFiles is not a full path of a file inside "
                               L"CleanupFolders " + Q(s.CleanupFolders) +
                         L" (names compared with case): a run does not delete it");
    }
  }
  if (s.CleanupScript.empty() && !s.CleanupFolders.empty())
    Warn(LineOf(section, L"CleanupFolders"),
         L"CleanupFolders without CleanupScript: the folders that a run cannot remove itself "
         L"(its own folder among them) stay, as no clean-up script is started");
}

void Linter::CheckResultFile(const IniSection& section, const ChainerSettings& s) {
  const std::wstring& path = s.ResultFile;
  if (path.empty()) return;
  const size_t line = LineOf(&section, L"ResultFile");
  if (path.back() == L'\\' || path.back() == L'/') {
    Error(line, L"ResultFile " + Q(path) + L" names a folder: name the file (result.json)");
    return;
  }
  if (!IsAbsolutePath(path))
    Warn(line, L"ResultFile " + Q(path) + L" is not a full path: a run writes it into the "
                                          L"program's own folder");
  if (EqualsNoCase(path, s.LogFile))
    Error(line, L"ResultFile and LogFile name the same file: the result file replaces the log "
                L"at the end of the run");
  if (!s.CleanupFolders.empty() && IsAbsolutePath(path) &&
      StartsWithNoCase(path, WithTrailingBackslash(s.CleanupFolders)))
    Warn(line, L"ResultFile lies inside CleanupFolders " + Q(s.CleanupFolders) +
                   L": the clean-up script may remove it after the run");
}

// --- one prerequisite ----------------------------------------------------------------------

void Linter::CheckExitCodes(const IniSection& section, const Prerequisite& p) {
  const IniEntry* entry = FindEntry(section, L"ExitCodes");
  if (entry == nullptr) return;
  if (p.locationKind == LocationKind::OpenSite) {
    Warn(entry->line, L"ExitCodes has no effect: an OpenSite prerequisite runs no package");
    return;
  }
  std::wstring words;
  for (const ExitMeaningInfo& m : ExitMeanings()) words += (words.empty() ? L"" : L", ") + std::wstring(m.word);
  const ParsedExitCodes parsed = ParseExitCodes(entry->value);
  for (const ExitCodeIssue& issue : parsed.issues) {
    const std::wstring item = Q(issue.text);
    switch (issue.kind) {
      case ExitCodeIssue::Kind::EmptyItem:
        Warn(entry->line, L"ExitCodes has an empty item (two commas, or one at the end)");
        break;
      case ExitCodeIssue::Kind::NoColon:
        Error(entry->line, L"ExitCodes item " + item +
                               L" has no \":\" between code and meaning: a run passes it over");
        break;
      case ExitCodeIssue::Kind::BadCode:
        Error(entry->line, L"ExitCodes item " + item +
                               L" has no return code a run reads (decimal, negative down to "
                               L"-2147483648, or hexadecimal with 0x up to 0xFFFFFFFF): a run "
                               L"passes it over");
        break;
      case ExitCodeIssue::Kind::UnknownMeaning: {
        std::wstring text = L"ExitCodes item " + item + L" has no meaning a run knows (" + words +
                            L"): a run passes it over";
        const std::wstring meaning(TrimWideSpace(issue.text.substr(issue.text.find(L':') + 1)));
        if (ExitMeaningByWord(Lower(meaning))) text += L"; the words are lower case";
        Error(entry->line, text);
        break;
      }
      case ExitCodeIssue::Kind::Duplicate:
        Warn(entry->line, L"ExitCodes item " + item + L" gives its code again: the first one counts");
        break;
    }
  }
}

void Linter::CheckReferences(size_t line, std::wstring_view key, std::wstring_view value,
                             bool expanded, bool url) {
  for (const Reference& r : ScanReferences(value)) {
    const std::wstring written = r.opener == L'['   ? L"[" + r.name + L"]"
                                 : r.opener == L'%' ? L"%" + r.name + L"%"
                                                    : L"!" + r.name + L"!";
    if (!expanded) {
      if (r.opener != L'!')
        Warn(line, std::wstring(key) + L" is not expanded: " + Q(written) +
                       L" stays as written");
      continue;
    }
    if (r.opener == L'[') {
      if (!IsFolderPropertyName(r.name))
        Warn(line, Q(written) + L" in " + std::wstring(key) +
                       L" is no folder property: it stays as written");
    } else if (r.opener == L'%') {
      if (!IsStandardVariable(r.name))
        Warn(line, Q(written) + L" in " + std::wstring(key) +
                       L" is read as an environment variable: a run replaces it when " + Q(r.name) +
                       L" is defined on the machine and leaves it as written otherwise" +
                       (url ? L" (percent-encoding in a URL is read the same way)" : L""));
    } else if (!LooksLikeRegistryPath(r.name)) {
      Warn(line, Q(written) + L" in " + std::wstring(key) +
                     L" is read as a registry value reference: a run replaces it by the "
                     L"value's text, or by nothing");
    }
  }
}

void Linter::CheckShippedFile(size_t line, std::wstring_view what, std::wstring_view name,
                              bool joinedAlways) {
  if (name.empty()) return;
  if (IsAbsolutePath(name)) {
    if (joinedAlways)
      Error(line, std::wstring(what) + L" " + Q(name) +
                      L" is an absolute path, but a run joins it to the extraction folder: name "
                      L"a file shipped with the setup");
    return;
  }
  const std::wstring& folder = general_.ExtractionFolder;
  if (folder.empty()) {
    Warn(line, std::wstring(what) + L" " + Q(name) +
                   L" is looked for in the extraction folder, and ExtractionFolder is empty: a "
                   L"run looks in the temporary folder under DefaultProdCode; to ship files "
                   L"beside the program set ExtractionFolder=[SETUPEXEDIR]");
    return;
  }
  constexpr std::wstring_view kSetupDir = L"[SETUPEXEDIR]";
  if (!env_.shippedFileExists || folder.rfind(kSetupDir, 0) != 0) return;
  std::wstring relative = folder.substr(kSetupDir.size());
  while (!relative.empty() && relative.front() == L'\\') relative.erase(0, 1);
  relative += name;
  if (!env_.shippedFileExists(relative))
    Error(line, std::wstring(what) + L" " + Q(name) + L" is missing: no file " + Q(relative) +
                    L" beside the configuration");
}

void Linter::CheckOptions(const IniSection& section, const Prerequisite& p) {
  const size_t line = LineOf(&section, L"Options");
  constexpr std::wstring_view kLetters = L"cdixmrR";
  std::wstring unknown;
  for (wchar_t c : p.Options)
    if (kLetters.find(c) == std::wstring_view::npos && unknown.find(c) == std::wstring::npos)
      unknown.push_back(c);
  if (!unknown.empty()) {
    std::wstring text = L"Options letters " + Q(unknown) +
                        L" mean nothing for a prerequisite (c, d, i, x, m, r, R)";
    for (wchar_t c : unknown)
      if (c >= L'A' && c <= L'Z' && kLetters.find(LowerAscii(c)) != std::wstring_view::npos) {
        text += L"; letters are case-sensitive";
        break;
      }
    Warn(line, text);
  }
  if (p.HasOption(L'R') && !p.HasOption(L'r'))
    Warn(line, L"Options \"R\" without \"r\" sets no reboot rule");
  if (p.HasOption(L'c') && p.HasOption(L'd'))
    Warn(line, L"Options \"c\" and \"d\" together: the prerequisite applies on no processor");
  if (p.HasOption(L'm') && p.HasOption(L'i'))
    Warn(line, L"Options \"m\" with \"i\": the check after installation skips this prerequisite, "
               L"so it never makes the run fail");
}

void Linter::CheckSystems(const IniSection& section, std::wstring_view key, bool for64) {
  const IniEntry* entry = FindEntry(section, key);
  if (entry == nullptr || entry->value.empty()) return;
  const std::wstring& list = entry->value;
  if (list == AllSystemsList(for64)) return;
  if (list == AllSystemsList(!for64)) {
    Warn(entry->line, std::wstring(key) + L" is the list of every " + (for64 ? L"32" : L"64") +
                          L"-bit system: on " + (for64 ? L"64" : L"32") +
                          L"-bit Windows, where this key counts, it excludes nothing");
    return;
  }
  static const std::vector<SystemName> names = KnownSystemNames();
  std::vector<std::wstring> candidates;
  for (const SystemName& n : names) candidates.push_back(n.name);
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(L", ", start);
    const std::wstring item = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    auto known = std::find_if(names.begin(), names.end(),
                              [&item](const SystemName& n) { return n.name == item; });
    if (known == names.end()) {
      std::wstring text = Q(item) + L" in " + std::wstring(key) + L" names no system";
      if (item.find(L',') != std::wstring::npos || item.find(L';') != std::wstring::npos)
        text += L": items are separated by a comma and a blank";
      else if (std::wstring nearest = NearestName(item, candidates); !nearest.empty())
        text += L"; did you mean " + Q(nearest) + L"?";
      Warn(entry->line, text);
    } else if (for64 ? !known->on64BitWindows : !known->on32BitWindows) {
      Warn(entry->line, Q(item) + L" in " + std::wstring(key) + L" never matches: " +
                            std::wstring(key) + L" counts on " + (for64 ? L"64" : L"32") +
                            L"-bit Windows, which is never named so; use " +
                            (for64 ? L"WinNTVersions" : L"WinNT64Versions"));
    }
    if (end == std::wstring::npos) break;
    start = end + 2;
  }
}

void Linter::CheckLanguages(const IniSection& section, std::wstring_view key,
                            std::wstring_view list) {
  const IniEntry* entry = FindEntry(section, key);
  if (entry == nullptr || list.empty()) return;
  if (list.find(L',') != std::wstring_view::npos) {
    Warn(entry->line, std::wstring(key) + L" " + Q(entry->value) +
                          L": items end with \";\", not \",\" (a run reads only the number at the "
                          L"start of each item)");
  }
  size_t start = 0;
  for (size_t end; (end = list.find(L';', start)) != std::wstring_view::npos; start = end + 1) {
    const std::wstring_view item = list.substr(start, end - start);
    std::wstring_view trimmed = TrimWideSpace(item);
    bool plain = !trimmed.empty();
    uint32_t id = 0;
    for (wchar_t c : trimmed) {
      if (!IsDigit(c) || id > 1000000) {
        plain = false;
        break;
      }
      id = id * 10 + static_cast<uint32_t>(c - L'0');
    }
    if (!plain) {
      if (trimmed.find(L',') == std::wstring_view::npos)
        Warn(entry->line, Q(item) + L" in " + std::wstring(key) +
                              L" is not a decimal language identifier such as 1033");
      continue;
    }
    if (FindLanguage(id) == nullptr)
      Warn(entry->line, L"no language has the identifier " + Number(id) + L" (in " +
                            std::wstring(key) + L")");
  }
}

void Linter::CheckSearches(const Listed& item) {
  const IniSection& section = *item.section;
  const Prerequisite& p = *item.record;
  // Numbered keys past the entries that the loader reads.
  const int count = static_cast<int>(p.Searches.size());
  for (const IniEntry& e : section.entries)
    for (const KeySpec<SearchEntry>& row : SearchEntryKeys()) {
      const int k = KeyNumber(e.key, row.key);
      if (k <= count || k == 0) continue;
      if (FindEntry(section, NumberedKey(L"SearchType", k)) == nullptr && row.key != L"SearchType") {
        Warn(e.line, e.key + L" is read by nothing: there is no " + NumberedKey(L"SearchType", k));
      } else if (row.key == L"SearchType") {
        Warn(e.line, e.key + L" is never read: the search entries end at the first missing "
                             L"number (" + NumberedKey(L"SearchType", count + 1) + L")");
      }
    }

  if (p.Searches.empty() && !p.HasOption(L'i') && p.Operator == 0)
    Warn(section.line, L"no search entries: with Operator 0 a run always counts " + AppName(item.number) +
                           L" as installed and never installs it");
  if (p.Operator != 0 && p.Operator != 1)
    Warn(LineOf(&section, L"Operator"),
         L"Operator " + Number(p.Operator) +
             L" is neither 0 (AND) nor 1 (OR): a run never counts the prerequisite as installed");

  for (int k = 1; k <= count; ++k) {
    const SearchEntry& s = p.Searches[static_cast<size_t>(k) - 1];
    const size_t typeLine = LineOf(&section, NumberedKey(L"SearchType", k));
    const size_t stringLine = LineOf(&section, NumberedKey(L"SearchString", k));
    const SearchKindInfo* kind = FindSearchKind(s.SearchType);
    if (kind == nullptr) {
      Warn(typeLine, NumberedKey(L"SearchType", k) + L" " + Number(s.SearchType) +
                         L" is no search kind (0 to 14): a run runs nothing and counts the entry "
                         L"as found");
      continue;
    }
    const std::wstring label = NumberedKey(L"SearchType", k) + L" " + Number(s.SearchType) + L" (" +
                               std::wstring(kind->name) + L")";
    auto keyOf = [k](std::wstring_view name) { return NumberedKey(name, k); };
    // Bounds.
    if (kind->byRange) {
      VersionQuad low, high;
      const bool hasLow = !s.VerMin.empty() && ParseVersion(s.VerMin, low) && !low.IsZero();
      const bool hasHigh = !s.VerMax.empty() && ParseVersion(s.VerMax, high) && !high.IsZero();
      if (!s.VerMin.empty() && !hasLow)
        Warn(LineOf(&section, keyOf(L"VerMin")), keyOf(L"VerMin") + L" " + Q(s.VerMin) +
                                                     L" is no version: the entry has no lower bound");
      if (!s.VerMax.empty() && !hasHigh)
        Warn(LineOf(&section, keyOf(L"VerMax")), keyOf(L"VerMax") + L" " + Q(s.VerMax) +
                                                     L" is no version: the entry has no upper bound");
      if (hasLow && hasHigh && CompareVersions(low, high) > 0)
        Error(LineOf(&section, keyOf(L"VerMin")),
              keyOf(L"VerMin") + L" " + Q(s.VerMin) + L" is above " + keyOf(L"VerMax") + L" " +
                  Q(s.VerMax) + L": no version lies between them and the entry is never found");
    } else {
      for (std::wstring_view name : {L"VerMin", L"VerMax"})
        if (FindEntry(section, keyOf(name)))
          Warn(LineOf(&section, keyOf(name)), keyOf(name) + L" has no effect on " + label);
    }
    if (kind->kind != SearchKind::RegistryValueCompare && kind->kind != SearchKind::CommandExitCode &&
        FindEntry(section, keyOf(L"RefContent")))
      Warn(LineOf(&section, keyOf(L"RefContent")), keyOf(L"RefContent") + L" has no effect on " + label);
    if (kind->kind != SearchKind::CommandExitCode && FindEntry(section, keyOf(L"SearchCmdLine")))
      Warn(LineOf(&section, keyOf(L"SearchCmdLine")),
           keyOf(L"SearchCmdLine") + L" has no effect on " + label);

    if (s.SearchString.empty()) Warn(stringLine, keyOf(L"SearchString") + L" is empty");
    switch (kind->kind) {
      case SearchKind::RegistrySubkeys:
      case SearchKind::RegistryKeyExists:
      case SearchKind::RegistryKeyMissing:
      case SearchKind::RegistryValueNames:
      case SearchKind::RegistryValueVersion:
      case SearchKind::RegistryValueExists:
      case SearchKind::RegistryValueMissing:
      case SearchKind::RegistryValueCompare: {
        const size_t slash = s.SearchString.find(L'\\');
        const bool valueKind = kind->kind == SearchKind::RegistryValueVersion ||
                               kind->kind == SearchKind::RegistryValueExists ||
                               kind->kind == SearchKind::RegistryValueMissing ||
                               kind->kind == SearchKind::RegistryValueCompare;
        if (slash == std::wstring::npos) {
          Warn(stringLine, keyOf(L"SearchString") + L" " + Q(s.SearchString) +
                               L" has no \"\\\": a registry path is ROOT\\key" +
                               (valueKind ? L"\\value" : L"") + L", and this one never opens");
        } else if (!IsRegistryRootName(s.SearchString.substr(0, slash))) {
          Warn(stringLine, Q(s.SearchString.substr(0, slash)) + L" in " + keyOf(L"SearchString") +
                               L" is no registry root (HKLM, HKCU, HKCR, HKCC or their long "
                               L"forms): a run looks under HKEY_USERS");
        } else if (valueKind && s.SearchString.find(L'\\', slash + 1) == std::wstring::npos) {
          Warn(stringLine, keyOf(L"SearchString") + L" " + Q(s.SearchString) +
                               L" names a value directly under the root: a run opens no key "
                               L"there, and the entry is " +
                               (kind->kind == SearchKind::RegistryValueMissing ? L"always found"
                                                                                 : L"never found"));
        }
        if (kind->kind == SearchKind::RegistryValueCompare) {
          const size_t refLine = LineOf(&section, keyOf(L"RefContent"));
          const std::wstring& ref = s.RefContent;
          if (ref.empty()) {
            Warn(refLine, keyOf(L"RefContent") + L" is empty: the comparison of " + label +
                              L" always fails");
          } else if (std::wstring_view(L"CXSEMDGL").find(ref[0]) == std::wstring_view::npos) {
            Warn(refLine, keyOf(L"RefContent") + L" " + Q(ref) +
                              L" does not begin with an operator letter (C, X, S, E, M, D, G, L): "
                              L"the comparison always fails");
          } else if ((ref[0] == L'G' || ref[0] == L'L') &&
                     !std::all_of(ref.begin() + 1, ref.end(), IsDigit)) {
            Warn(refLine, keyOf(L"RefContent") + L" " + Q(ref) +
                              L": G and L compare decimal numbers, and " + Q(ref.substr(1)) +
                              L" is none: the comparison always fails");
          }
        }
        break;
      }
      case SearchKind::MsiProductCode:
      case SearchKind::MsiUpgradeCode:
      case SearchKind::MsiComponent:
        if (!IsGuid(s.SearchString))
          Warn(stringLine, keyOf(L"SearchString") + L" " + Q(s.SearchString) +
                               L" is no code in the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
        break;
      case SearchKind::CommandExitCode:
        CheckShippedFile(stringLine, keyOf(L"SearchString"), s.SearchString, true);
        CheckReferences(LineOf(&section, keyOf(L"SearchCmdLine")), keyOf(L"SearchCmdLine"),
                        s.SearchCmdLine, true);
        if (!s.RefContent.empty() && s.RefContent != L"WND_HIDE")
          Warn(LineOf(&section, keyOf(L"RefContent")),
               keyOf(L"RefContent") + L" " + Q(s.RefContent) +
                   L" has no effect: only \"WND_HIDE\" (exactly) hides the detection program");
        break;
      case SearchKind::FileVersion:
      case SearchKind::SubfolderNames:
        CheckReferences(stringLine, keyOf(L"SearchString"), s.SearchString, true);
        break;
      default:
        break;
    }
  }
}

void Linter::CheckMirrors(const Listed& item) {
  const IniSection& section = *item.section;
  const Prerequisite& p = *item.record;
  const std::wstring_view name = MirrorKeys()[0].key;
  // Numbered keys past the addresses that the loader reads.
  const int last = kFirstMirrorNumber - 1 + static_cast<int>(p.Mirrors.size());
  for (const IniEntry& e : section.entries) {
    const int k = KeyNumber(e.key, name);
    if (k > last)
      Warn(e.line, e.key + L" is never read: the addresses end at the first missing number (" +
                       NumberedKey(name, last + 1) + L")");
  }
  if (p.Mirrors.empty()) return;
  const size_t firstLine = LineOf(&section, NumberedKey(name, kFirstMirrorNumber));
  if (p.locationKind != LocationKind::Url) {
    Warn(firstLine, NumberedKey(name, kFirstMirrorNumber) +
                        L" has no effect: only a Url download tries further addresses");
    return;
  }
  const bool judged = !p.MD5.empty() || p.SHA256 || p.Signer;
  if (!judged && p.ExactSize == 0)
    Warn(firstLine, L"further addresses without ExactSize, MD5, SHA256 or Signer: a run accepts "
                    L"whatever file the next address serves");
  std::vector<std::wstring> seen{p.Location};
  for (size_t i = 0; i < p.Mirrors.size(); ++i) {
    const std::wstring key = NumberedKey(name, kFirstMirrorNumber + static_cast<int>(i));
    const std::wstring& url = p.Mirrors[i];
    const size_t line = LineOf(&section, key);
    const bool http = StartsWithNoCase(url, L"http://");
    const bool ftp = StartsWithNoCase(url, L"ftp://");
    if (url.empty()) {
      Error(line, key + L" is empty: a run fails at this address and goes on with the next one");
    } else if (!http && !ftp && !StartsWithNoCase(url, L"https://") &&
               !StartsWithNoCase(url, L"file://")) {
      Error(line, key + L" " + Q(url) +
                      L" is no address a run downloads from (http://, https://, ftp:// or file://)");
    } else if ((http || ftp) && !p.SHA256 && !p.Signer) {
      Warn(line, key + L": " + (http ? L"plain http" : L"ftp") +
                     L": nothing protects the file on its way; use https, or give SHA256 or "
                     L"Signer so that a changed file is rejected");
    }
    if (std::find(seen.begin(), seen.end(), url) != seen.end() && !url.empty())
      Warn(line, key + L" repeats an address given before: a run tries it again");
    seen.push_back(url);
    CheckReferences(line, key, url, true, true);
  }
}

// A name that holds what looks like a further entry after a comma not
// followed by exactly one blank ("CN=A,CN=B", "CN=A,  sha256:...").
bool JoinsEntries(std::wstring_view name) {
  for (size_t comma = name.find(L','); comma != std::wstring_view::npos;
       comma = name.find(L',', comma + 1)) {
    size_t next = comma + 1;
    while (next < name.size() && name[next] == L' ') ++next;
    const std::wstring_view rest = name.substr(next);
    if (next != comma + 2 && (StartsWithNoCase(rest, L"CN=") || StartsWithNoCase(rest, L"sha256:")))
      return true;
  }
  return false;
}

void Linter::CheckSigner(const IniSection& section, const Prerequisite& p) {
  const IniEntry* entry = FindEntry(section, L"Signer");
  if (entry == nullptr) return;
  const std::vector<SignerEntry> entries = ParseSignerList(entry->value);
  if (entries.empty())
    Error(entry->line, L"Signer is empty: a run rejects every file");
  for (const SignerEntry& e : entries) {
    if (e.kind == SignerKind::CommonName) {
      if (e.value.front() == L' ' || e.value.back() == L' ')
        Warn(entry->line, L"Signer entry " + Q(e.text) +
                              L": blanks around the name count; the name is compared exactly");
      else if (JoinsEntries(e.value))
        Warn(entry->line, L"Signer entry " + Q(e.text) + L" is one name: entries are separated by "
                                                        L"\", \" (a comma and one blank)");
      continue;
    }
    if (e.kind == SignerKind::Thumbprint) continue;
    std::wstring text = L"Signer entry " + Q(e.text) + L" is malformed";
    const std::wstring_view rest =
        std::wstring_view(e.text).substr(std::min<size_t>(e.text.size(), 7));
    if (StartsWithNoCase(e.text, L"sha256:")) {
      const bool hex = std::all_of(rest.begin(), rest.end(), IsHexDigit);
      text += hex && rest.size() == 40
                  ? L": 40 hexadecimal digits is a SHA-1 thumbprint; Signer takes the SHA-256 "
                    L"thumbprint (64 digits)"
                  : L": a thumbprint is \"sha256:\" and 64 hexadecimal digits (" +
                        Number(static_cast<long long>(rest.size())) + L" characters given)";
    } else if (StartsWithNoCase(e.text, L"CN=")) {
      text += L": the name after \"CN=\" is empty";
    } else {
      text += L": an entry is \"CN=\" and the signer's name, or \"sha256:\" and the thumbprint";
    }
    Error(entry->line, text + L"; a run rejects every file");
  }
  if (p.locationKind == LocationKind::OpenSite) {
    Warn(entry->line, L"Signer has no effect: an OpenSite prerequisite downloads nothing");
  } else if (p.locationKind == LocationKind::SetupFile) {
    Warn(entry->line, L"Signer on a SetupFile: a run checks the shipped file's signature before any "
                      L"download; a rejected file cannot be fetched again, and it ends the download "
                      L"step");
  }
}

void Linter::CheckPrerequisite(const Listed& item) {
  const IniSection& section = *item.section;
  const Prerequisite& p = *item.record;
  const std::wstring app = AppName(item.number);

  // Location.
  std::vector<std::wstring> locations;
  for (const KeySpec<Prerequisite>& row : PrerequisiteKeys())
    if (row.type == ValueType::Location && FindEntry(section, row.key))
      locations.emplace_back(row.key);
  if (locations.size() > 1) {
    std::vector<std::wstring> unread(locations.begin() + 1, locations.end());
    Warn(LineOf(&section, locations[1]),
         locations[0] + L" and " + JoinNames(unread) + L" are given: " + locations[0] +
             L" wins, and a run never reads " + JoinNames(unread));
  }
  const std::wstring locationKey = locations.empty() ? L"" : locations[0];
  const size_t locationLine = LineOf(&section, locationKey);
  const bool hasSha = FindEntry(section, L"SHA256") != nullptr;
  const IniEntry* sha = FindEntry(section, L"SHA256");
  const IniEntry* signer = FindEntry(section, L"Signer");
  const bool hasSigner = signer != nullptr;

  if (p.DisplayName.empty())
    Warn(section.line, app + L" has no DisplayName: log lines and ParentPrereq references "
                             L"cannot name it");

  if (p.locationKind == LocationKind::Url) {
    const std::wstring& url = p.Location;
    const bool http = StartsWithNoCase(url, L"http://");
    const bool https = StartsWithNoCase(url, L"https://");
    const bool ftp = StartsWithNoCase(url, L"ftp://");
    const bool file = StartsWithNoCase(url, L"file://");
    const bool address = http || https || ftp || file;
    if (url.empty()) {
      Error(locationLine, L"Url is empty: there is nothing to download");
    } else if (!address) {
      Error(locationLine, L"Url " + Q(url) +
                              L" is no address a run downloads from (http://, https://, ftp:// "
                              L"or file://)");
    }
    if (address && !file) {
      if (p.ExactSize == 0 && p.MD5.empty() && !hasSha && !hasSigner)
        Warn(locationLine, L"Url without ExactSize, MD5, SHA256 or Signer: a run accepts any file "
                           L"that arrives from this address");
      if ((http || ftp) && !hasSha && !hasSigner)
        Warn(locationLine, std::wstring(http ? L"plain http" : L"ftp") +
                               L": nothing protects the file on its way; use https, or give "
                               L"SHA256 or Signer so that a changed file is rejected");
      const size_t question = p.Folder.find(L'?');
      const std::wstring name =
          question != std::wstring::npos && question + 1 < p.Folder.size()
              ? p.Folder.substr(question + 1)
              : FileNameFromUrl(url);
      if (name.empty())
        Error(locationLine, L"no file name can be taken from the Url: give one with Folder=?name.exe");
      else if (!IsPackageExtension(name))
        Warn(locationLine, L"the download is saved as " + Q(name) +
                               L", which is no package file name; name the file with "
                               L"Folder=?name.exe");
    }
    CheckReferences(locationLine, L"Url", url, true, true);
  } else if (p.locationKind == LocationKind::OpenSite) {
    if (!StartsWithNoCase(p.Location, L"http://") && !StartsWithNoCase(p.Location, L"https://"))
      Warn(locationLine, L"OpenSite " + Q(p.Location) + L" is no web address (http:// or https://)");
    CheckReferences(locationLine, L"OpenSite", p.Location, true, true);
  } else {
    CheckReferences(locationLine, L"SetupFile", p.Location, false);
    if (ScanReferences(p.Location).empty())
      CheckShippedFile(locationLine, L"SetupFile", p.Location, false);
  }
  if (p.locationKind != LocationKind::Url) {
    for (std::wstring_view key : {L"ExactSize", L"MD5", L"SHA256", L"Folder"})
      if (FindEntry(section, key))
        Warn(LineOf(&section, key), std::wstring(key) + L" has no effect: only a Url download uses it");
  }
  CheckMirrors(item);
  CheckSigner(section, p);

  // Digests.
  if (!p.MD5.empty()) {
    const size_t line = LineOf(&section, L"MD5");
    const bool shortText = p.MD5.size() < 32;
    const bool hex = std::all_of(p.MD5.begin(), p.MD5.begin() + static_cast<ptrdiff_t>(std::min<size_t>(32, p.MD5.size())),
                                 IsHexDigit);
    if (shortText || !hex)
      Error(line, L"MD5 " + Q(p.MD5) + L" is not 32 hexadecimal digits: a run rejects every file");
    else if (p.MD5.size() > 32)
      Warn(line, L"MD5 has " + Number(static_cast<long long>(p.MD5.size())) +
                     L" characters: a run compares the first 32 and ignores the rest");
  }
  if (sha != nullptr) {
    const bool ok = sha->value.size() == 64 && std::all_of(sha->value.begin(), sha->value.end(), IsHexDigit);
    if (!ok)
      Error(sha->line, L"SHA256 " + Q(sha->value) +
                           L" is not 64 hexadecimal digits: a run rejects every file");
  }
  if (p.ExactSize < 0)
    Warn(LineOf(&section, L"ExactSize"), L"ExactSize " + Number(p.ExactSize) +
                                             L" is negative: a run compares it as " +
                                             Number(static_cast<uint32_t>(p.ExactSize)) + L" bytes");

  // Folder.
  if (!p.Folder.empty()) {
    const size_t line = LineOf(&section, L"Folder");
    const std::wstring folderPart = p.Folder.substr(0, p.Folder.find(L'?'));
    if (IsAbsolutePath(folderPart))
      Error(line, L"Folder " + Q(p.Folder) + L" is an absolute path, but a run appends it to the "
                                             L"download folder");
    else if (folderPart.find(L"..") != std::wstring::npos)
      Warn(line, L"Folder " + Q(p.Folder) + L" leads out of the download folder");
    CheckReferences(line, L"Folder", p.Folder, false);
  }

  CheckOptions(section, p);
  CheckExitCodes(section, p);
  CheckSystems(section, L"WinNTVersions", false);
  CheckSystems(section, L"WinNT64Versions", true);
  CheckLanguages(section, L"LanguageList", p.LanguageList);

  // Command lines: which one a run passes, and how.
  const bool basic = general_.Options.find(L'b') != std::wstring::npos;
  const bool quiet = general_.Options.find(L'q') != std::wstring::npos;
  if (basic || quiet) {
    const std::wstring used = basic ? L"BasicUiCommandLine" : L"NoUiCommandLine";
    const std::wstring& line = basic ? p.BasicUiCommandLine : p.NoUiCommandLine;
    const std::wstring fileName =
        p.locationKind == LocationKind::Url
            ? (p.Folder.find(L'?') != std::wstring::npos ? p.Folder.substr(p.Folder.find(L'?') + 1)
                                                         : FileNameFromUrl(p.Location))
            : p.Location;
    if (line.empty() && p.locationKind != LocationKind::OpenSite &&
        (EndsWithNoCase(fileName, L".msi") || EndsWithNoCase(fileName, L".msp"))) {
      Warn(FindEntry(section, used) ? LineOf(&section, used) : section.line,
           used + L" is empty: a run installs the Windows Installer package with its full user "
                  L"interface" +
               std::wstring(basic ? L"" : L" in quiet mode"));
    }
    if (p.locationKind == LocationKind::SetupFile) {
      for (const Reference& r : ScanReferences(line)) {
        if (r.opener == L'!') continue;
        Warn(LineOf(&section, used), used + L" of a SetupFile is passed as written through the "
                                            L"shell: " +
                                            Q(r.opener == L'[' ? L"[" + r.name + L"]" : L"%" + r.name + L"%") +
                                            L" is resolved only when the program runs as LocalSystem");
        break;
      }
    } else if (p.locationKind == LocationKind::Url) {
      CheckReferences(LineOf(&section, used), used, line, true);
    }
  }
  CheckSearches(item);
}

// --- relations between prerequisites -----------------------------------------------

void Linter::CheckAcrossPrerequisites() {
  std::map<std::wstring, const Listed*> byName;
  std::map<std::wstring, const Listed*> byRetVal;
  std::map<std::wstring, const Listed*> byTarget;
  for (const Listed& item : listed_) {
    if (!item.record) {
      // Named all the same: a ParentPrereq may name it.
      if (!item.displayName.empty()) byName.emplace(item.displayName, &item);
      continue;
    }
    const Prerequisite& p = *item.record;
    const IniSection& section = *item.section;
    if (!p.DisplayName.empty()) {
      auto [it, inserted] = byName.emplace(p.DisplayName, &item);
      if (!inserted && it->second->record)
        Warn(LineOf(&section, L"DisplayName"),
             L"DisplayName " + Q(p.DisplayName) + L" is also " + AppName(it->second->number) +
                 L"'s: ParentPrereq references find " + AppName(it->second->number));
    }
    if (!p.RetValPropName.empty()) {
      auto [it, inserted] = byRetVal.emplace(p.RetValPropName, &item);
      if (!inserted)
        Warn(LineOf(&section, L"RetValPropName"),
             L"RetValPropName " + Q(p.RetValPropName) + L" is also " + AppName(it->second->number) +
                 L"'s: the result store keeps only the first code recorded under a name");
    }
    if (p.locationKind == LocationKind::Url && !p.Location.empty() &&
        !StartsWithNoCase(p.Location, L"file://")) {
      const std::wstring target = Lower(TargetPath(L"<download folder>\\", p.Location, p.Folder));
      auto [it, inserted] = byTarget.emplace(target, &item);
      if (!inserted)
        Error(LineOf(&section, L"Url"),
              AppName(item.number) + L" downloads to the same file as " + AppName(it->second->number) +
                  L" (" + TargetPath(L"<download folder>\\", p.Location, p.Folder) +
                  L"): the later download replaces the earlier one before it is installed; give "
                  L"one of them its own Folder");
    }
  }
  for (const Listed& item : listed_) {
    if (!item.record || item.record->ParentPrereq.empty()) continue;
    const Prerequisite& p = *item.record;
    const size_t line = LineOf(item.section, L"ParentPrereq");
    auto parent = byName.find(p.ParentPrereq);
    if (parent == byName.end()) {
      std::vector<std::wstring> names;
      for (const auto& [name, unused] : byName) names.push_back(name);
      std::wstring text = L"ParentPrereq " + Q(p.ParentPrereq) +
                          L" names no prerequisite (it names a DisplayName, compared with case)";
      if (std::wstring nearest = NearestName(p.ParentPrereq, names); !nearest.empty())
        text += L"; did you mean " + Q(nearest) + L"?";
      Error(line, text);
    } else if (parent->second == &item) {
      Warn(line, L"ParentPrereq names the prerequisite itself");
    } else if (!parent->second->kept && item.kept) {
      Error(line, L"ParentPrereq " + Q(p.ParentPrereq) + L" names " + AppName(parent->second->number) +
                      L", which a run drops");
    }
  }

  // Loops of parents: each prerequisite has at most one parent, so one walk
  // per prerequisite that stops at anything already walked finds them all.
  auto parentOf = [&byName](const Listed* item) -> const Listed* {
    if (!item->record || item->record->ParentPrereq.empty()) return nullptr;
    auto parent = byName.find(item->record->ParentPrereq);
    if (parent == byName.end() || parent->second == item) return nullptr;
    return parent->second;
  };
  std::map<const Listed*, int> walked;  // 1 on the current walk, 2 done
  std::set<const Listed*> inLoop;
  for (const Listed& item : listed_) {
    std::vector<const Listed*> path;
    const Listed* at = &item;
    while (at != nullptr && walked[at] == 0) {
      walked[at] = 1;
      path.push_back(at);
      at = parentOf(at);
    }
    if (at != nullptr && walked[at] == 1)
      for (auto it = std::find(path.begin(), path.end(), at); it != path.end(); ++it) inLoop.insert(*it);
    for (const Listed* done : path) walked[done] = 2;
  }
  for (const Listed& item : listed_)
    if (inLoop.count(&item))
      Warn(LineOf(item.section, L"ParentPrereq"),
           L"ParentPrereq links of " + AppName(item.number) + L" lead back to it");
}

void Linter::Run(const IniFile& ini, const std::vector<IgnoredLine>& ignored) {
  sectionNames_ = {std::wstring(kGeneralOptionsSection), std::wstring(kPrerequisitesSection),
                   std::wstring(kChainerSection)};
  CheckIgnoredLines(ignored);
  CheckGeneral(ini);
  CheckList(ini);  // fills listed_, appValues_ and the App section names
  CheckSections(ini);
  if (generalSection_) CheckKeys(*generalSection_, KeysOf(GeneralOptionKeys()), false);
  if (const IniSection* s = FindSection(ini, kChainerSection))
    CheckKeys(*s, KeysOf(ChainerSettingKeys()), false);
  if (const IniSection* index = FindSection(ini, kPrerequisitesSection)) {
    // Duplicate App<n> keys.
    std::map<std::wstring, size_t> seen;
    for (const IniEntry& e : index->entries) {
      auto [it, inserted] = seen.emplace(e.key, e.line);
      if (!inserted)
        Warn(e.line, Q(e.key) + L" is given again: a run uses the first, on line " +
                         Number(static_cast<long long>(lines_.editorLine[it->second])));
    }
  }
  CheckChainer(ini);
  const std::vector<KnownKey> prereqKeys = KeysOf(PrerequisiteKeys());
  for (const Listed& item : listed_) {
    if (item.section == nullptr) continue;
    CheckKeys(*item.section, prereqKeys, true);
    if (item.record) CheckPrerequisite(item);
  }
  CheckAcrossPrerequisites();
}

}  // namespace

std::vector<Finding> LintConfiguration(std::span<const uint8_t> fileBytes,
                                       const LintEnvironment& environment) {
  DecodedFile decoded = Decode(fileBytes);
  std::vector<Finding> findings = std::move(decoded.notes);
  const LineMap lines = MapLines(decoded.text);
  // Lines of mixed ends: each line end that differs from CR LF.
  if (decoded.lineEnds == ConfigLineEnds::Mixed)
    for (const auto& [line, c] : MapLines(decoded.chars).joins)
      findings.push_back({line, Severity::Warning,
                          std::wstring(L"the line before ends with a lone ") +
                              (c == L'\n' ? L"LF" : L"CR") +
                              L", others with CR LF: a run ends the line there all the same; "
                              L"every version ends lines at CR LF only"});
  std::vector<IgnoredLine> ignored;
  const IniFile ini = ParseIni(decoded.text, &ignored);
  Linter linter(environment, lines);
  linter.Run(ini, ignored);
  for (Finding& f : linter.Findings()) findings.push_back(std::move(f));
  std::stable_sort(findings.begin(), findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  return findings;
}

FindingCounts CountFindings(const std::vector<Finding>& findings) {
  FindingCounts counts;
  for (const Finding& f : findings) (f.severity == Severity::Error ? counts.errors : counts.warnings)++;
  return counts;
}

int LintExitStatus(const FindingCounts& counts) {
  return counts.errors > 0 ? 2 : counts.warnings > 0 ? 1 : 0;
}

std::wstring FormatFinding(std::wstring_view file, const Finding& finding) {
  return std::wstring(file) + L":" + Number(static_cast<long long>(finding.line)) + L": " +
         (finding.severity == Severity::Error ? L"error" : L"warning") + L": " + finding.text;
}

std::wstring NearestName(std::wstring_view name, std::span<const std::wstring> candidates) {
  for (const std::wstring& c : candidates)
    if (EqualsNoCase(c, name)) return c;
  const size_t limit = name.size() <= 4 ? 1 : name.size() <= 12 ? 2 : 3;
  std::wstring best;
  size_t bestDistance = limit + 1;
  for (const std::wstring& c : candidates) {
    const size_t d = EditDistance(name, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

}  // namespace prereq
