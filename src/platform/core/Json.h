#pragma once
// A small writer of JSON text (UTF-8): the tools' --json output and the
// program's result file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

class JsonWriter {
 public:
  // Objects and arrays; inside an object every value follows Key().
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::wstring_view text);
  JsonWriter& String(std::string_view utf8);
  JsonWriter& Number(int64_t value);
  // A decimal fraction: `scaled` / 10^`decimals`, written with exactly
  // `decimals` digits after the point (Decimal(1250, 3) is 1.250).
  JsonWriter& Decimal(int64_t scaled, int decimals);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The text so far, indented by two blanks per level, with a line end.
  std::string Text() const { return out_ + "\n"; }

 private:
  void BeforeValue();
  void Newline();

  std::string out_;
  // Per open level: whether it has a member yet and whether it is an object.
  struct Level {
    bool object;
    bool hasMember;
  };
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

// The JSON string literal of UTF-8 text, quotes included.
std::string JsonQuote(std::string_view utf8);

}  // namespace prereq
