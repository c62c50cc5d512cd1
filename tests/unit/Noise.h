#pragma once
// Test data: deterministic bytes that are not a repeating pattern.

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> Noise(size_t size, uint64_t seed) {
  std::vector<uint8_t> out(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}
