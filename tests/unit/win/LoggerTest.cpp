#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "TestFolder.h"
#include "logging/Logger.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

std::wstring Text(const std::vector<unsigned char>& bytes, size_t from = 0) {
  std::wstring out;
  for (size_t i = from; i + 1 < bytes.size(); i += 2) out.push_back(bytes[i] | (bytes[i + 1] << 8));
  return out;
}

struct Env {
  std::wstring programData, modulePath, userTemp;
  std::vector<std::wstring> debug;
  std::function<void(HANDLE)> flush;  // default: the system's
  Logger::Environment Make() {
    Logger::Environment e;
    if (flush) e.flushFile = flush;
    e.programDataFolder = [this] { return programData; };
    e.modulePath = [this] { return modulePath; };
    e.userTempFolder = [this] { return userTemp; };
    e.debugOutput = [this](const std::wstring& t) { debug.push_back(t); };
    return e;
  }
};

const std::wregex kStampedLine(L"\\d{4}-\\d{2}-\\d{2} \\d{2}-\\d{2}-\\d{2}-(.*)");

TEST(Logger, NewFileHasMarkHeaderLinesAndClosingLine) {
  TestFolder dir;
  Env env;
  Logger log(env.Make());
  std::wstring path = dir / L"run.log";
  log.SetLogFile(path);
  EXPECT_FALSE(FileExists(path));  // opened lazily
  log.WriteLine(L"Searching for:First");
  log.Finish(true);

  std::vector<unsigned char> bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  std::wstring text = Text(bytes, 2);
  ASSERT_EQ(text.rfind(L"\r\n<< Corvane (x86) Log >>\r\nOS Version: ", 0), 0u) << ToUtf8(text);
  size_t cpu = text.find(L"\r\nCPU: ");
  ASSERT_NE(cpu, std::wstring::npos);
  size_t body = text.find(L"\r\n\r\n", cpu);
  ASSERT_NE(body, std::wstring::npos);
  std::wstring lines = text.substr(body + 4);
  size_t eol = lines.find(L"\r\n");
  std::wsmatch m;
  std::wstring first = lines.substr(0, eol);
  ASSERT_TRUE(std::regex_match(first, m, kStampedLine)) << ToUtf8(first);
  EXPECT_EQ(m[1].str(), L"Searching for:First");
  std::wstring rest = lines.substr(eol + 2);
  EXPECT_EQ(rest.size(), 20u + 52u + 4u);
  EXPECT_EQ(rest.substr(20), L"=====================End of Log=====================\r\n\r\n");
  EXPECT_EQ(env.debug.front(), L"Logger::SetLogFile( " + path + L" ) while OLD path is:");
  EXPECT_EQ(env.debug.back(), L"LOGGER->Creating LOG file at:" + path + L"\r\n");
}

TEST(Logger, SecondRunAppendsWithoutMarkButWithHeader) {
  TestFolder dir;
  std::wstring path = dir / L"run.log";
  for (int run = 0; run < 2; ++run) {
    Env env;
    Logger log(env.Make());
    log.SetLogFile(path);
    log.WriteLine(L"line");
    log.Finish(false);
    if (run == 1) EXPECT_EQ(env.debug.back(), L"LOGGER->Reusing LOG file at:" + path + L"\r\n");
  }
  std::wstring text = Text(ReadBytes(path), 2);
  EXPECT_EQ(text.find(L"\uFEFF"), std::wstring::npos);
  size_t firstBanner = text.find(L"<< Corvane (x86) Log >>");
  size_t secondBanner = text.find(L"<< Corvane (x86) Log >>", firstBanner + 1);
  EXPECT_NE(secondBanner, std::wstring::npos);
  EXPECT_NE(text.find(L"OS Version: ", secondBanner), std::wstring::npos);
}

TEST(Logger, LaterSetLogFileKeepsTheOpenFile) {
  TestFolder dir;
  Env env;
  Logger log(env.Make());
  log.SetLogFile(dir / L"first.log");
  log.WriteLine(L"one");
  log.SetLogFile(dir / L"second.log");
  log.WriteLine(L"two");
  log.Finish(false);
  EXPECT_FALSE(FileExists(dir / L"second.log"));
  EXPECT_NE(Text(ReadBytes(dir / L"first.log")).find(L"-two\r\n"), std::wstring::npos);
  EXPECT_EQ(log.CurrentPath(), dir / L"first.log");
}

TEST(Logger, FallbackCandidatesInOrder) {
  TestFolder dir;
  std::wstring missing = dir / L"no\\such\\folder\\x.log";
  CreateDirectoryW((dir / L"pd").c_str(), nullptr);
  CreateDirectoryW((dir / L"app").c_str(), nullptr);
  CreateDirectoryW((dir / L"tmp").c_str(), nullptr);

  // a: ProgramData\CORVANE_LOGS\<program>.LOG, folder created.
  {
    Env env;
    env.programData = dir / L"pd";
    env.modulePath = dir / L"app\\my.setup.exe";
    Logger log(env.Make());
    log.SetLogFile(missing);
    log.WriteLine(L"x");
    EXPECT_EQ(log.CurrentPath(), dir / L"pd\\CORVANE_LOGS\\my.setup.LOG");
    EXPECT_EQ(env.debug[1], L"LOGGER->failed to create LOG at:" + missing);
  }
  // b: beside the program when the ProgramData candidate cannot be opened
  // (a folder stands where its file would be).
  CreateDirectoryW((dir / L"pd\\CORVANE_LOGS\\blocked.LOG").c_str(), nullptr);
  {
    Env env;
    env.programData = dir / L"pd";
    env.modulePath = dir / L"app\\blocked.exe";
    Logger log(env.Make());
    log.SetLogFile(missing);
    log.WriteLine(L"x");
    EXPECT_EQ(log.CurrentPath(), dir / L"app\\blocked.LOG");
  }
  // c: the user's temporary folder, also when its CORVANE_LOGS folder exists.
  for (int attempt = 0; attempt < 2; ++attempt) {
    Env env;
    env.programData = dir / L"pd";
    env.modulePath = dir / L"gone\\blocked.exe";
    env.userTemp = dir / L"tmp\\";
    Logger log(env.Make());
    log.SetLogFile(missing);
    log.WriteLine(L"x");
    EXPECT_EQ(log.CurrentPath(), dir / L"tmp\\CORVANE_LOGS\\blocked.LOG") << attempt;
    log.Finish(false);
  }
  // A candidate that cannot be formed ends the search: lines are dropped, and
  // each later line starts again from the first fallback.
  {
    Env env;
    env.modulePath = dir / L"app\\late.exe";
    Logger log(env.Make());
    log.SetLogFile(missing);
    log.WriteLine(L"x");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.CurrentPath(), L"");
    EXPECT_FALSE(FileExists(dir / L"app\\late.LOG"));
    env.programData = dir / L"pd";
    log.WriteLine(L"y");
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(log.CurrentPath(), dir / L"pd\\CORVANE_LOGS\\late.LOG");
  }
}

TEST(Logger, NeverWritesIntoAFileWithAnotherName) {
  // A hard link made where the log will be (any user can make one in the
  // shared log folders) to a file the chainer may write as LocalSystem.
  TestFolder dir;
  CreateDirectoryW((dir / L"pd").c_str(), nullptr);
  CreateDirectoryW((dir / L"logs").c_str(), nullptr);
  const std::wstring victim = dir / L"victim.cfg";
  WriteBytes(victim, "untouched");
  const std::wstring path = dir / L"logs\\run.log";
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
  Env env;
  env.programData = dir / L"pd";
  env.modulePath = dir / L"app\\setup.exe";
  Logger log(env.Make());
  log.SetLogFile(path);
  log.WriteLine(L"line");
  log.Finish(true);

  const std::vector<unsigned char> bytes = ReadBytes(victim);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "untouched");
  EXPECT_EQ(log.CurrentPath(), dir / L"pd\\CORVANE_LOGS\\setup.LOG");
  ASSERT_GE(env.debug.size(), 3u);
  EXPECT_EQ(env.debug[1], L"LOGGER->refused LOG at:" + path + L" (it has more than one name)");
  EXPECT_EQ(env.debug[2], L"LOGGER->failed to create LOG at:" + path);
  EXPECT_NE(Text(ReadBytes(dir / L"pd\\CORVANE_LOGS\\setup.LOG")).find(L"-line\r\n"),
            std::wstring::npos);
}

TEST(Logger, PathLongerThanWindowsAcceptsIsNotTried) {
  TestFolder dir;
  CreateDirectoryW((dir / L"pd").c_str(), nullptr);
  Env env;
  env.programData = dir / L"pd";
  env.modulePath = dir / L"app\\long.exe";
  Logger log(env.Make());
  log.SetLogFile(L"C:\\" + std::wstring(40000, L'l') + L".log");
  log.WriteLine(L"line");
  EXPECT_EQ(log.CurrentPath(), dir / L"pd\\CORVANE_LOGS\\long.LOG");
}

// Lines are written at once, one write each; the file is flushed to disk only
// after the lines that matter, and the content is what it always was.
TEST(Logger, FlushesAfterLaunchRestartErrorAndClosingLinesOnly) {
  TestFolder dir;
  const std::wstring path = dir / L"flush.log";
  Env env;
  std::vector<std::wstring> flushedAfter;  // the file's text at each flush
  env.flush = [&](HANDLE file) {
    ::FlushFileBuffers(file);
    flushedAfter.push_back(Text(ReadBytes(path), 2));
  };
  auto endsWith = [](const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  Logger log(env.Make());
  log.SetLogFile(path);
  const std::wstring lines[] = {
      L"Searching for:A",       L"Starting download of:A", L"Download failed. Error:12029",
      L"Starting download of:B", L"Download completed succesfully.", L"Downloaded file was accepted.",
      L"Launching file:Z:\\b.exe", L"Return code of launched file:0", L"Rebooting machine...",
  };
  size_t sizeBefore = 0;
  for (const std::wstring& line : lines) {
    log.WriteLine(line);
    // Written at once, not held in the process.
    const size_t size = ReadBytes(path).size();
    EXPECT_EQ(size, sizeBefore == 0 ? size : sizeBefore + (20 + line.size() + 2) * 2) << ToUtf8(line);
    sizeBefore = size;
  }
  log.Finish(true);

  ASSERT_EQ(flushedAfter.size(), 4u);
  EXPECT_TRUE(endsWith(flushedAfter[0], L"-Download failed. Error:12029\r\n"));
  EXPECT_TRUE(endsWith(flushedAfter[1], L"-Launching file:Z:\\b.exe\r\n"));
  EXPECT_TRUE(endsWith(flushedAfter[2], L"-Rebooting machine...\r\n"));
  EXPECT_TRUE(endsWith(flushedAfter[3], L"-=====================End of Log=====================\r\n\r\n"));
  // Byte for byte the layout of every run before: stamp, "-", text, CR LF.
  const std::wstring text = Text(ReadBytes(path), 2);
  std::wstring body = text.substr(text.find(L"\r\n\r\n", text.find(L"CPU: ")) + 4);
  for (const std::wstring& line : lines) {
    const size_t eol = body.find(L"\r\n");
    ASSERT_NE(eol, std::wstring::npos);
    std::wsmatch m;
    const std::wstring first = body.substr(0, eol);
    ASSERT_TRUE(std::regex_match(first, m, kStampedLine)) << ToUtf8(first);
    EXPECT_EQ(m[1].str(), line);
    body.erase(0, eol + 2);
  }
  EXPECT_EQ(body.substr(20), L"=====================End of Log=====================\r\n\r\n");
}

constexpr int kThreads = 4, kLines = 50;
struct Arg { Logger* log; int id; };

DWORD WINAPI WriteLines(void* p) {
  auto* a = static_cast<Arg*>(p);
  std::wstring text(40, static_cast<wchar_t>(L'a' + a->id));
  for (int i = 0; i < kLines; ++i) a->log->WriteLine(text);
  return 0;
}

TEST(Logger, ConcurrentLinesNeverInterleave) {
  TestFolder dir;
  Env env;
  Logger log(env.Make());
  log.SetLogFile(dir / L"mt.log");
  std::vector<HANDLE> threads;
  std::vector<Arg> args(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    args[t] = {&log, t};
    threads.push_back(CreateThread(nullptr, 0, WriteLines, &args[t], 0, nullptr));
  }
  WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE);
  for (HANDLE h : threads) CloseHandle(h);
  log.Finish(false);
  std::wstring text = Text(ReadBytes(dir / L"mt.log"), 2);
  std::wstring body = text.substr(text.find(L"\r\n\r\n", text.find(L"CPU: ")) + 4);
  int count = 0;
  for (size_t pos = 0; pos < body.size();) {
    size_t eol = body.find(L"\r\n", pos);
    ASSERT_NE(eol, std::wstring::npos);
    std::wstring payload = body.substr(pos + 20, eol - pos - 20);
    EXPECT_EQ(payload, std::wstring(40, payload[0]));
    ++count;
    pos = eol + 2;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

// Downloads of the overlapped run write their lines as blocks while other
// threads write single lines: every line stays whole, and a block's lines
// follow each other with nothing between them.
TEST(Logger, BlocksStayTogetherBesideOtherThreadsLines) {
  LogCapture capture(L"blocks.log");
  constexpr int kBlockThreads = 3, kBlocks = 20, kBlockLines = 5, kLineThreads = 2;
  std::vector<std::thread> threads;
  for (int t = 0; t < kBlockThreads; ++t)
    threads.emplace_back([t] {
      for (int b = 0; b < kBlocks; ++b) {
        LogBlock block;
        for (int l = 0; l < kBlockLines; ++l)
          WriteLine(L"block " + std::to_wstring(t) + L"." + std::to_wstring(b) + L" line " +
                    std::to_wstring(l) + L" " + std::wstring(60, L'a' + t));
      }
    });
  for (int t = 0; t < kLineThreads; ++t)
    threads.emplace_back([t] {
      for (int l = 0; l < kBlocks * kBlockLines; ++l) WriteLine(L"single " + std::to_wstring(t));
    });
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::wstring> lines = capture.Lines();
  ASSERT_EQ(lines.size(), size_t{(kBlockThreads + kLineThreads) * kBlocks * kBlockLines});
  const std::wregex blockLine(L"block (\\d)\\.(\\d+) line (\\d) ([a-z]{60})");
  const std::wregex singleLine(L"single \\d");
  for (size_t i = 0; i < lines.size(); ++i) {
    std::wsmatch m;
    if (std::regex_match(lines[i], singleLine)) continue;
    ASSERT_TRUE(std::regex_match(lines[i], m, blockLine)) << ToUtf8(lines[i]);
    EXPECT_EQ(m[4].str(), std::wstring(60, L'a' + std::stoi(m[1].str())));
    if (m[3].str() != L"0") continue;
    // The block's other lines follow at once, in order.
    const std::wstring head = L"block " + m[1].str() + L"." + m[2].str() + L" line ";
    for (int l = 1; l < kBlockLines; ++l) {
      ASSERT_LT(i + l, lines.size());
      EXPECT_EQ(lines[i + l].rfind(head + std::to_wstring(l) + L" ", 0), 0u) << ToUtf8(lines[i + l]);
    }
  }
}

// Nested blocks hand their lines to the outer one; without a block lines go
// straight to the log.
TEST(Logger, NestedBlockJoinsTheOuterOne) {
  LogCapture capture(L"nested.log");
  {
    LogBlock outer;
    WriteLine(L"outer 1");
    {
      LogBlock inner;
      WriteLine(L"inner");
    }
    EXPECT_TRUE(capture.Lines().empty());
    WriteLine(L"outer 2");
  }
  WriteLine(L"after");
  EXPECT_EQ(capture.Lines(), (std::vector<std::wstring>{L"outer 1", L"inner", L"outer 2", L"after"}));
}

}  // namespace
