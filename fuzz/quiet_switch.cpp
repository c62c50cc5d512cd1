// The quiet-switch pattern of the install loop, against the standard
// library's regular expression " ?(-|/)+q" as a second opinion (on texts
// short enough for its recursive matcher), and the other text rules of the
// install loop: extensions, the msiexec test, spacing of arguments, the
// command of the system-account route, the command-line field and the reboot
// mode. Input: command line, then a path on the second line.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

#include "FuzzText.h"
#include "execution/LaunchRules.h"

using namespace prereq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 2);
  const std::wstring_view commandLine = text, path = f[1];

  const bool quiet = IsQuietCommandLine(commandLine);
  if (commandLine.size() <= 256) {
    static const std::wregex pattern(L" ?(-|/)+q", std::regex::ECMAScript);
    const bool expected = std::regex_search(commandLine.begin(), commandLine.end(), pattern);
    fuzz::Check(quiet == expected, "quiet switch disagrees with the regular expression");
  }

  const std::wstring_view ext = ExtensionOf(path);
  fuzz::Check(ext.empty() || ext.front() == L'.', "extension without its dot");
  fuzz::Check(ext.find(L'\\') == std::wstring_view::npos, "extension across a folder");
  const std::wstring args = WithLeadingSpace(f[0]);
  fuzz::Check(args.empty() || args.front() == L' ', "arguments without their space");
  const std::wstring_view system = L"C:\\Windows\\system32\\";
  const ProcessCommand command = LocalSystemCommand(path, path, args, system);
  if (IsMsiPackagePath(path))
    fuzz::Check(command.commandLine.find(path) != std::wstring::npos, "package path missing");
  // The installers are never started by a bare name.
  if (SystemAccountRouteFor(path) != SystemAccountRoute::Direct)
    fuzz::Check(command.applicationName.compare(0, system.size(), system) == 0 &&
                    command.commandLine.compare(1, system.size(), system) == 0,
                "an installer started without its full path");
  ChooseCommandLineField(f[0]);
  RebootModeFor(f[0]);
  return 0;
}
