# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LogFormat.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Logger.cpp
)
