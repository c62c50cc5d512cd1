#include <gtest/gtest.h>

#include <string>

#include "acquisition/DownloadRules.h"

using namespace prereq;

namespace {

std::string N(std::wstring_view w) {
  std::string out;
  for (wchar_t c : w) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

TEST(FileNameFromUrl, Table) {
  const std::wstring a36(36, L'a'), a37(37, L'a'), a50(50, L'a');
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"http://host/dir/setup.exe", L"setup.exe"},
      {L"http://host/get.php?id=5", L"get.php"},
      {L"http://host/get.php?file=setup.exe", L"file=setup.exe"},
      {L"http://host/file.tar.gz", L"file.tar.gz"},
      {L"http://host/dir.v2/setup", L"dir.v2"},
      {L"http://host/download", L"download"},
      {L"https://www.example.com", L"www.example.com"},
      {L"http://host/a.cgi?u=ftp://mirror/pkg.msi", L"a.cgi"},  // ends before a second "://"
      {L"http://host/redirect?to=ftp://mirror/pkg.msi", L""},
      {L"http://host/" + a36 + L".exe", a36 + L".exe"},  // 40 characters: the whole segment
      {L"http://host/" + a37 + L".exe", a37 + L".exe"},  // 41 characters: still whole
      {L"http://host/" + a50 + L".exe", std::wstring(37, L'a') + L".exe"},  // cut to 41
      {L"setup.exe", L"setup.exe"},
      {L"", L""},
      {L"http://", L""},
      {L"://x", L"x"},
      {L"C:\\pkg\\setup.exe", L"setup.exe"},
  };
  for (const auto& [url, name] : cases) {
    const std::wstring got = FileNameFromUrl(url);
    EXPECT_EQ(got, name) << N(url);
    EXPECT_LE(got.size(), 41u) << N(url);
    EXPECT_EQ(got.find_first_of(L"\\/:*?\"<>|"), std::wstring::npos) << N(url);
  }
}

TEST(FileNameFromUrl, EveryCutOfALongUrlStaysInsideTheText) {
  // Every prefix of a URL with separators, dots and a second scheme: the
  // positions the rule reads must stay inside the text (ASan checks them).
  const std::wstring url =
      L"https://dl.example.com/a/b.c/get.php?x=1&u=ftp://m.example.org/p/" + std::wstring(45, L'z') +
      L".msi";
  for (size_t n = 0; n <= url.size(); ++n) {
    const std::wstring got = FileNameFromUrl(url.substr(0, n));
    EXPECT_LE(got.size(), 41u) << n;
  }
}

TEST(FileUrlLocalPath, Table) {
  struct Case {
    std::wstring url;
    bool isFile;
    std::wstring path;
  };
  const Case cases[] = {
      {L"file:///C:/pkg/setup.exe", true, L"C:\\pkg\\setup.exe"},
      // A share, as the transfer engine reads it: never a relative path.
      {L"File://server/share/a.msi", true, L"\\\\server\\share\\a.msi"},
      {L"file:////server/share/a.msi", true, L"\\\\server\\share\\a.msi"},
      {L"file://localhost/C:/pkg/a%20b.exe", true, L"C:\\pkg\\a b.exe"},
      {L"FILE:///C:/My%20Setup.exe", true, L"C:\\My Setup.exe"},
      {L"file://", true, L""},
      {L"file:/x", false, L""},
      {L"", false, L""},
  };
  for (const Case& c : cases) {
    std::wstring path;
    EXPECT_EQ(FileUrlLocalPath(c.url, path), c.isFile) << N(c.url);
    EXPECT_EQ(path, c.path) << N(c.url);
  }
}

TEST(TargetPath, Table) {
  const std::wstring url = L"http://host/dir/setup.exe";
  const std::tuple<std::wstring, std::wstring, std::wstring> cases[] = {
      {L"C:\\dl\\", L"", L"C:\\dl\\setup.exe"},
      {L"C:\\dl\\", L"sub", L"C:\\dl\\sub\\setup.exe"},
      {L"C:\\dl\\", L"sub\\", L"C:\\dl\\sub\\setup.exe"},
      {L"C:\\dl\\", L"sub?my.exe", L"C:\\dl\\sub\\my.exe"},
      {L"C:\\dl\\", L"?my.exe", L"C:\\dl\\my.exe"},
      {L"C:\\dl\\", L"sub?", L"C:\\dl\\sub\\setup.exe"},
      {L"C:\\dl\\", L"a?b?c", L"C:\\dl\\a\\b?c"},
      {L"", L"sub", L"sub\\setup.exe"},
  };
  for (const auto& [folder, sub, expected] : cases)
    EXPECT_EQ(TargetPath(folder, url, sub), expected) << N(folder) << " + " << N(sub);
}

}  // namespace
