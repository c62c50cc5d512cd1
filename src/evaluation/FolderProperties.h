#pragma once
// Folder properties ([Name]), environment variables (%NAME%) and registry
// references (!ROOT\key\value!) in paths and command lines.
#include <functional>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace prereq {

// What a reference is replaced by. Folder properties answer false when the
// name is not recognised (the reference then stays as written); environment
// variables answer false when the variable is not defined.
struct ReferenceResolver {
  std::function<bool(std::wstring_view name, std::wstring& value)> folderProperty;
  std::function<bool(std::wstring_view name, std::wstring& value)> environment;
  std::function<std::wstring(std::wstring_view path)> registry;
};

// The expansion scanner: replaces every reference in one pass; replacement
// values are not scanned again; an opening character without its closing one
// leaves the rest of the text unchanged. "%NAME%" is replaced only when NAME
// is a defined variable; otherwise "%NAME" stays as written and the scan goes
// on at the second "%", which may open the next reference, as the command
// processor does: "http://host/My%20Setup%20v2.exe" stays as it is. Such a
// second sign without a partner is text, and the scan goes on after it.
std::wstring ExpandReferences(std::wstring_view text, const ReferenceResolver& resolver);

#ifdef _WIN32
// ExpandReferences with the platform's folders, environment and registry.
// `use64`: 64-bit views (only search paths of prerequisites with option "x").
std::wstring ExpandProperties(std::wstring_view text, bool use64);

// The folder that [SETUPEXEDIR] names, in place of the program's own folder:
// for a tool that evaluates a setup's configuration from elsewhere. Call it
// before the first expansion; an empty folder restores the default.
void SetSetupFolder(std::wstring_view folder);

// The folder a property names, ending with "\"; false when unrecognised.
bool ResolveFolderProperty(std::wstring_view name, bool use64, std::wstring& value);

// The predefined root key named before the first "\" of a registry path;
// nullptr when the path has no "\".
HKEY RegistryRoot(std::wstring_view path);

// Reads a value as text: string types without trailing NULs, REG_DWORD as
// "%u"; false for other types or when the query fails.
bool ReadValueText(HKEY key, const std::wstring& valueName, std::wstring& text);

// The text of the value that a whole path ROOT\key\value names; empty when
// the key cannot be opened or the value not read.
std::wstring ReadRegistryText(std::wstring_view path, bool use64);
#endif

}  // namespace prereq
