# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Exception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExceptionRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FailurePoints.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathForms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextCodec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Json.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinkFreePathRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WinText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TempFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Security.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Handles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExceptionHandling.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExceptionPresenter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinkFreePaths.cpp
)
