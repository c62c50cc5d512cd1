// Search strings and paths from the configuration: the file search's depth
// suffix, depth and candidates, drive strings, folder and name, registry key
// and value paths, the package search string, the system and language lists,
// the long-path form, path normalisation, shipped-file locations and the
// configuration path. Input: lines text, list, other.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "acquisition/PackagedFiles.h"
#include "chainer/ModulePaths.h"
#include "evaluation/OsConditions.h"
#include "evaluation/SearchRules.h"
#include "execution/MsixRules.h"
#include "platform/core/PathForms.h"

using namespace prereq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring whole = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(whole, 3);
  const std::wstring text(f[0]), list(f[1]), other(f[2]);

  const DepthSplit split = SplitDepthSuffix(text);
  fuzz::Check(std::wstring(split.path) + std::wstring(split.suffix) == text, "depth split loses text");
  fuzz::Check(split.suffix.empty() || split.suffix.front() == L'?', "suffix without \"?\"");
  ParseDepth(split.suffix);
  const auto candidates = FileSearchCandidates(text, {L"C:\\", L"D:\\"});
  fuzz::Check(candidates.size() == (SearchesAsWritten(text) ? 1u : 2u), "candidate count");
  SplitDriveStrings(whole);
  const FolderAndName fn = SplitFolderAndName(text);
  fuzz::Check(fn.folder + fn.name == text, "folder and name lose text");
  std::wstring subkey;
  if (SubkeyOf(text, subkey)) fuzz::Check(subkey.size() < text.size(), "subkey longer than its path");
  KeyAndValue kv;
  if (SplitValuePath(text, kv)) fuzz::Check(kv.keyPath + L"\\" + kv.valueName == text, "value path");

  const MsixQuery query = SplitMsixSearchString(text);
  fuzz::Check(query.name.find(L'?') == std::wstring::npos &&
                  query.architecture.find(L'?') == std::wstring::npos,
              "package field with \"?\"");
  MsixPackageMatches(query, MsixIdentity{query.name, query.publisher, 9});

  OsListAllowsNames(false, list, other, text, other);
  OsListAllowsNames(true, list, other, L"Windows 10", L"Windows 10");
  LanguageListAllows(list, 0x0409);

  const std::wstring longForm = ToLongPathForm(text);
  if (text.rfind(L"\\\\?\\", 0) != 0 && text.rfind(L"\\\\.\\", 0) != 0)
    fuzz::Check(FromLongPathForm(longForm) == text, "long-path form does not come back");
  const std::wstring normal = NormalizePath(text);
  // A piece ending in "]" takes the next piece without a backslash (its
  // folder property brings one), so only paths without "]" keep their form.
  if (text.find(L']') == std::wstring::npos)
    fuzz::Check(NormalizePath(normal) == normal, "normalising twice changes the path");
  WithTrailingBackslash(normal);

  PackagedFiles files;
  files.setupFile = L"C:\\setup\\setup.exe";
  files.setupFolder = L"C:\\setup\\";
  files.extractionFolder = other;
  files.LocateForInstall(text);
  files.LocateForSearch(text);
  ConfigPathFor(text);
  ReplaceExtension(text, other);
  FileNameOf(text);
  FolderOf(text);
  return 0;
}
