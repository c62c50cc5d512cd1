#include "evaluation/FolderPropertyNames.h"

namespace prereq {

namespace {

constexpr KnownFolderProperty kKnownFolderProperties[] = {
    {L"AdminToolsFolder", KnownFolder::AdminTools, L"FOLDERID_AdminTools"},
    {L"AppDataFolder", KnownFolder::RoamingAppData, L"FOLDERID_RoamingAppData"},
    {L"CommonAppDataFolder", KnownFolder::ProgramData, L"FOLDERID_ProgramData"},
    {L"CommonFiles64Folder", KnownFolder::ProgramFilesCommon, L"FOLDERID_ProgramFilesCommon"},
    {L"CommonFilesFolder", KnownFolder::ProgramFilesCommon, L"FOLDERID_ProgramFilesCommon"},
    {L"DesktopFolder", KnownFolder::Desktop, L"FOLDERID_Desktop"},
    {L"FavoritesFolder", KnownFolder::Favorites, L"FOLDERID_Favorites"},
    {L"FontsFolder", KnownFolder::Fonts, L"FOLDERID_Fonts"},
    {L"LocalAppDataFolder", KnownFolder::LocalAppData, L"FOLDERID_LocalAppData"},
    {L"MyPicturesFolder", KnownFolder::Pictures, L"FOLDERID_Pictures"},
    {L"NetHoodFolder", KnownFolder::NetHood, L"FOLDERID_NetHood"},
    {L"PersonalFolder", KnownFolder::Documents, L"FOLDERID_Documents"},
    {L"PrintHoodFolder", KnownFolder::PrintHood, L"FOLDERID_PrintHood"},
    {L"ProgramFiles64Folder", KnownFolder::ProgramFiles, L"FOLDERID_ProgramFiles"},
    {L"ProgramFilesFolder", KnownFolder::ProgramFiles, L"FOLDERID_ProgramFiles"},
    {L"ProgramMenuFolder", KnownFolder::Programs, L"FOLDERID_Programs"},
    {L"RecentFolder", KnownFolder::Recent, L"FOLDERID_Recent"},
    {L"SendToFolder", KnownFolder::SendTo, L"FOLDERID_SendTo"},
    {L"StartMenuFolder", KnownFolder::StartMenu, L"FOLDERID_StartMenu"},
    {L"System16Folder", KnownFolder::SystemX86, L"FOLDERID_SystemX86"},
    {L"System64Folder", KnownFolder::System, L"FOLDERID_System"},
    {L"StartupFolder", KnownFolder::Startup, L"FOLDERID_Startup"},
    {L"TemplateFolder", KnownFolder::Templates, L"FOLDERID_Templates"},
    {L"AllUsersDesktopFolder", KnownFolder::PublicDesktop, L"FOLDERID_PublicDesktop"},
    {L"ProgramFiles", KnownFolder::ProgramFiles, L"FOLDERID_ProgramFiles"},
};

constexpr SpecialFolderProperty kSpecialFolderProperties[] = {
    {L"ProgramFiles64Folder", SpecialFolder::ProgramFiles64,
     L"the environment variable ProgramW6432 when it is defined (the 64-bit program files "
     L"folder on 64-bit Windows), otherwise the known folder below"},
    {L"SystemFolder", SpecialFolder::System,
     L"FOLDERID_System in searches of a prerequisite with option \"x\", FOLDERID_SystemX86 "
     L"everywhere else"},
    {L"System32Folder", SpecialFolder::System32, L"the system directory as Windows reports it"},
    {L"WindowsFolder", SpecialFolder::Windows, L"the Windows directory"},
    {L"WindowsVolume", SpecialFolder::WindowsVolume,
     L"the drive of the Windows directory, such as C:\\"},
    {L"TempFolder", SpecialFolder::Temp, L"the program's temporary folder"},
    {L"SETUPEXEDIR", SpecialFolder::SetupExeDir, L"the folder that holds the program itself"},
};

}  // namespace

std::span<const KnownFolderProperty> KnownFolderProperties() { return kKnownFolderProperties; }
std::span<const SpecialFolderProperty> SpecialFolderProperties() { return kSpecialFolderProperties; }

bool IsFolderPropertyName(std::wstring_view name) {
  for (const SpecialFolderProperty& p : kSpecialFolderProperties)
    if (p.name == name) return true;
  for (const KnownFolderProperty& p : kKnownFolderProperties)
    if (p.name == name) return true;
  return false;
}

}  // namespace prereq
