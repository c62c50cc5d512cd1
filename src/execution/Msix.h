#pragma once
// Packaged applications (MSIX/AppX) through the Windows Runtime package
// manager: deployment of a package file for the current user, and the lookup
// of an installed package's version.
#include <cstdint>
#include <string>

namespace prereq {

inline constexpr uint32_t kMsixDeploymentFailed = 1627;

// The deployment of one package file. Install() must run on a thread that is
// in the multithreaded apartment; it waits without time limit for the
// deployment to complete.
class MsixInstaller {
 public:
  explicit MsixInstaller(std::wstring packagePath) : packagePath_(std::move(packagePath)) {}
  // True when the package manager completed the deployment.
  bool Install();

 private:
  std::wstring packagePath_;
};

// Deploys the package on worker threads of its own and waits for them:
// 0 when deployed, kMsixDeploymentFailed (1627) otherwise.
uint32_t DeployMsixPackage(const std::wstring& path);

namespace MsixFinder {
// The version text of the current user's first installed package whose name
// is `name` (with case) and, when given, whose publisher and architecture
// text ("x86", "arm", "x64", "neutral", "arm64") equal these; empty when none.
std::wstring Find(const std::wstring& name, const std::wstring& publisher,
                  const std::wstring& architecture);
}  // namespace MsixFinder

}  // namespace prereq
