// The transfer engine with file URLs and real files, the checks it makes
// before any connection, and the acceptance digest of a file. Downloads over
// HTTP, HTTPS and FTP are tested end to end (tests/e2e/test_transfer.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFolder.h"
#include "acquisition/Md5.h"
#include "acquisition/Transfer.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

struct RecordingObserver : ProgressObserver {
  std::vector<std::wstring> events;
  std::vector<uint64_t> progress;
  std::vector<std::pair<std::wstring, uint32_t>> errors;
  bool cancelled = false;

  void Start(int kind, uint64_t total, const std::wstring& path) override {
    events.push_back(L"start " + std::to_wstring(kind) + L" " + std::to_wstring(total) + L" " + path);
  }
  void Progress(uint64_t bytes) override { progress.push_back(bytes); }
  void Done(uint32_t, uint32_t) override { events.push_back(L"done"); }
  bool IsCancelled() override { return cancelled; }
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void*) override {
    errors.emplace_back(text, code);
    return code;
  }
  uint64_t ProgressSum() const {
    uint64_t sum = 0;
    for (uint64_t p : progress) sum += p;
    return sum;
  }
};

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919) >> 3);
  return data;
}

std::wstring FileUrl(const std::wstring& path) {
  std::wstring url = L"file:///" + path;
  for (wchar_t& c : url)
    if (c == L'\\') c = L'/';
  return url;
}

std::string ReadAll(const std::wstring& path) {
  const std::vector<unsigned char> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(TransferFileUrl, CopiesIntoMissingFoldersAndReportsEachStep) {
  TestFolder folder;
  const std::string data = Pattern(3'000'000);
  WriteBytes(folder / L"source.bin", data);
  const std::wstring target = folder / L"a\\b\\target.bin";

  RecordingObserver observer;
  Transfer transfer(&observer, nullptr);
  ASSERT_EQ(transfer.Download(FileUrl(folder / L"source.bin"), target), 0u);

  EXPECT_EQ(ReadAll(target), data);
  EXPECT_FALSE(FileExists(target + L".part"));
  ASSERT_EQ(observer.events.size(), 2u);
  EXPECT_EQ(observer.events[0], L"start 1 3000000 " + target);
  EXPECT_EQ(observer.events[1], L"done");
  ASSERT_FALSE(observer.progress.empty());
  EXPECT_EQ(observer.progress[0], 0u);
  EXPECT_EQ(observer.ProgressSum(), data.size());
  EXPECT_TRUE(observer.errors.empty());
}

TEST(TransferFileUrl, ReplacesTheTargetAndIgnoresAnOldPartFile) {
  TestFolder folder;
  const std::string data = Pattern(70'000);
  WriteBytes(folder / L"source.bin", data);
  const std::wstring target = folder / L"target.bin";
  WriteBytes(target, std::string(200'000, 'x'));
  WriteBytes(target + L".part", std::string(10'000, 'y'));  // a copy does not resume

  Transfer transfer(nullptr, nullptr);
  ASSERT_EQ(transfer.Download(FileUrl(folder / L"source.bin"), target), 0u);
  EXPECT_EQ(ReadAll(target), data);
  EXPECT_FALSE(FileExists(target + L".part"));
}

TEST(TransferFileUrl, LongTargetPath) {
  TestFolder folder;
  const std::string data = Pattern(5'000);
  WriteBytes(folder / L"source.bin", data);
  std::wstring target = folder.path();
  for (int i = 0; i < 6; ++i) target += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + i));
  target += L"\\target.bin";
  ASSERT_GT(target.size(), 300u);

  Transfer transfer(nullptr, nullptr);
  ASSERT_EQ(transfer.Download(FileUrl(folder / L"source.bin"), target), 0u);
  EXPECT_EQ(ReadAll(L"\\\\?\\" + target), data);
}

// Failures before or instead of the copy: the code, the one report, and no
// file under the target's name or beside it.
TEST(TransferFailures, Table) {
  TestFolder folder;
  WriteBytes(folder / L"source.bin", Pattern(1'000));
  CreateDirectoryW((folder / L"a folder").c_str(), nullptr);
  const std::wstring target = folder / L"target.bin";
  struct Case {
    std::wstring url, target;
    uint32_t expectedSize;
    bool cancelled;
    uint32_t code;
    std::wstring reportText;  // empty: "none"
    bool reported;
  };
  const Case cases[] = {
      {FileUrl(folder / L"source.bin"), L"relative\\target.bin", 0, false, kTransferPathNotAbsolute, L"", true},
      {FileUrl(folder / L"source.bin"), target, 999, false, kTransferSizeMismatch, L"target.bin", true},
      {FileUrl(folder / L"missing.bin"), target, 0, false, ERROR_FILE_NOT_FOUND, L"target.bin", true},
      {FileUrl(folder / L"no folder\\x.bin"), target, 0, false, ERROR_PATH_NOT_FOUND, L"target.bin", true},
      {FileUrl(folder / L"a folder"), target, 0, false, ERROR_ACCESS_DENIED, L"target.bin", true},
      {L"gopher://127.0.0.1/x", target, 0, false, kInetUnrecognizedScheme, L"target.bin", true},
      {L"http://127.0.0.1:1/x", target, 0, true, kTransferCancelled, L"", false},
      {FileUrl(folder / L"source.bin"), target, 0, true, kTransferCancelled, L"", false},
  };
  for (const Case& c : cases) {
    RecordingObserver observer;
    observer.cancelled = c.cancelled;
    Transfer transfer(&observer, nullptr);
    if (c.expectedSize != 0) transfer.SetExpectedSize(c.expectedSize);
    const uint32_t rc = transfer.Download(c.url, c.target);
    const std::string where = ToUtf8(c.url) + " -> " + ToUtf8(c.target);
    EXPECT_EQ(rc, c.code) << where;
    if (c.reported) {
      ASSERT_EQ(observer.errors.size(), 1u) << where;
      EXPECT_EQ(observer.errors[0].first, c.reportText) << where;
      EXPECT_EQ(observer.errors[0].second, c.code) << where;
    } else {
      EXPECT_TRUE(observer.errors.empty()) << where;
    }
    EXPECT_FALSE(FileExists(target)) << where;
    EXPECT_FALSE(FileExists(target + L".part")) << where;
    EXPECT_FALSE(FileExists(folder / L"relative")) << where;
  }
}

TEST(TransferFailures, UrlThatCannotBeCracked) {
  TestFolder folder;
  RecordingObserver observer;
  Transfer transfer(&observer, nullptr);
  const uint32_t rc = transfer.Download(L"not a url", folder / L"x.bin");
  EXPECT_NE(rc, 0u);
  ASSERT_EQ(observer.errors.size(), 1u);
  EXPECT_EQ(observer.errors[0].second, rc);
}

}  // namespace
