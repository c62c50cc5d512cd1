#include "execution/Msix.h"

namespace prereq {

bool MsixInstaller::Install() { return false; }

uint32_t DeployMsixPackage(const std::wstring&) { return kMsixDeploymentFailed; }

std::wstring MsixFinder::Find(const std::wstring&, const std::wstring&, const std::wstring&) {
  return {};
}

}  // namespace prereq
