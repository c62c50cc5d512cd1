#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "chainer/ResultStore.h"
#include "execution/ErrorText.h"

using namespace prereq;

namespace {

// Each test works on a key of its own under HKCU, deleted afterwards.
class ResultStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    name_ = "PrereqTestStore" + std::to_string(GetCurrentProcessId()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    RegDeleteKeyA(HKEY_CURRENT_USER, name_.c_str());
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, name_.c_str()); }
  std::string name_;
};

TEST_F(ResultStoreTest, FirstValueStaysAndIsStoredWithoutNul) {
  ResultStore store(name_);
  std::string text;
  EXPECT_EQ(store.Get("Missing", text), 1);  // no key yet
  EXPECT_EQ(store.SetInt("VCRedist", 3010), 0);
  EXPECT_EQ(store.SetInt("VCRedist", 0), 3);  // never overwritten
  EXPECT_EQ(store.SetInt("Negative", -536870877), 0);
  EXPECT_EQ(store.SetInt("Zero", 0), 0);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  char data[32] = {};
  DWORD size = sizeof(data), type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "VCRedist", nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // Passed without the NUL; the platform adds one when the byte after the
  // counted text is a NUL, as the ANSI function does on Windows too.
  EXPECT_EQ(std::string(data, size).c_str(), std::string("3010"));

  int32_t value = 7;
  EXPECT_EQ(store.GetInt("VCRedist", value), 0);
  EXPECT_EQ(value, 3010);
  EXPECT_EQ(store.GetInt("Negative", value), 0);
  EXPECT_EQ(value, -536870877);
  EXPECT_EQ(store.GetInt("Missing", value), 0);  // missing reads as 0
  EXPECT_EQ(value, 0);
  EXPECT_EQ(store.Set("Text", "12a"), 0);
  EXPECT_EQ(store.GetInt("Text", value), 2);
}

TEST_F(ResultStoreTest, LongValuesRemoveAndIteration) {
  ResultStore store(name_);
  std::string longText(1000, 'x');
  EXPECT_EQ(store.Set("Long", longText), 0);
  std::string text;
  EXPECT_EQ(store.Get("Long", text), 0);
  EXPECT_EQ(text, longText);
  EXPECT_EQ(store.SetInt("A", 1), 0);
  EXPECT_EQ(store.SetInt("B", 2), 0);
  EXPECT_EQ(store.Remove("Long"), 0);
  EXPECT_NE(store.Remove("Long"), 0);

  std::map<std::string, std::string> seen;
  for (auto it = store.Begin(); it != store.End(); ++it) seen.insert(*it);
  EXPECT_EQ(seen, (std::map<std::string, std::string>{{"A", "1"}, {"B", "2"}}));

  store.DeleteKey();
  EXPECT_EQ(store.Get("A", text), 1);
  EXPECT_TRUE(store.Begin() == store.End());
}

TEST(ErrorText, SystemMessageOrSignedDecimal) {
  std::wstring text = ErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_NE(text, L"2");
  EXPECT_FALSE(text.empty());
  // It goes into a log line: no line break of its own.
  EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << text;
  EXPECT_NE(text.back(), L' ');
  EXPECT_EQ(ErrorText(0xE0000023u), L"-536870877");
}

}  // namespace
