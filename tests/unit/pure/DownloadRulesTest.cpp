#include <gtest/gtest.h>

#include <map>
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
      {L"https://www.example.com/", L""},
      {L"http://host/a.cgi?u=ftp://mirror/pkg.msi", L"a.cgi"},  // ends before a second "://"
      {L"http://host/redirect?to=ftp://mirror/pkg.msi", L""},
      {L"http://host/" + a36 + L".exe", a36 + L".exe"},  // 40 characters: the whole segment
      {L"http://host/" + a37 + L".exe", a37 + L".exe"},  // 41 characters: still whole
      {L"http://host/" + a50 + L".exe", std::wstring(37, L'a') + L".exe"},  // cut to 41
      {L"setup.exe", L"setup.exe"},
      {L"x", L"x"},
      {L".", L"."},
      {L"", L""},
      {L"http://", L""},
      {L"://x", L"x"},
      {L"a://b://", L""},
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
      {L"FILE:///C:/pkg/setup.exe", true, L"C:\\pkg\\setup.exe"},
      {L"File://server/share/a.msi", true, L"server\\share\\a.msi"},
      {L"file://", true, L""},
      {L"file:/x", false, L""},
      {L"http://host/file:///x", false, L""},
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
      {L"C:\\dl\\", L"sub\\deeper", L"C:\\dl\\sub\\deeper\\setup.exe"},
      {L"C:\\dl\\", L"sub?my.exe", L"C:\\dl\\sub\\my.exe"},
      {L"C:\\dl\\", L"?my.exe", L"C:\\dl\\my.exe"},
      {L"C:\\dl\\", L"sub?", L"C:\\dl\\sub\\setup.exe"},
      {L"C:\\dl\\", L"a?b?c", L"C:\\dl\\a\\b?c"},
      {L"", L"", L"setup.exe"},
      {L"", L"sub", L"sub\\setup.exe"},
  };
  for (const auto& [folder, sub, expected] : cases)
    EXPECT_EQ(TargetPath(folder, url, sub), expected) << N(folder) << " + " << N(sub);
}

TEST(IsPresentWith, PresenceRule) {
  const std::wstring folder = L"C:\\dl\\";
  const std::map<std::wstring, uint64_t> files = {
      {L"C:\\dl\\setup.exe", 1000},
      {L"C:\\dl\\big\\setup.exe", 0x100000005ull},
      {L"C:\\dl\\neg\\setup.exe", 0xFFFFFFFBull},
  };
  struct Case {
    std::wstring url, sub;
    int32_t exactSize;
    bool present;
  };
  const Case cases[] = {
      {L"file:///C:/nowhere/setup.exe", L"", 1234, true},  // a file URL is used in place
      {L"http://h/setup.exe", L"", 0, true},
      {L"http://h/setup.exe", L"", 1000, true},
      {L"http://h/setup.exe", L"", 999, false},
      {L"http://h/setup.exe", L"big", 5, true},  // the low 32 bits of the size
      {L"http://h/setup.exe", L"neg", -5, true},
      {L"http://h/other.exe", L"", 0, false},
      {L"http://h/x.exe", L"?setup.exe", 0, true},
  };
  for (const Case& c : cases) {
    Prerequisite p;
    p.Location = c.url;
    p.locationKind = LocationKind::Url;
    p.Folder = c.sub;
    p.ExactSize = c.exactSize;
    int probes = 0;
    const bool present =
        IsPresentWith(p, folder, [&](const std::wstring& path, uint64_t& size) {
          ++probes;
          auto it = files.find(path);
          if (it == files.end()) return false;
          size = it->second;
          return true;
        });
    EXPECT_EQ(present, c.present) << N(c.url) << " " << N(c.sub);
    EXPECT_EQ(probes, c.url.starts_with(L"file:") ? 0 : 1) << N(c.url);
  }
}

}  // namespace
