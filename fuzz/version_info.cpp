// The version resource (VS_VERSIONINFO) and the stamp's changes to it over
// any bytes. Properties: a tree that parses writes back to bytes that parse
// to the same bytes again; setting the product name makes the program's
// reading of it give that name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "authoring/VersionInfo.h"

using namespace prereq;

namespace {
void Check(bool property) {
  if (!property) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VersionNode root;
  if (!ParseVersionInfo(std::span<const uint8_t>(data, size), root)) return 0;
  const std::vector<uint8_t> written = WriteVersionInfo(root);
  VersionNode back;
  Check(ParseVersionInfo(written, back));
  Check(WriteVersionInfo(back) == written);
  SetVersionString(back, L"ProductName", L"Fuzz Product");
  VersionNode named;
  Check(ParseVersionInfo(WriteVersionInfo(back), named));
  Check(GetVersionString(named, L"ProductName") == L"Fuzz Product");
  return 0;
}
