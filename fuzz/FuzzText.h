#pragma once
// Turning fuzz input into the texts the rules take.
//
// An input that begins with the UTF-16 LE byte-order mark (FF FE) is read as
// UTF-16 LE code units after it (an odd last byte is dropped), so every code
// unit can occur; any other input is read byte by byte as Latin-1, which
// keeps the seed files plain text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline std::wstring WideFrom(const uint8_t* data, size_t size) {
  std::wstring out;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    out.reserve((size - 2) / 2);
    for (size_t i = 2; i + 1 < size; i += 2)
      out.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  } else {
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) out.push_back(static_cast<wchar_t>(data[i]));
  }
  return out;
}

// The text cut at its first `count - 1` line feeds into `count` fields (the
// last field keeps any further line feeds; missing fields are empty).
inline std::vector<std::wstring_view> Fields(std::wstring_view text, size_t count) {
  std::vector<std::wstring_view> fields;
  while (fields.size() + 1 < count) {
    const size_t lf = text.find(L'\n');
    if (lf == std::wstring_view::npos) break;
    fields.push_back(text.substr(0, lf));
    text.remove_prefix(lf + 1);
  }
  fields.push_back(text);
  while (fields.size() < count) fields.push_back({});
  return fields;
}

// A number read from a field: decimal digits up to the first other character,
// wrapping in 64 bits (for sizes and positions the rules take as numbers).
inline uint64_t NumberOf(std::wstring_view field) {
  uint64_t value = 0;
  for (wchar_t c : field) {
    if (c < L'0' || c > L'9') break;
    value = value * 10u + static_cast<uint64_t>(c - L'0');
  }
  return value;
}

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

}  // namespace fuzz
