// The authoring tools' tables and resource writer against the platform: the
// language table against the locale data, every folder property name against
// the resolution on this machine, and the PE resource reader and writer
// against the system's resource loader, version functions and resource
// update functions.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "TestFolder.h"
#include "authoring/Languages.h"
#include "authoring/PeResources.h"
#include "authoring/Stamp.h"
#include "authoring/ToolIo.h"
#include "evaluation/FileVersion.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/FolderPropertyNames.h"
#include "platform/core/WinText.h"
#include "resources/resource.h"

using namespace prereq;

namespace {

std::vector<uint8_t> ReadAll(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  std::wstring error;
  EXPECT_TRUE(toolio::ReadFileBytes(path, bytes, error)) << ToUtf8(error);
  return bytes;
}

void WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  std::wstring error;
  ASSERT_TRUE(toolio::WriteFileBytes(path, bytes, error)) << ToUtf8(error);
}

TEST(AuthoringTables, LanguagesAreThePlatformsLocales) {
  for (const Language& language : Languages()) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
    ASSERT_GT(::LCIDToLocaleName(language.id, name, LOCALE_NAME_MAX_LENGTH, 0), 0) << language.id;
    EXPECT_EQ(std::wstring_view(name), language.tag) << language.id;
  }
  EXPECT_NE(FindLanguage(1033), nullptr);
  EXPECT_EQ(FindLanguage(0), nullptr);
}

TEST(AuthoringTables, EveryFolderPropertyNameResolvesHere) {
  for (const SpecialFolderProperty& p : SpecialFolderProperties()) {
    std::wstring value;
    EXPECT_TRUE(ResolveFolderProperty(p.name, false, value)) << ToUtf8(p.name);
    EXPECT_TRUE(value.ends_with(L'\\')) << ToUtf8(p.name);
  }
  for (const KnownFolderProperty& p : KnownFolderProperties()) {
    std::wstring value;
    EXPECT_TRUE(ResolveFolderProperty(p.name, false, value)) << ToUtf8(p.name);
  }
  std::wstring value;
  EXPECT_FALSE(ResolveFolderProperty(L"NoSuchFolder", false, value));
  EXPECT_FALSE(IsFolderPropertyName(L"NoSuchFolder"));
  EXPECT_FALSE(IsFolderPropertyName(L"programfilesfolder"));  // with case
}

// Every resource the reader finds in this executable is the one the
// system's loader finds, byte for byte.
TEST(PeResourcesOnWindows, TheReaderFindsWhatTheLoaderFinds) {
  const std::wstring self = GetModulePath();
  std::vector<Resource> resources;
  std::wstring error;
  ASSERT_TRUE(ReadResources(ReadAll(self), resources, error)) << ToUtf8(error);
  ASSERT_FALSE(resources.empty());
  const HMODULE module = ::GetModuleHandleW(nullptr);
  for (const Resource& r : resources) {
    auto id = [](const ResourceId& x) { return x.isName ? x.name.c_str() : MAKEINTRESOURCEW(x.id); };
    HRSRC found = ::FindResourceExW(module, id(r.type), id(r.name), r.language);
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(::SizeofResource(module, found), r.data.size());
    const void* data = ::LockResource(::LoadResource(module, found));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, r.data.data(), r.data.size()), 0);
  }
}

std::wstring VersionString(const std::wstring& path, const wchar_t* name) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return L"<none>";
  std::vector<uint8_t> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"<none>";
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation))
    return L"<no translation>";
  wchar_t query[128];
  swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
           translation->codePage, name);
  wchar_t* text = nullptr;
  if (!::VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &length)) return L"";
  return std::wstring(text);
}

std::vector<uint8_t> Icon16() {
  // One 16x16 32-bit image: a bitmap header, pixels, an AND mask.
  std::vector<uint8_t> image(40 + 16 * 16 * 4 + 16 * 4, 0);
  const uint32_t header[] = {40, 16, 32};
  std::memcpy(image.data(), header, sizeof header);
  image[12] = 1;   // planes
  image[14] = 32;  // bits
  for (size_t i = 40; i < 40 + 16 * 16 * 4; i += 4) image[i + 3] = 0xFF;
  std::vector<uint8_t> file = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
  const uint32_t size = static_cast<uint32_t>(image.size()), offset = 22;
  file.insert(file.end(), reinterpret_cast<const uint8_t*>(&size), reinterpret_cast<const uint8_t*>(&size) + 4);
  file.insert(file.end(), reinterpret_cast<const uint8_t*>(&offset), reinterpret_cast<const uint8_t*>(&offset) + 4);
  file.insert(file.end(), image.begin(), image.end());
  return file;
}

// The RT_ICON images that no icon group names.
size_t DropOrphanIcons(std::vector<Resource>& resources) {
  std::vector<uint16_t> named;
  for (const Resource& r : resources)
    if (!r.type.isName && r.type.id == 14 && r.data.size() >= 6)
      for (size_t i = 0, n = r.data[4] | r.data[5] << 8; i < n && 6 + i * 14 + 14 <= r.data.size(); ++i)
        named.push_back(static_cast<uint16_t>(r.data[6 + i * 14 + 12] | r.data[6 + i * 14 + 13] << 8));
  return std::erase_if(resources, [&](const Resource& r) {
    return !r.type.isName && r.type.id == 3 && !r.name.isName &&
           std::find(named.begin(), named.end(), r.name.id) == named.end();
  });
}

// A copy of this executable stamped by the PE writer and one stamped by the
// system's resource update functions: the system reads the same product name
// from both, the program's own product-name reading too, both still load as
// images with the new icon under the program's icon name, and both hold the
// same resources. Wine's UpdateResource does not delete resources that are
// in the file already, so the system's copy may keep the old icon images
// unnamed; the PE writer's copy must not.
TEST(PeResourcesOnWindows, BothStampsGiveTheSameResources) {
  TestFolder folder;
  const std::wstring self = GetModulePath();
  const std::vector<uint8_t> image = ReadAll(self);
  StampRequest request;
  request.productName = L"Acme Tools \u00e9dition";
  request.fileDescription = L"Acme Tools Setup";
  request.iconFile = Icon16();

  const std::wstring portable = folder / L"portable.exe";
  std::vector<uint8_t> stamped;
  std::wstring error;
  ASSERT_TRUE(StampImage(image, request, stamped, error)) << ToUtf8(error);
  WriteAll(portable, stamped);

  const std::wstring system = folder / L"system.exe";
  WriteAll(system, image);
  std::vector<Resource> existing;
  std::vector<ResourceChange> changes;
  ASSERT_TRUE(ReadResources(image, existing, error));
  ASSERT_TRUE(PlanStamp(existing, request, changes, error));
  ASSERT_TRUE(toolio::SystemUpdateResources(system, changes, error)) << ToUtf8(error);

  std::vector<std::vector<Resource>> read;
  for (const std::wstring& path : {portable, system}) {
    EXPECT_EQ(VersionString(path, L"ProductName"), request.productName);
    EXPECT_EQ(VersionString(path, L"FileDescription"), L"Acme Tools Setup");
    EXPECT_EQ(VersionString(path, L"FileVersion"), L"2.7.1.3");
    std::wstring product;
    EXPECT_TRUE(GetProductName(path, product));
    EXPECT_EQ(product, request.productName);
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HICON icon = static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(icon, nullptr);
    ICONINFO info{};
    if (icon != nullptr && ::GetIconInfo(icon, &info)) {
      BITMAP bitmap{};
      ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
      EXPECT_EQ(bitmap.bmWidth, 16);
      if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
      if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
    }
    if (icon != nullptr) ::DestroyIcon(icon);
    ::FreeLibrary(module);
    std::vector<Resource> resources;
    ASSERT_TRUE(ReadResources(ReadAll(path), resources, error)) << ToUtf8(error);
    const size_t orphans = DropOrphanIcons(resources);
    if (path == portable) EXPECT_EQ(orphans, 0u);
    std::sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
      return std::tie(a.type.isName, a.type.id, a.type.name, a.name.isName, a.name.id, a.name.name,
                      a.language) < std::tie(b.type.isName, b.type.id, b.type.name, b.name.isName,
                                             b.name.id, b.name.name, b.language);
    });
    read.push_back(std::move(resources));
  }
  ASSERT_EQ(read[0].size(), read[1].size());
  for (size_t i = 0; i < read[0].size(); ++i) {
    EXPECT_TRUE(read[0][i].type == read[1][i].type) << i;
    EXPECT_TRUE(read[0][i].name == read[1][i].name) << i;
    EXPECT_EQ(read[0][i].data, read[1][i].data) << i;
  }
}

}  // namespace
