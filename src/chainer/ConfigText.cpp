#include "chainer/ConfigText.h"

#include "platform/core/TextCodec.h"

namespace prereq {

namespace {

bool Starts(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> mark) {
  if (bytes.size() < mark.size()) return false;
  size_t i = 0;
  for (uint8_t b : mark)
    if (bytes[i++] != b) return false;
  return true;
}

std::string_view AsChars(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

ConfigEncoding DetectConfigEncoding(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2) return ConfigEncoding::Empty;
  if (Starts(bytes, {0xFF, 0xFE})) return ConfigEncoding::Utf16Le;
  if (Starts(bytes, {0xEF, 0xBB, 0xBF})) return ConfigEncoding::Utf8Bom;
  if (Starts(bytes, {0xFE, 0xFF})) return ConfigEncoding::Utf16Be;
  // Text of the Latin letters that keys are made of has a zero high byte in
  // every UTF-16 code unit; UTF-8 and 8-bit text have no zero bytes at all.
  size_t zeroEven = 0, zeroOdd = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == 0) (i % 2 != 0 ? zeroOdd : zeroEven)++;
  const size_t oddCount = bytes.size() / 2;
  const size_t evenCount = bytes.size() - oddCount;
  if (zeroOdd > zeroEven && zeroOdd * 2 >= oddCount) return ConfigEncoding::Utf16LeBare;
  if (zeroEven > zeroOdd && zeroEven * 2 >= evenCount) return ConfigEncoding::Utf16Be;
  bool malformed = false;
  DecodeUtf8(AsChars(bytes), &malformed);
  return malformed ? ConfigEncoding::Unknown : ConfigEncoding::Utf8;
}

std::wstring DecodeConfigChars(std::span<const uint8_t> bytes, ConfigEncoding encoding) {
  switch (encoding) {
    case ConfigEncoding::Utf16Le:
      // The two mark bytes are skipped unread, as every version does.
      return DecodeUtf16(bytes.subspan(2), false);
    case ConfigEncoding::Utf16LeBare:
      return DecodeUtf16(bytes, false);
    case ConfigEncoding::Utf8Bom:
      return DecodeUtf8(AsChars(bytes.subspan(3)));
    case ConfigEncoding::Utf8:
      return DecodeUtf8(AsChars(bytes));
    default:
      return {};
  }
}

ConfigLineEnds LineEndsOf(std::wstring_view text) {
  bool crlf = false, lf = false, cr = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      crlf = true;
      ++i;
    } else if (text[i] == L'\n') {
      lf = true;
    } else if (text[i] == L'\r') {
      cr = true;
    }
  }
  const int kinds = int{crlf} + int{lf} + int{cr};
  if (kinds == 0) return ConfigLineEnds::None;
  if (kinds > 1) return ConfigLineEnds::Mixed;
  return crlf ? ConfigLineEnds::CrLf : lf ? ConfigLineEnds::Lf : ConfigLineEnds::Cr;
}

std::wstring WithCrLfLineEnds(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      out += L"\r\n";
      ++i;
    } else if (c == L'\r' || c == L'\n') {
      out += L"\r\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

ConfigText DecodeConfigText(std::span<const uint8_t> bytes) {
  ConfigText config;
  config.encoding = DetectConfigEncoding(bytes);
  if (!IsReadConfigEncoding(config.encoding)) return config;
  config.oddByteDropped =
      (config.encoding == ConfigEncoding::Utf16Le || config.encoding == ConfigEncoding::Utf16LeBare) &&
      bytes.size() % 2 != 0;
  std::wstring chars = DecodeConfigChars(bytes, config.encoding);
  config.lineEnds = LineEndsOf(chars);
  // CR LF text stays exactly as read.
  config.text = config.lineEnds == ConfigLineEnds::CrLf || config.lineEnds == ConfigLineEnds::None
                    ? std::move(chars)
                    : WithCrLfLineEnds(chars);
  return config;
}

bool IsReadConfigEncoding(ConfigEncoding encoding) {
  switch (encoding) {
    case ConfigEncoding::Utf16Le:
    case ConfigEncoding::Utf16LeBare:
    case ConfigEncoding::Utf8Bom:
    case ConfigEncoding::Utf8:
      return true;
    default:
      return false;
  }
}

bool IsDesignedConfigForm(const ConfigText& config) {
  if (config.encoding == ConfigEncoding::Empty) return true;
  return config.encoding == ConfigEncoding::Utf16Le &&
         (config.lineEnds == ConfigLineEnds::CrLf || config.lineEnds == ConfigLineEnds::None);
}

namespace {

// The names of each encoding and kind of line end: for people, and for
// machine-readable output.
template <typename Kind>
struct Names {
  Kind kind;
  const wchar_t* name;
  const wchar_t* key;
};
constexpr Names<ConfigEncoding> kEncodingNames[] = {
    {ConfigEncoding::Empty, L"no text (fewer than two bytes)", L"empty"},
    {ConfigEncoding::Utf16Le, L"UTF-16 LE with byte-order mark", L"utf-16-le"},
    {ConfigEncoding::Utf16LeBare, L"UTF-16 LE without byte-order mark", L"utf-16-le-no-bom"},
    {ConfigEncoding::Utf8Bom, L"UTF-8 with byte-order mark", L"utf-8-bom"},
    {ConfigEncoding::Utf8, L"UTF-8 without byte-order mark", L"utf-8"},
    {ConfigEncoding::Utf16Be, L"UTF-16 BE", L"utf-16-be"},
    {ConfigEncoding::Unknown, L"neither UTF-16 nor UTF-8", L"unknown"},
};
constexpr Names<ConfigLineEnds> kLineEndNames[] = {
    {ConfigLineEnds::None, L"none", L"none"},
    {ConfigLineEnds::CrLf, L"CR LF", L"crlf"},
    {ConfigLineEnds::Lf, L"LF", L"lf"},
    {ConfigLineEnds::Cr, L"CR", L"cr"},
    {ConfigLineEnds::Mixed, L"mixed", L"mixed"},
};

template <typename Kind, size_t N>
const Names<Kind>& NamesOf(const Names<Kind> (&table)[N], Kind kind) {
  for (const Names<Kind>& names : table)
    if (names.kind == kind) return names;
  return table[0];
}

}  // namespace

std::wstring ConfigEncodingName(ConfigEncoding encoding) {
  return NamesOf(kEncodingNames, encoding).name;
}
std::wstring ConfigLineEndsName(ConfigLineEnds lineEnds) {
  return NamesOf(kLineEndNames, lineEnds).name;
}
std::wstring ConfigEncodingKey(ConfigEncoding encoding) {
  return NamesOf(kEncodingNames, encoding).key;
}
std::wstring ConfigLineEndsKey(ConfigLineEnds lineEnds) {
  return NamesOf(kLineEndNames, lineEnds).key;
}

std::wstring DescribeConfigForm(const ConfigText& config) {
  std::wstring text = ConfigEncodingName(config.encoding);
  if (config.encoding == ConfigEncoding::Empty) return text;
  if (!IsReadConfigEncoding(config.encoding)) return text + L", not read";
  if (config.lineEnds == ConfigLineEnds::None) return text + L", a single line";
  return text + L", " + ConfigLineEndsName(config.lineEnds) + L" line ends";
}

}  // namespace prereq
