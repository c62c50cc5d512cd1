// The configuration checker over any bytes: the decoding of the file, the
// parser with its passed-over lines, the loaders and every rule. Properties:
// it finishes, its findings are ordered by line, every line exists (at most
// one past the last line end), no text is empty, and the exit status agrees
// with the counts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "authoring/LintRules.h"

using namespace prereq;

namespace {
void Check(bool property) {
  if (!property) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  LintEnvironment env;
  // Shipped files exist or not by their name's length: both answers happen.
  env.shippedFileExists = [](const std::wstring& relative) { return relative.size() % 2 == 0; };
  const std::vector<Finding> findings = LintConfiguration(bytes, env);
  size_t lineEnds = 0;
  for (uint8_t b : bytes) lineEnds += b == '\n' || b == '\r';
  for (size_t i = 0; i < findings.size(); ++i) {
    Check(findings[i].line >= 1 && findings[i].line <= lineEnds + 2);
    Check(!findings[i].text.empty());
    if (i > 0) Check(findings[i - 1].line <= findings[i].line);
  }
  const FindingCounts counts = CountFindings(findings);
  Check(counts.errors + counts.warnings == findings.size());
  Check(LintExitStatus(counts) == (counts.errors ? 2 : counts.warnings ? 1 : 0));
  return 0;
}
