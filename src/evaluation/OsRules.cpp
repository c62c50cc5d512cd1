#include <cstddef>

#include "evaluation/OsInfo.h"

namespace prereq {

uint32_t ParseBuildNumber(const wchar_t* text, size_t length) {
  size_t i = 0;
  bool negative = false;
  if (i < length && text[i] == L'-') {
    negative = true;
    ++i;
  }
  uint32_t value = 0;
  for (; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<uint32_t>(text[i] - L'0');
  return negative ? 0u - value : value;
}

}  // namespace prereq
