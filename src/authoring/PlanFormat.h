#pragma once
// What prereq-plan found on a machine, and how it is printed: as text for
// support staff, and as JSON. Pure: Plan.cpp fills the record on Windows.
#include <cstdint>
#include <string>
#include <vector>

#include "chainer/ConfigText.h"
#include "evaluation/OsConditions.h"

namespace prereq {

struct PlanSearch {
  int number = 0;  // k of SearchType<k>
  int32_t type = 0;
  std::wstring kindName;  // empty for a SearchType that names no kind
  bool byRange = false;   // decided by VerMin/VerMax
  std::wstring searchString, verMin, verMax, refContent, searchCmdLine;
  bool ran = false;  // false: the combination was decided before this entry
  std::vector<std::wstring> values;  // what the search collected
  std::wstring value;                // the value compared (RegistryValueCompare)
  bool found = false;
};

struct PlanPrerequisite {
  int number = 0;  // n of App<n>
  std::wstring id, displayName;
  std::wstring locationKey;  // SetupFile, Url or OpenSite
  std::wstring location;     // as the run holds it (Url and OpenSite expanded)
  std::wstring options;
  // Conditions.
  std::wstring osListKey;    // the list that counts on this machine
  std::wstring osList;
  bool osAllowed = true;
  std::wstring languageList;
  bool languageAllowed = true;
  bool processorExcluded = false;
  bool detectionSkipped = false;  // option "i"
  bool conditionsChecked = true;  // false: the decision was final before (never happens once)
  // Searches.
  int32_t operatorValue = 0;
  std::vector<PlanSearch> searches;
  // The decision.
  int state = 8;
  std::wstring stateText;
  bool selected = false;
  bool present = false;
  std::wstring parentPrereq;
  // The action and what a run would use for it.
  int action = 7;
  std::wstring actionText;
  std::wstring url;          // download or site
  std::wstring target;       // where the download goes
  std::wstring runPath;      // the file the install loop starts
  std::wstring commandLine;  // its command line as passed
  std::wstring commandLineKey;
  // What its package's return codes mean (ExitCodes over the built-in
  // table; any other code is a failure); empty for an OpenSite prerequisite.
  struct ExitCode {
    uint32_t code = 0;
    std::wstring meaning;
    bool configured = false;  // from its ExitCodes
  };
  std::vector<ExitCode> exitCodes;
  // The addresses a download tries, in order: Url, then Url2, Url3, ...
  std::vector<std::wstring> addresses;
  // The signature of the present or shipped file, when its Signer was
  // checked (a download's is checked once it arrived).
  bool signatureRead = false;
  std::wstring signatureFile;  // the file whose signature was read
  std::wstring signerName;     // empty when no signer was found
  std::wstring signerThumbprint;
  bool signatureAccepted = false;
  std::wstring signatureText;  // the verdict as the log's "Signature check:" line gives it
};

struct PlanMachine : MachineFacts {
  bool localSystem = false;
};

struct Plan {
  std::wstring configPath;
  std::wstring setupPath;
  // How the configuration file was read.
  ConfigEncoding encoding = ConfigEncoding::Empty;
  ConfigLineEnds lineEnds = ConfigLineEnds::None;
  PlanMachine machine;
  std::wstring options;  // the general Options letters
  std::wstring mode;     // "quiet", "basic-ui" or "search-only"
  bool overlapped = false;  // general option "o"
  std::wstring downloadFolder, extractionFolder;
  int listed = 0;        // the highest App<n> that [PREREQUISITES] lists
  std::wstring listEnd;  // why the list ended early, or empty
  std::vector<PlanPrerequisite> prereqs;
  bool anyToObtain = false;
};

// The name of an action (the numbering of PrereqState).
std::wstring ActionName(int action);

std::wstring FormatPlanText(const Plan& plan);
std::string FormatPlanJson(const Plan& plan);

}  // namespace prereq
