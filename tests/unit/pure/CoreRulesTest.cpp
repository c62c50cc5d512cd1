#include <gtest/gtest.h>

#include <tuple>

#include "acquisition/PackagedFiles.h"
#include "chainer/ModulePaths.h"
#include "evaluation/OsInfo.h"
#include "logging/LogFormat.h"
#include "platform/core/PathForms.h"
#include "platform/core/TextFormat.h"

using namespace prereq;

namespace {

// A path of exactly `length` characters: `head`, then "a" characters, then
// ".msix".
std::wstring PathOf(const std::wstring& head, size_t length) {
  std::wstring path = head;
  path.append(length - head.size() - 5, L'a');
  return path + L".msix";
}

TEST(PathForms, LongFormTable) {
  struct Case {
    std::wstring path;
    std::wstring expected;
  };
  const std::wstring drive248 = PathOf(L"C:\\pkgs\\", 248);
  const std::wstring drive247 = PathOf(L"C:\\pkgs\\", 247);
  const std::wstring unc248 = PathOf(L"\\\\server\\share\\", 248);
  const std::wstring unc247 = PathOf(L"\\\\server\\share\\", 247);
  const std::wstring relative = PathOf(L"pkgs\\", 300);
  const std::wstring rooted = PathOf(L"\\pkgs\\", 300);
  const std::wstring longForm = L"\\\\?\\" + PathOf(L"C:\\pkgs\\", 300);
  const std::wstring longUnc = L"\\\\?\\UNC\\" + PathOf(L"server\\share\\", 300);
  const std::wstring lowerUnc = L"\\\\?\\unc\\" + PathOf(L"server\\share\\", 300);
  const std::wstring device = L"\\\\.\\" + PathOf(L"C:\\pkgs\\", 300);
  const Case cases[] = {
      {L"", L""},
      {L"C:\\a.msix", L"C:\\a.msix"},
      {drive247, drive247},  // 247 characters are still short
      {drive248, L"\\\\?\\" + drive248},
      {unc247, unc247},
      {unc248, L"\\\\?\\UNC\\" + unc248.substr(2)},
      {relative, relative},  // neither a drive nor a share
      {rooted, rooted},
      // Already namespaced: never prefixed twice, never turned into a share.
      {longForm, longForm},
      {longUnc, longUnc},
      {lowerUnc, lowerUnc},  // "\\?\" already, whatever follows
      {device, device},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToLongPathForm(c.path), c.expected);
  }
}

TEST(NormalizePath, Table) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\a\\\\b", L"C:\\a\\b"},
      {L"C:\\a. \\b...", L"C:\\a\\b"},
      {L"C:\\a\\", L"C:\\a\\"},
      {L"\\\\server.\\share \\dir", L"\\\\server\\share\\dir"},
      {L"\\\\?\\C:\\x\\\\y", L"\\\\?\\C:\\x\\y"},
      {L"\\\\?\\UNC\\srv\\share\\x ", L"\\\\?\\UNC\\srv\\share\\x"},
      {L"[TempFolder]\\sub", L"[TempFolder]sub"},
      {L"[TempFolder]sub\\[X]\\y", L"[TempFolder]sub\\[X]y"},
      {L"\\rooted\\x", L"\\rooted\\x"},
      {L"relative\\x.", L"relative\\x"},
      {L"C:\\a\\..\\b\\.\\c", L"C:\\a\\..\\b\\.\\c"},  // dot pieces stay for the platform
      {L"", L""},
      {L"C:", L"C:"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizePath(in), out) << std::string(in.begin(), in.end());
}

TEST(LongPathForm, OnlyLongAbsolutePathsGetThePrefix) {
  std::wstring tail(250, L'a');
  EXPECT_EQ(ToLongPathForm(L"C:\\" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ToLongPathForm(L"\\\\srv\\" + tail), L"\\\\?\\UNC\\srv\\" + tail);
  EXPECT_EQ(ToLongPathForm(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ToLongPathForm(L"rel\\" + tail), L"rel\\" + tail);
  EXPECT_EQ(ToLongPathForm(L"C:\\short"), L"C:\\short");
  std::wstring exactly247 = L"C:\\" + std::wstring(244, L'b');
  ASSERT_EQ(exactly247.size(), 247u);
  EXPECT_EQ(ToLongPathForm(exactly247), exactly247);
  EXPECT_EQ(ToLongPathForm(exactly247 + L"c"), L"\\\\?\\" + exactly247 + L"c");
}

TEST(LongPathForm, ReverseRoundTrips) {
  std::wstring tail(250, L'z');
  for (const std::wstring& p : {L"C:\\" + tail, L"\\\\srv\\share\\" + tail}) {
    EXPECT_EQ(FromLongPathForm(ToLongPathForm(p)), p);
  }
  EXPECT_EQ(FromLongPathForm(L"\\\\?\\UNC\\s\\x"), L"\\\\s\\x");
  EXPECT_EQ(FromLongPathForm(L"\\\\?\\D:\\x"), L"D:\\x");
  EXPECT_EQ(FromLongPathForm(L"D:\\x"), L"D:\\x");
}

TEST(Format, Conversions) {
  EXPECT_EQ(Format(L"%s Setup", {L"Product"}), L"Product Setup");
  EXPECT_EQ(Format(L"%s%d", {L"App", 12}), L"App12");
  EXPECT_EQ(Format(L"%04d-%02d-%02d %02d-%02d-%02d", {2026, 1, 2, 3, 4, 5}), L"2026-01-02 03-04-05");
  EXPECT_EQ(Format(L"%04x%04x", {1033u, 1250u}), L"040904e2");
  EXPECT_EQ(Format(L"%u", {static_cast<unsigned>(-1)}), L"4294967295");
  EXPECT_EQ(Format(L"%d", {-2147483647 - 1}), L"-2147483648");
  EXPECT_EQ(Format(L"%d", {4294967295u}), L"-1");  // 32-bit as the C runtime prints it
  EXPECT_EQ(Format(L"0x%.8x", {0xE0000008u}), L"0xe0000008");
  EXPECT_EQ(Format(L"%-5s|%5s", {L"ab", L"cd"}), L"ab   |   cd");
  EXPECT_EQ(Format(L"%5s|%-4s|", {42, -7}), L"   42|-7  |");  // a number under %s
  for (const auto& [a, b, equal] : {std::tuple{L"Ab", L"aB", true}, std::tuple{L"ab", L"ac", false},
                                     std::tuple{L"a", L"ab", false}, std::tuple{L"[", L"{", false},
                                     std::tuple{L"", L"", true}})
    EXPECT_EQ(EqualsIgnoringAsciiCase(a, b), equal) << std::wstring(a).size();
  EXPECT_EQ(Format(L"100%% %s", {}), L"100% ");
  EXPECT_EQ(Format(L"%hs %ls %Iu", {L"a", L"b", 7u}), L"a b 7");
  EXPECT_EQ(Format(L"trailing %", {}), L"trailing %");
  EXPECT_EQ(Format(L"%q", {1}), L"%q");
  EXPECT_EQ(Format(L"%.12s|%.9s", {L"abcdefghijklmn", L"abcdefghijklmn"}), L"abcdefghijkl|abcdefghi");
  EXPECT_EQ(Format(L"%lld|%l", {int64_t{-5000000000}, 1}), L"-5000000000|%l");
}

TEST(ModulePaths, ConfigurationBesideTheExecutable) {
  EXPECT_EQ(ConfigPathFor(L"C:\\Setup\\prereq.exe"), L"C:\\Setup\\prereq.ini");
  EXPECT_EQ(ConfigPathFor(L"C:\\Setup\\my.setup.exe"), L"C:\\Setup\\my.setup.ini");
  EXPECT_EQ(ConfigPathFor(L"C:\\Setup\\noext"), L"C:\\Setup\\noext.ini");
  EXPECT_EQ(ConfigPathFor(L"C:\\my.dir\\noext"), L"C:\\my.dir\\noext.ini");
  EXPECT_EQ(ConfigPathFor(L"prereq.exe"), L"prereq.ini");
  EXPECT_EQ(FolderOf(L"C:\\Setup\\prereq.exe"), L"C:\\Setup");
  EXPECT_EQ(FolderOf(L"prereq.exe"), L"");
  EXPECT_EQ(ReplaceExtension(L"prereq.exe", L"LOG"), L"prereq.LOG");
  EXPECT_EQ(ReplaceExtension(L"my.setup.exe", L"LOG"), L"my.setup.LOG");
  EXPECT_EQ(ReplaceExtension(L"noext", L"LOG"), L"noext.LOG");
}

TEST(LogFormat, HeaderAndStamp) {
  OsInfo os;
  os.majorVersion = 6;
  os.minorVersion = 1;
  os.buildNumber = 7601;
  os.servicePackMajor = 1;
  EXPECT_EQ(FormatLogHeader(os, L" Intel CPU"),
            L"\r\n<< Corvane (x86) Log >>\r\n"
            L"OS Version: 6.1.7601 SP1 (workstation) [x86]\r\n"
            L"CPU:  Intel CPU\r\n\r\n");
  os.isServer = true;
  os.is64BitWindows = true;
  EXPECT_EQ(FormatOsVersionLine(os), L"OS Version: 6.1.7601 SP1 (server) [x64]\r\n");
  EXPECT_EQ(FormatLogTimestamp({2026, 12, 8, 1, 2, 3}), L"2026-12-08 01-02-03");
}

TEST(LogFormat, ProcessorName) {
  char brand[48] = {};
  const char text[] = "  Test CPU @ 1GHz";
  memcpy(brand, text, sizeof(text));
  EXPECT_EQ(ProcessorNameFromBrand(0x80000004u, brand), L"  Test CPU @ 1GHz");
  EXPECT_EQ(ProcessorNameFromBrand(0x80000003u, brand), L"UnkownCPU");
  char full[48];
  memset(full, 'x', sizeof(full));  // no terminating NUL: all 48 characters
  EXPECT_EQ(ProcessorNameFromBrand(0x80000008u, full), std::wstring(48, L'x'));
}

// Every kind of line the program writes: flushed are those before a launch or
// a restart, the errors, and the closing line.
TEST(LogFormat, FlushPoints) {
  const std::pair<std::wstring_view, bool> cases[] = {
      {L"Launching file:C:\\dl\\setup.exe", true},
      {L"Launching URL:http://example.test/", true},
      {L"Rebooting machine...", true},
      {L"Download failed. Error:-536870888", true},
      {L"Launch failed. Error:The system cannot find the file specified.", true},
      {L"Downloaded file was rejected.(Invalid size or MD5).", true},
      {L"Redirect refused (only http and https are followed):file://host/x", true},
      {L"Too many redirects; the last to:http://a/", true},
      {L"Some later check failed. Error:5", true},  // any line with "Error:"
      {kLogClosingLine, true},
      {L"=====================End of Log=====================", false},  // without its line end
      {L"Searching for:Runtime", false},
      {L"Starting download of:Runtime", false},
      {L"Download completed succesfully.", false},
      {L"Downloaded file was accepted.", false},
      {L"Return code of launched file:0", false},
      {L"Redirected to:http://a/x", false},
      {L"  Reboot was refused=false", false},
      {L"", false},
      {L" Launching file:x", false},  // a prefix only at the start
      {L"error: lower case", false},
  };
  for (const auto& [text, flushed] : cases)
    EXPECT_EQ(IsLogFlushPoint(text), flushed) << std::string(text.begin(), text.end());
}

TEST(PackagedFiles, LocateRules) {
  PackagedFiles files;
  files.setupFile = L"C:\\Setup\\prereq.exe";
  files.extractionFolder = L"C:\\Temp\\{P}\\";
  EXPECT_EQ(files.LocateForInstall(L"D:\\x.exe"), L"D:\\x.exe");
  EXPECT_EQ(files.LocateForInstall(L"\\\\srv\\x.exe"), L"\\\\srv\\x.exe");
  EXPECT_EQ(files.LocateForInstall(L"redist\\setup.exe"), L"C:\\Temp\\{P}\\redist\\setup.exe");
  EXPECT_EQ(files.LocateForInstall(L"a"), L"C:\\Temp\\{P}\\a");
  EXPECT_EQ(files.LocateForSearch(L"D:\\detect.exe"), L"C:\\Temp\\{P}\\D:\\detect.exe");
  files.extractionFolder.clear();
  EXPECT_EQ(files.LocateForInstall(L"x.exe"), L"C:\\Setup\\x.exe");
}

TEST(OsRules, BuildNumberConversion) {
  const std::pair<std::wstring, uint32_t> cases[] = {
      {L"7601", 7601}, {L"19045abc", 19045}, {L"", 0}, {L"x1", 0}, {L"-5", 0xFFFFFFFBu},
      {L"99999999999", static_cast<uint32_t>(99999999999ull)}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseBuildNumber(text.data(), text.size()), value);
}

}  // namespace
