#pragma once
// Whether an opened log file may be written: the log is never written
// through a link. Log folders can be made by any user (the fallback under
// ProgramData grants everyone full access, the temporary folder of the system
// account lets users create folders), and a chainer running as LocalSystem
// must not append to whatever file a junction, a symbolic link or a hard link
// there leads to.
#include <cstdint>

namespace prereq {

// What was found after the log file was opened (without following a link in
// its last part) while its folder was held open.
struct OpenedLogFacts {
  uint32_t folderAttributes = 0;  // of the folder, by path and by handle combined
  uint32_t fileAttributes = 0;    // of the opened file
  bool diskFile = true;           // GetFileType is FILE_TYPE_DISK
  uint32_t linkCount = 1;         // hard links of the opened file
  bool inCheckedFolder = true;    // its final path lies in the folder held open
};

enum class LogFileVerdict {
  Usable,
  FolderIsLink,     // the folder is a junction, symbolic link or mount point
  FileIsLink,       // the file is a reparse point
  NotAFile,         // a folder, a device, a pipe
  HardLinked,       // the file has more than one name
  ElsewhereOnDisk,  // it is not in the folder that was checked
};

LogFileVerdict JudgeOpenedLogFile(const OpenedLogFacts& facts);

// A short reason for the debugger output.
const wchar_t* LogFileVerdictText(LogFileVerdict verdict);

}  // namespace prereq
