#pragma once
// Text rules of the install loop: which command line a run uses, the reboot
// mode of a prerequisite, quiet switches, and the command that starts a
// package under the system account.
#include <cstdint>
#include <string>
#include <string_view>

namespace prereq {

// Which of a prerequisite's command lines the install loop passes.
enum class CommandLineField { BasicUi, NoUi, Plain };

// By the run-level letters (with case): "b" the basic-UI line, else "q" the
// no-UI line, else the plain one.
CommandLineField ChooseCommandLineField(std::wstring_view runOptions);

// 0 no reboot rule, 1 reboot after the package, 2 reboot after the package
// when the prerequisite is then detected as installed. "r" enables the rule,
// "R" with it selects mode 2; "R" alone sets nothing.
enum class RebootMode : int32_t { None = 0, Always = 1, WhenInstalled = 2 };
RebootMode RebootModeFor(std::wstring_view prereqOptions);

// True when a run of "-" or "/" followed by a lower-case "q" occurs anywhere
// in the command line (/q, /qn, /quiet, -q, --q, /-q; not /Q).
bool IsQuietCommandLine(std::wstring_view commandLine);

// Arguments for a process command line: one space in front of non-empty
// arguments that do not begin with one.
std::wstring WithLeadingSpace(std::wstring_view args);

// The extension of the path: the text from its last "." to the end, when that
// "." comes after the last "\"; empty otherwise.
std::wstring_view ExtensionOf(std::wstring_view path);

// True when the extension is exactly ".msi" (compared without regard to
// ASCII case): such packages are installed through msiexec.exe.
bool IsMsiPackagePath(std::wstring_view path);

// How a package starts under the system account, by its extension (exactly
// four characters, compared without regard to ASCII case): ".msi" through
// msiexec.exe /i, ".msp" through msiexec.exe /p, ".msu" through wusa.exe;
// anything else is started itself. CreateProcess cannot start the three
// package kinds themselves.
enum class SystemAccountRoute { Msi, Patch, Update, Direct };
SystemAccountRoute SystemAccountRouteFor(std::wstring_view path);

// How a package is started with CreateProcess under the system account.
struct ProcessCommand {
  std::wstring applicationName;  // empty: none
  std::wstring commandLine;
};

// The installer programs are started by their full path in `systemFolder`
// (with or without its trailing backslash), with that path as the application
// name and, quoted, as the first word of the command line: a bare
// "msiexec.exe" would be looked for in the program's own folder and in the
// current folder first. ".msi" and ".msp" files get the quoted `finalPath`
// after "/i" or "/p"; ".msu" files get it as wusa.exe's first argument.
// Anything else is started itself with its quoted path followed by a space and
// the arguments. `args` is already resolved and spaced (WithLeadingSpace).
ProcessCommand LocalSystemCommand(std::wstring_view path, std::wstring_view finalPath,
                                  std::wstring_view args, std::wstring_view systemFolder);

}  // namespace prereq
