// prereq-lint: the command line of the configuration checker and of the
// stamping of branded copies. The same source serves the Linux command and
// the Windows console program; only ToolIo differs.
#include "authoring/LintTool.h"

#include <optional>

#include "authoring/DocTables.h"
#include "authoring/LintRules.h"
#include "authoring/PeResources.h"
#include "authoring/Stamp.h"
#include "authoring/ToolIo.h"
#include "authoring/VersionInfo.h"
#include "platform/core/Json.h"
#include "platform/core/TextCodec.h"
#include "platform/core/TextFormat.h"
#include "resources/version.h"

namespace prereq {

namespace {

constexpr int kUsageError = 2;

const wchar_t kUsage[] =
    L"Usage:\n"
    L"  prereq-lint [--json] [--setup-folder DIR] CONFIG.ini...\n"
    L"      Checks configuration files as a run reads them. Findings are printed as\n"
    L"      FILE:LINE: error|warning: TEXT; --json prints them as JSON instead.\n"
    L"      Shipped files are looked for in DIR (default: the folder of each\n"
    L"      configuration) when ExtractionFolder is [SETUPEXEDIR] or below it.\n"
    L"      Exit status: 0 clean, 1 warnings, 2 errors.\n"
    L"  prereq-lint --stamp PROGRAM.exe --output COPY.exe --product-name NAME\n"
    L"              [--file-description TEXT] [--icon FILE.ico] [--portable]\n"
    L"      Writes a copy of the program with the product name (the windows'\n"
    L"      title), file description and icon. On Windows the system's resource\n"
    L"      update functions do it unless --portable is given.\n"
    L"  prereq-lint --show-version PROGRAM.exe\n"
    L"      Prints the product name, file description and file version.\n"
    L"  prereq-lint --doc-tables | --doc-table NAME | --keys SECTION\n"
    L"      The guide's tables that the program holds (see scripts/doc-tables.py).\n"
    L"  prereq-lint --version | --help\n";

struct Arguments {
  std::vector<std::wstring> list;
  size_t at = 0;
  bool More() const { return at < list.size(); }
  const std::wstring& Next() { return list[at++]; }
};

int Usage(std::wstring_view problem) {
  toolio::Err(L"prereq-lint: " + std::wstring(problem) + L"\n" + kUsage);
  return kUsageError;
}

int Check(Arguments& args) {
  bool json = false;
  std::optional<std::wstring> setupFolder;
  std::vector<std::wstring> files;
  while (args.More()) {
    const std::wstring& a = args.Next();
    if (a == L"--json") {
      json = true;
    } else if (a == L"--setup-folder") {
      if (!args.More()) return Usage(L"--setup-folder needs a folder");
      setupFolder = args.Next();
    } else if (a.size() > 1 && a[0] == L'-' && a != L"-") {
      return Usage(L"unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return Usage(L"no configuration file given");

  FindingCounts total;
  JsonWriter out;
  out.BeginObject().Key("files").BeginArray();
  for (const std::wstring& file : files) {
    std::vector<uint8_t> bytes;
    std::wstring error;
    std::vector<Finding> findings;
    if (!toolio::ReadFileBytes(file, bytes, error)) {
      findings.push_back({1, Severity::Error, L"cannot read the file: " + error});
    } else {
      LintEnvironment env;
      const std::wstring folder = setupFolder ? *setupFolder : toolio::FolderOfPath(file);
      env.shippedFileExists = [folder](const std::wstring& relative) {
        return toolio::ShippedFileExists(folder, relative);
      };
      findings = LintConfiguration(bytes, env);
    }
    const FindingCounts counts = CountFindings(findings);
    total.errors += counts.errors;
    total.warnings += counts.warnings;
    if (json) {
      out.BeginObject().Key("file").String(file).Key("findings").BeginArray();
      for (const Finding& f : findings)
        out.BeginObject()
            .Key("line").Number(static_cast<int64_t>(f.line))
            .Key("severity").String(f.severity == Severity::Error ? "error" : "warning")
            .Key("text").String(f.text)
            .EndObject();
      out.EndArray()
          .Key("errors").Number(static_cast<int64_t>(counts.errors))
          .Key("warnings").Number(static_cast<int64_t>(counts.warnings))
          .EndObject();
    } else {
      std::wstring text;
      for (const Finding& f : findings) text += FormatFinding(file, f) + L"\n";
      toolio::Out(text);
    }
  }
  out.EndArray()
      .Key("errors").Number(static_cast<int64_t>(total.errors))
      .Key("warnings").Number(static_cast<int64_t>(total.warnings))
      .Key("status").Number(LintExitStatus(total))
      .EndObject();
  if (json) toolio::OutUtf8(out.Text());
  else if (total.errors + total.warnings > 0)
    toolio::Err(Format(L"%u error(s), %u warning(s)\n",
                       {static_cast<unsigned>(total.errors), static_cast<unsigned>(total.warnings)}));
  return LintExitStatus(total);
}

int Stamp(Arguments& args, const std::wstring& program) {
  std::wstring output, iconPath;
  StampRequest request;
  bool haveName = false, portable = false;
  while (args.More()) {
    const std::wstring& a = args.Next();
    auto value = [&](std::wstring& into) {
      if (!args.More()) return false;
      into = args.Next();
      return true;
    };
    if (a == L"--output") {
      if (!value(output)) return Usage(L"--output needs a file");
    } else if (a == L"--product-name") {
      if (!value(request.productName)) return Usage(L"--product-name needs a text");
      haveName = true;
    } else if (a == L"--file-description") {
      std::wstring text;
      if (!value(text)) return Usage(L"--file-description needs a text");
      request.fileDescription = text;
    } else if (a == L"--icon") {
      if (!value(iconPath)) return Usage(L"--icon needs a file");
    } else if (a == L"--portable") {
      portable = true;
    } else {
      return Usage(L"unknown option " + a);
    }
  }
  if (output.empty()) return Usage(L"--stamp needs --output");
  if (!haveName || request.productName.empty()) return Usage(L"--stamp needs a --product-name");
  if (output == program) return Usage(L"--output must not be the program itself");

  std::vector<uint8_t> image;
  std::wstring error;
  auto fail = [](const std::wstring& what, const std::wstring& why) {
    toolio::Err(L"prereq-lint: " + what + L": " + why + L"\n");
    return 2;
  };
  if (!toolio::ReadFileBytes(program, image, error)) return fail(program, error);
  if (!iconPath.empty() && !toolio::ReadFileBytes(iconPath, request.iconFile, error))
    return fail(iconPath, error);

  std::vector<Resource> existing;
  std::vector<ResourceChange> changes;
  if (!ReadResources(image, existing, error) || !PlanStamp(existing, request, changes, error))
    return fail(program, error);
  if (portable || !toolio::HaveSystemResourceUpdate()) {
    std::vector<uint8_t> stamped;
    if (!WriteResources(image, ApplyChanges(existing, changes), stamped, error))
      return fail(program, error);
    if (!toolio::WriteFileBytes(output, stamped, error)) return fail(output, error);
    toolio::CopyPermissions(program, output);
  } else {
    if (!toolio::WriteFileBytes(output, image, error)) return fail(output, error);
    if (!toolio::SystemUpdateResources(output, changes, error)) return fail(output, error);
  }
  toolio::Out(L"stamped " + output + L": product name \"" + request.productName + L"\"\n");
  return 0;
}

int ShowVersion(const std::wstring& program) {
  std::vector<uint8_t> image;
  std::wstring error;
  std::vector<Resource> resources;
  if (!toolio::ReadFileBytes(program, image, error) || !ReadResources(image, resources, error)) {
    toolio::Err(L"prereq-lint: " + program + L": " + error + L"\n");
    return 2;
  }
  size_t icons = 0;
  std::wstring text;
  for (const Resource& r : resources) {
    if (!r.type.isName && r.type.id == kResourceGroupIcon) ++icons;
    if (r.type.isName || r.type.id != kResourceVersion || !text.empty()) continue;
    VersionNode root;
    if (!ParseVersionInfo(r.data, root)) {
      toolio::Err(L"prereq-lint: " + program + L": malformed version resource\n");
      return 2;
    }
    uint16_t v[4] = {0, 0, 0, 0};
    GetFixedFileVersion(root, v);
    text += L"ProductName: " + GetVersionString(root, L"ProductName") + L"\n";
    text += L"FileDescription: " + GetVersionString(root, L"FileDescription") + L"\n";
    text += L"FileVersion: " + GetVersionString(root, L"FileVersion") + L"\n";
    text += Format(L"Fixed file version: %u.%u.%u.%u\n", {unsigned{v[0]}, unsigned{v[1]}, unsigned{v[2]}, unsigned{v[3]}});
  }
  if (text.empty()) text = L"no version resource\n";
  text += Format(L"Icon groups: %u\n", {static_cast<unsigned>(icons)});
  toolio::Out(text);
  return 0;
}

}  // namespace

int RunLintTool(const std::vector<std::wstring>& arguments) {
  Arguments args{arguments, 0};
  if (!args.More()) return Usage(L"no configuration file given");
  const std::wstring& first = arguments[0];
  if (first == L"--help" || first == L"-h") {
    toolio::Out(kUsage);
    return 0;
  }
  if (first == L"--version") {
    toolio::Out(L"prereq-lint " + DecodeUtf8(PREREQ_VERSION_TEXT) + L"\n");
    return 0;
  }
  if (first == L"--stamp") {
    args.Next();
    if (!args.More()) return Usage(L"--stamp needs the program");
    const std::wstring program = args.Next();
    return Stamp(args, program);
  }
  if (first == L"--show-version") {
    if (arguments.size() != 2) return Usage(L"--show-version needs the program");
    return ShowVersion(arguments[1]);
  }
  if (first == L"--doc-table") {
    std::wstring md;
    if (arguments.size() != 2 || !DocTable(arguments[1], md)) {
      std::wstring names;
      for (const std::wstring& n : DocTableNames()) names += L" " + n;
      return Usage(L"--doc-table needs one of:" + names);
    }
    toolio::Out(md);
    return 0;
  }
  if (first == L"--doc-tables") {
    std::wstring names;
    for (const std::wstring& n : DocTableNames()) names += n + L"\n";
    toolio::Out(names);
    return 0;
  }
  if (first == L"--keys") {
    std::wstring lines;
    if (arguments.size() != 2 || !SectionKeyList(arguments[1], lines))
      return Usage(L"--keys needs GeneralOptions, App, SearchEntry or PREREQ_CHAINER");
    toolio::Out(lines);
    return 0;
  }
  return Check(args);
}

}  // namespace prereq
