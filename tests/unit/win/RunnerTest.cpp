#include <gtest/gtest.h>
#include <windows.h>

#include "TestFolder.h"
#include "ToolPaths.h"
#include <algorithm>

#include "acquisition/Acceptance.h"
#include "acquisition/Authenticode.h"
#include "acquisition/Md5.h"
#include "acquisition/PrerequisiteRunner.h"
#include "acquisition/Sha256.h"
#include "chainer/ChainingRun.h"

using namespace prereq;

namespace {

struct RunnerFixture {
  TestFolder dir;
  PrereqList list;
  PackagedFiles files;
  StatusWindow status;
  ResultStore store{"PrereqTestRunnerStore"};
  RunnerFixture() { list.general.DownloadFolder = dir.path() + L"\\dl"; }
  // A quiet run's prerequisite whose package (the exitcode tool, which
  // appends "ran" to `marker`) is already in the download folder as p0.exe.
  Prerequisite& AddPresentPackage(std::wstring& package, std::wstring& marker) {
    list.general.Options = L"q";
    CreateDirectoryW((dir / L"dl").c_str(), nullptr);
    package = dir / L"dl\\p0.exe";
    marker = dir / L"marker.txt";
    EXPECT_TRUE(CopyFileW(ToolPath(L"exitcode").c_str(), package.c_str(), FALSE));
    Prerequisite& p = Add(PrereqState::Download, true, LocationKind::Url);
    p.present = true;
    p.NoUiCommandLine = L"0 " + marker;
    return p;
  }
  Prerequisite& Add(PrereqState state, bool selected, LocationKind kind, std::wstring options = L"") {
    Prerequisite p;
    p.DisplayName = L"P" + std::to_wstring(list.Count());
    p.state = state;
    p.selected = selected;
    p.locationKind = kind;
    p.Location = L"http://127.0.0.1:9/p" + std::to_wstring(list.Count()) + L".exe";
    p.Options = std::move(options);
    list.prereqs.push_back(p);
    return list.prereqs.back();
  }
};

TEST(PrerequisiteRunner, ActionRule) {
  RunnerFixture f;
  f.Add(PrereqState::Download, false, LocationKind::Url);           // not selected
  f.Add(PrereqState::Download, true, LocationKind::Url);            // download
  f.Add(PrereqState::Download, true, LocationKind::Url).present = true;  // already there
  f.Add(PrereqState::OsNotSupported, true, LocationKind::Url);
  f.Add(PrereqState::Installed, true, LocationKind::OpenSite);
  f.Add(PrereqState::Installed, true, LocationKind::SetupFile);
  f.Add(PrereqState::Installed, true, LocationKind::Url);           // target file missing
  Prerequisite& fileUrl = f.Add(PrereqState::Installed, true, LocationKind::Url);
  fileUrl.Location = L"file:///C:/setup/x.exe";                     // present by definition
  // On a share: read again when it runs, so it is copied (downloaded) first.
  f.Add(PrereqState::Installed, true, LocationKind::Url).Location = L"file://server/share/x.exe";
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  const PrerequisiteAction expected[] = {
      PrerequisiteAction::Skip,           PrerequisiteAction::Download,
      PrerequisiteAction::RunPresentFile, PrerequisiteAction::NotApplicable,
      PrerequisiteAction::OpenSite,       PrerequisiteAction::RunShippedFile,
      PrerequisiteAction::Download,       PrerequisiteAction::RunPresentFile,
      PrerequisiteAction::Download};
  for (size_t i = 0; i < f.list.Count(); ++i) EXPECT_EQ(runner.Action(i), expected[i]) << i;
  // Once its copy passed, the copy runs.
  runner.checkedFiles[8].accepted = true;
  runner.checkedFiles[8].path = f.dir / L"dl\\x.exe";
  EXPECT_EQ(runner.Action(8), PrerequisiteAction::RunPresentFile);
}

TEST(PrerequisiteRunner, MandatoryCheckLooksAtSelectedMandatoryOnly) {
  RunnerFixture f;
  f.Add(PrereqState::Download, true, LocationKind::Url, L"");      // optional, selected
  f.Add(PrereqState::Installed, false, LocationKind::Url, L"m");   // mandatory, done
  f.Add(PrereqState::Download, true, LocationKind::Url, L"mi");    // "i" exempts
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  EXPECT_TRUE(CheckMandatory(runner));
  f.list.At(1).selected = true;
  f.list.At(1).state = PrereqState::Download;
  EXPECT_FALSE(CheckMandatory(runner));
}

struct AcceptCase {
  const char* name;
  std::string content;
  ExpectedFile expected;
  Acceptance verdict;
};

const wchar_t kAbcSha256[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(VerifyFile, SizeMd5AndSha256) {
  TestFolder dir;
  // Test vectors of the SHA-256 standard (FIPS 180-2, appendix B); the
  // million "a" cross the 65536-byte read blocks many times.
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const AcceptCase cases[] = {
      {"no_checks", "abc", {0, L"", std::nullopt}, Acceptance::Accepted},
      {"size_ok", "abc", {3, L"", std::nullopt}, Acceptance::Accepted},
      {"size_wrong", "abc", {4, L"", std::nullopt}, Acceptance::WrongSizeOrMd5},
      {"md5_ok", "abc", {0, L"900150983cd24fb0d6963f7d28e17f72", std::nullopt}, Acceptance::Accepted},
      {"md5_upper_case", "abc", {3, L"900150983CD24FB0D6963F7D28E17F72", std::nullopt},
       Acceptance::Accepted},
      {"md5_longer_text", "abc", {0, L"900150983cd24fb0d6963f7d28e17f72ZZ", std::nullopt},
       Acceptance::Accepted},
      {"md5_shorter_text", "abc", {0, L"900150983cd24fb0d6963f7d28e17f7", std::nullopt},
       Acceptance::WrongSizeOrMd5},
      {"md5_wrong", "abc", {0, L"00000000000000000000000000000000", std::nullopt},
       Acceptance::WrongSizeOrMd5},
      // Several 65536-byte read blocks, the last one short.
      {"md5_200000_bytes", std::string(200000, 'm'),
       {200000, L"1bcbd655125f93594c930fe0deb88129", std::nullopt}, Acceptance::Accepted},
      {"empty_file_md5_of_empty", "", {0, L"d41d8cd98f00b204e9800998ecf8427e", std::nullopt},
       Acceptance::WrongSizeOrMd5},
      {"sha256_abc", "abc", {3, L"900150983cd24fb0d6963f7d28e17f72", kAbcSha256}, Acceptance::Accepted},
      {"sha256_two_blocks", twoBlocks,
       {0, L"", L"248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
       Acceptance::Accepted},
      {"sha256_million_a", std::string(1000000, 'a'),
       {1000000, L"", L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
       Acceptance::Accepted},
      {"sha256_wrong", "abd", {0, L"", kAbcSha256}, Acceptance::WrongSha256},
      {"sha256_of_empty_on_empty_file", "",
       {0, L"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
       Acceptance::WrongSha256},
      {"sha256_malformed", "abc", {0, L"", std::wstring(kAbcSha256).substr(1)},
       Acceptance::MalformedSha256},
  };
  for (const AcceptCase& c : cases) {
    const std::wstring path = dir / L"f.bin";
    WriteBytes(path, c.content);
    const AcceptanceResult result = VerifyFile(path, c.expected);
    EXPECT_EQ(result.verdict, c.verdict) << c.name;
    EXPECT_EQ(result.error, 0u) << c.name;
    // The digest the transfer took while writing the same bytes decides the
    // same way.
    WrittenDigests written;
    written.known = true;
    written.bytes = c.content.size();
    written.md5 = Md5HexOf(c.content.data(), c.content.size());
    EXPECT_EQ(VerifyFile(path, c.expected, written).verdict, c.verdict) << c.name << " (written)";
    // Read through an open handle (the hold of an accepted file), the same.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << c.name;
    EXPECT_EQ(VerifyOpenFile(held, path, c.expected).verdict, c.verdict) << c.name << " (open)";
    EXPECT_EQ(VerifyOpenFile(held, path, c.expected).verdict, c.verdict) << c.name << " (open, read again)";
    CloseHandle(held);
  }
  EXPECT_EQ(VerifyFile(dir / L"missing.bin", {3, L"", std::nullopt}).verdict,
            Acceptance::WrongSizeOrMd5);
  EXPECT_EQ(VerifyFile(dir / L"missing.bin", {0, L"", kAbcSha256}).verdict, Acceptance::WrongSha256);
}

TEST(VerifyFile, ReadsAFileAnotherProgramIsWritingButNotAFolder) {
  TestFolder dir;
  const std::wstring path = dir / L"abc.txt";
  WriteBytes(path, "abc");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(VerifyFile(path, {0, L"900150983cd24fb0d6963f7d28e17f72", kAbcSha256}).verdict,
            Acceptance::Accepted);
  CloseHandle(writer);
  EXPECT_EQ(VerifyFile(dir.path(), {0, L"", kAbcSha256}).verdict, Acceptance::WrongSha256);
}

TEST(VerifyFile, DigestsKnownFromTheWriterAreNotReadAgain) {
  // The transfer engine may hand in the digests of the bytes it wrote; only
  // what they lack is computed from the file.
  TestFolder dir;
  const std::wstring path = dir / L"f.bin";
  WriteBytes(path, "not abc");
  const ExpectedFile expected{0, L"900150983cd24fb0d6963f7d28e17f72", kAbcSha256};
  FileDigests known;
  known.md5 = "900150983cd24fb0d6963f7d28e17f72";
  known.sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(VerifyFile(path, expected, &known).verdict, Acceptance::Accepted);
  known.sha256.reset();  // read from the file: "not abc"
  EXPECT_EQ(VerifyFile(path, expected, &known).verdict, Acceptance::WrongSha256);
}

TEST(VerifyFile, SignatureReadLastAndOnlyWhenItCanDecide) {
  TestFolder dir;
  const std::wstring unsignedTool = ToolPath(L"package");
  const std::wstring signer = L"CN=Example Corporation";
  // An unsigned program: the trust provider says why, and names no signer.
  AcceptanceResult r = VerifyFile(unsignedTool, {0, L"", std::nullopt, signer});
  EXPECT_EQ(r.verdict, Acceptance::SignerRejected);
  ASSERT_TRUE(r.signature.has_value());
  EXPECT_EQ(r.signature->trustResult, 0x800B0100u);  // TRUST_E_NOSIGNATURE
  EXPECT_FALSE(r.signature->signerKnown);
  EXPECT_EQ(SignatureLogLine(r).rfind(L"Signature check:no signer: not accepted, no valid signature. "
                                      L"Error:", 0),
            0u)
      << SignatureLogLine(r);
  // The size decides first, and a malformed value alone: no signature is read.
  r = VerifyFile(unsignedTool, {1, L"", std::nullopt, signer});
  EXPECT_EQ(r.verdict, Acceptance::WrongSizeOrMd5);
  EXPECT_FALSE(r.signature.has_value());
  EXPECT_EQ(SignatureLogLine(r), L"");
  r = VerifyFile(unsignedTool, {0, L"", std::nullopt, L"Example Corporation"});
  EXPECT_EQ(r.verdict, Acceptance::MalformedSigner);
  EXPECT_FALSE(r.signature.has_value());
  // A missing file, and one that another program is writing, cannot be
  // examined: nobody may write to a file while its signature is read.
  EXPECT_EQ(ReadSignature(dir / L"missing.exe").systemError, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  const std::wstring busy = dir / L"busy.exe";
  ASSERT_TRUE(CopyFileW(unsignedTool.c_str(), busy.c_str(), FALSE));
  HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadSignature(busy).systemError, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  CloseHandle(writer);
  EXPECT_EQ(ReadSignature(busy).systemError, 0u);
}

TEST(Sha256, AgreesAcrossPiecesOfAnySize) {
  std::string data(200000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
  Sha256 whole;
  ASSERT_TRUE(whole.ok()) << whole.error();
  whole.Update(data.data(), data.size());
  const std::string expected = whole.FinishHex();
  ASSERT_EQ(expected.size(), 64u);
  for (size_t piece : {1u, 63u, 64u, 65u, 65536u, 65537u}) {
    Sha256 pieces;
    for (size_t at = 0; at < data.size(); at += piece)
      pieces.Update(data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(pieces.FinishHex(), expected) << piece;
  }
  Sha256 empty;
  EXPECT_EQ(empty.FinishHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(empty.FinishHex(), "");  // finished
}

TEST(PrerequisiteRunner, PresentFilesRunOnlyAfterTheirCheck) {
  // Files found in place (a stale, cut or planted target; a file URL's file)
  // get the check a download gets. A rejected target is deleted and fetched
  // again (here from a closed port: it stays missing); a file URL's own file
  // is never deleted.
  RunnerFixture f;
  const std::wstring dl = f.dir / L"dl";
  CreateDirectoryW(dl.c_str(), nullptr);
  Prerequisite& good = f.Add(PrereqState::Download, true, LocationKind::Url);
  good.MD5 = L"b5f32d3b6e5d6a5c1ee4a4a7b5f3f6f1";  // replaced below
  Prerequisite& stale = f.Add(PrereqState::Download, true, LocationKind::Url);
  Prerequisite& planted = f.Add(PrereqState::Installed, true, LocationKind::Url);
  Prerequisite& shared = f.Add(PrereqState::Download, true, LocationKind::Url);
  Prerequisite& unchecked = f.Add(PrereqState::Download, true, LocationKind::Url);

  WriteBytes(dl + L"\\p0.exe", "abc");
  f.list.At(0).MD5 = L"900150983cd24fb0d6963f7d28e17f72";
  WriteBytes(dl + L"\\p1.exe", "abd");  // right size, wrong digest
  f.list.At(1).ExactSize = 3;
  f.list.At(1).MD5 = L"900150983cd24fb0d6963f7d28e17f72";
  WriteBytes(dl + L"\\p2.exe", "abc");  // found by the presence rule; wrong SHA-256
  f.list.At(2).SHA256 = std::wstring(64, L'0');
  CreateDirectoryW((f.dir / L"src").c_str(), nullptr);
  WriteBytes(f.dir / L"src\\x.exe", "abc");
  f.list.At(3).Location = L"file:///" + f.dir.path() + L"\\src\\x.exe";
  f.list.At(3).ExactSize = 4;
  WriteBytes(dl + L"\\p4.exe", "anything");  // nothing configured to check
  (void)good, (void)stale, (void)planted, (void)shared, (void)unchecked;
  for (size_t i = 0; i < f.list.Count(); ++i)
    if (f.list.At(i).state == PrereqState::Download) f.list.At(i).present = true;

  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  EXPECT_EQ(runner.DownloadPass(nullptr), 0u);
  EXPECT_TRUE(FileExists(dl + L"\\p0.exe"));
  EXPECT_FALSE(FileExists(dl + L"\\p1.exe"));
  EXPECT_FALSE(FileExists(dl + L"\\p2.exe"));
  EXPECT_TRUE(FileExists(f.dir / L"src\\x.exe"));
  // The rejected ones were queued for download again.
  ASSERT_EQ(runner.context.items.size(), 3u);
  EXPECT_EQ(runner.context.items[0].index, 1u);
  EXPECT_EQ(runner.context.items[1].index, 2u);
  EXPECT_EQ(runner.context.items[2].index, 3u);

  runner.BuildLaunchList();
  std::vector<std::wstring> paths;
  for (const LaunchItem& item : runner.launcher.launchList) paths.push_back(item.path);
  EXPECT_EQ(paths, (std::vector<std::wstring>{dl + L"\\p0.exe", dl + L"\\p4.exe"}));
}

TEST(PrerequisiteRunner, InstallLoopAloneChecksPresentFiles) {
  // Without a download pass before it, the install loop still runs a present
  // file only when it passes.
  for (bool matches : {true, false}) {
    RunnerFixture f;
    std::wstring package, marker;
    Prerequisite& p = f.AddPresentPackage(package, marker);
    const std::vector<unsigned char> bytes = ReadBytes(package);
    p.ExactSize = static_cast<int32_t>(bytes.size()) + (matches ? 0 : 1);
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u);
    EXPECT_EQ(MarkerRuns(marker), matches ? 1 : 0) << matches;
    EXPECT_EQ(FileExists(package), matches) << matches;
  }
}

// The file that passed its check is the file that runs: from the check until
// its package has started nobody can write, replace, rename or delete it;
// reading it stays possible. Once the package has started it is let go.
TEST(PrerequisiteRunner, AcceptedFileIsHeldUntilItsPackageHasStarted) {
  RunnerFixture f;
  std::wstring package, marker;
  Prerequisite& p = f.AddPresentPackage(package, marker);
  const std::wstring other = f.dir / L"other.exe";
  WriteBytes(other, "not the package");
  const std::vector<unsigned char> bytes = ReadBytes(package);
  p.ExactSize = static_cast<int32_t>(bytes.size());
  const std::string md5 = Md5HexOf(bytes.data(), bytes.size());
  p.MD5 = std::wstring(md5.begin(), md5.end());
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  EXPECT_EQ(runner.DownloadPass(nullptr), 0u);
  ASSERT_TRUE(runner.checkedFiles[0].accepted);

  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  EXPECT_EQ(CreateFileW(package.c_str(), GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileW(other.c_str(), package.c_str(), FALSE));
  EXPECT_FALSE(MoveFileExW(other.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(MoveFileExW(package.c_str(), (package + L".away").c_str(), 0));
  EXPECT_FALSE(DeleteFileW(package.c_str()));
  HANDLE reader = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);

  EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u);
  EXPECT_EQ(MarkerRuns(marker), 1);
  HANDLE writer = CreateFileW(package.c_str(), GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "let go once the package has started";
  CloseHandle(writer);
}

// A file that cannot be held (another program has it open for writing) is
// judged by its path, and again right before its launch: changed meanwhile,
// it does not run and its item fails with the code of a rejected file.
TEST(PrerequisiteRunner, FileThatCannotBeHeldIsCheckedAgainBeforeItsLaunch) {
  for (const bool changed : {false, true}) {
    RunnerFixture f;
    std::wstring package, marker;
    Prerequisite& p = f.AddPresentPackage(package, marker);
    const std::vector<unsigned char> bytes = ReadBytes(package);
    const std::string md5 = Md5HexOf(bytes.data(), bytes.size());
    p.MD5 = std::wstring(md5.begin(), md5.end());
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    HANDLE writer = CreateFileW(package.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(runner.DownloadPass(nullptr), 0u);
    ASSERT_TRUE(runner.checkedFiles[0].accepted) << changed;
    EXPECT_FALSE(runner.checkedFiles[0].hold) << changed;
    if (changed) {
      DWORD written = 0;
      SetFilePointer(writer, static_cast<LONG>(bytes.size() - 1), nullptr, FILE_BEGIN);
      const char other = static_cast<char>(bytes.back() ^ 0xFF);
      WriteFile(writer, &other, 1, &written, nullptr);  // the same length, another last byte
    }
    CloseHandle(writer);
    EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u);
    EXPECT_EQ(MarkerRuns(marker), changed ? 0 : 1) << changed;
    ASSERT_EQ(runner.launcher.launchList.size(), 1u);
    EXPECT_EQ(runner.launcher.launchList[0].returnCode, changed ? kErrorFileChanged : 0u) << changed;
  }
}

bool LongPathExists(const std::wstring& path) {
  return GetFileAttributesW((L"\\\\?\\" + path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(PrerequisiteRunner, LongPathsNameTheFilesTheTransferEngineNames) {
  // Beyond 247 characters the transfer engine reaches its files through
  // "\\?\" paths. The download pass must name the same files: its folder
  // creation, acceptance, deletion and clean-up. Names that end in a dot show
  // the difference under Wine too, where the plain form drops the dot and so
  // names another file.
  RunnerFixture f;
  const std::wstring base = f.dir.path() + L"\\" + std::wstring(110, L'd') + L"\\" +
                            std::wstring(110, L'e');
  f.list.general.DownloadFolder = base;
  Prerequisite& p = f.Add(PrereqState::Download, true, LocationKind::Url);
  p.Folder = L"deep.\\more.?x.exe.";
  {
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    runner.context.items.push_back(DownloadItem{p.Location, 0, L"", 4, 0, p.Folder});
    EXPECT_EQ(runner.TransferOne(0), 5u);  // the port is closed; the folders are made first
    const std::wstring target = runner.context.items[0].localPath;
    ASSERT_GT(target.size(), 260u);
    EXPECT_EQ(target, base + L"\\deep.\\more.\\x.exe.");
    ASSERT_FALSE(runner.context.foldersCreated.empty());
    EXPECT_EQ(runner.context.foldersCreated.back(), base + L"\\deep.\\more.");
    EXPECT_TRUE(LongPathExists(base + L"\\deep.\\more.")) << "the engine's folder";

    // The file as the engine leaves it: accepted under the same name.
    HANDLE h = CreateFileW((L"\\\\?\\" + target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "abc", 3, &written, nullptr);
    CloseHandle(h);
    EXPECT_EQ(VerifyFile(target, {3, L"900150983cd24fb0d6963f7d28e17f72", kAbcSha256}).verdict,
              Acceptance::Accepted);
    runner.context.deletionList.push_back(target);
  }
  // The runner's end deletes that file and the folders it made.
  EXPECT_FALSE(LongPathExists(base + L"\\deep.\\more.\\x.exe."));
  EXPECT_FALSE(LongPathExists(base + L"\\deep.\\more."));
  EXPECT_FALSE(LongPathExists(base + L"\\deep."));
  EXPECT_FALSE(LongPathExists(f.dir.path() + L"\\" + std::wstring(110, L'd')));
}

TEST(PrerequisiteRunner, TargetLongerThanWindowsAcceptsFailsBeforeAnyCall) {
  RunnerFixture f;
  f.list.general.DownloadFolder = f.dir.path() + L"\\" + std::wstring(40000, L'x');
  Prerequisite& p = f.Add(PrereqState::Download, true, LocationKind::Url);
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  runner.context.items.push_back(DownloadItem{p.Location, 0, L"", 4, 0, L""});
  EXPECT_EQ(runner.TransferOne(0), 5u);
  EXPECT_EQ(runner.context.lastTransferResult, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(runner.context.foldersCreated.empty());
}

// A file that changed after it was written: the written digest is not taken
// for a file of another length (the file is read instead), and a file that is
// gone fails as it does when read.
TEST(PrerequisiteRunner, WrittenDigestOnlyForTheFileAsWritten) {
  TestFolder dir;
  const std::wstring md5 = L"900150983cd24fb0d6963f7d28e17f72";  // "abc"
  WrittenDigests written;
  written.known = true;
  written.bytes = 3;
  written.md5 = "900150983cd24fb0d6963f7d28e17f72";
  const std::wstring path = dir / L"f.bin";
  struct Case {
    const char* name;
    const char* content;  // nullptr: no file
    bool accepted;
  };
  const Case cases[] = {
      {"as written", "abc", true},
      {"grown", "abcd", false},
      {"cut", "ab", false},
      {"emptied", "", false},
      {"gone", nullptr, false},
      // Rewritten in place with as many bytes: not noticed, as it is not when
      // it happens after a file was read. Whoever can write the download
      // folder can change the file at any time before it runs.
      {"same length, other bytes", "abd", true},
  };
  for (const Case& c : cases) {
    DeleteFileW(path.c_str());
    if (c.content != nullptr) WriteBytes(path, c.content);
    EXPECT_EQ(VerifyFile(path, {0, md5, std::nullopt}, written).verdict == Acceptance::Accepted,
              c.accepted)
        << c.name;
  }
  // Without an MD5 to check the written digest plays no part.
  WriteBytes(path, "abcd");
  EXPECT_EQ(VerifyFile(path, {4, L"", std::nullopt}, written).verdict, Acceptance::Accepted);
  // The SHA-256 taken while writing stands in the same way.
  WrittenDigests sha;
  sha.known = true;
  sha.bytes = 3;
  sha.sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  WriteBytes(path, "abd");  // as many bytes: the written digest decides
  EXPECT_EQ(VerifyFile(path, {0, L"", kAbcSha256}, sha).verdict, Acceptance::Accepted);
  WriteBytes(path, "abcd");  // another length: the file is read
  EXPECT_EQ(VerifyFile(path, {0, L"", kAbcSha256}, sha).verdict, Acceptance::WrongSha256);
}

// Records the error reports of the passes.
struct ReportRecorder : ProgressObserver {
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void*) override {
    reports.emplace_back(text, code);
    return code;
  }
  std::vector<std::pair<std::wstring, uint32_t>> reports;
};

TEST(PrerequisiteRunner, DownloadReportsSayWhatFailedAndWhy) {
  const std::wstring failed = L"The download of P0 failed: ";
  struct Case {
    const char* name;
    const wchar_t* file;  // what the file URL names
    const wchar_t* md5;
    const wchar_t* options;
    uint32_t result;
    std::vector<uint32_t> codes;  // of the reports, in order
    std::wstring text;            // of every report; ending "..." : its beginning
  };
  const Case cases[] = {
      // The engine's report, then (mandatory only) the pass's with its own code.
      {"missing, optional", L"missing.bin", L"", L"", 0, {2}, failed + L"..."},
      {"missing, mandatory", L"missing.bin", L"", L"m", kInstallFailed, {2, kErrorMandatoryFailed},
       failed + L"..."},
      {"rejected", L"abc.bin", L"00000000000000000000000000000000", L"", kInstallFailed,
       {kErrorDownloadRejected},
       L"The download of P0 was rejected: its size or digest did not match."},
      {"accepted", L"abc.bin", L"900150983cd24fb0d6963f7d28e17f72", L"m", 0, {}, L""},
  };
  for (const Case& c : cases) {
    RunnerFixture f;
    WriteBytes(f.dir / L"abc.bin", "abc");
    Prerequisite& p = f.Add(PrereqState::Download, true, LocationKind::Url, c.options);
    p.Location = L"file:///" + f.dir / c.file;
    p.MD5 = c.md5;
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    ReportRecorder observer;
    EXPECT_EQ(runner.DownloadPass(&observer), c.result) << c.name;
    ASSERT_EQ(observer.reports.size(), c.codes.size()) << c.name;
    for (size_t i = 0; i < c.codes.size(); ++i) {
      const auto& [text, code] = observer.reports[i];
      if (c.codes[i] == 2) {
        EXPECT_NE(code, 0u) << c.name;  // the transfer's own result
      } else {
        EXPECT_EQ(code, c.codes[i]) << c.name;
      }
      if (c.text.ends_with(L"...")) {
        EXPECT_EQ(text.rfind(c.text.substr(0, c.text.size() - 3), 0), 0u) << c.name;
        EXPECT_GT(text.size(), c.text.size()) << c.name;  // and says why
        EXPECT_EQ(text.back(), L'.') << c.name;
      } else {
        EXPECT_EQ(text, c.text) << c.name;
      }
    }
  }
}

// Cancel is asked before every block of 65536 bytes that is read for a
// digest, and stops the check at once; a check without a digest reads
// nothing and asks nothing.
TEST(VerifyFile, CancelIsAskedPerBlock) {
  TestFolder dir;
  const std::wstring path = dir / L"f.bin";
  const std::wstring md5 = L"00000000000000000000000000000000";
  const struct {
    size_t size;
    int blocks;
  } cases[] = {{1, 1}, {65535, 1}, {65536, 1}, {65537, 2}, {3 * 65536, 3}, {3 * 65536 + 1, 4}};
  for (const auto& c : cases) {
    WriteBytes(path, std::string(c.size, 'x'));
    int asked = 0;
    const AcceptanceResult whole = VerifyFile(path, {0, md5, std::nullopt}, nullptr, [&] {
      ++asked;
      return false;
    });
    EXPECT_FALSE(whole.cancelled) << c.size;
    EXPECT_EQ(asked, c.blocks) << c.size;
    // Cancelled before the last block: no verdict.
    int left = c.blocks - 1;
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const AcceptanceResult stopped = VerifyOpenFile(held, path, {0, md5, std::nullopt},
                                                     [&] { return left-- == 0; });
    CloseHandle(held);
    EXPECT_TRUE(stopped.cancelled) << c.size;
    EXPECT_NE(stopped.verdict, Acceptance::Accepted) << c.size;
  }
  int asked = 0;
  EXPECT_EQ(VerifyFile(path, {static_cast<uint32_t>(3 * 65536 + 1), L"", std::nullopt}, nullptr, [&] {
              ++asked;
              return true;
            }).verdict,
            Acceptance::Accepted);
  EXPECT_EQ(asked, 0);
}

TEST(PrerequisiteRunner, DestructionRemovesDownloadsAndCreatedFolders) {
  RunnerFixture f;
  std::wstring folder = f.dir / L"made";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\inner").c_str(), nullptr);
  WriteBytes(folder + L"\\inner\\x.exe", "x");
  {
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    runner.context.foldersCreated = {folder, folder + L"\\inner"};
    runner.context.deletionList = {folder + L"\\inner\\x.exe"};
  }
  EXPECT_FALSE(FileExists(folder));
}

}  // namespace
