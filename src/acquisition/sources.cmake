# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DownloadRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackagedFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Md5.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StreamDigest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TransferRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AcceptanceRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FailureTextRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SignerRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OverlapRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/PrerequisiteRunner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OverlappedRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadPresence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Acceptance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Authenticode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Sha256.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinInet.cpp
)
