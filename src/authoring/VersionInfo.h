#pragma once
// The version resource (VS_VERSIONINFO) as a tree of nodes: reading,
// changing the texts of its string tables, writing it back.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// One block: a key, a value (text of UTF-16 code units, or binary), children.
struct VersionNode {
  std::wstring key;
  bool text = false;           // wType 1: the value is text
  std::vector<uint8_t> value;  // binary value, or the text's UTF-16 LE bytes with its NUL
  std::vector<VersionNode> children;
};

// Parses a whole version resource; false when it is malformed (every length
// is checked against its parent's).
bool ParseVersionInfo(std::span<const uint8_t> bytes, VersionNode& root);

// The resource bytes of a tree (lengths, alignment and padding computed).
std::vector<uint8_t> WriteVersionInfo(const VersionNode& root);

// A version resource with a fixed file information of version
// major.minor.build.revision, no string tables and no translations.
VersionNode NewVersionInfo(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision);

// Sets a text in every string table, and makes sure a table exists for the
// first translation (language 0x0409, code page 1200 when there is none).
void SetVersionString(VersionNode& root, std::wstring_view name, std::wstring_view value);

// The text of a string as the program reads the product name: from the
// table of the first translation (or 0409 04E2 when there is none); empty
// when there is no such string.
std::wstring GetVersionString(const VersionNode& root, std::wstring_view name);

// The four parts of the fixed file version; false without a fixed part.
bool GetFixedFileVersion(const VersionNode& root, uint16_t parts[4]);

}  // namespace prereq
