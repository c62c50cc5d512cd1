#include "authoring/Stamp.h"

#include <algorithm>

#include "authoring/VersionInfo.h"
#include "resources/version.h"

namespace prereq {

namespace {

constexpr uint16_t kDefaultLanguage = 0x0409;

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}
void Add16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(std::vector<uint8_t>& b, uint32_t v) {
  Add16(b, v & 0xFFFF);
  Add16(b, v >> 16);
}

bool IsType(const Resource& r, uint16_t type) { return !r.type.isName && r.type.id == type; }

// The RT_ICON identifiers that a group-icon resource names.
std::vector<uint16_t> GroupMembers(const std::vector<uint8_t>& group) {
  std::vector<uint16_t> ids;
  if (group.size() < 6) return ids;
  const size_t count = U16(group, 4);
  for (size_t i = 0; i < count && 6 + i * 14 + 14 <= group.size(); ++i)
    ids.push_back(U16(group, 6 + i * 14 + 12));
  return ids;
}

}  // namespace

bool ParseIconFile(std::span<const uint8_t> file, std::vector<IconImage>& images, std::wstring& error) {
  images.clear();
  if (file.size() < 6 || U16(file, 0) != 0 || U16(file, 2) != 1) {
    error = L"not an icon file (.ico)";
    return false;
  }
  const size_t count = U16(file, 4);
  if (count == 0 || file.size() < 6 + count * 16) {
    error = L"the icon file has no images or a truncated directory";
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t at = 6 + i * 16;
    IconImage image;
    image.width = file[at];
    image.height = file[at + 1];
    image.colorCount = file[at + 2];
    image.planes = U16(file, at + 4);
    image.bitCount = U16(file, at + 6);
    const uint32_t size = U32(file, at + 8);
    const uint32_t offset = U32(file, at + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      error = L"an image of the icon file lies beyond its end";
      return false;
    }
    image.data.assign(file.begin() + offset, file.begin() + offset + size);
    images.push_back(std::move(image));
  }
  return true;
}

bool PlanStamp(const std::vector<Resource>& existing, const StampRequest& request,
               std::vector<ResourceChange>& changes, std::wstring& error) {
  changes.clear();
  if (request.productName.empty()) {
    error = L"the product name is empty";
    return false;
  }

  // The version resource: the first one there is, or a new one.
  const auto version = std::find_if(existing.begin(), existing.end(),
                                    [](const Resource& r) { return IsType(r, kResourceVersion); });
  VersionNode root;
  Resource versionResource;
  if (version != existing.end()) {
    if (!ParseVersionInfo(version->data, root)) {
      error = L"the executable's version resource is malformed";
      return false;
    }
    versionResource = *version;
  } else {
    root = NewVersionInfo(PREREQ_VERSION_MAJOR, PREREQ_VERSION_MINOR, PREREQ_VERSION_BUILD,
                          PREREQ_VERSION_REVISION);
    versionResource.type = ResourceId::Of(kResourceVersion);
    versionResource.name = ResourceId::Of(1);
    versionResource.language = kDefaultLanguage;
  }
  SetVersionString(root, L"ProductName", request.productName);
  if (request.fileDescription) SetVersionString(root, L"FileDescription", *request.fileDescription);
  versionResource.data = WriteVersionInfo(root);
  changes.push_back({versionResource, false});

  if (request.iconFile.empty()) return true;
  std::vector<IconImage> images;
  if (!ParseIconFile(request.iconFile, images, error)) return false;
  // The first icon group keeps its name and language; its images go.
  Resource group;
  group.type = ResourceId::Of(kResourceGroupIcon);
  group.name = ResourceId::Of(1);
  group.language = kDefaultLanguage;
  std::vector<uint16_t> oldImages;
  const auto oldGroup = std::find_if(existing.begin(), existing.end(),
                                     [](const Resource& r) { return IsType(r, kResourceGroupIcon); });
  if (oldGroup != existing.end()) {
    group.name = oldGroup->name;
    group.language = oldGroup->language;
    oldImages = GroupMembers(oldGroup->data);
  }
  for (const Resource& r : existing)
    if (IsType(r, kResourceIcon) && !r.name.isName &&
        std::find(oldImages.begin(), oldImages.end(), r.name.id) != oldImages.end())
      changes.push_back({r, true});
  // New images take identifiers that no other icon uses.
  std::vector<uint16_t> taken;
  for (const Resource& r : existing)
    if (IsType(r, kResourceIcon) && !r.name.isName &&
        std::find(oldImages.begin(), oldImages.end(), r.name.id) == oldImages.end())
      taken.push_back(r.name.id);
  uint16_t next = 1;
  group.data.clear();
  Add16(group.data, 0);
  Add16(group.data, 1);
  Add16(group.data, static_cast<uint32_t>(images.size()));
  for (const IconImage& image : images) {
    while (std::find(taken.begin(), taken.end(), next) != taken.end()) ++next;
    Resource icon;
    icon.type = ResourceId::Of(kResourceIcon);
    icon.name = ResourceId::Of(next);
    icon.language = group.language;
    icon.data = image.data;
    changes.push_back({icon, false});
    group.data.push_back(image.width);
    group.data.push_back(image.height);
    group.data.push_back(image.colorCount);
    group.data.push_back(0);
    Add16(group.data, image.planes);
    Add16(group.data, image.bitCount);
    Add32(group.data, static_cast<uint32_t>(image.data.size()));
    Add16(group.data, next);
    ++next;
  }
  changes.push_back({group, false});
  return true;
}

std::vector<Resource> ApplyChanges(std::vector<Resource> resources,
                                   const std::vector<ResourceChange>& changes) {
  for (const ResourceChange& change : changes) {
    const Resource& r = change.resource;
    auto same = std::find_if(resources.begin(), resources.end(), [&r](const Resource& x) {
      return x.type == r.type && x.name == r.name && x.language == r.language;
    });
    if (change.remove) {
      if (same != resources.end()) resources.erase(same);
    } else if (same != resources.end()) {
      *same = r;
    } else {
      resources.push_back(r);
    }
  }
  return resources;
}

bool StampImage(std::span<const uint8_t> image, const StampRequest& request,
                std::vector<uint8_t>& out, std::wstring& error) {
  std::vector<Resource> existing;
  if (!ReadResources(image, existing, error)) return false;
  std::vector<ResourceChange> changes;
  if (!PlanStamp(existing, request, changes, error)) return false;
  return WriteResources(image, ApplyChanges(std::move(existing), changes), out, error);
}

}  // namespace prereq
