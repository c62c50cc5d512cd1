#pragma once
// Reading and replacing the resources of a Windows executable (PE32 or PE32+)
// without the platform: the resource directory is read into a flat list and
// written back as a new resource section. Every offset of the input is
// checked; malformed images are refused with a reason, never read beyond.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace prereq {

// A resource type or name: a 16-bit identifier or a text.
struct ResourceId {
  bool isName = false;
  uint16_t id = 0;
  std::wstring name;

  static ResourceId Of(uint16_t number) { return ResourceId{false, number, {}}; }
  static ResourceId Named(std::wstring text) { return ResourceId{true, 0, std::move(text)}; }
  bool operator==(const ResourceId& other) const {
    return isName == other.isName && (isName ? name == other.name : id == other.id);
  }
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Standard resource types.
inline constexpr uint16_t kResourceIcon = 3;
inline constexpr uint16_t kResourceGroupIcon = 14;
inline constexpr uint16_t kResourceVersion = 16;

// The image's resources in directory order (types, names, languages). An
// image without a resource directory has none. False with a reason when the
// image is no PE file or its resource directory is malformed.
bool ReadResources(std::span<const uint8_t> image, std::vector<Resource>& resources,
                   std::wstring& error);

// A copy of the image whose resource directory holds exactly `resources`.
// The new directory replaces the old resource section in place when it is
// the last section or fits where the old one was (later sections' file data
// then move); otherwise it goes into a new section at the end. The image's
// checksum is recomputed when it had one. Signed images are refused (a
// signature would no longer match). False with a reason on failure.
bool WriteResources(std::span<const uint8_t> image, const std::vector<Resource>& resources,
                    std::vector<uint8_t>& out, std::wstring& error);

// The checksum of an image as the platform's image-help computes it (the
// CheckSum field itself counted as zero).
uint32_t PeChecksum(std::span<const uint8_t> image, size_t checksumOffset);

}  // namespace prereq
