#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ToolPaths.h"
#include "evaluation/Search.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

// The two versions of the test product (tests/tools/msi/product.wxs).
const wchar_t kProductA[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C01}";  // 3.4.5
const wchar_t kProductB[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C02}";  // 4.1
const wchar_t kUpgradeCode[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C10}";
const wchar_t kComponentA[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C21}";
const wchar_t kComponentB[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C22}";

SearchEntry Entry(int type, const std::wstring& code, const std::wstring& min = L"",
                  const std::wstring& max = L"") {
  SearchEntry e;
  e.SearchType = type;
  e.SearchString = code;
  e.VerMin = min;
  e.VerMax = max;
  return e;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
  std::sort(v.begin(), v.end());
  return v;
}

UINT Install(const std::wstring& package) { return MsiInstallProductW(package.c_str(), L""); }
UINT Remove(const wchar_t* product) {
  return MsiConfigureProductW(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

TEST(InstallerSearch, InstalledProductsUpgradeCodeAndComponents) {
  const std::wstring a = ToolsFolder() + L"prereq-ut-a.msi";
  const std::wstring b = ToolsFolder() + L"prereq-ut-b.msi";
  if (GetFileAttributesW(a.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "test packages not built (wixl missing)";
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  Remove(kProductA);  // left over from an interrupted run
  Remove(kProductB);
  ASSERT_EQ(Install(a), static_cast<UINT>(ERROR_SUCCESS));
  ASSERT_EQ(Install(b), static_cast<UINT>(ERROR_SUCCESS));

  struct Case {
    SearchEntry entry;
    bool found;
    std::vector<std::wstring> values;  // sorted
  };
  const Case installed[] = {
      {Entry(3, kProductA), true, {L"3.4.5"}},
      {Entry(3, kProductA, L"3.4", L"3.5"), true, {L"3.4.5"}},
      {Entry(3, kProductA, L"3.5"), false, {L"3.4.5"}},
      {Entry(3, kProductB, L"4.1", L"4.1"), true, {L"4.1"}},
      {Entry(4, kUpgradeCode), true, {L"3.4.5", L"4.1"}},  // every related product
      {Entry(4, kUpgradeCode, L"4.0"), true, {L"3.4.5", L"4.1"}},
      {Entry(4, kUpgradeCode, L"", L"3.0"), false, {L"3.4.5", L"4.1"}},
      {Entry(4, kProductA), false, {}},  // a product code is no upgrade code
      {Entry(11, kComponentA), true, {}},
      {Entry(11, kComponentB), true, {}},
  };
  PrereqList list;
  for (const Case& c : installed) {
    const SearchResult r = RunSearch(list, c.entry, false);
    EXPECT_EQ(r.found, c.found) << c.entry.SearchType << " " << ToUtf8(c.entry.SearchString);
    EXPECT_EQ(Sorted(r.values), c.values) << c.entry.SearchType << " " << ToUtf8(c.entry.SearchString);
  }

  ASSERT_EQ(Remove(kProductA), static_cast<UINT>(ERROR_SUCCESS));
  const Case afterRemoval[] = {
      {Entry(3, kProductA), false, {}},
      {Entry(3, kProductB), true, {L"4.1"}},
      {Entry(11, kComponentA), false, {}},
      {Entry(11, kComponentB), true, {}},
  };
  for (const Case& c : afterRemoval) {
    const SearchResult r = RunSearch(list, c.entry, false);
    EXPECT_EQ(r.found, c.found) << c.entry.SearchType << " " << ToUtf8(c.entry.SearchString);
    EXPECT_EQ(Sorted(r.values), c.values) << c.entry.SearchType << " " << ToUtf8(c.entry.SearchString);
  }
  // Windows still relates 4.1 to the upgrade code here; Wine 8 drops the
  // whole upgrade-code entry with the first product removed. Either way the
  // removed version is gone.
  const SearchResult related = RunSearch(list, Entry(4, kUpgradeCode, L"", L"3.9"), false);
  EXPECT_FALSE(related.found);
  EXPECT_EQ(std::count(related.values.begin(), related.values.end(), L"3.4.5"), 0);

  ASSERT_EQ(Remove(kProductB), static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_FALSE(RunSearch(list, Entry(4, kUpgradeCode), false).found);
  EXPECT_FALSE(RunSearch(list, Entry(11, kComponentB), false).found);
}

}  // namespace
