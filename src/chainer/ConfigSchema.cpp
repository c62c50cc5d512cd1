#include "chainer/ConfigSchema.h"

#include <cwctype>

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

using G = GeneralOptions;
using P = Prerequisite;
using S = SearchEntry;
using C = ChainerSettings;
constexpr KeyUse kUsed = KeyUse::Consulted;
constexpr KeyUse kKept = KeyUse::StoredOnly;

const KeySpec<G> kGeneralOptionKeys[] = {
    {L"MainAppCmdLine", ValueType::Text, kKept, &G::MainAppCmdLine},
    {L"Options", ValueType::Letters, kUsed, &G::Options},
    {L"UpdatesUrl", ValueType::Text, kKept, &G::UpdatesUrl},
    {L"ProductVersion", ValueType::Text, kKept, &G::ProductVersion},
    {L"MinWIVer", ValueType::Text, kKept, &G::MinWIVer},
    {L"DownloadFolder", ValueType::Text, kUsed, &G::DownloadFolder},
    {L"UpdaterDownloadFolder", ValueType::Text, kKept, &G::UpdaterDownloadFolder},
    {L"MainAppURL", ValueType::Text, kKept, &G::MainAppURL},
    {L"LanguageList", ValueType::Text, kKept, &G::LanguageList},
    {L"ExtractionFolder", ValueType::Path, kUsed, &G::ExtractionFolder},
    {L"KeepFiles", ValueType::Choice, kUsed, &G::KeepFiles},
    {L"PackJars", ValueType::Bool, kKept, &G::PackJars},
    {L"AllPlatforms", ValueType::Bool, kKept, &G::AllPlatforms},
    {L"Is64PlatformTransf", ValueType::Bool, kKept, &G::Is64PlatformTransf},
    {L"Langs", ValueType::Text, kKept, &G::Langs},
    {L"PackageCode", ValueType::Text, kKept, &G::PackageCode},
    {L"ProductCode", ValueType::Text, kKept, &G::ProductCode},
    {L"DefaultProdCode", ValueType::Text, kUsed, &G::DefaultProdCode},
    {L"UpgradeCode", ValueType::Text, kKept, &G::UpgradeCode},
    {L"ExtUIStub", ValueType::Present, kKept, &G::ExtUIStub},
    {L"SaveExtUIStub", ValueType::Text, kKept, &G::SaveExtUIStub},
    {L"MsiCertData", ValueType::Text, kKept, &G::MsiCertData},
    {L"FileExtractFirst", ValueType::Text, kKept, &G::FileExtractFirst},
    {L"AppxVersion", ValueType::Text, kKept, &G::AppxVersion},
    {L"AppxPkId", ValueType::Text, kKept, &G::AppxPkId},
    {L"UwpAppxURL", ValueType::Text, kKept, &G::UwpAppxURL},
};

const KeySpec<P> kPrerequisiteKeys[] = {
    {L"DisplayName", ValueType::Text, kUsed, &P::DisplayName},
    {L"VerMin", ValueType::Text, kKept, &P::VerMin},
    {L"VerMax", ValueType::Text, kKept, &P::VerMax},
    {L"WinNTVersions", ValueType::Text, kUsed, &P::WinNTVersions},
    {L"WinNT64Versions", ValueType::Text, kUsed, &P::WinNT64Versions},
    {L"SetupFile", ValueType::Location, kUsed, {}},
    {L"OpenSite", ValueType::Location, kUsed, {}},
    {L"Url", ValueType::Location, kUsed, {}},
    {L"ExactSize", ValueType::Integer, kUsed, &P::ExactSize},
    {L"MD5", ValueType::Text, kUsed, &P::MD5},
    // The SHA-256 digest a downloaded or present file must have (64
    // hexadecimal digits); the acceptance check reads it.
    {L"SHA256", ValueType::Text, kUsed, &P::SHA256},
    // The publishers whose signature a downloaded, present or shipped file
    // must carry; the acceptance check reads it.
    {L"Signer", ValueType::Text, kUsed, &P::Signer},
    {L"Operator", ValueType::Integer, kUsed, &P::Operator},
    // The install loop runs only in quiet and basic-UI runs, which pass the
    // other two command lines: this one is kept but never passed.
    {L"CommandLine", ValueType::Text, kKept, &P::CommandLine},
    {L"BasicUiCommandLine", ValueType::Text, kUsed, &P::BasicUiCommandLine},
    {L"NoUiCommandLine", ValueType::Text, kUsed, &P::NoUiCommandLine},
    {L"Options", ValueType::Letters, kUsed, &P::Options},
    {L"RetValPropName", ValueType::Text, kUsed, &P::RetValPropName},
    {L"ParentPrereq", ValueType::Text, kUsed, &P::ParentPrereq},
    {L"Folder", ValueType::Text, kUsed, &P::Folder},
    {L"LanguageList", ValueType::Text, kUsed, &P::LanguageList},
    {L"InstallCond", ValueType::Text, kKept, &P::InstallCond},
    // What the package's return codes mean ("1638:success, 1618:retry"),
    // laid over the built-in table; the install loop reads it.
    {L"ExitCodes", ValueType::Text, kUsed, &P::ExitCodes},
};

const KeySpec<S> kSearchEntryKeys[] = {
    {L"SearchType", ValueType::Integer, kUsed, &S::SearchType},
    {L"SearchString", ValueType::Text, kUsed, &S::SearchString},
    {L"VerMin", ValueType::Text, kUsed, &S::VerMin},
    {L"VerMax", ValueType::Text, kUsed, &S::VerMax},
    {L"RefContent", ValueType::Text, kUsed, &S::RefContent},
    {L"SearchCmdLine", ValueType::Text, kUsed, &S::SearchCmdLine},
};

const KeySpec<MirrorEntry> kMirrorKeys[] = {
    {L"Url", ValueType::Text, kUsed, &MirrorEntry::Url},
};

const KeySpec<C> kChainerSettingKeys[] = {
    {L"CleanupFiles", ValueType::Text, kUsed, &C::CleanupFiles},
    {L"CleanupFolders", ValueType::Text, kUsed, &C::CleanupFolders},
    {L"LogFile", ValueType::Text, kUsed, &C::LogFile},
    {L"CleanupScript", ValueType::Text, kUsed, &C::CleanupScript},
    // Where the JSON account of the run is written at its end.
    {L"ResultFile", ValueType::Text, kUsed, &C::ResultFile},
};

constexpr ChoiceWord kKeepFilesWords[] = {
    {L"complete", static_cast<int32_t>(KeepFilesMode::Complete)},
    {L"minimum", static_cast<int32_t>(KeepFilesMode::Minimum)},
    {L"prereqs", static_cast<int32_t>(KeepFilesMode::Prereqs)},
};

}  // namespace

std::span<const KeySpec<GeneralOptions>> GeneralOptionKeys() { return kGeneralOptionKeys; }
std::span<const KeySpec<Prerequisite>> PrerequisiteKeys() { return kPrerequisiteKeys; }
std::span<const KeySpec<SearchEntry>> SearchEntryKeys() { return kSearchEntryKeys; }
std::span<const KeySpec<MirrorEntry>> MirrorKeys() { return kMirrorKeys; }
std::span<const KeySpec<ChainerSettings>> ChainerSettingKeys() { return kChainerSettingKeys; }
std::span<const ChoiceWord> KeepFilesWords() { return kKeepFilesWords; }

int32_t KeepFilesValue(std::wstring_view word) {
  for (const ChoiceWord& w : kKeepFilesWords)
    if (w.word == word) return w.value;
  return static_cast<int32_t>(KeepFilesMode::None);
}

bool IsTrueWord(std::wstring_view value) {
  constexpr std::wstring_view kTrue = L"true";
  if (value.size() != kTrue.size()) return false;
  for (size_t i = 0; i < value.size(); ++i)
    if (std::towlower(static_cast<wint_t>(value[i])) != static_cast<wint_t>(kTrue[i])) return false;
  return true;
}

std::wstring NumberedKey(std::wstring_view name, int number) {
  return Format(L"%s%d", {name, number});
}

}  // namespace prereq
