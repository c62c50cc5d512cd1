# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LogFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LogFileRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Logger.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LogFileOpen.cpp
)
