// The system conditions for the running system: names computed once per
// process from GetOsInfo(), the system default language.
#include "evaluation/OsConditions.h"

#include <windows.h>

#include "evaluation/Search.h"
#include "logging/Logger.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

struct SystemNames {
  std::wstring detailed;
  std::wstring general;
};

const SystemNames& ProcessSystemNames() {
  static const SystemNames names{DetailedSystemName(GetOsInfo()), GeneralSystemName(GetOsInfo())};
  return names;
}

}  // namespace

std::wstring LanguageDisplayName(uint16_t language) {
  const LCID locale = MAKELCID(language, SORT_DEFAULT);
  const int length = ::GetLocaleInfoW(locale, LOCALE_SLANGUAGE, nullptr, 0);
  if (length <= 0) return {};
  std::wstring name(static_cast<size_t>(length), L'\0');
  const int written = ::GetLocaleInfoW(locale, LOCALE_SLANGUAGE, name.data(), length);
  if (written <= 0) return {};
  name.resize(static_cast<size_t>(written) - 1);  // without the terminating NUL
  return name;
}

bool IsWindows10OrLater() { return IsWindows10OrLater(GetOsInfo()); }

bool OsAllowed(std::wstring_view winNTVersions, std::wstring_view winNT64Versions) {
  const SystemNames& names = ProcessSystemNames();
  return OsListAllowsNames(GetOsInfo().is64BitWindows, winNTVersions, winNT64Versions,
                           names.detailed, names.general);
}

bool LanguageAllowed(std::wstring_view languageList) {
  if (languageList.empty()) return true;
  const LANGID language = ::GetSystemDefaultLangID();
  if (loggingEnabled)
    WriteLine(L"SystemDefault LangID=" +
              Format(L"%d-%s", {static_cast<int>(language), LanguageDisplayName(language)}));
  return LanguageListAllows(languageList, language);
}

MachineFacts CollectMachineFacts() {
  const OsInfo& os = GetOsInfo();
  MachineFacts m;
  m.majorVersion = os.majorVersion;
  m.minorVersion = os.minorVersion;
  m.buildNumber = os.buildNumber;
  m.servicePack = os.servicePackMajor;
  m.server = os.isServer;
  m.is64BitWindows = os.is64BitWindows;
  m.detailedName = ProcessSystemNames().detailed;
  m.generalName = ProcessSystemNames().general;
  m.languageId = ::GetSystemDefaultLangID();
  m.languageName = LanguageDisplayName(static_cast<uint16_t>(m.languageId));
  const NativeMachine native = QueryNativeMachine();
  m.nativeMachineKnown = native.haveFunction && native.callSucceeded;
  m.nativeMachine = native.machine;
  return m;
}

}  // namespace prereq
