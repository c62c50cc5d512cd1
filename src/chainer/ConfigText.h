#pragma once
// How the bytes of a configuration file become the text the parser reads.
// The form every version reads is UTF-16 LE with the byte-order mark FF FE
// and CR LF line ends; such a file reads exactly as it always did (the two
// mark bytes skipped unread, an odd last byte dropped). Files that authors
// keep in other forms are read as they plainly meant them: UTF-8 with or
// without a mark, UTF-16 LE without a mark (recognised by its zero high
// bytes), and LF or CR line ends. The run, prereq-lint and prereq-plan all
// read through here.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace prereq {

enum class ConfigEncoding {
  Empty,       // fewer than two bytes: nothing to read
  Utf16Le,     // FF FE: the designed form
  Utf16LeBare, // no mark; at least half of the odd bytes are zero, fewer even ones
  Utf8Bom,     // EF BB BF
  Utf8,        // no mark and valid UTF-8 (plain ASCII among it)
  Utf16Be,     // FE FF, or no mark with the zero bytes at even offsets: not read
  Unknown,     // no mark, not UTF-8: text of some 8-bit code page; not read
};

enum class ConfigLineEnds {
  None,  // a single line
  CrLf,  // the designed form
  Lf,
  Cr,
  Mixed,  // CR LF together with lone LF or CR, or LF with lone CR
};

struct ConfigText {
  ConfigEncoding encoding = ConfigEncoding::Empty;
  ConfigLineEnds lineEnds = ConfigLineEnds::None;
  // A UTF-16 file of an odd number of bytes: its last byte is not read.
  bool oddByteDropped = false;
  // What the parser reads: every line end as CR LF. Empty when the encoding
  // is not read.
  std::wstring text;
};

// Which encoding the bytes are in, by their mark or, without one, by where
// their zero bytes are and whether they are valid UTF-8.
ConfigEncoding DetectConfigEncoding(std::span<const uint8_t> bytes);

// The characters of the bytes in that encoding, line ends as stored; the
// marks are not part of them. Empty for Empty, Utf16Be and Unknown.
std::wstring DecodeConfigChars(std::span<const uint8_t> bytes, ConfigEncoding encoding);

// The kind of line ends of a text (CR LF pairs, lone LF, lone CR).
ConfigLineEnds LineEndsOf(std::wstring_view text);

// The text with every lone LF and lone CR replaced by CR LF; CR LF pairs stay.
std::wstring WithCrLfLineEnds(std::wstring_view text);

// The whole reading: detection, decoding, line ends made CR LF.
ConfigText DecodeConfigText(std::span<const uint8_t> bytes);

// True for the encodings a run reads.
bool IsReadConfigEncoding(ConfigEncoding encoding);

// True when the file is in the form every version reads (UTF-16 LE with the
// mark and CR LF line ends, or a single line), or has no bytes to read.
bool IsDesignedConfigForm(const ConfigText& config);

// "UTF-8 without byte-order mark", "UTF-16 LE with byte-order mark", ...
std::wstring ConfigEncodingName(ConfigEncoding encoding);
// "CR LF", "LF", "CR", "mixed", "none" (a single line).
std::wstring ConfigLineEndsName(ConfigLineEnds lineEnds);
// Short names for machine-readable output: "utf-16-le", "utf-16-le-no-bom",
// "utf-8-bom", "utf-8", "utf-16-be", "unknown", "empty"; "crlf", "lf", "cr",
// "mixed", "none".
std::wstring ConfigEncodingKey(ConfigEncoding encoding);
std::wstring ConfigLineEndsKey(ConfigLineEnds lineEnds);

// One phrase for the log and the plan: "UTF-8 without byte-order mark, LF
// line ends"; for an encoding that is not read, "..., not read".
std::wstring DescribeConfigForm(const ConfigText& config);

}  // namespace prereq
