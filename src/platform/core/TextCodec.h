#pragma once
// Conversions between the program's wide texts and bytes, the same on every
// platform: a wide text holds UTF-16 code units (on Linux one per wchar_t).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace prereq {

// UTF-8 of a text of UTF-16 code units; a surrogate without its partner
// becomes U+FFFD.
std::string EncodeUtf8(std::wstring_view text);

// UTF-16 code units of UTF-8 bytes; malformed sequences become U+FFFD, and
// `malformed`, when given, tells whether there were any.
std::wstring DecodeUtf8(std::string_view bytes, bool* malformed = nullptr);

// The code units of UTF-16 bytes, little- or big-endian; an odd last byte is
// dropped.
std::wstring DecodeUtf16(std::span<const uint8_t> bytes, bool bigEndian);

}  // namespace prereq
