# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LaunchRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MsixRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CleanupScriptRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExitCodeRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ProcessUtil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ErrorText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackageLauncher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Msix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CleanupScript.cpp
)
