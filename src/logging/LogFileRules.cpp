#include "logging/LogFileRules.h"

namespace prereq {

namespace {
// The platform's attribute bits, spelled out so that these rules build
// without it.
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeDevice = 0x40;
constexpr uint32_t kAttributeReparsePoint = 0x400;
}  // namespace

LogFileVerdict JudgeOpenedLogFile(const OpenedLogFacts& facts) {
  if (facts.folderAttributes & kAttributeReparsePoint) return LogFileVerdict::FolderIsLink;
  if (facts.fileAttributes & kAttributeReparsePoint) return LogFileVerdict::FileIsLink;
  if (!facts.diskFile || (facts.fileAttributes & (kAttributeDirectory | kAttributeDevice)))
    return LogFileVerdict::NotAFile;
  if (facts.linkCount != 1) return LogFileVerdict::HardLinked;
  if (!facts.inCheckedFolder) return LogFileVerdict::ElsewhereOnDisk;
  return LogFileVerdict::Usable;
}

const wchar_t* LogFileVerdictText(LogFileVerdict verdict) {
  switch (verdict) {
    case LogFileVerdict::Usable: return L"usable";
    case LogFileVerdict::FolderIsLink: return L"its folder is a link";
    case LogFileVerdict::FileIsLink: return L"it is a link";
    case LogFileVerdict::NotAFile: return L"it is not a file";
    case LogFileVerdict::HardLinked: return L"it has more than one name";
    case LogFileVerdict::ElsewhereOnDisk: return L"it lies outside its folder";
  }
  return L"";
}

}  // namespace prereq
