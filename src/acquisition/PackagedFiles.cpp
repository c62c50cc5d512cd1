#include "acquisition/PackagedFiles.h"

#include "chainer/ModulePaths.h"
#include "platform/core/PathForms.h"

namespace prereq {

std::wstring PackagedFiles::BaseFolder() const {
  return WithTrailingBackslash(extractionFolder.empty() ? FolderOf(setupFile) : extractionFolder);
}

std::wstring PackagedFiles::LocateForInstall(std::wstring_view name) const {
  if (name.size() >= 2 && ((name[0] == L'\\' && name[1] == L'\\') || name[1] == L':'))
    return std::wstring(name);
  return BaseFolder() + std::wstring(name);
}

std::wstring PackagedFiles::LocateForSearch(std::wstring_view name) const {
  return BaseFolder() + std::wstring(name);
}

}  // namespace prereq
