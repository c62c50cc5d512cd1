// The link-free file operations against Wine's file system. Links cannot be
// made from a Windows program under Wine (CreateSymbolicLinkW does nothing
// there); the end-to-end tests put Unix symbolic links into the prefix. Hard
// links can be made, and are tested here.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFolder.h"
#include "platform/core/LinkFreePaths.h"

using namespace prereq;

namespace {

std::string Content(const std::wstring& path) {
  const std::vector<unsigned char> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(OpenFileLinkFree, Dispositions) {
  TestFolder dir;
  const std::wstring existing = dir / L"existing.txt";
  const std::wstring missing = dir / L"missing.txt";
  struct Case {
    const char* name;
    bool exists;
    LinkFreeDisposition disposition;
    DWORD result;
    bool created;
    const char* contentAfter;  // nullptr: no file
  };
  const Case cases[] = {
      {"open existing", true, LinkFreeDisposition::OpenExisting, 0, false, "old"},
      {"open missing", false, LinkFreeDisposition::OpenExisting, ERROR_FILE_NOT_FOUND, false, nullptr},
      {"create new", false, LinkFreeDisposition::CreateNew, 0, true, ""},
      {"create new over one", true, LinkFreeDisposition::CreateNew, ERROR_FILE_EXISTS, false, "old"},
      {"open always existing", true, LinkFreeDisposition::OpenAlways, 0, false, "old"},
      {"open always missing", false, LinkFreeDisposition::OpenAlways, 0, true, ""},
      {"create always existing", true, LinkFreeDisposition::CreateAlways, 0, false, ""},  // emptied
      {"create always missing", false, LinkFreeDisposition::CreateAlways, 0, true, ""},
  };
  for (const Case& c : cases) {
    const std::wstring path = c.exists ? existing : missing;
    DeleteFileW(missing.c_str());
    WriteBytes(existing, "old");
    {
      LinkFreeFile file;
      EXPECT_EQ(OpenFileLinkFree(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition, file), c.result)
          << c.name;
      EXPECT_EQ(static_cast<bool>(file), c.result == 0) << c.name;
      EXPECT_EQ(file.created, c.created) << c.name;
      if (c.result == 0) EXPECT_FALSE(file.folders.Empty()) << c.name;
    }
    if (c.contentAfter == nullptr) {
      EXPECT_FALSE(Exists(path)) << c.name;
    } else {
      EXPECT_EQ(Content(path), c.contentAfter) << c.name;
    }
  }
}

TEST(OpenFileLinkFree, MissingFolderTooLongAndNoName) {
  TestFolder dir;
  LinkFreeFile file;
  EXPECT_EQ(OpenFileLinkFree(dir / L"no\\such\\f.txt", GENERIC_WRITE, 0, LinkFreeDisposition::OpenAlways, file),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(Exists(dir / L"no"));  // nothing made on the way
  EXPECT_EQ(OpenFileLinkFree(L"C:\\" + std::wstring(40000, L'a'), GENERIC_WRITE, 0,
                             LinkFreeDisposition::OpenAlways, file),
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(OpenFileLinkFree(dir.path() + L"\\", GENERIC_WRITE, 0, LinkFreeDisposition::OpenAlways, file),
            static_cast<DWORD>(ERROR_INVALID_NAME));
  // A file on the way is no folder.
  WriteBytes(dir / L"plain", "x");
  EXPECT_EQ(OpenFileLinkFree(dir / L"plain\\f.txt", GENERIC_WRITE, 0, LinkFreeDisposition::OpenAlways, file),
            static_cast<DWORD>(ERROR_DIRECTORY));
}

// Someone who can write the folder makes a second name of a file elsewhere
// where a file will be written: it is not written through, only read.
TEST(OpenFileLinkFree, SecondNameIsWrittenNeverReadAlways) {
  TestFolder dir;
  const std::wstring victim = dir / L"victim.cfg";
  const std::wstring planted = dir / L"run.log";
  WriteBytes(victim, "untouched");
  ASSERT_TRUE(CreateHardLinkW(planted.c_str(), victim.c_str(), nullptr));
  for (const LinkFreeDisposition d : {LinkFreeDisposition::OpenAlways, LinkFreeDisposition::CreateAlways,
                                      LinkFreeDisposition::OpenExisting}) {
    LinkFreeFile file;
    EXPECT_EQ(OpenFileLinkFree(planted, GENERIC_READ | GENERIC_WRITE, 0, d, file), kErrorPathHasLink)
        << static_cast<int>(d);
    EXPECT_NE(file.refusal.find(L"more than one name"), std::wstring::npos);
  }
  EXPECT_EQ(Content(victim), "untouched");
  LinkFreeFile reader;
  EXPECT_EQ(OpenFileLinkFree(planted, GENERIC_READ, FILE_SHARE_READ, LinkFreeDisposition::OpenExisting, reader),
            0u);
  // Deleting the second name leaves the file under its first one.
  reader.Release();
  EXPECT_EQ(DeleteFileLinkFree(planted), 0u);
  EXPECT_EQ(Content(victim), "untouched");
}

// A file in a drive root: the root's final path ends with a backslash, the
// file's folder part does not.
TEST(OpenFileLinkFree, FileInADriveRoot) {
  const std::wstring path = L"C:\\prereq-ut-root-" + std::to_wstring(GetCurrentProcessId()) + L".log";
  DeleteFileW(path.c_str());
  {
    LinkFreeFile file;
    ASSERT_EQ(OpenFileLinkFree(path, GENERIC_WRITE, FILE_SHARE_READ, LinkFreeDisposition::OpenAlways, file), 0u);
    EXPECT_TRUE(file.created);
    EXPECT_EQ(file.folders.Folder(), L"C:\\");
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file.file.get(), "log", 3, &written, nullptr));
  }
  EXPECT_EQ(Content(path), "log");
  EXPECT_EQ(DeleteFileLinkFree(path), 0u);
  EXPECT_FALSE(Exists(path));
}

TEST(DeleteFileLinkFree, FilesOnly) {
  TestFolder dir;
  const std::wstring file = dir / L"f.txt";
  WriteBytes(file, "x");
  CreateDirectoryW((dir / L"sub").c_str(), nullptr);
  EXPECT_EQ(DeleteFileLinkFree(dir / L"missing.txt"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(DeleteFileLinkFree(dir / L"sub"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Exists(dir / L"sub"));
  // Held open without delete sharing (as an accepted package is): it stays.
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_NE(DeleteFileLinkFree(file), 0u);
  EXPECT_TRUE(Exists(file));
  CloseHandle(held);
  EXPECT_EQ(DeleteFileLinkFree(file), 0u);
  EXPECT_FALSE(Exists(file));
}

TEST(RemoveFolderLinkFree, EmptyFoldersOnly) {
  TestFolder dir;
  const std::wstring empty = dir / L"empty";
  const std::wstring full = dir / L"full";
  CreateDirectoryW(empty.c_str(), nullptr);
  CreateDirectoryW(full.c_str(), nullptr);
  WriteBytes(full + L"\\f.txt", "x");
  EXPECT_EQ(RemoveFolderLinkFree(full), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(Exists(full + L"\\f.txt"));
  EXPECT_EQ(RemoveFolderLinkFree(full + L"\\f.txt"), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_EQ(RemoveFolderLinkFree(empty), 0u);
  EXPECT_FALSE(Exists(empty));
  EXPECT_EQ(RemoveFolderLinkFree(empty), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A result written under a temporary name and renamed into place: the open
// file takes the name, replacing what was there.
TEST(RenameLinkFree, OpenFileTakesTheName) {
  TestFolder dir;
  const std::wstring temp = dir / L"result.json.tmp";
  const std::wstring target = dir / L"result.json";
  WriteBytes(target, "old");
  LinkFreeFile file;
  ASSERT_EQ(OpenFileLinkFree(temp, GENERIC_WRITE | DELETE, 0, LinkFreeDisposition::CreateNew, file), 0u);
  DWORD written = 0;
  WriteFile(file.file.get(), "new", 3, &written, nullptr);
  EXPECT_EQ(RenameLinkFree(file, target), 0u);
  EXPECT_EQ(file.path, target);
  file.Release();
  EXPECT_EQ(Content(target), "new");
  EXPECT_FALSE(Exists(temp));
  // A target folder that does not exist is not made.
  ASSERT_EQ(OpenFileLinkFree(temp, GENERIC_WRITE | DELETE, 0, LinkFreeDisposition::CreateNew, file), 0u);
  EXPECT_EQ(RenameLinkFree(file, dir / L"no\\result.json"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(file.path, temp);
}

TEST(MoveIntoPlaceLinkFree, RenamesOrCopiesOver) {
  TestFolder dir;
  const std::wstring part = dir / L"pkg.exe.part";
  const std::wstring target = dir / L"pkg.exe";
  WriteBytes(part, "first");
  EXPECT_EQ(MoveIntoPlaceLinkFree(part, target), 0u);
  EXPECT_EQ(Content(target), "first");
  EXPECT_FALSE(Exists(part));
  // A target that another program keeps open without delete sharing cannot
  // be replaced by a rename: its bytes are copied over.
  WriteBytes(part, "second");
  HANDLE reader = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(MoveIntoPlaceLinkFree(part, target), 0u);
  CloseHandle(reader);
  EXPECT_EQ(Content(target), "second");
  EXPECT_FALSE(Exists(part));
  // Held without write sharing: neither works, and the part stays.
  WriteBytes(part, "third");
  HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(MoveIntoPlaceLinkFree(part, target), 0u);
  CloseHandle(holder);
  EXPECT_EQ(Content(target), "second");
  EXPECT_EQ(Content(part), "third");
}

TEST(CreateParentFolders, MissingOnesOutermostFirst) {
  TestFolder dir;
  std::vector<std::wstring> created;
  EXPECT_EQ(CreateParentFolders(dir / L"a\\b\\c\\f.exe", &created), 0u);
  const std::vector<std::wstring> expected = {dir / L"a", dir / L"a\\b", dir / L"a\\b\\c"};
  EXPECT_EQ(created, expected);
  EXPECT_TRUE(IsFolder(dir / L"a\\b\\c"));
  created.clear();
  EXPECT_EQ(CreateParentFolders(dir / L"a\\b\\c\\g.exe", &created), 0u);  // all there
  EXPECT_TRUE(created.empty());
  WriteBytes(dir / L"a\\file", "x");
  EXPECT_EQ(CreateParentFolders(dir / L"a\\file\\d\\f.exe", &created), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(created.empty());
  EXPECT_FALSE(IsFolder(dir / L"a\\file"));
  EXPECT_FALSE(IsFolder(dir / L"missing"));
}

}  // namespace
