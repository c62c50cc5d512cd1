// Downloads one URL into a target path with the transfer engine and prints
// every call the engine makes on its observer and credentials provider, one a
// line, then "result=0x%08X".
//
//   fetch.exe [options] <url> <target>
//     --expected N            expected size
//     --accept-encoding V     Accept-Encoding value
//     --answer CODE           answer of every error report (default: its code)
//     --answer-cert CODE      answer of certificate error reports
//     --answer-credentials C  answer of credentials requests (1237 = entered)
//     --provider              use a credentials provider (without credentials)
//     --stored USER:PASS      the provider knows these credentials
//     --entered USER:PASS     the provider gives these after a request
//     --cancel-after N        cancel once N bytes were reported
//     --cancel-after-ms T     cancel T milliseconds after the start
//     --no-observer           download without an observer
//     --quiet                 no progress lines (their sum is printed at the end)
//     --again MS              after the download, wait MS milliseconds and
//                             download again with a new transfer (cancelling
//                             options apply to the first download only)
//     --md5                   compute the digest while writing; prints
//                             "written-md5=<hex> bytes=<n>" or
//                             "written-md5=unknown" before the result
//     --sha256                the same for SHA-256: "written-sha256=<hex>"
//                             or "written-sha256=unknown"
//     --allow-downgrade       follow redirects from https to http
// The engine's own log lines (redirects) are printed as "log <line>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "acquisition/Credentials.h"
#include "acquisition/Transfer.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"
#include "ui/ProgressObserver.h"

using namespace prereq;

namespace {

void Line(const std::wstring& text) {
  const std::string utf8 = ToUtf8(text) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

std::wstring Hex(uint32_t code) { return Format(L"0x%08X", {code}); }

uint32_t ParseCode(const std::wstring& text) { return static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 0)); }

class PrintingProvider : public CredentialsProvider {
 public:
  std::optional<std::pair<std::wstring, std::wstring>> stored, entered;

  void Begin() override { Line(L"credentials begin"); }
  bool StoredCredentials(std::wstring& user, std::wstring& password) override {
    Line(std::wstring(L"credentials stored ") + (stored ? L"yes" : L"no"));
    if (!stored) return false;
    user = stored->first;
    password = stored->second;
    return true;
  }
  void SetUrl(const std::wstring& url) override { Line(L"credentials url=" + url); }
  void SetDescription(const std::wstring& text) override { Line(L"credentials description=" + text); }
  void SetServerName(const std::wstring& name) override { Line(L"credentials server=" + name); }
  bool EnteredCredentials(std::wstring& user, std::wstring& password) override {
    Line(std::wstring(L"credentials entered ") + (entered ? L"yes" : L"no"));
    if (!entered) return false;
    user = entered->first;
    password = entered->second;
    return true;
  }
  void End() override { Line(L"credentials end"); }
};

class PrintingObserver : public ProgressObserver {
 public:
  const void* provider = nullptr;
  std::optional<uint32_t> answer, answerCertificate, answerCredentials;
  std::optional<uint64_t> cancelAfterBytes;
  std::optional<DWORD> cancelAfterMs;
  DWORD startTick = ::GetTickCount();
  bool quiet = false;
  uint64_t progressSum = 0;

  void Start(int kind, uint64_t total, const std::wstring& path) override {
    Line(L"start kind=" + std::to_wstring(kind) + L" total=" + std::to_wstring(total) + L" path=" + path);
  }
  void Progress(uint64_t bytes) override {
    progressSum += bytes;
    if (!quiet) Line(L"progress " + std::to_wstring(bytes));
  }
  void Done(uint32_t, uint32_t) override { Line(L"done"); }
  bool IsCancelled() override {
    if (cancelAfterBytes && progressSum >= *cancelAfterBytes) return true;
    if (cancelAfterMs && ::GetTickCount() - startTick >= *cancelAfterMs) return true;
    return false;
  }
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void* extra) override {
    const bool certificate = code == 12037 || code == 12038 || code == 12044 || code == 12045;
    const bool credentials = code == 0xE0000012 && extra != nullptr;
    uint32_t reply = code;
    if (answer) reply = *answer;
    if (certificate && answerCertificate) reply = *answerCertificate;
    if (credentials && answerCredentials) reply = *answerCredentials;
    std::wstring what = L"none";
    if (extra != nullptr) what = extra == provider ? L"provider" : L"request";
    Line(L"error text=" + text + L" code=" + Hex(code) + L" extra=" + what + L" answer=" + Hex(reply));
    return reply;
  }
  void StatusText(const std::wstring& text, int kind) override {
    Line(L"status kind=" + std::to_wstring(kind) + L" text=" + text);
  }
};

bool SplitCredentials(const std::wstring& text, std::pair<std::wstring, std::wstring>& out) {
  const size_t colon = text.find(L':');
  if (colon == std::wstring::npos) return false;
  out = {text.substr(0, colon), text.substr(colon + 1)};
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  PrintingObserver observer;
  PrintingProvider provider;
  bool useProvider = false, useObserver = true, md5 = false, sha256 = false, downgrade = false;
  int again = -1;
  uint32_t expected = 0;
  std::wstring acceptEncoding;
  std::wstring positional[2];
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--expected" && hasValue) expected = ParseCode(argv[++i]);
    else if (arg == L"--accept-encoding" && hasValue) acceptEncoding = argv[++i];
    else if (arg == L"--answer" && hasValue) observer.answer = ParseCode(argv[++i]);
    else if (arg == L"--answer-cert" && hasValue) observer.answerCertificate = ParseCode(argv[++i]);
    else if (arg == L"--answer-credentials" && hasValue) observer.answerCredentials = ParseCode(argv[++i]);
    else if (arg == L"--provider") useProvider = true;
    else if ((arg == L"--stored" || arg == L"--entered") && hasValue) {
      std::pair<std::wstring, std::wstring> pair;
      if (!SplitCredentials(argv[++i], pair)) return 2;
      (arg == L"--stored" ? provider.stored : provider.entered) = pair;
      useProvider = true;
    } else if (arg == L"--cancel-after" && hasValue) observer.cancelAfterBytes = std::wcstoull(argv[++i], nullptr, 10);
    else if (arg == L"--cancel-after-ms" && hasValue) observer.cancelAfterMs = ParseCode(argv[++i]);
    else if (arg == L"--no-observer") useObserver = false;
    else if (arg == L"--quiet") observer.quiet = true;
    else if (arg == L"--again" && hasValue) again = static_cast<int>(ParseCode(argv[++i]));
    else if (arg == L"--md5") md5 = true;
    else if (arg == L"--sha256") sha256 = true;
    else if (arg == L"--allow-downgrade") downgrade = true;

    else if (count < 2 && arg.rfind(L"--", 0) != 0) positional[count++] = arg;
    else {
      Line(L"usage: fetch.exe [options] <url> <target>");
      return 2;
    }
  }
  if (count != 2) {
    Line(L"usage: fetch.exe [options] <url> <target>");
    return 2;
  }
  observer.provider = static_cast<CredentialsProvider*>(&provider);

  for (int round = 0; round < (again >= 0 ? 2 : 1); ++round) {
    if (round == 1) {
      ::Sleep(static_cast<DWORD>(again));
      observer.cancelAfterBytes.reset();
      observer.cancelAfterMs.reset();
      observer.progressSum = 0;
    }
    uint32_t result;
    {
      Transfer transfer(useObserver ? &observer : nullptr, useProvider ? &provider : nullptr);
      if (expected != 0) transfer.SetExpectedSize(expected);
      if (!acceptEncoding.empty()) transfer.SetAcceptEncoding(acceptEncoding);
      transfer.ComputeDigestsWhileWriting(md5, sha256);
      transfer.AllowHttpsToHttpRedirects(downgrade);
      transfer.SetLogLine([](std::wstring_view line) { Line(L"log " + std::wstring(line)); });
      observer.startTick = ::GetTickCount();
      result = transfer.Download(positional[0], positional[1]);
      const WrittenDigests& digest = transfer.WrittenDigest();
      if (md5) {
        Line(digest.known ? L"written-md5=" + FromUtf8(digest.md5) + L" bytes=" + std::to_wstring(digest.bytes)
                          : std::wstring(L"written-md5=unknown"));
      }
      if (sha256) {
        Line(digest.known && !digest.sha256.empty() ? L"written-sha256=" + FromUtf8(digest.sha256)
                                                    : std::wstring(L"written-sha256=unknown"));
      }
    }
    Line(L"progress-sum=" + std::to_wstring(observer.progressSum));
    Line(L"result=" + Hex(result));
  }
  return 0;
}
