# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Versions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SearchRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Selection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OsRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OsNames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReferenceExpansion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderPropertyNames.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistrySearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProductSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OsInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KnownFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OsConditions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderProperties.cpp
)
