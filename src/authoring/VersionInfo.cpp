#include "authoring/VersionInfo.h"

#include <cstring>

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

constexpr int kMaxDepth = 8;

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }
bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Parses the node that starts at `at` (4-aligned) and ends no later than
// `limit`; `next` receives the aligned offset after it.
bool ParseNode(std::span<const uint8_t> b, size_t at, size_t limit, int depth, VersionNode& node,
               size_t& next) {
  if (depth > kMaxDepth || at + 6 > limit) return false;
  const size_t length = U16(b, at);
  const size_t valueLength = U16(b, at + 2);
  const uint16_t type = U16(b, at + 4);
  if (length < 6 || at + length > limit || type > 1) return false;
  const size_t end = at + length;
  node.text = type == 1;
  size_t pos = at + 6;
  node.key.clear();
  for (;;) {
    if (pos + 2 > end) return false;
    const uint16_t c = U16(b, pos);
    pos += 2;
    if (c == 0) break;
    node.key.push_back(static_cast<wchar_t>(c));
  }
  pos = Align4(pos - at) + at;
  size_t valueBytes = node.text ? valueLength * 2 : valueLength;
  if (pos > end) pos = end;
  if (valueBytes > end - pos) valueBytes = end - pos;  // some writers count text in bytes
  if (node.text) valueBytes &= ~size_t{1};              // whole code units only
  node.value.assign(b.begin() + static_cast<ptrdiff_t>(pos),
                    b.begin() + static_cast<ptrdiff_t>(pos + valueBytes));
  pos = at + Align4(pos + valueBytes - at);
  node.children.clear();
  while (pos + 6 <= end) {
    if (U16(b, pos) == 0) break;  // padding, not a child
    VersionNode child;
    size_t after = 0;
    if (!ParseNode(b, pos, end, depth + 1, child, after)) return false;
    node.children.push_back(std::move(child));
    pos = after;
  }
  next = at + Align4(length);
  return true;
}

void Put16(std::vector<uint8_t>& b, size_t at, size_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void WriteNode(const VersionNode& node, std::vector<uint8_t>& out) {
  const size_t at = out.size();
  out.resize(at + 6, 0);
  for (wchar_t c : node.key) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  out.resize(at + Align4(out.size() - at), 0);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) {
    out.resize(at + Align4(out.size() - at), 0);
    WriteNode(child, out);
  }
  const size_t length = out.size() - at;
  Put16(out, at, length);
  Put16(out, at + 2, node.text ? node.value.size() / 2 : node.value.size());
  Put16(out, at + 4, node.text ? 1 : 0);
}

std::vector<uint8_t> TextValue(std::wstring_view text) {
  std::vector<uint8_t> v;
  for (wchar_t c : text) {
    v.push_back(static_cast<uint8_t>(c));
    v.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
  }
  v.push_back(0);
  v.push_back(0);
  return v;
}

std::wstring TextOf(const std::vector<uint8_t>& value) {
  std::wstring text;
  for (size_t i = 0; i + 1 < value.size(); i += 2) {
    const wchar_t c = static_cast<wchar_t>(value[i] | (value[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

VersionNode* Child(VersionNode& node, std::wstring_view key) {
  for (VersionNode& c : node.children)
    if (EqualsNoCase(c.key, key)) return &c;
  return nullptr;
}
const VersionNode* Child(const VersionNode& node, std::wstring_view key) {
  for (const VersionNode& c : node.children)
    if (EqualsNoCase(c.key, key)) return &c;
  return nullptr;
}

// The key of the string table of the first translation, as the program
// forms it ("%04x%04x").
std::wstring FirstTableKey(const VersionNode& root, bool& hasTranslation) {
  uint32_t language = 0x0409, codePage = 0x04E2;
  hasTranslation = false;
  if (const VersionNode* var = Child(root, L"VarFileInfo"))
    if (const VersionNode* translation = Child(*var, L"Translation"))
      if (translation->value.size() >= 4) {
        language = translation->value[0] | (translation->value[1] << 8);
        codePage = translation->value[2] | (translation->value[3] << 8);
        hasTranslation = true;
      }
  return Format(L"%04x%04x", {language, codePage});
}

}  // namespace

bool ParseVersionInfo(std::span<const uint8_t> bytes, VersionNode& root) {
  size_t next = 0;
  return ParseNode(bytes, 0, bytes.size(), 0, root, next);
}

std::vector<uint8_t> WriteVersionInfo(const VersionNode& root) {
  std::vector<uint8_t> out;
  WriteNode(root, out);
  return out;
}

VersionNode NewVersionInfo(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision) {
  VersionNode root;
  root.key = L"VS_VERSION_INFO";
  root.value.assign(52, 0);
  auto put32 = [&root](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) root.value[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 0xFEEF04BD);                                    // signature
  put32(4, 0x00010000);                                    // structure version
  put32(8, (uint32_t{major} << 16) | minor);               // file version
  put32(12, (uint32_t{build} << 16) | revision);
  put32(16, (uint32_t{major} << 16) | minor);              // product version
  put32(20, (uint32_t{build} << 16) | revision);
  put32(24, 0x3F);                                         // flags mask
  put32(32, 0x00040004);                                   // VOS_NT_WINDOWS32
  put32(36, 1);                                            // VFT_APP
  return root;
}

void SetVersionString(VersionNode& root, std::wstring_view name, std::wstring_view value) {
  // The table that the program reads is that of the first translation: make
  // sure there is one (English, Unicode, as every writer produces it).
  VersionNode* var = Child(root, L"VarFileInfo");
  if (var == nullptr) {
    root.children.push_back(VersionNode{L"VarFileInfo", true, {}, {}});
    var = &root.children.back();
  }
  VersionNode* translation = Child(*var, L"Translation");
  if (translation == nullptr) {
    var->children.push_back(VersionNode{L"Translation", false, {0x09, 0x04, 0xB0, 0x04}, {}});
  } else if (translation->value.size() < 4) {
    translation->value = {0x09, 0x04, 0xB0, 0x04};
    translation->text = false;
  }
  bool hasTranslation = false;
  const std::wstring firstKey = FirstTableKey(root, hasTranslation);
  VersionNode* strings = Child(root, L"StringFileInfo");
  if (strings == nullptr) {
    // String tables come before the translations.
    root.children.insert(root.children.begin(), VersionNode{L"StringFileInfo", true, {}, {}});
    strings = &root.children.front();
  }
  if (Child(*strings, firstKey) == nullptr)
    strings->children.push_back(VersionNode{firstKey, true, {}, {}});
  for (VersionNode& table : strings->children) {
    if (VersionNode* s = Child(table, name)) {
      s->value = TextValue(value);
      s->text = true;
    } else {
      table.children.push_back(VersionNode{std::wstring(name), true, TextValue(value), {}});
    }
  }
}

std::wstring GetVersionString(const VersionNode& root, std::wstring_view name) {
  bool hasTranslation = false;
  const std::wstring key = FirstTableKey(root, hasTranslation);
  const VersionNode* strings = Child(root, L"StringFileInfo");
  if (strings == nullptr) return {};
  const VersionNode* table = Child(*strings, key);
  if (table == nullptr) return {};
  const VersionNode* s = Child(*table, name);
  return s ? TextOf(s->value) : std::wstring();
}

bool GetFixedFileVersion(const VersionNode& root, uint16_t parts[4]) {
  if (root.value.size() < 16) return false;
  auto u16 = [&root](size_t at) { return static_cast<uint16_t>(root.value[at] | (root.value[at + 1] << 8)); };
  parts[0] = u16(10);
  parts[1] = u16(8);
  parts[2] = u16(14);
  parts[3] = u16(12);
  return true;
}

}  // namespace prereq
