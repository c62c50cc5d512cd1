#include "platform/core/TextFormat.h"

#include <cwctype>

namespace prereq {

namespace {

void AppendPadded(std::wstring& out, std::wstring_view body, std::wstring_view sign, size_t width,
                  bool leftAlign, bool zeroPad) {
  size_t len = body.size() + sign.size();
  size_t pad = width > len ? width - len : 0;
  if (leftAlign) {
    out.append(sign);
    out.append(body);
    out.append(pad, L' ');
  } else if (zeroPad) {
    out.append(sign);
    out.append(pad, L'0');
    out.append(body);
  } else {
    out.append(pad, L' ');
    out.append(sign);
    out.append(body);
  }
}

std::wstring Digits(uint64_t value, unsigned base, bool upper) {
  const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t buf[24];
  size_t n = 0;
  do {
    buf[n++] = digits[value % base];
    value /= base;
  } while (value != 0);
  std::wstring out;
  out.reserve(n);
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

}  // namespace

std::wstring Format(std::wstring_view format, std::initializer_list<FormatArg> args) {
  std::wstring out;
  out.reserve(format.size() + 16);
  auto next = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    wchar_t c = format[i];
    if (c != L'%' || i + 1 >= format.size()) {
      out.push_back(c);
      ++i;
      continue;
    }
    size_t start = i++;
    if (format[i] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    bool leftAlign = false, zeroPad = false;
    for (; i < format.size() && (format[i] == L'-' || format[i] == L'0'); ++i) {
      if (format[i] == L'-') leftAlign = true; else zeroPad = true;
    }
    size_t width = 0;
    for (; i < format.size() && format[i] >= L'0' && format[i] <= L'9'; ++i)
      width = width * 10 + static_cast<size_t>(format[i] - L'0');
    bool hasPrecision = false;
    size_t precision = 0;
    if (i < format.size() && format[i] == L'.') {
      hasPrecision = true;
      for (++i; i < format.size() && format[i] >= L'0' && format[i] <= L'9'; ++i)
        precision = precision * 10 + static_cast<size_t>(format[i] - L'0');
    }
    bool wide64 = false;
    while (i < format.size()) {
      if (format[i] == L'h' || format[i] == L'l' || format[i] == L'w') {
        if (format[i] == L'l' && i + 1 < format.size() && format[i + 1] == L'l') { wide64 = true; ++i; }
        ++i;
      } else if (format[i] == L'I') {
        if (format.substr(i, 3) == L"I64") { wide64 = true; i += 3; }
        else if (format.substr(i, 3) == L"I32") { i += 3; }
        else ++i;
      } else {
        break;
      }
    }
    if (i >= format.size()) {  // incomplete conversion: copy as written
      out.append(format.substr(start));
      break;
    }
    wchar_t conv = format[i++];
    if (conv != L's' && conv != L'd' && conv != L'i' && conv != L'u' && conv != L'x' &&
        conv != L'X' && conv != L'c') {
      out.append(format.substr(start, i - start));
      continue;
    }
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    if (conv == L's' || arg.kind() == FormatArg::Kind::Text) {
      std::wstring_view text = arg.text();
      if (conv == L's' && arg.kind() != FormatArg::Kind::Text) {
        AppendPadded(out, std::to_wstring(arg.asSigned()), L"", width, leftAlign, false);
        continue;
      }
      if (hasPrecision && precision < text.size()) text = text.substr(0, precision);
      AppendPadded(out, text, L"", width, leftAlign, false);
      continue;
    }
    if (conv == L'c') {
      wchar_t ch = static_cast<wchar_t>(arg.asUnsigned());
      AppendPadded(out, std::wstring_view(&ch, 1), L"", width, leftAlign, false);
      continue;
    }
    std::wstring body;
    std::wstring_view sign;
    if (conv == L'd' || conv == L'i') {
      int64_t v = arg.asSigned();
      if (!wide64) v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
      uint64_t magnitude = v < 0 ? (~static_cast<uint64_t>(v) + 1) : static_cast<uint64_t>(v);
      if (v < 0) sign = L"-";
      body = Digits(magnitude, 10, false);
    } else {
      uint64_t v = arg.asUnsigned();
      if (!wide64) v = static_cast<uint32_t>(v);
      body = Digits(v, conv == L'u' ? 10 : 16, conv == L'X');
    }
    if (hasPrecision) {
      if (body.size() < precision) body.insert(0, precision - body.size(), L'0');
      zeroPad = false;
    }
    AppendPadded(out, body, sign, width, leftAlign, zeroPad);
  }
  return out;
}

std::wstring_view TrimWideSpace(std::wstring_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::iswspace(static_cast<wint_t>(text[b]))) ++b;
  while (e > b && std::iswspace(static_cast<wint_t>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace prereq
