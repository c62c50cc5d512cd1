# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ProgressRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/StatusWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgressWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TaskbarProgress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowLook.cpp
)
