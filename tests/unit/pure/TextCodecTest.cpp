// UTF-8 and UTF-16 at the limits of each sequence length.
#include <gtest/gtest.h>

#include "platform/core/TextCodec.h"

using namespace prereq;

namespace {

std::wstring Units(std::initializer_list<uint32_t> units) {
  std::wstring out;
  for (uint32_t u : units) out.push_back(static_cast<wchar_t>(u));
  return out;
}

const uint32_t R = 0xFFFD;

TEST(TextCodec, DecodeUtf8) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"\x7F", Units({0x7F})},
      {"\xC2\x80", Units({0x80})},           // the shortest two-byte sequence
      {"\xDF\xBF", Units({0x7FF})},
      {"\xC1\xBF", Units({R, R})},           // overlong
      {"\xE0\xA0\x80", Units({0x800})},
      {"\xEF\xBF\xBF", Units({0xFFFF})},
      {"\xE0\x9F\xBF", Units({R, R, R})},    // overlong
      {"\xED\xA0\x80", Units({R, R, R})},    // a surrogate
      {"\xF0\x90\x80\x80", Units({0xD800, 0xDC00})},
      {"\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},
      {"\xF4\x90\x80\x80", Units({R, R, R, R})},  // beyond U+10FFFF
      {"\xF8\x88\x80\x80\x80", Units({R, R, R, R, R})},
      {"\xC3\xA9x", Units({0xE9, 'x'})},
      {"\xC3x", Units({R, 'x'})},            // cut by another character
      {"\xC3", Units({R})},                  // cut by the end
      {"\xE2\x82", Units({R, R})},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeUtf8(bytes), text) << bytes.size();
}

TEST(TextCodec, EncodeUtf8) {
  const std::pair<std::wstring, std::string> cases[] = {
      {Units({0x7F}), "\x7F"},
      {Units({0x80}), "\xC2\x80"},
      {Units({0x7FF}), "\xDF\xBF"},
      {Units({0x800}), "\xE0\xA0\x80"},
      {Units({0xFFFF}), "\xEF\xBF\xBF"},
      {Units({0xD800, 0xDC00}), "\xF0\x90\x80\x80"},
      {Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
      {Units({0xD7FF}), "\xED\x9F\xBF"},
      {Units({0xD7FF, 0xDC00}), "\xED\x9F\xBF\xEF\xBF\xBD"},  // no pair below 0xD800
      {Units({0xD800}), "\xEF\xBF\xBD"},          // a lone surrogate
      {Units({0xDBFF, 'a'}), "\xEF\xBF\xBD" "a"},
      {Units({0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // in the wrong order
      {Units({0xDFFF}), "\xEF\xBF\xBD"},
      {Units({0xE000}), "\xEE\x80\x80"},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(EncodeUtf8(text), bytes) << bytes.size();
}

TEST(TextCodec, DecodeUtf16) {
  const std::vector<uint8_t> bytes{0x41, 0x00, 0x00, 0xD8, 0x7F};
  EXPECT_EQ(DecodeUtf16(bytes, false), Units({'A', 0xD800}));  // the odd last byte is dropped
  EXPECT_EQ(DecodeUtf16(bytes, true), Units({0x4100, 0x00D8}));
}

}  // namespace
