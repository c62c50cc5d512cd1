#include <gtest/gtest.h>

#include "logging/LogFileRules.h"

using namespace prereq;

namespace {

TEST(JudgeOpenedLogFile, OnlyAPlainFileWithOneNameInTheCheckedFolder) {
  const struct {
    const char* name;
    OpenedLogFacts facts;
    LogFileVerdict verdict;
  } cases[] = {
      {"plain", {0x10, 0x20, true, 1, true}, LogFileVerdict::Usable},
      {"plain_normal_attribute", {0x10, 0x80, true, 1, true}, LogFileVerdict::Usable},
      {"folder_junction", {0x410, 0x20, true, 1, true}, LogFileVerdict::FolderIsLink},
      {"file_symbolic_link", {0x10, 0x420, true, 1, true}, LogFileVerdict::FileIsLink},
      {"a_folder", {0x10, 0x10, true, 1, true}, LogFileVerdict::NotAFile},
      {"a_device", {0x10, 0x40, true, 1, true}, LogFileVerdict::NotAFile},
      {"a_pipe", {0x10, 0x80, false, 1, true}, LogFileVerdict::NotAFile},
      {"two_names", {0x10, 0x20, true, 2, true}, LogFileVerdict::HardLinked},
      {"many_names", {0x10, 0x20, true, 1000, true}, LogFileVerdict::HardLinked},
      {"no_name", {0x10, 0x20, true, 0, true}, LogFileVerdict::HardLinked},
      {"followed_elsewhere", {0x10, 0x20, true, 1, false}, LogFileVerdict::ElsewhereOnDisk},
      // The folder is judged first: nothing in it counts.
      {"folder_link_and_hard_link", {0x410, 0x20, true, 2, false}, LogFileVerdict::FolderIsLink},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeOpenedLogFile(c.facts), c.verdict) << c.name;
  // What the log says of each.
  const std::pair<LogFileVerdict, std::wstring> texts[] = {
      {LogFileVerdict::Usable, L"usable"},
      {LogFileVerdict::FolderIsLink, L"its folder is a link"},
      {LogFileVerdict::FileIsLink, L"it is a link"},
      {LogFileVerdict::NotAFile, L"it is not a file"},
      {LogFileVerdict::HardLinked, L"it has more than one name"},
      {LogFileVerdict::ElsewhereOnDisk, L"it lies outside its folder"},
  };
  for (const auto& [verdict, text] : texts) EXPECT_EQ(LogFileVerdictText(verdict), text);
}

}  // namespace
