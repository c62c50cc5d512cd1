// The configuration checker's rules at their boundaries; the golden files of
// tests/lint cover one finding per rule end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

#include "authoring/LintRules.h"
#include "platform/core/TextCodec.h"

using namespace prereq;

namespace {

std::vector<uint8_t> Utf16(std::wstring_view text, bool bom = true) {
  std::vector<uint8_t> bytes;
  if (bom) bytes = {0xFF, 0xFE};
  for (wchar_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  return bytes;
}

std::vector<Finding> Lint(std::wstring_view text, LintEnvironment env = {}) {
  return LintConfiguration(Utf16(text), env);
}

// A configuration without findings; the tests change one line of it.
const std::wstring kClean =
    L"[GeneralOptions]\r\nOptions=q\r\n[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nDisplayName=A\r\n"
    L"Url=https://example.com/a.exe\r\nExactSize=10\r\nNoUiCommandLine=/q\r\n"
    L"SearchType1=5\r\nSearchString1=HKLM\\Software\\A\r\n";

std::wstring With(std::wstring_view line) { return kClean + std::wstring(line) + L"\r\n"; }

bool Has(const std::vector<Finding>& findings, Severity severity, std::wstring_view part) {
  return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
    return f.severity == severity && f.text.find(part) != std::wstring::npos;
  });
}

std::wstring Dump(const std::vector<Finding>& findings) {
  std::wstring out;
  for (const Finding& f : findings) out += FormatFinding(L"f", f) + L"\n";
  return out;
}

TEST(Lint, TheCleanConfigurationHasNoFindings) {
  EXPECT_TRUE(Lint(kClean).empty()) << Dump(Lint(kClean));
}

TEST(Lint, EncodingsAreWarningsWhenARunReadsThemAndErrorsWhenNot) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::wstring finding;  // empty: no encoding finding
    Severity severity = Severity::Warning;
  };
  std::vector<uint8_t> utf8(kClean.begin(), kClean.end());
  std::vector<uint8_t> utf8Bom{0xEF, 0xBB, 0xBF};
  utf8Bom.insert(utf8Bom.end(), utf8.begin(), utf8.end());
  std::vector<uint8_t> be;
  for (wchar_t c : kClean) {
    be.push_back(static_cast<uint8_t>(c >> 8));
    be.push_back(static_cast<uint8_t>(c));
  }
  std::vector<uint8_t> beBom{0xFE, 0xFF};
  beBom.insert(beBom.end(), be.begin(), be.end());
  std::vector<uint8_t> odd = Utf16(kClean);
  odd.push_back(0x20);
  std::vector<uint8_t> ansi = utf8;
  ansi.insert(ansi.end(), {'K', '=', 0xE9, '\r', '\n'});
  std::wstring lf = kClean;
  for (size_t at = lf.find(L"\r\n"); at != std::wstring::npos; at = lf.find(L"\r\n", at))
    lf.erase(at, 1);
  const Case cases[] = {
      {"utf16le", Utf16(kClean), L""},
      {"utf8", utf8, L"UTF-8 text: a run reads it"},
      {"utf8_bom", utf8Bom, L"UTF-8 text: a run reads it"},
      {"ansi", ansi, L"neither UTF-16 nor valid UTF-8", Severity::Error},
      {"utf16be_no_mark", be, L"big-endian", Severity::Error},
      {"utf16le_no_mark", Utf16(kClean, false), L"no byte-order mark: a run recognises"},
      {"lf", Utf16(lf), L"the lines end with LF alone: a run reads them"},
      {"utf16be_mark", beBom, L"big-endian", Severity::Error},
      // The marks decide also where the zero bytes would not.
      {"utf16be_mark_without_zero_bytes", {0xFE, 0xFF, 0x4E, 0x2D, 0x65, 0x87}, L"big-endian",
       Severity::Error},
      {"utf8_mark_with_a_zero_byte", {0xEF, 0xBB, 0xBF, 0x41, 0x00}, L"UTF-8"},
      // Without a mark, more zero bytes at odd offsets than at even ones mean
      // little-endian; as many at both do not.
      {"zeros_odd_and_even_alike", {0x41, 0x00, 0x00, 0x42}, L"UTF-8 text"},
      {"zeros_odd_one_more", {0x41, 0x00, 0x42, 0x00, 0x00, 0x43}, L"no byte-order mark"},
      {"zero_first", {0x00, 0x41, 0x42, 0x43}, L"big-endian", Severity::Error},
      {"mark_alone", {0xFF, 0xFE}, L"no [PREREQUISITES] section"},
      {"odd", odd, L"odd number of bytes"},
      {"one_byte", {0xFF}, L"empty", Severity::Error},
  };
  for (const Case& c : cases) {
    const std::vector<Finding> findings = LintConfiguration(c.bytes, {});
    if (c.finding.empty()) {
      EXPECT_TRUE(findings.empty()) << c.name << "\n" << Dump(findings).size();
    } else {
      ASSERT_FALSE(findings.empty()) << c.name;
      EXPECT_NE(findings[0].text.find(c.finding), std::wstring::npos) << c.name << ": " << EncodeUtf8(findings[0].text);
      EXPECT_EQ(findings[0].severity, c.severity) << c.name;
      EXPECT_EQ(findings[0].line, 1u) << c.name;
      // What a run reads has no error beyond the configuration's own.
      if (c.severity == Severity::Warning) {
        EXPECT_EQ(CountFindings(findings).errors, 0u) << c.name;
      }
    }
  }
  // The UTF-8 file's other findings are those of the same text in UTF-16.
  std::vector<uint8_t> misspelt(kClean.begin(), kClean.end());
  const std::string extra = "Optoins=m\r\n";
  misspelt.insert(misspelt.end(), extra.begin(), extra.end());
  const std::vector<Finding> f = LintConfiguration(misspelt, {});
  ASSERT_EQ(f.size(), 2u) << Dump(f).size();
  EXPECT_EQ(f[1].line, 12u);
  EXPECT_NE(f[1].text.find(L"did you mean \"Options\""), std::wstring::npos);
}

TEST(Lint, LinesAreCountedAsAnEditorCountsThem) {
  // A lone LF among CR LF ends line 3, for an editor and for a run.
  const std::wstring text =
      L"[GeneralOptions]\r\nOptions=q\r\nMainAppURL=x\nProductCode=y\r\nNoSuchKey=1\r\n";
  const std::vector<Finding> f = Lint(text);
  ASSERT_TRUE(Has(f, Severity::Warning, L"lone LF, others with CR LF")) << Dump(f).size();
  for (const Finding& finding : f) {
    if (finding.text.find(L"lone LF") != std::wstring::npos) { EXPECT_EQ(finding.line, 4u); }
    if (finding.text.find(L"NoSuchKey") != std::wstring::npos) { EXPECT_EQ(finding.line, 5u); }
  }
}

struct RuleCase {
  const char* name;
  std::wstring line;  // appended to [App1] of the clean configuration
  Severity severity;
  std::wstring finding;  // empty: no finding at all
};

// Each line added to the clean configuration gives its finding, or none.
void ExpectFindings(std::span<const RuleCase> cases) {
  for (const RuleCase& c : cases) {
    const std::vector<Finding> f = Lint(With(c.line));
    const std::wstring dump = Dump(f);
    if (c.finding.empty())
      EXPECT_TRUE(f.empty()) << c.name << "\n" << std::string(dump.begin(), dump.end());
    else
      EXPECT_TRUE(Has(f, c.severity, c.finding)) << c.name << "\n" << std::string(dump.begin(), dump.end());
  }
}

TEST(Lint, DigestsAtTheirLengths) {
  const std::wstring md5 = L"0123456789abcdef0123456789ABCDEF";
  const std::wstring sha = std::wstring(64, L'a');
  const RuleCase cases[] = {
      {"md5_31", L"MD5=" + md5.substr(1), Severity::Error, L"not 32 hexadecimal"},
      {"md5_32", L"MD5=" + md5, Severity::Error, L""},
      {"md5_33", L"MD5=" + md5 + L"0", Severity::Warning, L"compares the first 32"},
      {"md5_nonhex_32nd", L"MD5=" + md5.substr(0, 31) + L"g", Severity::Error, L"not 32 hexadecimal"},
      {"md5_nonhex_33rd", L"MD5=" + md5 + L"g", Severity::Warning, L"compares the first 32"},
      {"sha_63", L"SHA256=" + sha.substr(1), Severity::Error, L"not 64 hexadecimal"},
      {"sha_64_upper", L"SHA256=" + std::wstring(64, L'F'), Severity::Error, L""},
      {"sha_65", L"SHA256=" + sha + L"a", Severity::Error, L"not 64 hexadecimal"},
      {"sha_empty", L"SHA256=", Severity::Error, L"not 64 hexadecimal"},
      {"bounds_equal", L"VerMin1=1.2\r\nVerMax1=1.2", Severity::Error, L""},
      {"bounds_reversed_by_one", L"VerMin1=1.2.0.1\r\nVerMax1=1.2", Severity::Error, L"above VerMax1"},
  };
  for (const RuleCase& c : cases) {
    std::wstring text = kClean;
    if (c.line.rfind(L"VerM", 0) == 0)  // bounds belong to a range kind
      text.replace(text.find(L"SearchType1=5"), 13, L"SearchType1=2");
    const std::vector<Finding> f = Lint(text + c.line + L"\r\n");
    if (c.finding.empty())
      EXPECT_TRUE(f.empty()) << c.name << " " << Dump(f).size();
    else
      EXPECT_TRUE(Has(f, c.severity, c.finding)) << c.name;
  }
}

TEST(Lint, SignersAndFurtherAddresses) {
  const std::wstring thumb(64, L'c');
  const RuleCase cases[] = {
      {"name", L"Signer=CN=Example, Inc., sha256:" + thumb, Severity::Error, L""},
      {"thumbprint_63", L"Signer=sha256:" + thumb.substr(1), Severity::Error, L"(63 characters given)"},
      {"thumbprint_65", L"Signer=sha256:" + thumb + L"c", Severity::Error, L"(65 characters given)"},
      {"thumbprint_sha1", L"Signer=sha256:" + thumb.substr(24), Severity::Error, L"SHA-1 thumbprint"},
      {"thumbprint_upper_prefix", L"Signer=SHA256:abc", Severity::Error, L"(3 characters given)"},
      {"no_prefix", L"Signer=CN=A, Example Corporation", Severity::Error, L""},  // one name
      {"no_prefix_first", L"Signer=Example, CN=A", Severity::Error, L"\"Example\" is malformed"},
      {"empty_name", L"Signer=CN=", Severity::Error, L"the name after \"CN=\" is empty"},
      {"empty", L"Signer=", Severity::Error, L"Signer is empty"},
      {"joined", L"Signer=CN=A,CN=B", Severity::Warning, L"is one name"},
      {"blank", L"Signer=CN= A", Severity::Warning, L"blanks around the name"},
      {"mirror", L"Url2=https://mirror.example.com/a.exe", Severity::Error, L""},
      {"mirror_gap", L"Url2=https://m.example.com/a.exe\r\nUrl4=https://n.example.com/a.exe",
       Severity::Warning, L"Url4 is never read: the addresses end at the first missing number (Url3)"},
      {"mirror_without_2", L"Url3=https://m.example.com/a.exe", Severity::Warning, L"(Url2)"},
      {"url1", L"Url1=https://m.example.com/a.exe", Severity::Warning, L"the first address is Url"},
      {"mirror_http", L"Url2=http://m.example.com/a.exe", Severity::Warning, L"Url2: plain http"},
      {"mirror_http_signed", L"Url2=http://m.example.com/a.exe\r\nSigner=CN=A", Severity::Warning, L""},
      {"mirror_no_address", L"Url2=m.example.com/a.exe", Severity::Error, L"no address"},
      {"mirror_repeat", L"Url2=https://example.com/a.exe", Severity::Warning, L"repeats an address"},
  };
  ExpectFindings(cases);
  // Without any check, the next address may serve anything; any check will do.
  std::wstring unchecked = With(L"Url2=https://m.example.com/a.exe");
  unchecked.replace(unchecked.find(L"ExactSize=10\r\n"), 14, L"");
  EXPECT_TRUE(Has(Lint(unchecked), Severity::Warning, L"further addresses without ExactSize, MD5"));
  EXPECT_FALSE(Has(Lint(unchecked + L"Signer=CN=A\r\n"), Severity::Warning, L"further addresses"));
  // Where nothing is downloaded.
  std::wstring site = With(L"Signer=CN=A\r\nUrl2=https://m.example.com/a.exe");
  site.replace(site.find(L"Url=https://example.com/a.exe"), 29, L"OpenSite=https://example.com/");
  EXPECT_TRUE(Has(Lint(site), Severity::Warning, L"Signer has no effect"));
  EXPECT_TRUE(Has(Lint(site), Severity::Warning, L"Url2 has no effect"));
  std::wstring shipped = With(L"Signer=CN=A");
  shipped.replace(shipped.find(L"Url=https://example.com/a.exe"), 29, L"SetupFile=a.exe");
  EXPECT_TRUE(Has(Lint(shipped), Severity::Warning, L"a rejected file cannot be fetched again"));
}

TEST(Lint, NumbersAndWords) {
  const RuleCase cases[] = {
      {"operator_1", L"Operator=1", Severity::Warning, L""},
      {"retval_name", L"RetValPropName=x", Severity::Warning, L""},
      {"operator_2", L"Operator=2", Severity::Warning, L"neither 0 (AND) nor 1 (OR)"},
      {"operator_minus_1", L"Operator=-1", Severity::Warning, L"neither 0 (AND) nor 1 (OR)"},
      {"operator_blank", L"Operator=+1", Severity::Warning, L"not a plain decimal"},
      {"language_known", L"LanguageList=1033;3082", Severity::Warning, L""},
      {"language_zero", L"LanguageList=0", Severity::Warning, L"no language has the identifier 0"},
      {"language_unknown", L"LanguageList=1034;1035;1084", Severity::Warning, L"identifier 1084"},
      {"options_all_known", L"Options=cmrRx", Severity::Warning, L""},
      {"options_c_and_d", L"Options=cd", Severity::Warning, L"applies on no processor"},
  };
  ExpectFindings(cases);
  // The largest ExactSize that reads as written, and the first that wraps.
  std::wstring max = kClean;
  max.replace(max.find(L"ExactSize=10"), 12, L"ExactSize=2147483647");
  EXPECT_TRUE(Lint(max).empty());
  std::wstring wraps = kClean;
  wraps.replace(wraps.find(L"ExactSize=10"), 12, L"ExactSize=2147483648");
  EXPECT_TRUE(Has(Lint(wraps), Severity::Warning, L"reads it as -2147483648"));
}

// One replacement in the clean configuration, at a rule's boundary.
TEST(Lint, EditsAtTheirBoundaries) {
  struct Case {
    const char* name;
    std::wstring from, to;
    Severity severity;
    std::wstring finding;  // empty: no finding at all
  };
  const std::wstring url = L"Url=https://example.com/a.exe";
  const Case cases[] = {
      {"url_scheme_alone", url, L"Url=https://", Severity::Error, L"no file name can be taken"},
      {"url_upper_case_extension", url, L"Url=https://example.com/A.EXE", Severity::Warning, L""},
      {"url_upper_case_file_scheme", url, L"Url=FILE://srv/share/a.exe", Severity::Warning, L""},
      {"site_percent_encoding", url, L"OpenSite=https://example.com/a%20b%20c", Severity::Warning,
       L"(percent-encoding in a URL is read the same way)"},
      {"folder_not_expanded", L"ExactSize=10", L"ExactSize=10\r\nFolder=%TEMP%\\x", Severity::Warning,
       L"Folder is not expanded: \"%TEMP%\" stays as written"},
      {"registry_reference", L"/q", L"/q !HKLM\\Software\\A\\Dir!", Severity::Warning, L""},
      {"registry_reference_without_root", L"/q", L"/q !Software\\A!", Severity::Warning,
       L"is read as a registry value reference"},
      {"comment_after_blanks", L"Options=q", L"Options=q\r\n \t; note", Severity::Warning, L""},
      {"header_after_blanks", L"Options=q", L"Options=q\r\n [Broken", Severity::Warning,
       L"a section header must end with"},
      {"upper_case_option", L"Options=q", L"Options=qQ", Severity::Warning, L"letters are case-sensitive"},
      {"upper_case_option_b", L"Options=q", L"Options=qB", Severity::Warning, L"letters are case-sensitive"},
      // App12 after App1: the gap is named by the numbers as written.
      {"two_digit_app", L"App1=a", L"App1=a\r\nApp12=b", Severity::Error,
       L"App12 is never read: [PREREQUISITES] has no App2"},
      {"no_list_and_no_app_section", L"[PREREQUISITES]\r\nApp1=a\r\n[App1]", L"[Other]", Severity::Warning,
       L"no [PREREQUISITES] section: the configuration has no prerequisites"},
  };
  for (const Case& c : cases) {
    std::wstring text = kClean;
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::wstring::npos) << c.name;
    text.replace(at, c.from.size(), c.to);
    const std::vector<Finding> f = Lint(text);
    if (c.finding.empty()) {
      EXPECT_TRUE(f.empty()) << c.name << " " << Dump(f).size();
    } else {
      EXPECT_TRUE(Has(f, c.severity, c.finding)) << c.name;
    }
  }
}

// A finding that says it all, and nothing more beside it: exactly one more
// finding than the configuration without the line, with this text.
TEST(Lint, OneFindingAndNoEcho) {
  std::wstring site = kClean;
  site.replace(site.find(L"Url=https://example.com/a.exe"), 29, L"OpenSite=https://example.com/");
  const struct {
    const char* name;
    std::wstring base, added, finding;
  } cases[] = {
      // A run reads the first; the repeated value is not judged.
      {"repeated_key", kClean, L"ExactSize=abc\r\n", L"\"ExactSize\" is given again"},
      // Options is known in [GeneralOptions] and in a prerequisite's section:
      // the first is named.
      {"key_of_another_section", kClean, L"[PREREQ_CHAINER]\r\nOptions=q\r\n",
       L"key \"Options\" is read by nothing: it belongs in [GeneralOptions]"},
      // A site runs no package: its exit codes are not read further.
      {"exit_codes_on_a_site", site, L"ExitCodes=5\r\n", L"ExitCodes has no effect"},
  };
  for (const auto& c : cases) {
    const std::vector<Finding> before = Lint(c.base);
    const std::vector<Finding> after = Lint(c.base + c.added);
    const std::wstring dump = Dump(after);
    ASSERT_EQ(after.size(), before.size() + 1) << c.name << "\n" << std::string(dump.begin(), dump.end());
    // The text begins so, and names no second section.
    EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const Finding& f) {
      return f.text.rfind(c.finding, 0) == 0 && f.text.find(L"belongs", c.finding.size()) == std::wstring::npos;
    })) << c.name << "\n" << std::string(dump.begin(), dump.end());
  }
}

TEST(Lint, ShippedFilesAreLookedForBelowTheSetupFolder) {
  std::vector<std::wstring> asked;
  LintEnvironment env;
  env.shippedFileExists = [&asked](const std::wstring& relative) {
    asked.push_back(relative);
    return relative == L"pkg\\tool.exe";
  };
  const std::wstring base =
      L"[GeneralOptions]\r\nOptions=q\r\nExtractionFolder=[SETUPEXEDIR]pkg\r\n[PREREQUISITES]\r\n"
      L"App1=a\r\n[App1]\r\nDisplayName=A\r\nNoUiCommandLine=/S\r\nSearchType1=5\r\n"
      L"SearchString1=HKLM\\Software\\A\r\n";
  EXPECT_TRUE(Lint(base + L"SetupFile=tool.exe\r\n", env).empty());
  EXPECT_TRUE(Has(Lint(base + L"SetupFile=other.exe\r\n", env), Severity::Error,
                  L"no file \"pkg\\other.exe\""));
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"pkg\\tool.exe", L"pkg\\other.exe"}));
  // Absolute names are the target machine's: not looked for.
  asked.clear();
  EXPECT_TRUE(Lint(base + L"SetupFile=C:\\Redist\\tool.exe\r\n", env).empty());
  EXPECT_TRUE(asked.empty());
}

TEST(Lint, NearestNameWithinSmallDistances) {
  const std::vector<std::wstring> names{L"Url", L"Options", L"DisplayName", L"NoUiCommandLine",
                                        L"BasicUiCommandLine"};
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"url", L"Url"},                   // case only, any length
      {L"Ul", L"Url"},                    // one edit on a short name
      {L"Xy", L""},                       // two edits on a short name
      {L"Ulrx", L""},                     // two edits on four characters
      {L"Urlxy", L"Url"},                 // two edits from five characters on
      {L"Optoins", L"Options"},           // a swap counts once
      {L"Opshuns", L""},                  // three edits
      {L"DisplyNme", L"DisplayName"},     // two edits up to 12 characters
      {L"NoUiComandLin", L"NoUiCommandLine"},  // two edits at 13 characters
      {L"NoUiComdLin", L""},              // four edits
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(NearestName(name, names), expected);
}

TEST(Lint, ExitStatusAndFormat) {
  EXPECT_EQ(LintExitStatus({0, 0}), 0);
  EXPECT_EQ(LintExitStatus({0, 3}), 1);
  EXPECT_EQ(LintExitStatus({1, 0}), 2);
  EXPECT_EQ(LintExitStatus({2, 5}), 2);
  EXPECT_EQ(FormatFinding(L"a.ini", {7, Severity::Error, L"text"}), L"a.ini:7: error: text");
  EXPECT_EQ(FormatFinding(L"a.ini", {1, Severity::Warning, L"x"}), L"a.ini:1: warning: x");
  const std::vector<Finding> f{{1, Severity::Error, L""}, {2, Severity::Warning, L""},
                               {3, Severity::Warning, L""}};
  EXPECT_EQ(CountFindings(f).errors, 1u);
  EXPECT_EQ(CountFindings(f).warnings, 2u);
}

// Arbitrary bytes and damaged configurations: the checker finishes, orders
// its findings by line and names only lines that exist.
TEST(Lint, AnyInputIsChecked) {
  std::mt19937 random(20261208);
  const std::vector<uint8_t> seed = Utf16(With(L"ParentPrereq=A\r\nWinNTVersions=Windows 7 x86, x"));
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> bytes = seed;
    const int edits = 1 + static_cast<int>(random() % 24);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % (bytes.size() + 1);
      switch (random() % 3) {
        case 0:
          if (at < bytes.size()) bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(at));
          break;
        case 1:
          bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), static_cast<uint8_t>(random()));
          break;
        default:
          if (at < bytes.size()) bytes[at] = static_cast<uint8_t>("[]=\r\n;%!\\?0"[random() % 11]);
      }
    }
    if (round % 5 == 0) {
      bytes.resize(random() % 64);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    }
    const std::vector<Finding> f = LintConfiguration(bytes, {});
    size_t lineEnds = 0;
    for (uint8_t b : bytes) lineEnds += b == '\n' || b == '\r';
    for (size_t i = 0; i < f.size(); ++i) {
      EXPECT_GE(f[i].line, 1u);
      EXPECT_LE(f[i].line, lineEnds + 2);
      if (i > 0) {
        EXPECT_LE(f[i - 1].line, f[i].line);
      }
      EXPECT_FALSE(f[i].text.empty());
    }
  }
}

}  // namespace
