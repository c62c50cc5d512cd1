#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "evaluation/OsConditions.h"
#include "evaluation/Search.h"
#include "execution/Msix.h"
#include "execution/PackageLauncher.h"
#include "platform/core/Handles.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

constexpr wchar_t kClassKeys[] = L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";
constexpr wchar_t kStubKey[] = L"Software\\PrereqTest\\MsixStub";
const wchar_t* const kClasses[] = {L"Windows.Management.Deployment.PackageManager",
                                   L"Windows.Foundation.Uri"};

void DeleteKey(HKEY root, const std::wstring& path) { RegDeleteTreeW(root, path.c_str()); }

void SetText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value)),
            ERROR_SUCCESS);
}

// The stand-in package manager of tools\msixstub.dll, registered for the
// test's duration, with its settings key and request log.
class MsixStub {
 public:
  explicit MsixStub(bool registered = true) {
    DeleteKey(HKEY_CURRENT_USER, kStubKey);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kStubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              settings_.put(), nullptr),
              ERROR_SUCCESS);
    SetText(settings_.get(), L"Log", log_);
    for (const wchar_t* name : kClasses) {
      const std::wstring key = kClassKeys + std::wstring(name);
      DeleteKey(HKEY_LOCAL_MACHINE, key);
      if (!registered) continue;
      RegKey cls;
      EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, cls.put(), nullptr),
                ERROR_SUCCESS);
      SetText(cls.get(), L"DllPath", ToolsFolder() + L"msixstub.dll");
      SetDword(cls.get(), L"ActivationType", 0);
      SetDword(cls.get(), L"Threading", 0);  // both
    }
  }
  ~MsixStub() {
    for (const wchar_t* name : kClasses) DeleteKey(HKEY_LOCAL_MACHINE, kClassKeys + std::wstring(name));
    settings_.reset();
    DeleteKey(HKEY_CURRENT_USER, kStubKey);
  }

  void Set(const wchar_t* name, const std::wstring& text) { SetText(settings_.get(), name, text); }
  void Set(const wchar_t* name, DWORD value) { SetDword(settings_.get(), name, value); }
  void SetPackages(const std::vector<std::wstring>& entries) {
    std::wstring multi;
    for (const std::wstring& e : entries) multi += e + L'\0';
    SetText(settings_.get(), L"Packages", multi, REG_MULTI_SZ);
  }

  // The requests recorded so far, one per line; the log is then emptied.
  std::vector<std::wstring> TakeRequests() {
    const std::vector<unsigned char> bytes = ReadBytes(log_);
    DeleteFileW(log_.c_str());
    const std::wstring text = FromUtf8(std::string(bytes.begin(), bytes.end()));
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find(L'\n', at);
      lines.push_back(text.substr(at, end - at));
      if (end == std::wstring::npos) break;
      at = end + 1;
    }
    return lines;
  }

 private:
  TestFolder folder_;
  std::wstring log_ = folder_ / L"requests.txt";
  RegKey settings_;
};

std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> out;
  for (size_t at = 0;;) {
    const size_t bar = line.find(L'|', at);
    out.push_back(line.substr(at, bar == std::wstring::npos ? std::wstring::npos : bar - at));
    if (bar == std::wstring::npos) return out;
    at = bar + 1;
  }
}

std::wstring Padded(const std::wstring& head, size_t length) {
  return head + std::wstring(length - head.size() - 5, L'p') + L".msix";
}

TEST(MsixDeployment, OutcomeAndTheUriTheManagerReceives) {
  const std::wstring longDrive = Padded(L"C:\\packages\\", 300);
  const std::wstring longShare = Padded(L"\\\\server\\share\\", 300);
  const std::wstring edge = Padded(L"C:\\packages\\", 247);
  struct Case {
    const char* what;
    std::wstring path;
    DWORD later;              // the deployment ends after put_Completed
    const wchar_t* failWhere;  // ends with AsyncStatus Error
    const wchar_t* rejectWhere;  // AddPackageAsync fails
    uint32_t code;
    std::wstring uri;  // empty: AddPackageAsync is not reached
  };
  const Case cases[] = {
      {"ended before the handler is set", L"C:\\pkgs\\app.msix", 0, L"", L"", 0,
       L"C:\\pkgs\\app.msix"},
      {"ends later on another thread", L"C:\\pkgs\\app.msix", 1, L"", L"", 0, L"C:\\pkgs\\app.msix"},
      {"error status", L"C:\\pkgs\\bad.appx", 0, L"bad", L"", kMsixDeploymentFailed,
       L"C:\\pkgs\\bad.appx"},
      {"error status later", L"C:\\pkgs\\bad.appx", 1, L"bad", L"", kMsixDeploymentFailed,
       L"C:\\pkgs\\bad.appx"},
      {"call rejected", L"C:\\pkgs\\no.msixbundle", 0, L"", L"no", kMsixDeploymentFailed,
       L"C:\\pkgs\\no.msixbundle"},
      {"247 characters stay short", edge, 0, L"", L"", 0, edge},
      {"long drive path", longDrive, 1, L"", L"", 0, L"\\\\?\\" + longDrive},
      {"long share path", longShare, 1, L"", L"", 0, L"\\\\?\\UNC\\" + longShare.substr(2)},
      {"no text for the Uri", L"", 0, L"", L"", kMsixDeploymentFailed, L""},
  };
  MsixStub stub;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stub.Set(L"Later", c.later);
    stub.Set(L"FailWhere", c.failWhere);
    stub.Set(L"RejectWhere", c.rejectWhere);
    EXPECT_EQ(DeployMsixPackage(c.path), c.code);

    const std::vector<std::wstring> requests = stub.TakeRequests();
    ASSERT_GE(requests.size(), 1u);
    EXPECT_EQ(ToUtf8(requests[0]), ToUtf8(L"CreateUri|" + c.uri)) << "made from the path text";
    if (c.uri.empty()) {
      EXPECT_EQ(requests.size(), 1u);
      continue;
    }
    ASSERT_EQ(requests.size(), 2u);
    const std::vector<std::wstring> add = Fields(requests[1]);
    ASSERT_EQ(add.size(), 6u);
    EXPECT_EQ(ToUtf8(add[0]), "AddPackageAsync");
    EXPECT_EQ(ToUtf8(add[1]), ToUtf8(c.uri));
    EXPECT_EQ(ToUtf8(add[2]), "null") << "no dependency URIs";
    EXPECT_EQ(ToUtf8(add[3]), "0") << "DeploymentOptions.None";
    EXPECT_EQ(ToUtf8(add[4]), "mta");
    EXPECT_NE(add[5], std::to_wstring(GetCurrentThreadId())) << "deployed on a worker thread";
  }
}

TEST(MsixDeployment, CallersApartmentIsNotTouched) {
  MsixStub stub;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(DeployMsixPackage(L"C:\\pkgs\\app.msix"), 0u);
  EXPECT_EQ(ToUtf8(MsixFinder::Find(L"Nothing", L"", L"")), "");
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
  EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA);
  CoUninitialize();
}

TEST(MsixDeployment, WithoutAPackageManagerFailsAndFindsNothing) {
  MsixStub stub(false);
  stub.SetPackages({L"Quillfeather.App|CN=Quillfeather|9|1.2.3.4"});
  EXPECT_EQ(DeployMsixPackage(L"C:\\pkgs\\app.msix"), kMsixDeploymentFailed);
  EXPECT_EQ(ToUtf8(MsixFinder::Find(L"Quillfeather.App", L"", L"")), "");
  EXPECT_TRUE(stub.TakeRequests().empty());
}

TEST(MsixLookup, FirstMatchingPackageOfTheCurrentUser) {
  MsixStub stub;
  stub.SetPackages({
      L"Quillfeather.Tools|CN=Quillfeather|0|1.0.0.0",
      L"Quillfeather.App|CN=Other|9|7.0.0.0",
      L"Quillfeather.App|CN=Quillfeather|5|2.5.3.0",
      L"Quillfeather.App|CN=Quillfeather|9|3.1.0.9",
      L"Quillfeather.Odd|CN=Quillfeather|14|4.0.0.0",
      L"Quillfeather.Zero|CN=Quillfeather|11|0.0.0.0",
      L"Quillfeather.Max|CN=Quillfeather|12|65535.65535.65535.65535",
  });
  struct Case {
    const wchar_t* name;
    const wchar_t* publisher;
    const wchar_t* architecture;
    const char* version;
  };
  const Case cases[] = {
      {L"Quillfeather.Tools", L"", L"", "1.0"},
      {L"Quillfeather.App", L"", L"", "7.0"},  // the first of that name, whatever else
      {L"Quillfeather.App", L"CN=Quillfeather", L"", "2.5.3"},
      {L"Quillfeather.App", L"CN=Quillfeather", L"x64", "3.1.0.9"},
      {L"Quillfeather.App", L"", L"arm", "2.5.3"},
      {L"Quillfeather.App", L"", L"X64", ""},  // texts are lower case, compared with case
      {L"Quillfeather.App", L"cn=quillfeather", L"", ""},
      {L"quillfeather.app", L"", L"", ""},
      {L"", L"", L"", ""},
      {L"Quillfeather.Odd", L"", L"", "4.0"},
      {L"Quillfeather.Odd", L"", L"x86", ""},  // an architecture without a text
      {L"Quillfeather.Zero", L"", L"neutral", "0.0.0.0"},
      {L"Quillfeather.Max", L"", L"arm64", "0.0.0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(std::wstring(c.name) + L"?" + c.architecture + L"?" + c.publisher));
    EXPECT_EQ(ToUtf8(MsixFinder::Find(c.name, c.publisher, c.architecture)), c.version);
    const std::vector<std::wstring> requests = stub.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    const std::vector<std::wstring> find = Fields(requests[0]);
    ASSERT_EQ(find.size(), 4u);
    EXPECT_EQ(ToUtf8(find[0]), "FindPackagesByUserSecurityId");
    EXPECT_EQ(ToUtf8(find[1]), "") << "the current user";
    EXPECT_EQ(ToUtf8(find[2]), "mta");
    EXPECT_NE(find[3], std::to_wstring(GetCurrentThreadId()));
  }
}

TEST(MsixLookup, FailingManagerAndEmptyListFindNothing) {
  MsixStub stub;
  EXPECT_EQ(ToUtf8(MsixFinder::Find(L"Quillfeather.App", L"", L"")), "");  // no packages
  stub.SetPackages({L"Quillfeather.App|CN=Quillfeather|9|1.2.3.4"});
  stub.Set(L"FindFails", 1);
  EXPECT_EQ(ToUtf8(MsixFinder::Find(L"Quillfeather.App", L"", L"")), "");
  EXPECT_EQ(stub.TakeRequests().size(), 2u);
}

// The package search collects only from Windows 10 on; this prefix is an
// older Windows, where the package manager is not even asked. The search on
// Windows 10 is covered end to end.
TEST(MsixSearch, BeforeWindows10CollectsNothing) {
  if (IsWindows10OrLater()) GTEST_SKIP() << "prefix reports Windows 10 or later";
  MsixStub stub;
  stub.SetPackages({L"Quillfeather.App|CN=Quillfeather|9|1.2.3.4"});
  PrereqList list;
  SearchEntry entry;
  entry.SearchType = 13;
  entry.SearchString = L"Quillfeather.App";
  const SearchResult result = RunSearch(list, entry, false);
  EXPECT_FALSE(result.found);
  EXPECT_TRUE(result.values.empty());
  EXPECT_TRUE(stub.TakeRequests().empty());
}

}  // namespace

namespace {

class NeverInstalled : public RebootDecider {
 public:
  bool IsInstalledNow(size_t) override { return false; }
};

}  // namespace

// The install loop sends packaged apps to the package manager; a path in long
// UNC form arrives as a share path the manager can open.
TEST(MsixDeployment, InstallLoopRouteAndLongSharePaths) {
  MsixStub stub;
  stub.Set(L"FailWhere", L"bad");
  ResultStore store("PrereqTestMsixStore");
  NeverInstalled decider;
  PackageLauncher launcher(store, decider);
  launcher.isLocalSystem = [] { return true; };  // packaged apps never reach msiexec
  const struct {
    const wchar_t* path;
    const wchar_t* uri;
    uint32_t code;
  } cases[] = {
      {L"\\\\?\\UNC\\server\\share\\pkgs\\app.msix", L"\\\\server\\share\\pkgs\\app.msix", 0},
      {L"\\\\?\\C:\\pkgs\\App.APPX", L"C:\\pkgs\\App.APPX", 0},
      {L"C:\\pkgs\\bad.msixbundle", L"C:\\pkgs\\bad.msixbundle", kMsixDeploymentFailed},
  };
  for (const auto& c : cases) {
    LaunchItem item;
    item.path = c.path;
    item.resultPropertyName = L"MSIX_RC";
    launcher.launchList = {item};
    EXPECT_EQ(launcher.LaunchPackage(0), c.code == 0) << c.path;
    EXPECT_EQ(launcher.launchList[0].returnCode, c.code);
    const std::vector<std::wstring> requests = stub.TakeRequests();
    ASSERT_GE(requests.size(), 1u);
    EXPECT_EQ(ToUtf8(requests[0]), ToUtf8(L"CreateUri|" + std::wstring(c.uri)));
  }
  EXPECT_EQ(launcher.lastLaunchError, kMsixDeploymentFailed);
  store.DeleteKey();
}
