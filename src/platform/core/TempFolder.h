#pragma once
#include <string>

namespace prereq {

// Access list of a system temporary folder that this program creates: full
// access for LocalSystem and Administrators only, protected from inheritance.
inline constexpr const wchar_t* kSystemTempSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// The program's temporary folder, computed once per process: for LocalSystem
// the folder GetTempPath2W answers (or the Windows folder + "\SystemTemp\",
// created with full access for LocalSystem and Administrators only),
// otherwise GetTempPathW. Empty when the platform answers nothing.
const std::wstring& ProgramTempFolder();

// The rule behind ProgramTempFolder, for a given account kind.
std::wstring ComputeTempFolder(bool localSystem);

}  // namespace prereq
