#include "execution/LaunchRules.h"

namespace prereq {

namespace {

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace

CommandLineField ChooseCommandLineField(std::wstring_view runOptions) {
  if (runOptions.find(L'b') != std::wstring_view::npos) return CommandLineField::BasicUi;
  if (runOptions.find(L'q') != std::wstring_view::npos) return CommandLineField::NoUi;
  return CommandLineField::Plain;
}

RebootMode RebootModeFor(std::wstring_view prereqOptions) {
  if (prereqOptions.find(L'r') == std::wstring_view::npos) return RebootMode::None;
  return prereqOptions.find(L'R') != std::wstring_view::npos ? RebootMode::WhenInstalled
                                                              : RebootMode::Always;
}

// The pattern " ?(-|/)+q" occurs exactly where a "q" follows a "-" or "/".
// Scanned by hand: the standard library's matcher recurses once per repeated
// sign (a long run of dashes in a command line overflowed the stack) and
// retries every start position.
bool IsQuietCommandLine(std::wstring_view commandLine) {
  for (size_t i = 1; i < commandLine.size(); ++i)
    if (commandLine[i] == L'q' && (commandLine[i - 1] == L'-' || commandLine[i - 1] == L'/'))
      return true;
  return false;
}

std::wstring WithLeadingSpace(std::wstring_view args) {
  std::wstring result;
  if (!args.empty() && args.front() != L' ') result = L" ";
  result += args;
  return result;
}

std::wstring_view ExtensionOf(std::wstring_view path) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring_view::npos) return {};
  const size_t slash = path.rfind(L'\\');
  if (slash != std::wstring_view::npos && slash > dot) return {};
  return path.substr(dot);
}

bool IsMsiPackagePath(std::wstring_view path) { return EqualsAsciiNoCase(ExtensionOf(path), L".msi"); }

SystemAccountRoute SystemAccountRouteFor(std::wstring_view path) {
  const std::wstring_view extension = ExtensionOf(path);
  if (EqualsAsciiNoCase(extension, L".msi")) return SystemAccountRoute::Msi;
  if (EqualsAsciiNoCase(extension, L".msp")) return SystemAccountRoute::Patch;
  if (EqualsAsciiNoCase(extension, L".msu")) return SystemAccountRoute::Update;
  return SystemAccountRoute::Direct;
}

ProcessCommand LocalSystemCommand(std::wstring_view path, std::wstring_view finalPath,
                                  std::wstring_view args, std::wstring_view systemFolder) {
  ProcessCommand command;
  const SystemAccountRoute route = SystemAccountRouteFor(path);
  if (route == SystemAccountRoute::Direct) {
    command.applicationName = path;
    command.commandLine = L"\"";
    command.commandLine += path;
    command.commandLine += L"\" ";
    command.commandLine += args;
    return command;
  }
  command.applicationName = systemFolder;
  if (!command.applicationName.empty() && command.applicationName.back() != L'\\')
    command.applicationName.push_back(L'\\');
  command.applicationName += route == SystemAccountRoute::Update ? L"wusa.exe" : L"msiexec.exe";
  command.commandLine = L"\"" + command.applicationName + L"\"";
  if (route == SystemAccountRoute::Msi) command.commandLine += L" /i";
  if (route == SystemAccountRoute::Patch) command.commandLine += L" /p";
  command.commandLine += L" \"";
  command.commandLine += finalPath;
  command.commandLine += L"\"";
  command.commandLine += args;
  return command;
}

}  // namespace prereq
