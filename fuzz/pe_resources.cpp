// The PE resource reader and writer over any bytes. Properties: reading
// never goes beyond the input; what was read can be written; the written
// image reads again; writing that back and reading it gives the same
// resources (the writer's output is its own fixed point).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "authoring/PeResources.h"

using namespace prereq;

namespace {
void Check(bool property) {
  if (!property) std::abort();
}

bool Same(const std::vector<Resource>& a, const std::vector<Resource>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!(a[i].type == b[i].type) || !(a[i].name == b[i].name) || a[i].language != b[i].language ||
        a[i].codePage != b[i].codePage || a[i].data != b[i].data)
      return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> image(data, size);
  std::vector<Resource> first;
  std::wstring error;
  if (!ReadResources(image, first, error)) return 0;
  std::vector<uint8_t> written;
  if (!WriteResources(image, first, written, error)) return 0;  // signed, or no room
  std::vector<Resource> second;
  Check(ReadResources(written, second, error));
  std::vector<uint8_t> again;
  Check(WriteResources(written, second, again, error));
  std::vector<Resource> third;
  Check(ReadResources(again, third, error));
  Check(Same(second, third));
  return 0;
}
