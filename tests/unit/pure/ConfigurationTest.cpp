#include <gtest/gtest.h>

#include "chainer/Configuration.h"
#include "platform/core/Exception.h"

using namespace prereq;

namespace {

PrereqList Load(const std::wstring& text, PropertyExpander expander = {}) {
  PrereqList list;
  list.expander = std::move(expander);
  LoadConfiguration(ParseIni(text), list);
  return list;
}

TEST(LoadGeneralOptions, ReadsEveryTypeOfValue) {
  PrereqList list = Load(
      L"[GeneralOptions]\r\n"
      L"Options = qb\r\nKeepFiles=complete\r\nPackJars=TRUE\r\nAllPlatforms=yes\r\n"
      L"ExtUIStub=x\r\nExtractionFolder=C:\\Ex  \\\\sub..\\\r\nDefaultProdCode={ABC}\r\n"
      L"UwpAppxURL=u\r\nAppxPkId=p\r\n");
  const GeneralOptions& g = list.general;
  EXPECT_EQ(g.Options, L"qb");
  EXPECT_TRUE(list.Quiet());
  EXPECT_TRUE(list.BasicUi());
  EXPECT_EQ(g.KeepFiles, 2);
  EXPECT_TRUE(g.PackJars);
  EXPECT_FALSE(g.AllPlatforms);
  EXPECT_TRUE(g.ExtUIStub);
  EXPECT_EQ(g.ExtractionFolder, L"C:\\Ex\\sub\\");
  EXPECT_EQ(g.DefaultProdCode, L"{ABC}");
  EXPECT_EQ(g.UwpAppxURL, L"u");
  EXPECT_EQ(g.AppxPkId, L"p");
}

TEST(LoadGeneralOptions, AMissingSectionIsNoFailure) {
  IniFile ini;
  GeneralOptions g;
  EXPECT_TRUE(LoadGeneralOptions(ini, g));
  EXPECT_EQ(g.Options, L"");
}

TEST(LoadGeneralOptions, KeepFilesWordsAreExact) {
  const std::pair<const wchar_t*, int32_t> cases[] = {
      {L"complete", 2}, {L"minimum", 1}, {L"prereqs", 5}, {L"Complete", 0}, {L"", 0}, {L"5", 0}};
  for (auto [word, value] : cases) {
    PrereqList list = Load(std::wstring(L"[GeneralOptions]\r\nKeepFiles=") + word);
    EXPECT_EQ(list.general.KeepFiles, value) << word;
  }
}

TEST(LoadGeneralOptions, BlanksInsideBracketsHideTheSection) {
  PrereqList list = Load(L"[ GeneralOptions ]\r\nOptions=q");
  EXPECT_EQ(list.general.Options, L"");
  EXPECT_FALSE(list.Quiet());
}

TEST(LoadConfiguration, PrerequisiteRecordsAndSearches) {
  PrereqList list = Load(
      L"[PREREQUISITES]\r\nApp1=first\r\nApp2=second\r\n"
      L"[App1]\r\nDisplayName=One\r\nSetupFile=redist\\one.exe\r\nUrl=http://x/one.exe\r\n"
      L"Options=mi\r\nLanguageList=1033\r\nExactSize=-5\r\nOperator=1\r\n"
      L"SearchType1=3\r\nSearchString1={GUID}\r\nVerMin1=1.0\r\n"
      L"SearchType2=0\r\nSearchString2=C:\\f.dll\r\nRefContent2=r\r\nSearchCmdLine2=c\r\n"
      L"[App2]\r\nDisplayName=Two\r\nUrl=http://host/[TempFolder]two.msi\r\n"
      L"LanguageList=1033;1031;\r\nMD5=abc\r\n",
      [](std::wstring_view text, bool use64) {
        EXPECT_FALSE(use64);
        return L"<" + std::wstring(text) + L">";
      });
  ASSERT_EQ(list.Count(), 2u);
  const Prerequisite& one = list.At(0);
  EXPECT_EQ(one.Id, L"first");
  EXPECT_EQ(one.Location, L"redist\\one.exe");  // SetupFile wins and is not expanded
  EXPECT_EQ(one.locationKind, LocationKind::SetupFile);
  EXPECT_TRUE(one.ignoreDetection);
  EXPECT_EQ(one.LanguageList, L"1033;");
  EXPECT_EQ(one.ExactSize, -5);
  EXPECT_EQ(one.Operator, 1);
  EXPECT_EQ(one.state, PrereqState::Unset);
  ASSERT_EQ(one.Searches.size(), 2u);
  EXPECT_EQ(one.Searches[0].SearchType, 3);
  EXPECT_EQ(one.Searches[0].VerMin, L"1.0");
  EXPECT_EQ(one.Searches[1].SearchString, L"C:\\f.dll");
  EXPECT_EQ(one.Searches[1].RefContent, L"r");
  EXPECT_EQ(one.Searches[1].SearchCmdLine, L"c");

  const Prerequisite& two = list.At(1);
  EXPECT_EQ(two.locationKind, LocationKind::Url);
  EXPECT_EQ(two.Location, L"<http://host/[TempFolder]two.msi>");
  EXPECT_EQ(two.LanguageList, L"1033;1031;");
  EXPECT_FALSE(two.ignoreDetection);
  EXPECT_THROW(list.At(2), Exception);
}

TEST(LoadConfiguration, Sha256KeyIsKeptAsWrittenWhenPresent) {
  PrereqList list = Load(
      L"[PREREQUISITES]\r\nApp1=a\r\nApp2=b\r\nApp3=c\r\n"
      L"[App1]\r\nUrl=u\r\nSHA256 = AbC \r\n"
      L"[App2]\r\nUrl=u\r\nSHA256=\r\n"
      L"[App3]\r\nUrl=u\r\nsha256=abc\r\n");  // key names are compared with case
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.At(0).SHA256, std::optional<std::wstring>(L"AbC"));
  EXPECT_EQ(list.At(1).SHA256, std::optional<std::wstring>(L""));
  EXPECT_EQ(list.At(2).SHA256, std::nullopt);
}

TEST(LoadConfiguration, SignerAndFurtherAddresses) {
  const struct {
    const char* name;
    std::wstring keys;
    std::optional<std::wstring> signer;
    std::vector<std::wstring> mirrors;
  } cases[] = {
      {"none", L"Url=u", std::nullopt, {}},
      {"signer_as_written", L"Url=u\r\nSigner = CN=A, CN=B ", L"CN=A, CN=B", {}},
      {"signer_empty", L"Url=u\r\nSigner=", L"", {}},
      {"from_2_expanded", L"Url=u\r\nUrl2=v\r\nUrl3=w", std::nullopt, {L"<v>", L"<w>"}},
      // Numbered without gaps from 2, as the search entries are from 1.
      {"gap_ends_them", L"Url=u\r\nUrl2=v\r\nUrl4=w", std::nullopt, {L"<v>"}},
      {"no_2", L"Url=u\r\nUrl3=w", std::nullopt, {}},
      {"url1_is_no_address", L"Url=u\r\nUrl1=x\r\nUrl2=v", std::nullopt, {L"<v>"}},
      {"leading_zero", L"Url=u\r\nUrl02=x", std::nullopt, {}},
      {"empty_address_kept", L"Url=u\r\nUrl2=\r\nUrl3=w", std::nullopt, {L"<>", L"<w>"}},
      // Read, but only a Url expands them (and only a download uses them).
      {"setupfile", L"SetupFile=s.exe\r\nUrl2=v", std::nullopt, {L"v"}},
  };
  for (const auto& c : cases) {
    PrereqList list = Load(L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\n" + c.keys,
                           [](std::wstring_view text, bool) { return L"<" + std::wstring(text) + L">"; });
    ASSERT_EQ(list.Count(), 1u) << c.name;
    EXPECT_EQ(list.At(0).Signer, c.signer) << c.name;
    EXPECT_EQ(list.At(0).Mirrors, c.mirrors) << c.name;
  }
}

TEST(LoadConfiguration, OpenSiteBeatsUrl) {
  PrereqList list = Load(L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nUrl=u\r\nOpenSite=o\r\n");
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.At(0).locationKind, LocationKind::OpenSite);
  EXPECT_EQ(list.At(0).Location, L"o");
}

struct StopCase {
  const char* name;
  std::wstring text;
  size_t loaded;
};

TEST(LoadConfiguration, ListEndsSilentlyAtTheFirstBadEntry) {
  const StopCase cases[] = {
      {"gap_in_numbering", L"[PREREQUISITES]\r\nApp1=a\r\nApp3=c\r\n[App1]\r\nUrl=u\r\n[App3]\r\nUrl=u", 1},
      {"missing_location", L"[PREREQUISITES]\r\nApp1=a\r\nApp2=b\r\nApp3=c\r\n[App1]\r\nUrl=u\r\n"
                           L"[App2]\r\nDisplayName=b\r\n[App3]\r\nUrl=u", 1},
      {"search_without_string", L"[PREREQUISITES]\r\nApp1=a\r\nApp2=b\r\nApp3=c\r\n[App1]\r\nUrl=u\r\n"
                                L"[App2]\r\nUrl=u\r\nSearchType1=2\r\n[App3]\r\nUrl=u", 1},
      {"missing_section", L"[PREREQUISITES]\r\nApp1=a\r\nApp2=b\r\n[App2]\r\nUrl=u", 0},
      {"no_index", L"[App1]\r\nUrl=u", 0},
      {"search_gap_ends_entries", L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nUrl=u\r\n"
                                  L"SearchType1=1\r\nSearchString1=s\r\nSearchType3=1", 1},
  };
  for (const StopCase& c : cases) EXPECT_EQ(Load(c.text).Count(), c.loaded) << c.name;
}

TEST(LoadConfiguration, DuplicateAppSectionUsesTheFirst) {
  PrereqList list = Load(
      L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nDisplayName=first\r\n[App1]\r\nUrl=u\r\n");
  EXPECT_EQ(list.Count(), 0u);  // the first App1 has no location
}

TEST(LoadChainerSettings, MissingSectionAnswersFalse) {
  ChainerSettings s;
  EXPECT_FALSE(LoadChainerSettings(ParseIni(L"[A]\r\nLogFile=x"), s));
  EXPECT_TRUE(s.LogFile.empty());
  EXPECT_TRUE(LoadChainerSettings(
      ParseIni(L"[PREREQ_CHAINER]\r\nLogFile=C:\\l.log\r\nCleanupFiles=a\x01" L"b\r\n"
               L"CleanupFolders=C:\\r\r\nCleanupScript=s.ps1"),
      s));
  EXPECT_EQ(s.LogFile, L"C:\\l.log");
  EXPECT_EQ(s.CleanupFiles, L"a\x01" L"b");
  EXPECT_EQ(s.CleanupFolders, L"C:\\r");
  EXPECT_EQ(s.CleanupScript, L"s.ps1");
}

TEST(ResolvedFolders, RuleAndOnceOnly) {
  PrereqList list = Load(L"[GeneralOptions]\r\nDefaultProdCode={ABC}\r\n");
  int tempCalls = 0;
  list.tempFolder = [&] {
    ++tempCalls;
    return std::wstring(L"C:\\Temp");
  };
  EXPECT_EQ(list.DownloadFolder(), L"C:\\Temp\\{ABC}\\");
  list.general.DefaultProdCode = L"{OTHER}";
  EXPECT_EQ(list.DownloadFolder(), L"C:\\Temp\\{ABC}\\");  // computed once
  EXPECT_EQ(list.ResolveExtractionFolder(), L"C:\\Temp\\{OTHER}\\");
  EXPECT_EQ(tempCalls, 2);

  PropertyExpander expander = [](std::wstring_view text, bool) {
    std::wstring s(text);
    if (s.rfind(L"[TempFolder]", 0) == 0) s.replace(0, 12, L"C:\\T\\");
    return s;
  };
  EXPECT_EQ(ResolveConfiguredFolder(L"[TempFolder]\\dl.. \\\\x", L"", L"", expander),
            L"C:\\T\\dl\\x\\");
  EXPECT_EQ(ResolveConfiguredFolder(L"D:\\dl\\", L"C:\\Temp\\", L"P", expander), L"D:\\dl\\");
}

}  // namespace
