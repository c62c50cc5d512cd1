#include "authoring/PlanFormat.h"

#include "acquisition/OverlapRules.h"
#include "chainer/RunReportRules.h"
#include "platform/core/Json.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

std::wstring Q(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::wstring Join(const std::vector<std::wstring>& items) {
  std::wstring out;
  for (const std::wstring& item : items) out += (out.empty() ? L"" : L", ") + Q(item);
  return out;
}

std::wstring Bounds(const PlanSearch& s) {
  if (s.verMin.empty() && s.verMax.empty()) return L"no bounds: any value counts";
  return L"bounds " + (s.verMin.empty() ? std::wstring(L"-") : s.verMin) + L" to " +
         (s.verMax.empty() ? std::wstring(L"-") : s.verMax);
}

std::wstring SearchLine(const PlanSearch& s) {
  std::wstring head = Format(L"%d. SearchType %d", {s.number, s.type});
  head += s.kindName.empty() ? L" (no such kind)" : L" " + s.kindName;
  head += L" " + Q(s.searchString);
  if (!s.ran) return head + L": not run, the result was already decided";
  if (s.kindName.empty()) return head + L": runs nothing, counts as found";
  std::wstring what;
  if (s.byRange) {
    what = s.values.empty() ? L"found nothing" : L"found " + Join(s.values);
    what += L"; " + Bounds(s);
  } else if (s.type == 9) {
    what = L"value " + (s.value.empty() && !s.found ? std::wstring(L"not read") : Q(s.value)) +
           L", compared with " + Q(s.refContent);
  } else if (s.type == 10) {
    what = L"ran with " + Q(s.searchCmdLine);
  }
  return head + (what.empty() ? L"" : L": " + what) + L" -> " + (s.found ? L"found" : L"not found");
}

std::wstring ActionLine(const PlanPrerequisite& p) {
  std::wstring line = ActionName(p.action);
  switch (p.action) {
    case 1:
    case 5:
      line += L": run " + Q(p.runPath) + L" with " + p.commandLineKey + L" " + Q(p.commandLine);
      break;
    case 2:
      line += L": download " + Q(p.url) + L" to " + Q(p.target) + L", then run it with " +
              p.commandLineKey + L" " + Q(p.commandLine);
      break;
    case 3:
      line += L": open " + Q(p.url) + L" in the browser";
      break;
    default:
      break;
  }
  return line;
}

std::wstring ExitCodesLine(const PlanPrerequisite& p) {
  std::wstring line;
  for (const PlanPrerequisite::ExitCode& e : p.exitCodes) {
    if (!line.empty()) line += L", ";
    line += Format(L"%u ", {e.code}) + e.meaning + (e.configured ? L" (ExitCodes)" : L"");
  }
  return line + L"; any other code: failure";
}

}  // namespace

std::wstring ActionName(int action) {
  switch (action) {
    case 0: return L"installed";
    case 1: return L"run the shipped file";
    case 2: return L"download, then run";
    case 3: return L"open the site for a manual download";
    case 4: return L"not applicable on this system";
    case 5: return L"run the file already downloaded";
    case 7: return L"not selected: nothing happens";
    default: return L"undefined";
  }
}

std::wstring FormatPlanText(const Plan& plan) {
  const PlanMachine& m = plan.machine;
  std::wstring t;
  t += L"Plan for " + plan.configPath + L"\n";
  t += L"  as read by " + plan.setupPath + L" (nothing is downloaded or installed; detection "
                                           L"programs run as in a run)\n";
  t += L"  file: " + DescribeConfigForm({plan.encoding, plan.lineEnds, false, {}}) + L"\n";
  t += L"This machine:\n";
  t += L"  Windows " + Format(L"%u.%u build %u", {m.majorVersion, m.minorVersion, m.buildNumber}) +
       (m.servicePack ? Format(L" SP%u", {m.servicePack}) : std::wstring()) +
       (m.server ? L", server" : L", workstation") +
       (m.is64BitWindows ? L", 64-bit Windows" : L", 32-bit Windows") + L"\n";
  t += L"  system names: " + Q(m.detailedName) + L" (detailed), " + Q(m.generalName) +
       L" (general)\n";
  t += L"  system language: " + Format(L"%u", {m.languageId}) + L" " + m.languageName + L"\n";
  t += L"  processor: " +
       (m.nativeMachineKnown ? MachineName(m.nativeMachine) : std::wstring(L"not reported")) + L"\n";
  t += std::wstring(L"  account: ") + (m.localSystem ? L"LocalSystem" : L"not LocalSystem") + L"\n";
  t += L"Run: Options " + Q(plan.options) + L": ";
  if (plan.mode == L"quiet") t += L"quiet; packages get their NoUiCommandLine\n";
  else if (plan.mode == L"basic-ui") t += L"basic user interface; packages get their BasicUiCommandLine\n";
  else t += L"neither \"q\" nor \"b\": a run searches, then obtains and installs nothing\n";
  if (plan.overlapped && plan.mode != L"search-only")
    t += L"  overlapped run (\"o\"): downloads run ahead of the install loop, at most " +
         Format(L"%u", {static_cast<unsigned>(kMaxParallelDownloads)}) +
         L" at once; each package installs in list order once its file was accepted\n";
  t += L"  download folder: " + plan.downloadFolder + L"\n";
  t += L"  extraction folder: " + plan.extractionFolder + L"\n";
  if (!plan.listEnd.empty()) t += L"  " + plan.listEnd + L"\n";

  for (const PlanPrerequisite& p : plan.prereqs) {
    t += L"\n" + Format(L"App%d", {p.number}) + L" " + Q(p.displayName) + L" (" + p.locationKey +
         L" " + Q(p.location) + L")\n";
    if (!p.options.empty()) t += L"  options: " + Q(p.options) + L"\n";
    t += L"  conditions:\n";
    t += L"    " + p.osListKey + L" " + Q(p.osList) + L": " +
         (p.osAllowed ? L"allows" : L"excludes") + L" " + Q(m.detailedName) + L" / " +
         Q(m.generalName) + L"\n";
    t += L"    LanguageList " + Q(p.languageList) + L": " +
         (p.languageAllowed ? L"allows" : L"excludes") + Format(L" %u", {m.languageId}) + L"\n";
    if (p.processorExcluded) t += L"    processor: excluded by option \"c\" or \"d\"\n";
    if (p.state != 4) {
      t += L"  searches (Operator " + Format(L"%d", {p.operatorValue}) +
           (p.operatorValue == 0 ? L", all must be found" : p.operatorValue == 1 ? L", one is enough" : L", never installed") +
           L"):\n";
      if (p.detectionSkipped) t += L"    skipped: option \"i\"\n";
      else if (p.searches.empty()) t += L"    none\n";
      for (const PlanSearch& s : p.searches) t += L"    " + SearchLine(s) + L"\n";
    }
    t += L"  decision: " + p.stateText + L"\n";
    t += std::wstring(L"  selected: ") + (p.selected ? L"yes" : L"no") +
         (p.parentPrereq.empty() ? L"" : L" (parent " + Q(p.parentPrereq) + L")") + L"\n";
    t += L"  action: " + ActionLine(p) + L"\n";
    if (!p.exitCodes.empty()) t += L"  exit codes: " + ExitCodesLine(p) + L"\n";
    if (p.addresses.size() > 1) {
      t += L"  addresses, tried in this order:\n";
      for (size_t k = 0; k < p.addresses.size(); ++k)
        t += Format(L"    %d. ", {static_cast<int>(k) + 1}) + Q(p.addresses[k]) + L"\n";
    }
    if (p.signatureRead)
      t += L"  signature of " + Q(p.signatureFile) + L": " + p.signatureText + L"\n";
  }
  t += L"\n";
  t += plan.anyToObtain ? L"A run would obtain and install the selected prerequisites.\n"
                        : L"No prerequisite must be installed.\n";
  return t;
}

std::string FormatPlanJson(const Plan& plan) {
  const PlanMachine& m = plan.machine;
  JsonWriter j;
  j.BeginObject();
  j.Key("config").String(plan.configPath);
  j.Key("setup").String(plan.setupPath);
  j.Key("encoding").String(ConfigEncodingKey(plan.encoding));
  j.Key("lineEnds").String(ConfigLineEndsKey(plan.lineEnds));
  WriteMachineMembers(j.Key("machine").BeginObject(), m);
  j.Key("localSystem").Bool(m.localSystem).EndObject();
  j.Key("options").String(plan.options);
  j.Key("mode").String(plan.mode);
  j.Key("overlapped").Bool(plan.overlapped);
  j.Key("downloadFolder").String(plan.downloadFolder);
  j.Key("extractionFolder").String(plan.extractionFolder);
  j.Key("listed").Number(plan.listed);
  j.Key("listEnd").String(plan.listEnd);
  j.Key("prerequisites").BeginArray();
  for (const PlanPrerequisite& p : plan.prereqs) {
    j.BeginObject()
        .Key("app").Number(p.number)
        .Key("id").String(p.id)
        .Key("displayName").String(p.displayName)
        .Key("locationKey").String(p.locationKey)
        .Key("location").String(p.location)
        .Key("options").String(p.options);
    j.Key("conditions").BeginObject()
        .Key("osListKey").String(p.osListKey)
        .Key("osList").String(p.osList)
        .Key("osAllowed").Bool(p.osAllowed)
        .Key("languageList").String(p.languageList)
        .Key("languageAllowed").Bool(p.languageAllowed)
        .Key("processorExcluded").Bool(p.processorExcluded)
        .EndObject();
    j.Key("operator").Number(p.operatorValue);
    j.Key("detectionSkipped").Bool(p.detectionSkipped);
    j.Key("searches").BeginArray();
    for (const PlanSearch& s : p.searches) {
      j.BeginObject()
          .Key("number").Number(s.number)
          .Key("searchType").Number(s.type)
          .Key("kind").String(s.kindName)
          .Key("searchString").String(s.searchString)
          .Key("verMin").String(s.verMin)
          .Key("verMax").String(s.verMax)
          .Key("refContent").String(s.refContent)
          .Key("searchCmdLine").String(s.searchCmdLine)
          .Key("ran").Bool(s.ran);
      j.Key("values").BeginArray();
      for (const std::wstring& v : s.values) j.String(v);
      j.EndArray();
      j.Key("value").String(s.value).Key("found").Bool(s.found).EndObject();
    }
    j.EndArray();
    j.Key("state").Number(p.state)
        .Key("decision").String(p.stateText)
        .Key("selected").Bool(p.selected)
        .Key("present").Bool(p.present)
        .Key("parentPrereq").String(p.parentPrereq);
    j.Key("action").BeginObject()
        .Key("code").Number(p.action)
        .Key("name").String(ActionName(p.action))
        .Key("url").String(p.url)
        .Key("target").String(p.target)
        .Key("run").String(p.runPath)
        .Key("commandLineKey").String(p.commandLineKey)
        .Key("commandLine").String(p.commandLine)
        .EndObject();
    j.Key("exitCodes").BeginArray();
    for (const PlanPrerequisite::ExitCode& e : p.exitCodes)
      j.BeginObject()
          .Key("code").Number(e.code)
          .Key("meaning").String(e.meaning)
          .Key("configured").Bool(e.configured)
          .EndObject();
    j.EndArray();
    j.Key("addresses").BeginArray();
    for (const std::wstring& a : p.addresses) j.String(a);
    j.EndArray();
    if (p.signatureRead) {
      j.Key("signature").BeginObject()
          .Key("file").String(p.signatureFile)
          .Key("signer").String(p.signerName)
          .Key("thumbprint").String(p.signerThumbprint)
          .Key("accepted").Bool(p.signatureAccepted)
          .Key("text").String(p.signatureText)
          .EndObject();
    } else {
      j.Key("signature").Null();
    }
    j.EndObject();
  }
  j.EndArray();
  j.Key("anyToObtain").Bool(plan.anyToObtain);
  j.EndObject();
  return j.Text();
}

}  // namespace prereq
