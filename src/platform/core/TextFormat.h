#pragma once
// printf-style formatting of wide texts that behaves the same with every C
// runtime (MSVCRT and glibc disagree on what %s means in wide formats).
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace prereq {

// One argument of Format: a text, a signed or an unsigned integer.
class FormatArg {
 public:
  enum class Kind { Text, Signed, Unsigned };
  FormatArg(std::wstring_view text) : kind_(Kind::Text), text_(text) {}
  FormatArg(const std::wstring& text) : kind_(Kind::Text), text_(text) {}
  FormatArg(const wchar_t* text) : kind_(Kind::Text), text_(text ? text : L"") {}
  FormatArg(int v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(long v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(long long v) : kind_(Kind::Signed), signed_(v) {}
  FormatArg(unsigned v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::Unsigned), unsigned_(v) {}

  Kind kind() const { return kind_; }
  std::wstring_view text() const { return text_; }
  int64_t asSigned() const { return kind_ == Kind::Unsigned ? static_cast<int64_t>(unsigned_) : signed_; }
  uint64_t asUnsigned() const { return kind_ == Kind::Signed ? static_cast<uint64_t>(signed_) : unsigned_; }

 private:
  Kind kind_;
  std::wstring_view text_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
};

// Formats `format` with the conversions %s (text), %d/%i (signed), %u
// (unsigned), %x/%X (hexadecimal) and %%, with the flags "-" and "0", a width
// and a precision; length modifiers (h, l, ll, I, I64) are accepted and
// ignored. %d and %u print an integer in 32 bits (as the C runtime does for
// int arguments) unless the modifier ll or I64 is given. Missing arguments
// format as nothing; a text argument to a numeric conversion prints as text.
std::wstring Format(std::wstring_view format, std::initializer_list<FormatArg> args);

// The text without the characters that the C runtime's iswspace accepts at
// either end.
std::wstring_view TrimWideSpace(std::wstring_view text);

// The value of a hexadecimal digit (0-9, a-f, A-F); -1 for any other
// character.
int HexDigitValue(wchar_t c);

// Whether two texts are equal when only the ASCII letters A-Z and a-z are
// compared without their case (names from the file system, where only drive
// letters and server names may come in another case).
bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);

}  // namespace prereq
