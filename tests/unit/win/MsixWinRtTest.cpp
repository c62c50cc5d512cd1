// The hand-declared Windows Runtime interfaces against their published
// definitions. The stand-in package manager shares their header, so these
// checks are what would notice a wrong IID or slot.
#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <string>

#include "execution/MsixWinRt.h"
#include "platform/core/Handles.h"

using namespace prereq;
using namespace prereq::winrt;

namespace {

using OpenAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using HashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);

// SHA-1 of the bytes, by the system (BCryptHash, Windows 10 and Wine).
bool Sha1(const std::string& data, unsigned char digest[20]) {
  static const Library bcrypt = LoadSystemLibrary(L"bcrypt.dll");
  if (!bcrypt) return false;
  const auto open = reinterpret_cast<OpenAlgorithmFn>(
      GetProcAddress(bcrypt.get(), "BCryptOpenAlgorithmProvider"));
  const auto close = reinterpret_cast<CloseAlgorithmFn>(
      GetProcAddress(bcrypt.get(), "BCryptCloseAlgorithmProvider"));
  const auto hash = reinterpret_cast<HashFn>(GetProcAddress(bcrypt.get(), "BCryptHash"));
  if (!open || !close || !hash) return false;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(open(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) return false;
  const NTSTATUS status = hash(algorithm, nullptr, 0,
                               reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                               static_cast<ULONG>(data.size()), digest, 20);
  close(algorithm, 0);
  return BCRYPT_SUCCESS(status);
}

// The IID of a parameterised interface: a name-based (version 5) UUID over
// the namespace 11f47ad5-7b73-42c0-abae-878b1e16adee and the UTF-8 type
// signature, as the Windows Runtime type system defines it.
bool ParameterisedIid(const std::string& signature, IID& iid) {
  static const unsigned char kNamespace[16] = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                               0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
  unsigned char digest[20];
  if (!Sha1(std::string(reinterpret_cast<const char*>(kNamespace), 16) + signature, digest))
    return false;
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
  iid.Data1 = (static_cast<unsigned long>(digest[0]) << 24) | (digest[1] << 16) | (digest[2] << 8) |
              digest[3];
  iid.Data2 = static_cast<unsigned short>((digest[4] << 8) | digest[5]);
  iid.Data3 = static_cast<unsigned short>((digest[6] << 8) | digest[7]);
  std::memcpy(iid.Data4, digest + 8, 8);
  return true;
}

std::string Text(const IID& iid) {
  wchar_t text[40];
  StringFromGUID2(iid, text, 40);
  return std::string(text, text + wcslen(text));
}

TEST(MsixWinRt, ParameterisedIidsFollowFromTheirSignatures) {
  // The generic interfaces and the runtime classes' default interfaces as
  // published (windows-rs bindings of the Windows SDK metadata).
  const std::string result =
      "rc(Windows.Management.Deployment.DeploymentResult;{2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3})";
  const std::string progress =
      "struct(Windows.Management.Deployment.DeploymentProgress;"
      "enum(Windows.Management.Deployment.DeploymentProgressState;i4);u4)";
  const std::string package =
      "rc(Windows.ApplicationModel.Package;{163c792f-bd75-413c-bf23-b1fe7b95d825})";
  const struct {
    const char* name;
    std::string signature;
    IID declared;
  } cases[] = {
      {"IAsyncOperationWithProgress",
       "pinterface({b5d036d7-e297-498f-ba60-0289e76e23dd};" + result + ";" + progress + ")",
       kIidDeploymentOperation},
      {"AsyncOperationWithProgressCompletedHandler",
       "pinterface({e85df41d-6aa7-46e3-a8e2-f009d840c627};" + result + ";" + progress + ")",
       kIidDeploymentCompletedHandler},
      {"IIterable<Package>", "pinterface({faa585ea-6214-4217-afda-7f46de5869b3};" + package + ")",
       kIidPackageIterable},
      {"IIterator<Package>", "pinterface({6a79e863-4300-459a-9966-cbb660963ee1};" + package + ")",
       kIidPackageIterator},
  };
  for (const auto& c : cases) {
    IID derived{};
    ASSERT_TRUE(ParameterisedIid(c.signature, derived)) << c.name;
    EXPECT_EQ(Text(derived), Text(c.declared)) << c.name;
  }
  // The runtime class default interfaces inside those signatures are the
  // ones declared.
  EXPECT_EQ(Text(kIidDeploymentResult), "{2563B9AE-B77D-4C1F-8A7B-20E6AD515EF3}");
  EXPECT_EQ(Text(kIidPackage), "{163C792F-BD75-413C-BF23-B1FE7B95D825}");
}

TEST(MsixWinRt, IidsAsPublished) {
  const struct {
    IID declared;
    const char* published;
  } cases[] = {
      {kIidUnknown, "{00000000-0000-0000-C000-000000000046}"},
      {kIidInspectable, "{AF86E2E0-B12D-4C6A-9C5A-D7AA65101E90}"},
      {kIidAgileObject, "{94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}"},
      {kIidActivationFactory, "{00000035-0000-0000-C000-000000000046}"},
      {kIidPackageManager, "{9A7D4B65-5E8F-4FC7-A2E5-7F6925CB8B53}"},
      {kIidPackageId, "{1ADB665E-37C7-4790-9980-DD7AE74E8BB2}"},
      {kIidUriRuntimeClassFactory, "{44A9796F-723E-4FDF-A218-033E75B0C084}"},
      {kIidUriRuntimeClass, "{9E365E57-48B2-4160-956F-C7385120BBFC}"},
      {kIidAsyncInfo, "{00000036-0000-0000-C000-000000000046}"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.declared), c.published);
}

// The vtable slot of a virtual method: with the Itanium C++ ABI that GCC
// uses, a pointer to a virtual member holds 1 + its byte offset in the table.
template <typename Method>
int SlotOf(Method method) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adjust;
  } raw;
  static_assert(sizeof(Method) == sizeof(raw));
  std::memcpy(&raw, &method, sizeof(raw));
  EXPECT_EQ(raw.ptr & 1u, 1u) << "not a virtual method";
  EXPECT_EQ(raw.adjust, 0);
  return static_cast<int>((raw.ptr - 1) / sizeof(void*));
}

TEST(MsixWinRt, MethodSlotsAsPublished) {
  // IUnknown 0-2, IInspectable 3-5, the interface's own methods from 6; a
  // delegate's Invoke is slot 3.
  EXPECT_EQ(SlotOf(&IActivationFactory::ActivateInstance), 6);
  EXPECT_EQ(SlotOf(&IUriRuntimeClassFactory::CreateUri), 6);
  EXPECT_EQ(SlotOf(&IDeploymentResult::get_ErrorText), 6);
  EXPECT_EQ(SlotOf(&IDeploymentResult::get_ActivityId), 7);
  EXPECT_EQ(SlotOf(&IDeploymentResult::get_ExtendedErrorCode), 8);
  EXPECT_EQ(SlotOf(&IAsyncInfo::get_Id), 6);
  EXPECT_EQ(SlotOf(&IAsyncInfo::get_Status), 7);
  EXPECT_EQ(SlotOf(&IAsyncInfo::get_ErrorCode), 8);
  EXPECT_EQ(SlotOf(&IAsyncInfo::Cancel), 9);
  EXPECT_EQ(SlotOf(&IAsyncInfo::Close), 10);
  EXPECT_EQ(SlotOf(&IDeploymentCompletedHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&IDeploymentOperation::put_Progress), 6);
  EXPECT_EQ(SlotOf(&IDeploymentOperation::get_Progress), 7);
  EXPECT_EQ(SlotOf(&IDeploymentOperation::put_Completed), 8);
  EXPECT_EQ(SlotOf(&IDeploymentOperation::get_Completed), 9);
  EXPECT_EQ(SlotOf(&IDeploymentOperation::GetResults), 10);
  EXPECT_EQ(SlotOf(&IPackageId::get_Name), 6);
  EXPECT_EQ(SlotOf(&IPackageId::get_Version), 7);
  EXPECT_EQ(SlotOf(&IPackageId::get_Architecture), 8);
  EXPECT_EQ(SlotOf(&IPackageId::get_ResourceId), 9);
  EXPECT_EQ(SlotOf(&IPackageId::get_Publisher), 10);
  EXPECT_EQ(SlotOf(&IPackage::get_Id), 6);
  EXPECT_EQ(SlotOf(&IPackageIterator::get_Current), 6);
  EXPECT_EQ(SlotOf(&IPackageIterator::get_HasCurrent), 7);
  EXPECT_EQ(SlotOf(&IPackageIterator::MoveNext), 8);
  EXPECT_EQ(SlotOf(&IPackageIterator::GetMany), 9);
  EXPECT_EQ(SlotOf(&IPackageIterable::First), 6);
  EXPECT_EQ(SlotOf(&IPackageManager::AddPackageAsync), 6);
  EXPECT_EQ(SlotOf(&IPackageManager::UpdatePackageAsync), 7);
  EXPECT_EQ(SlotOf(&IPackageManager::RemovePackageAsync), 8);
  EXPECT_EQ(SlotOf(&IPackageManager::StagePackageAsync), 9);
  EXPECT_EQ(SlotOf(&IPackageManager::RegisterPackageAsync), 10);
  EXPECT_EQ(SlotOf(&IPackageManager::FindPackages), 11);
  EXPECT_EQ(SlotOf(&IPackageManager::FindPackagesByUserSecurityId), 12);
  // Value types as published: the one-byte boolean, PackageVersion of four
  // 16-bit parts, DeploymentProgress of a 32-bit state and percentage.
  EXPECT_EQ(sizeof(Boolean), 1u);
  EXPECT_EQ(sizeof(PackageVersion), 8u);
  EXPECT_EQ(sizeof(DeploymentProgress), 8u);
  EXPECT_EQ(sizeof(AsyncStatus), 4u);
}

}  // namespace
