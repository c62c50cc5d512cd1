#include "chainer/ModulePaths.h"

namespace prereq {

std::wstring FolderOf(std::wstring_view path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash));
}

std::wstring FileNameOf(std::wstring_view path) {
  size_t slash = path.rfind(L'\\');
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring ConfigPathFor(std::wstring_view modulePath) {
  std::wstring folder = FolderOf(modulePath);
  std::wstring name = FileNameOf(modulePath);
  size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  std::wstring out = folder;
  if (!out.empty() && out.back() != L'\\') out.push_back(L'\\');
  out += name;
  out += L".ini";
  return out;
}

std::wstring ReplaceExtension(std::wstring_view fileName, std::wstring_view extension) {
  std::wstring out(fileName);
  size_t dot = out.rfind(L'.');
  if (dot == std::wstring::npos) {
    out.push_back(L'.');
  } else {
    out.resize(dot + 1);
  }
  out += extension;
  return out;
}

}  // namespace prereq
