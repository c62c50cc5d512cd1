#include "execution/Msix.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <utility>

#include "execution/MsixRules.h"
#include "execution/MsixWinRt.h"
#include "platform/core/ExceptionHandling.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"

namespace prereq {

namespace {

using namespace winrt;

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  explicit ComPtr(T* p) noexcept : p_(p) {}  // takes over a reference
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // Queries another interface; true only for a success with an object.
  template <typename U>
  bool As(const IID& iid, ComPtr<U>& out) const noexcept {
    return p_ != nullptr && SUCCEEDED(p_->QueryInterface(iid, out.put_void())) && out;
  }

 private:
  T* p_ = nullptr;
};

// The Windows Runtime functions of combase.dll, loaded from the system
// folder at run time: systems before Windows 8 have no such library, and a
// static import of it would keep the whole program from starting there.
class RuntimeLibrary {
 public:
  RuntimeLibrary() : module_(LoadSystemLibrary(L"combase.dll")) {
    if (!module_) return;
    activateInstance = Function<RoActivateInstanceFn>("RoActivateInstance");
    getActivationFactory = Function<RoGetActivationFactoryFn>("RoGetActivationFactory");
    createString = Function<WindowsCreateStringFn>("WindowsCreateString");
    deleteString = Function<WindowsDeleteStringFn>("WindowsDeleteString");
    getRawBuffer = Function<WindowsGetStringRawBufferFn>("WindowsGetStringRawBuffer");
  }
  RuntimeLibrary(const RuntimeLibrary&) = delete;
  RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

  bool Loaded() const {
    return activateInstance != nullptr && getActivationFactory != nullptr &&
           createString != nullptr && deleteString != nullptr && getRawBuffer != nullptr;
  }

  RoActivateInstanceFn activateInstance = nullptr;
  RoGetActivationFactoryFn getActivationFactory = nullptr;
  WindowsCreateStringFn createString = nullptr;
  WindowsDeleteStringFn deleteString = nullptr;
  WindowsGetStringRawBufferFn getRawBuffer = nullptr;

 private:
  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(::GetProcAddress(module_.get(), name));
  }

  Library module_;
};

// Owns a Windows Runtime string.
class HString {
 public:
  explicit HString(const RuntimeLibrary& runtime) : runtime_(runtime) {}
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;
  ~HString() { reset(); }

  bool Create(std::wstring_view text) {
    reset();
    return SUCCEEDED(runtime_.createString(text.data(), static_cast<UINT32>(text.size()), &h_));
  }
  HSTRING get() const { return h_; }
  HSTRING* put() {
    reset();
    return &h_;
  }
  std::wstring Text() const {
    UINT32 length = 0;
    const wchar_t* buffer = runtime_.getRawBuffer(h_, &length);
    return buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  }
  void reset() {
    if (h_ != nullptr) runtime_.deleteString(std::exchange(h_, nullptr));
  }

 private:
  const RuntimeLibrary& runtime_;
  HSTRING h_ = nullptr;
};

// Membership of the calling thread in the multithreaded apartment, left at
// the end when it was entered.
class MultithreadedApartment {
 public:
  MultithreadedApartment() : entered_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~MultithreadedApartment() {
    if (entered_) ::CoUninitialize();
  }
  MultithreadedApartment(const MultithreadedApartment&) = delete;
  MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;
  bool Entered() const { return entered_; }

 private:
  bool entered_;
};

// Runs `work` on a new guarded thread and waits for its end without time
// limit. False when the thread could not be started or `work` failed (an
// exception or a fault, logged by the thread); the process goes on.
bool RunOnNewThread(const std::function<void()>& work) {
  GuardedThread thread = StartGuardedThread(work);
  if (!thread) return false;
  thread.Join();
  return !thread.Failure();
}

// The Completed handler of a deployment: signals its own manual-reset event,
// which lives as long as any reference to the handler, so a late call from
// the platform never touches a closed handle.
class CompletedHandler final : public IDeploymentCompletedHandler {
 public:
  CompletedHandler()
      : event_(::CreateEventExW(nullptr, nullptr, CREATE_EVENT_MANUAL_RESET, EVENT_ALL_ACCESS)) {}

  bool Ready() const { return event_.valid(); }
  HANDLE Event() const { return event_.get(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == kIidUnknown || iid == kIidDeploymentCompletedHandler || iid == kIidAgileObject) {
      *object = static_cast<IDeploymentCompletedHandler*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(IDeploymentOperation*, AsyncStatus) override {
    ::SetEvent(event_.get());
    return S_OK;
  }

 private:
  ~CompletedHandler() = default;

  std::atomic<ULONG> references_{1};
  KernelHandle event_;
};

bool ActivatePackageManager(const RuntimeLibrary& runtime, ComPtr<IPackageManager>& manager) {
  HString className(runtime);
  if (!className.Create(kPackageManagerClass)) return false;
  ComPtr<IInspectable> instance;
  if (FAILED(runtime.activateInstance(className.get(), instance.put())) || !instance) return false;
  return instance.As(kIidPackageManager, manager);
}

bool CreateUri(const RuntimeLibrary& runtime, const std::wstring& text,
               ComPtr<IUriRuntimeClass>& uri) {
  HString className(runtime);
  if (!className.Create(kUriClass)) return false;
  ComPtr<IUriRuntimeClassFactory> factory;
  if (FAILED(runtime.getActivationFactory(className.get(), kIidUriRuntimeClassFactory,
                                          factory.put_void())) ||
      !factory)
    return false;
  HString uriText(runtime);
  if (!uriText.Create(text)) return false;
  return SUCCEEDED(factory->CreateUri(uriText.get(), uri.put())) && uri;
}

// The version text of the first package that answers the query; empty when
// none does or the package manager cannot be asked.
std::wstring FindInApartment(const MsixQuery& query) {
  RuntimeLibrary runtime;
  if (!runtime.Loaded()) return {};
  ComPtr<IPackageManager> manager;
  if (!ActivatePackageManager(runtime, manager)) return {};
  ComPtr<IPackageIterable> packages;
  // No user security id: the current user's packages.
  if (FAILED(manager->FindPackagesByUserSecurityId(nullptr, packages.put())) || !packages)
    return {};
  ComPtr<IPackageIterator> it;
  if (FAILED(packages->First(it.put())) || !it) return {};
  Boolean hasCurrent = 0;
  if (FAILED(it->get_HasCurrent(&hasCurrent))) return {};
  while (hasCurrent != 0) {
    ComPtr<IPackage> package;
    ComPtr<IPackageId> id;
    HString name(runtime);
    HString publisher(runtime);
    uint32_t architecture = 0;
    PackageVersion version{};
    if (SUCCEEDED(it->get_Current(package.put())) && package &&
        SUCCEEDED(package->get_Id(id.put())) && id && SUCCEEDED(id->get_Name(name.put())) &&
        SUCCEEDED(id->get_Publisher(publisher.put())) &&
        SUCCEEDED(id->get_Architecture(&architecture)) && SUCCEEDED(id->get_Version(&version))) {
      const std::wstring nameText = name.Text();
      const std::wstring publisherText = publisher.Text();
      if (MsixPackageMatches(query, MsixIdentity{nameText, publisherText, architecture}))
        return MsixVersionText(version.Major, version.Minor, version.Build, version.Revision);
    }
    hasCurrent = 0;
    if (FAILED(it->MoveNext(&hasCurrent))) return {};
  }
  return {};
}

}  // namespace

bool MsixInstaller::Install() {
  RuntimeLibrary runtime;
  if (!runtime.Loaded()) return false;
  ComPtr<IPackageManager> manager;
  if (!ActivatePackageManager(runtime, manager)) return false;
  ComPtr<IUriRuntimeClass> uri;
  if (!CreateUri(runtime, packagePath_, uri)) return false;
  ComPtr<IDeploymentOperation> operation;
  if (FAILED(manager->AddPackageAsync(uri.get(), nullptr, kDeploymentOptionsNone,
                                      operation.put())) ||
      !operation)
    return false;

  ComPtr<CompletedHandler> handler(new (std::nothrow) CompletedHandler);
  if (!handler || !handler->Ready()) return false;
  // The platform calls the handler at once when the deployment has already
  // ended, otherwise later on a thread of its own.
  if (FAILED(operation->put_Completed(handler.get()))) return false;
  if (::WaitForSingleObject(handler->Event(), INFINITE) != WAIT_OBJECT_0) return false;

  ComPtr<IDeploymentResult> result;
  if (FAILED(operation->GetResults(result.put()))) return false;
  ComPtr<IAsyncInfo> info;
  AsyncStatus status = AsyncStarted;
  if (!operation.As(kIidAsyncInfo, info) || FAILED(info->get_Status(&status))) return false;
  return status == AsyncCompleted;
}

uint32_t DeployMsixPackage(const std::wstring& path) {
  bool installed = false;
  const bool ran = RunOnNewThread([&] {
    const std::wstring packagePath = ToLongPathForm(path);
    RunOnNewThread([&] {
      ReachFailurePoint(FailurePoint::MsixDeploy);
      MultithreadedApartment apartment;
      if (!apartment.Entered()) return;
      installed = MsixInstaller(packagePath).Install();
    });
  });
  return (ran && installed) ? 0 : kMsixDeploymentFailed;
}

std::wstring MsixFinder::Find(const std::wstring& name, const std::wstring& publisher,
                              const std::wstring& architecture) {
  const MsixQuery query{name, architecture, publisher};
  std::wstring version;
  RunOnNewThread([&] {
    ReachFailurePoint(FailurePoint::MsixLookup);
    MultithreadedApartment apartment;
    if (!apartment.Entered()) return;
    version = FindInApartment(query);
  });
  return version;
}

}  // namespace prereq
