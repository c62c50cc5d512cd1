#include "platform/core/Json.h"

#include "platform/core/TextCodec.h"

namespace prereq {

std::string JsonQuote(std::string_view utf8) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonWriter::Newline() {
  out_.push_back('\n');
  out_.append(levels_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (levels_.back().hasMember) out_.push_back(',');
  levels_.back().hasMember = true;
  Newline();
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_.push_back('{');
  levels_.push_back({true, false});
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  const bool had = levels_.back().hasMember;
  levels_.pop_back();
  if (had) Newline();
  out_.push_back('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_.push_back('[');
  levels_.push_back({false, false});
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  const bool had = levels_.back().hasMember;
  levels_.pop_back();
  if (had) Newline();
  out_.push_back(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ += JsonQuote(name);
  out_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::wstring_view text) { return String(EncodeUtf8(text)); }

JsonWriter& JsonWriter::String(std::string_view utf8) {
  BeforeValue();
  out_ += JsonQuote(utf8);
  return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Decimal(int64_t scaled, int decimals) {
  BeforeValue();
  // In unsigned arithmetic: the lowest value has no positive counterpart.
  uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string digits = std::to_string(magnitude);
  const size_t places = decimals > 0 ? static_cast<size_t>(decimals) : 0;
  if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
  if (scaled < 0) out_.push_back('-');
  out_.append(digits, 0, digits.size() - places);
  if (places > 0) {
    out_.push_back('.');
    out_.append(digits, digits.size() - places, places);
  }
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace prereq
