#pragma once
// The Windows Runtime interfaces of the package manager that the deployment
// and the lookup use, declared from their published slot layout. The
// system's and the toolchain's headers are not used for these: they declare
// the one-byte Windows Runtime boolean four bytes wide.
//
// The stand-in package manager of the tests is built from this header, so a
// wrong IID or slot here could never fail a test against it. Every IID and
// method order below was therefore checked against an independent public
// source: the bindings that the windows-rs crate (github.com/microsoft/
// windows-rs) generates from the Windows SDK metadata, in
// crates/libs/windows/src/Windows/... (named "windows-rs" below with the
// file and the vtable struct); the parameterised IIDs were derived again
// from their type signatures (see MsixWinRtTest.cpp, which also checks
// every slot). No IID or slot had to be corrected.
#include <windows.h>
#include <inspectable.h>

#include <cstdint>

namespace prereq::winrt {

// The Windows Runtime boolean is one byte (windows-rs passes *mut bool).
using Boolean = uint8_t;
static_assert(sizeof(Boolean) == 1);

// windows-rs Foundation/mod.rs: AsyncStatus(i32), Started 0 ... Error 3.
enum AsyncStatus : int32_t {
  AsyncStarted = 0,
  AsyncCompleted = 1,
  AsyncCanceled = 2,
  AsyncError = 3,
};
static_assert(sizeof(AsyncStatus) == 4);

// windows-rs Management/Deployment/mod.rs: DeploymentOptions(u32), None 0.
inline constexpr uint32_t kDeploymentOptionsNone = 0;

// windows-rs ApplicationModel/mod.rs: PackageVersion {Major, Minor, Build,
// Revision: u16}.
struct PackageVersion {
  uint16_t Major;
  uint16_t Minor;
  uint16_t Build;
  uint16_t Revision;
};
static_assert(sizeof(PackageVersion) == 8);

// windows-rs Management/Deployment/mod.rs: DeploymentProgress {state:
// DeploymentProgressState(i32), percentage: u32}; its signature is
// "struct(Windows.Management.Deployment.DeploymentProgress;enum(Windows.
// Management.Deployment.DeploymentProgressState;i4);u4)".
struct DeploymentProgress {
  int32_t state;
  uint32_t percentage;
};

inline constexpr wchar_t kPackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";
inline constexpr wchar_t kUriClass[] = L"Windows.Foundation.Uri";

// Interface identifiers; the parameterised ones are the published constants.
// IUnknown, IInspectable: windows-core (IInspectable_Vtbl, "cinterface(
// IInspectable)"); IAgileObject: windows-rs Win32/System/Com/mod.rs;
// IActivationFactory: windows-rs Win32/System/WinRT/mod.rs.
inline constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidInspectable = {0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
inline constexpr IID kIidAgileObject = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
inline constexpr IID kIidActivationFactory = {0x00000035, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// windows-rs Management/Deployment/mod.rs: IPackageManager,
// IDeploymentResult. ApplicationModel/mod.rs: IPackage, IPackageId.
// Foundation/mod.rs: IUriRuntimeClassFactory, IUriRuntimeClass, IAsyncInfo.
inline constexpr IID kIidPackageManager = {0x9a7d4b65, 0x5e8f, 0x4fc7, {0xa2, 0xe5, 0x7f, 0x69, 0x25, 0xcb, 0x8b, 0x53}};
inline constexpr IID kIidPackage = {0x163c792f, 0xbd75, 0x413c, {0xbf, 0x23, 0xb1, 0xfe, 0x7b, 0x95, 0xd8, 0x25}};
inline constexpr IID kIidPackageId = {0x1adb665e, 0x37c7, 0x4790, {0x99, 0x80, 0xdd, 0x7a, 0xe7, 0x4e, 0x8b, 0xb2}};
inline constexpr IID kIidDeploymentResult = {0x2563b9ae, 0xb77d, 0x4c1f, {0x8a, 0x7b, 0x20, 0xe6, 0xad, 0x51, 0x5e, 0xf3}};
inline constexpr IID kIidUriRuntimeClassFactory = {0x44a9796f, 0x723e, 0x4fdf, {0xa2, 0x18, 0x03, 0x3e, 0x75, 0xb0, 0xc0, 0x84}};
inline constexpr IID kIidUriRuntimeClass = {0x9e365e57, 0x48b2, 0x4160, {0x95, 0x6f, 0xc7, 0x38, 0x51, 0x20, 0xbb, 0xfc}};
inline constexpr IID kIidAsyncInfo = {0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// IAsyncOperationWithProgress<DeploymentResult, DeploymentProgress>: the
// generic interface {b5d036d7-e297-498f-ba60-0289e76e23dd} (windows-rs
// Foundation/mod.rs) over "rc(Windows.Management.Deployment.DeploymentResult;
// {2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3})" and the DeploymentProgress struct.
inline constexpr IID kIidDeploymentOperation = {0x5a97aab7, 0xb6ea, 0x55ac, {0xa5, 0xdc, 0xd5, 0xb1, 0x64, 0xd9, 0x4e, 0x94}};
// AsyncOperationWithProgressCompletedHandler<DeploymentResult,
// DeploymentProgress>: the generic delegate {e85df41d-6aa7-46e3-a8e2-
// f009d840c627} (windows-rs Foundation/mod.rs) over the same two types.
inline constexpr IID kIidDeploymentCompletedHandler = {0x6e1c7129, 0x61e0, 0x5d88, {0x9f, 0xd4, 0xf3, 0xce, 0x65, 0xa0, 0x57, 0x19}};
// IIterable<Package> and IIterator<Package>: the generic interfaces
// {faa585ea-6214-4217-afda-7f46de5869b3} and {6a79e863-4300-459a-9966-
// cbb660963ee1} (windows-rs Foundation/Collections/mod.rs) over
// "rc(Windows.ApplicationModel.Package;{163c792f-bd75-413c-bf23-b1fe7b95d825})".
inline constexpr IID kIidPackageIterable = {0x69ad6aa7, 0x0c49, 0x5f27, {0xa5, 0xeb, 0xef, 0x4d, 0x59, 0x46, 0x7b, 0x6d}};
inline constexpr IID kIidPackageIterator = {0x0217f069, 0x025c, 0x5ee6, {0xa8, 0x7f, 0xe7, 0x82, 0xe3, 0xb6, 0x23, 0xae}};

// windows-rs Win32/System/WinRT/mod.rs, IActivationFactory_Vtbl: slot 6
// ActivateInstance.
struct IActivationFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) = 0;
};

struct IUriRuntimeClass : IInspectable {};  // no member is called

// windows-rs Foundation/mod.rs, IUriRuntimeClassFactory_Vtbl: slot 6
// CreateUri(HSTRING, out), 7 CreateWithRelativeUri (not declared).
struct IUriRuntimeClassFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IUriRuntimeClass** instance) = 0;
};

// IIterable<Uri>: only ever passed as null.
struct IUriIterable : IInspectable {};

// windows-rs Management/Deployment/mod.rs, IDeploymentResult_Vtbl: slots 6
// ErrorText, 7 ActivityId, 8 ExtendedErrorCode.
struct IDeploymentResult : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* value) = 0;
};

// windows-rs Foundation/mod.rs, IAsyncInfo_Vtbl: slots 6 Id, 7 Status,
// 8 ErrorCode, 9 Cancel, 10 Close.
struct IAsyncInfo : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Id(uint32_t* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* errorCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct IDeploymentOperation;

// A delegate: IUnknown, then Invoke (windows-rs Foundation/mod.rs,
// AsyncOperationWithProgressCompletedHandler_Vtbl: base IUnknown, slot 3
// Invoke(asyncInfo, asyncStatus)).
struct IDeploymentCompletedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDeploymentOperation* operation, AsyncStatus status) = 0;
};

// windows-rs Foundation/mod.rs, IAsyncOperationWithProgress_Vtbl: slots 6
// SetProgress, 7 Progress, 8 SetCompleted, 9 Completed, 10 GetResults.
struct IDeploymentOperation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Progress(IUnknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Progress(IUnknown** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IDeploymentCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IDeploymentCompletedHandler** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(IDeploymentResult** results) = 0;
};

// windows-rs ApplicationModel/mod.rs, IPackageId_Vtbl: slots 6 Name,
// 7 Version, 8 Architecture (ProcessorArchitecture, i32), 9 ResourceId,
// 10 Publisher; later slots not declared.
struct IPackageId : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Architecture(uint32_t* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* value) = 0;
};

// windows-rs ApplicationModel/mod.rs, IPackage_Vtbl: slot 6 Id; later slots
// not declared.
struct IPackage : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Id(IPackageId** value) = 0;
};

// windows-rs Foundation/Collections/mod.rs, IIterator_Vtbl: slots 6
// Current, 7 HasCurrent, 8 MoveNext, 9 GetMany.
struct IPackageIterator : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Current(IPackage** current) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasCurrent(Boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveNext(Boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(uint32_t capacity, IPackage** items,
                                            uint32_t* actual) = 0;
};

// windows-rs Foundation/Collections/mod.rs, IIterable_Vtbl: slot 6 First.
struct IPackageIterable : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE First(IPackageIterator** first) = 0;
};

// windows-rs Management/Deployment/mod.rs, IPackageManager_Vtbl: slots 6
// AddPackageAsync(Uri, IIterable<Uri>, DeploymentOptions, out),
// 7 UpdatePackageAsync, 8 RemovePackageAsync(HSTRING, out),
// 9 StagePackageAsync(Uri, IIterable<Uri>, out), 10 RegisterPackageAsync,
// 11 FindPackages(out), 12 FindPackagesByUserSecurityId(HSTRING, out);
// later slots not declared.
struct IPackageManager : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE AddPackageAsync(IUriRuntimeClass* packageUri,
                                                    IUriIterable* dependencyPackageUris,
                                                    uint32_t deploymentOptions,
                                                    IDeploymentOperation** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdatePackageAsync(IUriRuntimeClass* packageUri,
                                                       IUriIterable* dependencyPackageUris,
                                                       uint32_t deploymentOptions,
                                                       IDeploymentOperation** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING packageFullName,
                                                       IDeploymentOperation** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE StagePackageAsync(IUriRuntimeClass* packageUri,
                                                      IUriIterable* dependencyPackageUris,
                                                      IDeploymentOperation** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterPackageAsync(IUriRuntimeClass* manifestUri,
                                                         IUriIterable* dependencyPackageUris,
                                                         uint32_t deploymentOptions,
                                                         IDeploymentOperation** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackages(IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING userSecurityId,
                                                                 IPackageIterable** packages) = 0;
};

// The functions of the Windows Runtime's base library (combase.dll).
using RoActivateInstanceFn = HRESULT(WINAPI*)(HSTRING activatableClassId, IInspectable** instance);
using RoGetActivationFactoryFn = HRESULT(WINAPI*)(HSTRING activatableClassId, REFIID iid,
                                                   void** factory);
using WindowsCreateStringFn = HRESULT(WINAPI*)(LPCWSTR sourceString, UINT32 length,
                                                HSTRING* string);
using WindowsDeleteStringFn = HRESULT(WINAPI*)(HSTRING string);
using WindowsGetStringRawBufferFn = PCWSTR(WINAPI*)(HSTRING string, UINT32* length);

}  // namespace prereq::winrt
