# Sources of the prereq core library.
# PURE: no <windows.h>; also compiled natively for the sanitizer build.
set(PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/Exception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/TextFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/PathForms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chainer/IniFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chainer/Configuration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chainer/ModulePaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acquisition/PackagedFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/logging/LogFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluation/OsRules.cpp
)
set(PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/WinText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/TempFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/Security.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/core/Handles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/logging/Logger.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluation/OsInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluation/FileVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chainer/ChainerApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui/StatusWindow.cpp
)
