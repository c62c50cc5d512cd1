// The reading of a configuration file's bytes: which encodings and line ends
// a run recognises, that the form every version reads is read exactly as it
// always was, and that every other readable form gives the same document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/TextCodec.h"
#include "chainer/ConfigText.h"
#include "chainer/IniFile.h"

using namespace prereq;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Utf16(std::wstring_view text, bool littleEndian = true, bool mark = true) {
  Bytes out;
  if (mark) out = littleEndian ? Bytes{0xFF, 0xFE} : Bytes{0xFE, 0xFF};
  for (wchar_t c : text) {
    const uint8_t lo = static_cast<uint8_t>(c & 0xFF), hi = static_cast<uint8_t>((c >> 8) & 0xFF);
    out.push_back(littleEndian ? lo : hi);
    out.push_back(littleEndian ? hi : lo);
  }
  return out;
}

Bytes Utf8(std::wstring_view text, bool mark = false) {
  Bytes out = mark ? Bytes{0xEF, 0xBB, 0xBF} : Bytes{};
  const std::string utf8 = EncodeUtf8(text);
  out.insert(out.end(), utf8.begin(), utf8.end());
  return out;
}

std::wstring Eol(std::wstring_view text, std::wstring_view eol) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\n') out += eol;
    else out.push_back(c);
  }
  return out;
}

std::wstring Dump(const IniFile& ini) {
  std::wstring out;
  for (const IniSection& s : ini.sections) {
    out += L"[" + s.name + L"]@" + std::to_wstring(s.line);
    for (const IniEntry& e : s.entries)
      out += L"{" + e.key + L"=" + e.value + L"}@" + std::to_wstring(e.line);
  }
  return out;
}

TEST(ConfigText, DetectsTheEncodingByMarkOrByItsBytes) {
  struct Case {
    const char* name;
    Bytes bytes;
    ConfigEncoding expected;
  };
  const Case cases[] = {
      {"no_bytes", {}, ConfigEncoding::Empty},
      {"one_byte", {0xFF}, ConfigEncoding::Empty},
      {"le_mark_only", {0xFF, 0xFE}, ConfigEncoding::Utf16Le},
      {"le_mark", Utf16(L"[A]"), ConfigEncoding::Utf16Le},
      {"le_mark_before_utf8", {0xFF, 0xFE, 'a', 'b'}, ConfigEncoding::Utf16Le},
      {"utf8_mark", Utf8(L"[A]", true), ConfigEncoding::Utf8Bom},
      {"utf8_mark_cut", {0xEF, 0xBB}, ConfigEncoding::Unknown},
      {"be_mark", Utf16(L"[A]", false), ConfigEncoding::Utf16Be},
      {"ascii", Raw("[A]\nk=v"), ConfigEncoding::Utf8},
      {"two_ascii_bytes", Raw("ab"), ConfigEncoding::Utf8},
      {"utf8_letters", Utf8(L"[A]\nk=Gr\u00f6\u00dfe \u65e5\u672c"), ConfigEncoding::Utf8},
      {"latin1_letters", Raw("[A]\nk=Gr\xf6\xdf" "e"), ConfigEncoding::Unknown},
      {"le_without_mark", Utf16(L"[A]\r\nk=v", true, false), ConfigEncoding::Utf16LeBare},
      {"be_without_mark", Utf16(L"[A]\r\nk=v", false, false), ConfigEncoding::Utf16Be},
      // Zero bytes out of the pattern of UTF-16: read as UTF-8.
      {"utf8_with_a_zero", Raw(std::string("[A]\nk=v\0w", 10)), ConfigEncoding::Utf8},
  };
  for (const Case& c : cases) EXPECT_EQ(DetectConfigEncoding(c.bytes), c.expected) << c.name;
}

TEST(ConfigText, Utf16WithoutMarkNeedsHalfOfItsHighBytesZero) {
  // Eight code units; `zeros` of their high bytes are zero, the others 0x41.
  auto units = [](int zeros, bool littleEndian) {
    Bytes out;
    for (int i = 0; i < 8; ++i) {
      const uint8_t high = i < zeros ? 0x00 : 0x41;
      out.push_back(littleEndian ? uint8_t{0x41} : high);
      out.push_back(littleEndian ? high : uint8_t{0x41});
    }
    return out;
  };
  EXPECT_EQ(DetectConfigEncoding(units(3, true)), ConfigEncoding::Utf8);
  EXPECT_EQ(DetectConfigEncoding(units(4, true)), ConfigEncoding::Utf16LeBare);
  EXPECT_EQ(DetectConfigEncoding(units(5, true)), ConfigEncoding::Utf16LeBare);
  EXPECT_EQ(DetectConfigEncoding(units(3, false)), ConfigEncoding::Utf8);
  EXPECT_EQ(DetectConfigEncoding(units(4, false)), ConfigEncoding::Utf16Be);
  // As many zero bytes at even as at odd offsets: no byte order to tell.
  Bytes tie = units(8, true);
  for (size_t i = 0; i < tie.size(); i += 2) tie[i] = 0;
  EXPECT_EQ(DetectConfigEncoding(tie), ConfigEncoding::Utf8);
}

TEST(ConfigText, TheMarkedUtf16FormReadsAsItAlwaysDid) {
  // The two mark bytes skipped unread, the rest as UTF-16 LE, an odd last
  // byte dropped, a second mark left to the parser: byte for byte.
  struct Case {
    const char* name;
    Bytes bytes;
    std::wstring text;
    bool oddByteDropped;
  };
  Bytes odd = Utf16(L"[A]\r\nk=v");
  odd.push_back('Z');
  const Case cases[] = {
      {"mark_only", {0xFF, 0xFE}, L"", false},
      {"mark_and_one_byte", {0xFF, 0xFE, 0x41}, L"", true},
      {"one_unit", {0xFF, 0xFE, 0x41, 0x00}, L"A", false},
      {"crlf", Utf16(L"[A]\r\nk=v\r\n"), L"[A]\r\nk=v\r\n", false},
      {"odd_byte", odd, L"[A]\r\nk=v", true},
      {"second_mark", Utf16(L"\uFEFF[A]\r\n"), L"\uFEFF[A]\r\n", false},
      {"no_line_end", Utf16(L"[A]"), L"[A]", false},
      {"controls_and_surrogates", Utf16(L"[A]\r\nk=\x01\xD800\xDC00\xDFFF"),
       L"[A]\r\nk=\x01\xD800\xDC00\xDFFF", false},
  };
  for (const Case& c : cases) {
    const ConfigText config = DecodeConfigText(c.bytes);
    EXPECT_EQ(config.text, c.text) << c.name;
    EXPECT_EQ(config.oddByteDropped, c.oddByteDropped) << c.name;
    EXPECT_TRUE(IsDesignedConfigForm(config)) << c.name;
  }
}

TEST(ConfigText, LineEnds) {
  struct Case {
    std::wstring text;
    ConfigLineEnds kind;
    std::wstring crlf;
  };
  const Case cases[] = {
      {L"", ConfigLineEnds::None, L""},
      {L"ab", ConfigLineEnds::None, L"ab"},
      {L"a\r\nb\r\n", ConfigLineEnds::CrLf, L"a\r\nb\r\n"},
      {L"a\nb\n", ConfigLineEnds::Lf, L"a\r\nb\r\n"},
      {L"a\rb", ConfigLineEnds::Cr, L"a\r\nb"},
      {L"\n\n", ConfigLineEnds::Lf, L"\r\n\r\n"},
      {L"a\r\nb\nc", ConfigLineEnds::Mixed, L"a\r\nb\r\nc"},
      {L"a\nb\rc", ConfigLineEnds::Mixed, L"a\r\nb\r\nc"},
      // A CR doubled before CR LF ends an empty line.
      {L"a\r\r\nb", ConfigLineEnds::Mixed, L"a\r\n\r\nb"},
      {L"a\n\rb", ConfigLineEnds::Mixed, L"a\r\n\r\nb"},
      {L"a\r", ConfigLineEnds::Cr, L"a\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LineEndsOf(c.text), c.kind) << testing::PrintToString(EncodeUtf8(c.text));
    EXPECT_EQ(WithCrLfLineEnds(c.text), c.crlf) << testing::PrintToString(EncodeUtf8(c.text));
  }
}

TEST(ConfigText, EveryReadableFormGivesTheSameDocument) {
  const std::wstring text =
      L"[GeneralOptions]\nOptions=qb\n\n[PREREQUISITES]\nApp1=a\n[App1]\n"
      L"DisplayName=Gr\u00f6\u00dfe \u65e5\u672c \xD83D\xDE00\nUrl=https://example.com/a.exe\n";
  const std::wstring reference = Dump(ParseIni(Eol(text, L"\r\n")));
  ASSERT_NE(reference.find(L"{DisplayName=Gr\u00f6\u00dfe \u65e5\u672c \xD83D\xDE00}@7"),
            std::wstring::npos);
  struct Case {
    const char* name;
    Bytes bytes;
    ConfigEncoding encoding;
    ConfigLineEnds lineEnds;
    bool designed;
  };
  const Case cases[] = {
      {"utf16le_crlf", Utf16(Eol(text, L"\r\n")), ConfigEncoding::Utf16Le, ConfigLineEnds::CrLf, true},
      {"utf16le_lf", Utf16(text), ConfigEncoding::Utf16Le, ConfigLineEnds::Lf, false},
      {"utf16le_cr", Utf16(Eol(text, L"\r")), ConfigEncoding::Utf16Le, ConfigLineEnds::Cr, false},
      {"utf16le_no_mark_crlf", Utf16(Eol(text, L"\r\n"), true, false), ConfigEncoding::Utf16LeBare,
       ConfigLineEnds::CrLf, false},
      {"utf16le_no_mark_lf", Utf16(text, true, false), ConfigEncoding::Utf16LeBare,
       ConfigLineEnds::Lf, false},
      {"utf8_lf", Utf8(text), ConfigEncoding::Utf8, ConfigLineEnds::Lf, false},
      {"utf8_crlf", Utf8(Eol(text, L"\r\n")), ConfigEncoding::Utf8, ConfigLineEnds::CrLf, false},
      {"utf8_mark_lf", Utf8(text, true), ConfigEncoding::Utf8Bom, ConfigLineEnds::Lf, false},
      {"utf8_mark_crlf", Utf8(Eol(text, L"\r\n"), true), ConfigEncoding::Utf8Bom,
       ConfigLineEnds::CrLf, false},
  };
  for (const Case& c : cases) {
    const ConfigText config = DecodeConfigText(c.bytes);
    EXPECT_EQ(config.encoding, c.encoding) << c.name;
    EXPECT_EQ(config.lineEnds, c.lineEnds) << c.name;
    EXPECT_EQ(IsDesignedConfigForm(config), c.designed) << c.name;
    EXPECT_EQ(Dump(ParseIni(config.text)), reference) << c.name;
  }
  // Only UTF-16 comes in pairs of bytes: an odd length in UTF-8 drops nothing.
  Bytes bare = Utf16(L"[A]\nk=v", true, false);
  bare.push_back('Z');
  const struct {
    Bytes bytes;
    ConfigEncoding encoding;
    bool dropped;
  } odd[] = {{Raw("[A]\nk=v"), ConfigEncoding::Utf8, false},
             {Utf8(L"[A]\nk=vw", true), ConfigEncoding::Utf8Bom, false},
             {bare, ConfigEncoding::Utf16LeBare, true}};
  for (const auto& c : odd) {
    ASSERT_EQ(c.bytes.size() % 2, 1u);
    const ConfigText config = DecodeConfigText(c.bytes);
    EXPECT_EQ(config.encoding, c.encoding) << c.bytes.size();
    EXPECT_EQ(config.oddByteDropped, c.dropped) << c.bytes.size();
  }
}

TEST(ConfigText, DescribesTheFormItRead) {
  struct Case {
    Bytes bytes;
    std::wstring description;
    std::wstring keys;
  };
  const Case cases[] = {
      {Utf8(L"a\nb"), L"UTF-8 without byte-order mark, LF line ends", L"utf-8 lf"},
      {Utf8(L"[A]", true), L"UTF-8 with byte-order mark, a single line", L"utf-8-bom none"},
      {Utf16(L"a\r\nb", false), L"UTF-16 BE, not read", L"utf-16-be none"},
      {{}, L"no text (fewer than two bytes)", L"empty none"},
  };
  for (const Case& c : cases) {
    const ConfigText config = DecodeConfigText(c.bytes);
    EXPECT_EQ(DescribeConfigForm(config), c.description);
    EXPECT_EQ(ConfigEncodingKey(config.encoding) + L" " + ConfigLineEndsKey(config.lineEnds), c.keys);
  }
}

}  // namespace
