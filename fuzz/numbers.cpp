// Numbers and versions: ParseDecimal, ParseVersion, FormatVersion, the
// version comparison and range check, the value comparison of the registry
// search, the folder depth and the language list. Input: three lines a, b, c.
// Properties: a formatted version reads back as the same parts; the
// comparison is antisymmetric and consistent with the range check; the
// equality operators of the value comparison agree with the texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "chainer/IniFile.h"
#include "evaluation/OsConditions.h"
#include "evaluation/SearchRules.h"
#include "evaluation/Versions.h"

using namespace prereq;

namespace {

void CheckVersion(std::wstring_view text) {
  VersionQuad v;
  const bool ok = ParseVersion(text, v);
  fuzz::Check(ok || (v.IsZero() && v.count == 0), "a failed parse leaves parts");
  fuzz::Check(v.count >= 0 && v.count <= 4, "part count");
  for (uint32_t part : v.parts) fuzz::Check(part <= 2147483647u, "part beyond 32 bits");
  const std::wstring formatted = FormatVersion(v);
  VersionQuad back;
  fuzz::Check(ParseVersion(formatted, back), "a formatted version does not parse");
  // Formatting stops after the last part that is neither 0 nor 65535.
  int last = -1;
  for (int i = 0; i < 4; ++i)
    if (v.parts[i] != 0 && v.parts[i] != 65535) last = i;
  for (int i = 0; i <= last; ++i) fuzz::Check(back.parts[i] == v.parts[i], "format round trip");
  for (int i = last + 1; i < 4; ++i)
    fuzz::Check(back.parts[i] == 0 || (last < 1 && i <= 1 && back.parts[i] == v.parts[i]),
                "format round trip: trailing parts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 3);
  const std::wstring_view a = f[0], b = f[1], c = f[2];

  ParseDecimal(a);
  CheckVersion(a);
  CheckVersion(b);

  VersionQuad va, vb, vc;
  ParseVersion(a, va);
  ParseVersion(b, vb);
  ParseVersion(c, vc);
  const int ab = CompareVersions(va, vb), ba = CompareVersions(vb, va);
  fuzz::Check((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0), "comparison not antisymmetric");
  fuzz::Check(CompareVersions(va, va) == 0, "comparison not reflexive");
  if (CompareVersions(va, vb) <= 0 && CompareVersions(vb, vc) <= 0)
    fuzz::Check(CompareVersions(va, vc) <= 0, "comparison not transitive");

  // The range check against the comparison.
  const bool inRange = VersionInRange({std::wstring(a)}, b, c);
  const bool expected =
      (vb.IsZero() && vc.IsZero()) ||
      (!va.IsZero() && (vb.IsZero() || CompareVersions(va, vb) >= 0) &&
       (vc.IsZero() || CompareVersions(va, vc) <= 0));
  fuzz::Check(inRange == expected, "range check disagrees with the comparison");
  fuzz::Check(!VersionInRange({}, b, c), "nothing collected is found");

  // The value comparison of the registry search.
  const std::wstring value(a), ref(b);
  fuzz::Check(CompareWithReference(value, L"M" + ref) == (value == ref), "M");
  fuzz::Check(CompareWithReference(value, L"D" + ref) == (value != ref), "D");
  fuzz::Check(CompareWithReference(value, L"C" + ref) == (value.find(ref) != std::wstring::npos), "C");
  fuzz::Check(CompareWithReference(value, L"X" + ref) != CompareWithReference(value, L"C" + ref), "X");
  fuzz::Check(CompareWithReference(value, L"S" + ref) == (value.rfind(ref, 0) == 0), "S");
  fuzz::Check(!(CompareWithReference(value, L"G" + ref) && CompareWithReference(value, L"L" + ref)),
              "G and L both hold");
  fuzz::Check(!CompareWithReference(value, L"G" + value) && !CompareWithReference(value, L"L" + value),
              "a number is greater or less than itself");
  CompareWithReference(value, ref);

  ParseDepth(c);
  LanguageListAllows(a, static_cast<uint16_t>(ParseDecimal(b)));
  return 0;
}
