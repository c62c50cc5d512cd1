// The run's account for deployment tools: the result file must be strict
// JSON (RFC 8259, valid UTF-8) whatever the texts hold, and give every text
// back as its UTF-8; the ExitCodes reading must agree with its own table.
// Input: lines (display name, decision, address, command line, error text,
// ExitCodes value, a number, the program's path).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FuzzText.h"
#include "chainer/RunReportRules.h"
#include "execution/ExitCodeRules.h"
#include "platform/core/TextCodec.h"

using namespace prereq;

namespace {

// A strict reader of JSON text, written here again so that the target does
// not trust the writer it checks. Collects every string (keys and values).
class StrictJson {
 public:
  explicit StrictJson(const std::string& text) : s_(text) {}

  bool Parse(std::vector<std::string>& strings) {
    strings_ = &strings;
    SkipBlanks();
    if (!Value(0)) return false;
    SkipBlanks();
    return i_ == s_.size();
  }

 private:
  void SkipBlanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool Value(int depth) {
    if (depth > 64 || i_ >= s_.size()) return false;
    switch (s_[i_]) {
      case '{': return Object(depth);
      case '[': return Array(depth);
      case '"': {
        std::string value;
        if (!String(value)) return false;
        strings_->push_back(std::move(value));
        return true;
      }
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number();
    }
  }
  bool Object(int depth) {
    ++i_;
    SkipBlanks();
    if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
    for (;;) {
      SkipBlanks();
      std::string key;
      if (i_ >= s_.size() || s_[i_] != '"' || !String(key)) return false;
      strings_->push_back(std::move(key));
      SkipBlanks();
      if (i_ >= s_.size() || s_[i_++] != ':') return false;
      SkipBlanks();
      if (!Value(depth + 1)) return false;
      SkipBlanks();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == '}') return ++i_, true;
      if (s_[i_++] != ',') return false;
    }
  }
  bool Array(int depth) {
    ++i_;
    SkipBlanks();
    if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
    for (;;) {
      SkipBlanks();
      if (!Value(depth + 1)) return false;
      SkipBlanks();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == ']') return ++i_, true;
      if (s_[i_++] != ',') return false;
    }
  }
  bool Digits() {
    const size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }
  bool Number() {
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (i_ < s_.size() && s_[i_] == '0') {
      ++i_;
    } else if (!Digits()) {
      return false;
    }
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      if (!Digits()) return false;
    }
    return true;  // the writer writes no exponents
  }
  static void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  std::optional<uint32_t> Hex4() {
    if (i_ + 4 > s_.size()) return std::nullopt;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return std::nullopt;
    }
    return v;
  }
  // One UTF-8 sequence, strictly: no overlong forms, no surrogates, at most U+10FFFF.
  bool Utf8(std::string& out) {
    const auto b = static_cast<uint8_t>(s_[i_]);
    int length;
    uint32_t c, minimum;
    if ((b & 0xE0) == 0xC0) length = 2, c = b & 0x1F, minimum = 0x80;
    else if ((b & 0xF0) == 0xE0) length = 3, c = b & 0x0F, minimum = 0x800;
    else if ((b & 0xF8) == 0xF0) length = 4, c = b & 0x07, minimum = 0x10000;
    else return false;
    if (i_ + static_cast<size_t>(length) > s_.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(s_[i_ + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out.append(s_, i_, static_cast<size_t>(length));
    i_ += static_cast<size_t>(length);
    return true;
  }
  bool String(std::string& out) {
    ++i_;
    while (i_ < s_.size()) {
      const auto c = static_cast<uint8_t>(s_[i_]);
      if (c == '"') return ++i_, true;
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!Utf8(out)) return false;
        continue;
      }
      ++i_;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          const std::optional<uint32_t> unit = Hex4();
          if (!unit || (*unit >= 0xD800 && *unit <= 0xDFFF)) return false;  // the writer pairs none
          AppendUtf8(out, *unit);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  const std::string& s_;
  size_t i_ = 0;
  std::vector<std::string>* strings_ = nullptr;
};

void CheckExitCodes(std::wstring_view text) {
  const ParsedExitCodes parsed = ParseExitCodes(text);
  std::wstring again;
  size_t items = 1;
  for (wchar_t c : text) items += c == L',' ? 1 : 0;
  for (const ExitCodeIssue& issue : parsed.issues) fuzz::Check(issue.item < items, "issue beyond the items");
  for (const ExitCodeEntry& e : parsed.table.ConfiguredEntries()) {
    fuzz::Check(parsed.table.MeaningOf(e.code) == e.meaning, "a configured code means something else");
    again += (again.empty() ? L"" : L", ") + std::to_wstring(e.code) + L":" +
             std::wstring(ExitMeaningWord(e.meaning));
  }
  const ParsedExitCodes reread = ParseExitCodes(again);
  fuzz::Check(reread.issues.empty(), "the table written out does not read back");
  fuzz::Check(reread.table.ConfiguredEntries() == parsed.table.ConfiguredEntries(),
              "the table written out reads back differently");
  const std::vector<ExitCodeEntry> effective = parsed.table.Effective();
  for (size_t a = 0; a < effective.size(); ++a)
    for (size_t b = a + 1; b < effective.size(); ++b)
      fuzz::Check(effective[a].code != effective[b].code, "a code twice in the effective table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring input = fuzz::WideFrom(data, size);
  const std::vector<std::wstring_view> f = fuzz::Fields(input, 8);
  CheckExitCodes(f[5]);

  const uint64_t number = fuzz::NumberOf(f[6]);
  RunReport r;
  r.programPath = std::wstring(f[7]);
  r.configPath = std::wstring(f[0]) + L".ini";
  r.mode = static_cast<RunMode>(number % 3);
  r.anyToObtain = (number & 4) != 0;
  r.installerExitCodes = (number & 8) != 0;
  r.crashed = (number & 16) != 0;
  r.runResult = static_cast<int32_t>(number % 3) - 1;
  r.machineKnown = (number & 32) != 0;
  r.machine.detailedName = std::wstring(f[1]);
  r.machine.nativeMachine = static_cast<uint32_t>(number);
  r.machine.nativeMachineKnown = true;
  PrereqReport p;
  p.key = L"App1";
  p.displayName = std::wstring(f[0]);
  p.state = static_cast<int32_t>(number % 8);  // evaluated: its decision is written
  p.decision = std::wstring(f[1]);
  p.selected = true;
  p.download = DownloadReport{};
  p.download->url = std::wstring(f[2]);
  p.download->bytes = number;
  p.download->milliseconds = static_cast<uint32_t>(number);
  p.download->resultText = std::wstring(f[4]);
  p.launch = LaunchReport{};
  p.launch->commandLine = std::wstring(f[3]);
  p.launch->errorText = std::wstring(f[4]);
  p.launch->returnCode = static_cast<uint32_t>(number);
  p.launch->returnCodes = {static_cast<uint32_t>(number)};
  p.launch->meaning = ParseExitCodes(f[5]).table.MeaningOf(static_cast<uint32_t>(number));
  p.siteOpened = std::wstring(f[2]);
  r.prereqs.push_back(p);
  r.prereqs.push_back(PrereqReport{});

  const std::string json = ComposeResultJson(r);
  std::vector<std::string> strings;
  fuzz::Check(StrictJson(json).Parse(strings), "the result file is not strict JSON");
  for (std::wstring_view text : {f[0], f[1], f[2], f[3], f[4], f[7]}) {
    const std::string utf8 = EncodeUtf8(text);
    bool found = false;
    for (const std::string& s : strings) found = found || s == utf8;
    fuzz::Check(found, "a text did not come back from the result file");
  }
  fuzz::Check(SummaryLines(r).size() == r.prereqs.size() + 1, "one summary line per prerequisite");
  return 0;
}
