#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/MsixRules.h"

using namespace prereq;

namespace {

std::string N(std::wstring_view w) {
  std::string out;
  for (wchar_t c : w) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

TEST(ArchitectureText, CompleteTable) {
  struct Case {
    uint32_t value;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"x86"},     {5, L"arm"}, {9, L"x64"}, {11, L"neutral"}, {12, L"arm64"},
      {14, L""},  // X86OnArm64
      {65535, L""},  // Unknown
      {1, L""},        {6, L""},    {0xFFFFFFFFu, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(N(ArchitectureText(c.value)), N(c.text)) << c.value;
}

TEST(MsixPackageMatches, Table) {
  const MsixIdentity app{L"Quillfeather.App", L"CN=Quillfeather", 9};
  const MsixIdentity unknownArch{L"Quillfeather.App", L"CN=Quillfeather", 14};
  const MsixIdentity unnamed{L"", L"CN=Quillfeather", 9};
  struct Case {
    MsixQuery query;  // name, architecture, publisher
    MsixIdentity package;
    bool matches;
  };
  // Case, publishers and architecture texts are covered by the lookup under
  // Wine; these are the edges of the rule.
  const Case cases[] = {
      {{L"Quillfeather.App", L"x64", L"CN=Quillfeather"}, app, true},
      {{L"Quillfeather.Ap", L"", L""}, app, false},  // whole names only
      {{L"", L"", L""}, app, false},            // an empty name is compared too
      {{L"", L"", L""}, unnamed, true},
      {{L"Quillfeather.App", L"", L""}, unknownArch, true},
      {{L"Quillfeather.App", L"x64", L""}, unknownArch, false},  // no text never matches one
      {{L"Quillfeather.App", L"", L""}, app, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MsixPackageMatches(c.query, c.package), c.matches)
        << N(c.query.name) << "|" << N(c.query.architecture) << "|" << N(c.query.publisher)
        << " against " << N(c.package.name) << " arch " << c.package.architecture;
  }
}

TEST(MsixVersionText, FormattedLikeCollectedVersions) {
  struct Case {
    uint16_t parts[4];
    const char* text;
  };
  const Case cases[] = {
      {{1, 0, 0, 0}, "1.0"},         {{2, 5, 3, 0}, "2.5.3"},
      {{2, 5, 3, 7}, "2.5.3.7"},     {{0, 0, 0, 0}, "0.0.0.0"},
      {{0, 0, 0, 4}, "0.0.0.4"},     {{65535, 65535, 65535, 65535}, "0.0.0.0"},
      {{3, 0, 65535, 0}, "3.0"},     {{10, 65535, 2, 65535}, "10.65535.2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(N(MsixVersionText(c.parts[0], c.parts[1], c.parts[2], c.parts[3])), c.text);
  }
}

TEST(SplitMsixSearchString, Table) {
  struct Case {
    std::wstring text;
    std::wstring name, architecture, publisher;
  };
  const Case cases[] = {
      {L"", L"", L"", L""},
      {L"Quillfeather.App", L"Quillfeather.App", L"", L""},
      {L"Quillfeather.App?x64", L"Quillfeather.App", L"x64", L""},
      {L"Quillfeather.App?x64?CN=Quillfeather, O=Quillfeather, C=US", L"Quillfeather.App", L"x64",
       L"CN=Quillfeather, O=Quillfeather, C=US"},
      // Runs of "?" are one separator and leading ones are skipped, so an
      // empty field never stands between two others.
      {L"??Quillfeather.App???x64?CN=C", L"Quillfeather.App", L"x64", L"CN=C"},
      {L"Quillfeather.App??CN=C", L"Quillfeather.App", L"CN=C", L""},
      {L"???", L"", L"", L""},
      {L"a?b?c?d", L"a", L"b", L"c"},  // a fourth token is not read
      {L"a?b?c?", L"a", L"b", L"c"},
  };
  for (const Case& c : cases) {
    const MsixQuery q = SplitMsixSearchString(c.text);
    EXPECT_EQ(N(q.name), N(c.name)) << N(c.text);
    EXPECT_EQ(N(q.architecture), N(c.architecture)) << N(c.text);
    EXPECT_EQ(N(q.publisher), N(c.publisher)) << N(c.text);
  }
}

}  // namespace
