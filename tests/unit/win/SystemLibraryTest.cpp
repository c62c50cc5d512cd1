// System libraries, and the libraries they need, come from the system folder
// only: never from the current folder (often the setup's own), where anybody
// who can write there could put a library of the same name.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "platform/core/Handles.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

TEST(LoadSystemLibrary, NeededLibrariesComeFromTheSystemFolderOnly) {
  TestFolder dir;
  const std::wstring system = SystemFolder();
  ASSERT_FALSE(system.empty());
  const std::wstring needs = system + L"\\prereq-ut-needs.dll";
  const std::wstring needed = system + L"\\prereq-ut-needed.dll";
  ASSERT_TRUE(CopyFileW((ToolsFolder() + L"prereq-ut-needs.dll").c_str(), needs.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((ToolsFolder() + L"prereq-ut-needed.dll").c_str(),
                        (dir / L"prereq-ut-needed.dll").c_str(), FALSE));
  wchar_t before[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  {
    const Library library = LoadSystemLibrary(L"prereq-ut-needs.dll");
    EXPECT_FALSE(library) << "the library it needs was taken from the current folder";
  }
  // The library it needs in the system folder too: found there.
  ASSERT_TRUE(CopyFileW((ToolsFolder() + L"prereq-ut-needed.dll").c_str(), needed.c_str(), FALSE));
  {
    const Library library = LoadSystemLibrary(L"prereq-ut-needs.dll");
    EXPECT_TRUE(library);
  }
  SetCurrentDirectoryW(before);
  DeleteFileW(needs.c_str());
  DeleteFileW(needed.c_str());
}

}  // namespace
