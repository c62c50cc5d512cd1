// Entry of prereq-lint: the arguments as wide texts, then the shared tool.
#include <string>
#include <vector>

#include "authoring/LintTool.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  return prereq::RunLintTool(args);
}
#else
#include "platform/core/TextCodec.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(prereq::DecodeUtf8(argv[i]));
  return prereq::RunLintTool(args);
}
#endif
