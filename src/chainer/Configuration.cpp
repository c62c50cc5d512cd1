#include "chainer/Configuration.h"

#include <cwctype>

#include "platform/core/Exception.h"
#include "platform/core/PathForms.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

// Readers by value type; a missing key leaves the field unchanged.
class SectionReader {
 public:
  explicit SectionReader(const IniSection& section) : section_(section) {}
  bool Has(std::wstring_view key) const { return FindEntry(section_, key) != nullptr; }
  void Text(std::wstring_view key, std::wstring& field) const {
    if (const IniEntry* e = FindEntry(section_, key)) field = e->value;
  }
  void Integer(std::wstring_view key, int32_t& field) const {
    if (const IniEntry* e = FindEntry(section_, key)) field = ParseDecimal(e->value);
  }
  void Bool(std::wstring_view key, bool& field) const {
    if (const IniEntry* e = FindEntry(section_, key)) field = EqualsNoCase(e->value, L"true");
  }
  void Present(std::wstring_view key, bool& field) const {
    if (const IniEntry* e = FindEntry(section_, key)) field = !e->value.empty();
  }

 private:
  const IniSection& section_;
};

int32_t KeepFilesValue(std::wstring_view word) {
  if (word == L"complete") return static_cast<int32_t>(KeepFilesMode::Complete);
  if (word == L"minimum") return static_cast<int32_t>(KeepFilesMode::Minimum);
  if (word == L"prereqs") return static_cast<int32_t>(KeepFilesMode::Prereqs);
  return static_cast<int32_t>(KeepFilesMode::None);
}

std::wstring Numbered(std::wstring_view name, int number) {
  return Format(L"%s%d", {name, number});
}

// The search entries of one prerequisite section; false when an entry has a
// SearchType key without the SearchString key of the same number.
bool LoadSearches(const IniSection& section, std::vector<SearchEntry>& searches) {
  SectionReader r(section);
  for (int k = 1;; ++k) {
    const IniEntry* type = FindEntry(section, Numbered(L"SearchType", k));
    if (type == nullptr) return true;
    SearchEntry entry;
    entry.SearchType = ParseDecimal(type->value);
    const IniEntry* str = FindEntry(section, Numbered(L"SearchString", k));
    if (str == nullptr) return false;
    entry.SearchString = str->value;
    r.Text(Numbered(L"VerMin", k), entry.VerMin);
    r.Text(Numbered(L"VerMax", k), entry.VerMax);
    r.Text(Numbered(L"RefContent", k), entry.RefContent);
    r.Text(Numbered(L"SearchCmdLine", k), entry.SearchCmdLine);
    searches.push_back(std::move(entry));
  }
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
  const IniSection* section = FindSection(ini, L"GeneralOptions");
  if (section == nullptr) return true;
  SectionReader r(*section);
  r.Text(L"MainAppCmdLine", o.MainAppCmdLine);
  r.Text(L"Options", o.Options);
  r.Text(L"UpdatesUrl", o.UpdatesUrl);
  r.Text(L"ProductVersion", o.ProductVersion);
  r.Text(L"MinWIVer", o.MinWIVer);
  r.Text(L"DownloadFolder", o.DownloadFolder);
  r.Text(L"UpdaterDownloadFolder", o.UpdaterDownloadFolder);
  r.Text(L"MainAppURL", o.MainAppURL);
  r.Text(L"LanguageList", o.LanguageList);
  if (r.Has(L"ExtractionFolder")) {
    r.Text(L"ExtractionFolder", o.ExtractionFolder);
    o.ExtractionFolder = WithTrailingBackslash(NormalizePath(o.ExtractionFolder));
  }
  if (const IniEntry* e = FindEntry(*section, L"KeepFiles")) o.KeepFiles = KeepFilesValue(e->value);
  r.Bool(L"PackJars", o.PackJars);
  r.Bool(L"AllPlatforms", o.AllPlatforms);
  r.Bool(L"Is64PlatformTransf", o.Is64PlatformTransf);
  r.Text(L"Langs", o.Langs);
  r.Text(L"PackageCode", o.PackageCode);
  r.Text(L"ProductCode", o.ProductCode);
  r.Text(L"DefaultProdCode", o.DefaultProdCode);
  r.Text(L"UpgradeCode", o.UpgradeCode);
  r.Present(L"ExtUIStub", o.ExtUIStub);
  r.Text(L"SaveExtUIStub", o.SaveExtUIStub);
  r.Text(L"MsiCertData", o.MsiCertData);
  r.Text(L"FileExtractFirst", o.FileExtractFirst);
  r.Text(L"AppxVersion", o.AppxVersion);
  r.Text(L"AppxPkId", o.AppxPkId);
  r.Text(L"UwpAppxURL", o.UwpAppxURL);
  return true;
}

void LoadConfiguration(const IniFile& ini, PrereqList& list) {
  LoadGeneralOptions(ini, list.general);
  const IniSection* index = FindSection(ini, L"PREREQUISITES");
  if (index == nullptr) return;
  for (int n = 1;; ++n) {
    Prerequisite p;
    std::wstring key = Numbered(L"App", n);
    const IniEntry* id = FindEntry(*index, key);
    if (id == nullptr) return;
    p.Id = id->value;
    const IniSection* section = FindSection(ini, key);
    if (section == nullptr) return;
    SectionReader r(*section);
    r.Text(L"DisplayName", p.DisplayName);
    r.Text(L"VerMin", p.VerMin);
    r.Text(L"VerMax", p.VerMax);
    r.Text(L"WinNTVersions", p.WinNTVersions);
    r.Text(L"WinNT64Versions", p.WinNT64Versions);
    if (r.Has(L"SetupFile")) {
      r.Text(L"SetupFile", p.Location);
      p.locationKind = LocationKind::SetupFile;
    } else if (r.Has(L"OpenSite")) {
      r.Text(L"OpenSite", p.Location);
      p.locationKind = LocationKind::OpenSite;
    } else if (r.Has(L"Url")) {
      r.Text(L"Url", p.Location);
      p.locationKind = LocationKind::Url;
    } else {
      return;
    }
    r.Integer(L"ExactSize", p.ExactSize);
    r.Text(L"MD5", p.MD5);
    if (r.Has(L"SHA256")) {
      std::wstring sha256;
      r.Text(L"SHA256", sha256);
      p.SHA256 = std::move(sha256);
    }
    r.Integer(L"Operator", p.Operator);
    r.Text(L"CommandLine", p.CommandLine);
    r.Text(L"BasicUiCommandLine", p.BasicUiCommandLine);
    r.Text(L"NoUiCommandLine", p.NoUiCommandLine);
    r.Text(L"Options", p.Options);
    r.Text(L"RetValPropName", p.RetValPropName);
    r.Text(L"ParentPrereq", p.ParentPrereq);
    r.Text(L"Folder", p.Folder);
    r.Text(L"LanguageList", p.LanguageList);
    r.Text(L"InstallCond", p.InstallCond);
    if (!LoadSearches(*section, p.Searches)) return;

    if (!p.LanguageList.empty() && p.LanguageList.back() != L';') p.LanguageList.push_back(L';');
    if (p.locationKind != LocationKind::SetupFile) p.Location = Expand(list.expander, p.Location);
    p.ignoreDetection = p.HasOption(L'i');
    p.state = PrereqState::Unset;
    p.present = false;
    p.selected = false;
    list.prereqs.push_back(std::move(p));
  }
}

bool LoadChainerSettings(const IniFile& ini, ChainerSettings& s) {
  const IniSection* section = FindSection(ini, L"PREREQ_CHAINER");
  if (section == nullptr) return false;
  SectionReader r(*section);
  r.Text(L"CleanupFiles", s.CleanupFiles);
  r.Text(L"CleanupFolders", s.CleanupFolders);
  r.Text(L"LogFile", s.LogFile);
  r.Text(L"CleanupScript", s.CleanupScript);
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
