#include <gtest/gtest.h>

#include "execution/LaunchRules.h"

using namespace prereq;

TEST(LaunchRules, QuietSwitches) {
  const struct {
    const wchar_t* commandLine;
    bool quiet;
  } cases[] = {
      {L"/q", true},        {L"/qn", true},          {L"/quiet", true},
      {L"-q", true},        {L"--q", true},          {L"/-q", true},
      {L"x /norestart /qb", true},                   {L"REBOOT=0 -quiet", true},
      {L"/Q", false},       {L"/QN", false},         {L"", false},
      {L"q", false},        {L"/ q", false},         {L"\\q", false},
      {L"ADDLOCAL=qux", false},                      {L"path=C:/quiet", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsQuietCommandLine(c.commandLine), c.quiet) << c.commandLine;
}

// Runs of signs as long as a command line can be: no recursion per sign, no
// retry per start (the stack of a thread under Wine is 1 to 2 MiB).
TEST(LaunchRules, QuietSwitchAfterLongRunsOfSigns) {
  const std::wstring dashes(32767, L'-');
  EXPECT_FALSE(IsQuietCommandLine(dashes));
  EXPECT_TRUE(IsQuietCommandLine(dashes + L"q"));
  EXPECT_TRUE(IsQuietCommandLine(std::wstring(20000, L'/') + L"qn"));
  EXPECT_FALSE(IsQuietCommandLine(std::wstring(20000, L'/') + L" q"));
  EXPECT_TRUE(IsQuietCommandLine(L"q" + std::wstring(30000, L' ') + L"-q"));
}

TEST(LaunchRules, RebootModeAndCommandLineField) {
  EXPECT_EQ(RebootModeFor(L""), RebootMode::None);
  EXPECT_EQ(RebootModeFor(L"R"), RebootMode::None);  // "R" alone sets nothing
  EXPECT_EQ(RebootModeFor(L"mr"), RebootMode::Always);
  EXPECT_EQ(RebootModeFor(L"Rr"), RebootMode::WhenInstalled);
  EXPECT_EQ(ChooseCommandLineField(L"q"), CommandLineField::NoUi);
  EXPECT_EQ(ChooseCommandLineField(L"qb"), CommandLineField::BasicUi);  // both: basic UI
  EXPECT_EQ(ChooseCommandLineField(L"B"), CommandLineField::Plain);     // with case
  EXPECT_EQ(ChooseCommandLineField(L""), CommandLineField::Plain);
}

TEST(LaunchRules, LocalSystemCommands) {
  const struct {
    const wchar_t* path;
    const wchar_t* args;
    const wchar_t* system;
    const wchar_t* app;
    const wchar_t* commandLine;
  } cases[] = {
      // The installer programs by their full path, never by bare name.
      {L"C:\\s\\a.msi", L"", L"C:\\W\\system32", L"C:\\W\\system32\\msiexec.exe",
       L"\"C:\\W\\system32\\msiexec.exe\" /i \"F:\\final.pkg\""},
      {L"C:\\s\\A.MSI", L" /qn", L"C:\\W\\system32\\", L"C:\\W\\system32\\msiexec.exe",
       L"\"C:\\W\\system32\\msiexec.exe\" /i \"F:\\final.pkg\" /qn"},
      // Patches go to msiexec /p, updates to wusa.exe; both with the final path.
      {L"C:\\s\\fix.msp", L" /qn", L"C:\\W\\system32", L"C:\\W\\system32\\msiexec.exe",
       L"\"C:\\W\\system32\\msiexec.exe\" /p \"F:\\final.pkg\" /qn"},
      {L"C:\\s\\FIX.MSP", L"", L"C:\\W\\system32", L"C:\\W\\system32\\msiexec.exe",
       L"\"C:\\W\\system32\\msiexec.exe\" /p \"F:\\final.pkg\""},
      {L"C:\\s\\kb1.msu", L" /quiet /norestart", L"C:\\W\\system32", L"C:\\W\\system32\\wusa.exe",
       L"\"C:\\W\\system32\\wusa.exe\" \"F:\\final.pkg\" /quiet /norestart"},
      {L"C:\\s\\KB1.Msu", L"", L"C:\\W\\system32", L"C:\\W\\system32\\wusa.exe",
       L"\"C:\\W\\system32\\wusa.exe\" \"F:\\final.pkg\""},
      // Only the four-character extensions count.
      {L"C:\\s\\a.msix", L"", L"C:\\W", L"C:\\s\\a.msix", L"\"C:\\s\\a.msix\" "},
      {L"C:\\s\\a.mspx", L"", L"C:\\W", L"C:\\s\\a.mspx", L"\"C:\\s\\a.mspx\" "},
      {L"C:\\s\\a.ms", L"", L"C:\\W", L"C:\\s\\a.ms", L"\"C:\\s\\a.ms\" "},
      {L"C:\\s.msi\\setup", L"", L"C:\\W", L"C:\\s.msi\\setup", L"\"C:\\s.msi\\setup\" "},
      {L"C:\\s.msu\\setup", L"", L"C:\\W", L"C:\\s.msu\\setup", L"\"C:\\s.msu\\setup\" "},
      {L"C:\\s\\setup.exe", L" /S", L"C:\\W", L"C:\\s\\setup.exe", L"\"C:\\s\\setup.exe\"  /S"},
  };
  for (const auto& c : cases) {
    const ProcessCommand command = LocalSystemCommand(c.path, L"F:\\final.pkg", c.args, c.system);
    EXPECT_EQ(command.applicationName, c.app) << c.path;
    EXPECT_EQ(command.commandLine, c.commandLine) << c.path;
  }
  EXPECT_EQ(SystemAccountRouteFor(L"a.MSI"), SystemAccountRoute::Msi);
  EXPECT_EQ(SystemAccountRouteFor(L"a.msp"), SystemAccountRoute::Patch);
  EXPECT_EQ(SystemAccountRouteFor(L"a.msU"), SystemAccountRoute::Update);
  EXPECT_EQ(SystemAccountRouteFor(L"a.exe"), SystemAccountRoute::Direct);
  EXPECT_EQ(SystemAccountRouteFor(L"msp"), SystemAccountRoute::Direct);
  EXPECT_EQ(WithLeadingSpace(L""), L"");
  EXPECT_EQ(WithLeadingSpace(L"/qn"), L" /qn");
  EXPECT_EQ(WithLeadingSpace(L"  /qn"), L"  /qn");
  EXPECT_TRUE(IsMsiPackagePath(L"C:\\s\\a.MsI"));
  EXPECT_FALSE(IsMsiPackagePath(L"C:\\s\\a.msix"));
  EXPECT_FALSE(IsMsiPackagePath(L"C:\\s.msi\\setup"));
  EXPECT_EQ(ExtensionOf(L"C:\\a.b\\c"), L"");
  EXPECT_EQ(ExtensionOf(L"C:\\a.b\\c.tar.gz"), L".gz");
}
