#pragma once
// Branding a copy of the program: the product name and file description in
// its version resource (the windows are titled with the product name) and
// its icon. The changes are computed here, without the platform; they are
// applied either by the PE resource writer or by the system's resource
// update functions.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "authoring/PeResources.h"

namespace prereq {

struct StampRequest {
  std::wstring productName;                    // required, not empty
  std::optional<std::wstring> fileDescription; // none: kept as it is
  std::vector<uint8_t> iconFile;               // an .ico file; empty: the icon is kept
};

// One change of the resource directory: `resource` replaces the entry of the
// same type, name and language, or is added; with `remove`, that entry goes.
struct ResourceChange {
  Resource resource;
  bool remove = false;
};

// An icon file taken apart: the images (RT_ICON data) and, per image, the
// directory entry without its offset (width, height, colours, planes, bits,
// size), as a group-icon entry needs it.
struct IconImage {
  uint8_t width = 0, height = 0, colorCount = 0;
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;
};
bool ParseIconFile(std::span<const uint8_t> file, std::vector<IconImage>& images, std::wstring& error);

// The changes that brand an image whose resources are `existing`. False with
// a reason when the request cannot be met (an empty product name, a
// malformed icon file or version resource).
bool PlanStamp(const std::vector<Resource>& existing, const StampRequest& request,
               std::vector<ResourceChange>& changes, std::wstring& error);

// `existing` with the changes applied, in order.
std::vector<Resource> ApplyChanges(std::vector<Resource> existing,
                                   const std::vector<ResourceChange>& changes);

// The branded copy of an executable image, without the platform.
bool StampImage(std::span<const uint8_t> image, const StampRequest& request,
                std::vector<uint8_t>& out, std::wstring& error);

}  // namespace prereq
