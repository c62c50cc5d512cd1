// A stand-in for the Windows Runtime package manager, for the tests: Wine has
// none. Registered as the DllPath value of the keys
// HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<class> of the classes
// "Windows.Management.Deployment.PackageManager" and "Windows.Foundation.Uri".
//
// The tests steer it through values under HKCU\Software\PrereqTest\MsixStub,
// read at every call:
//   Log        REG_SZ     file that gets one UTF-8 line per request:
//                         "CreateUri|<text>"
//                         "AddPackageAsync|<uri>|<dependencies null|set>|<options>|<apartment>|<thread id>"
//                         "FindPackagesByUserSecurityId|<sid>|<apartment>|<thread id>"
//                         where <apartment> is "mta", "sta" or "none".
//   Later      REG_DWORD  1: a deployment ends 100 ms later on a thread of its
//                         own; otherwise it has ended when AddPackageAsync
//                         returns.
//   FailWhere  REG_SZ     a deployment whose URI contains this text ends with
//                         AsyncStatus Error.
//   RejectWhere REG_SZ    AddPackageAsync itself fails for such a URI.
//   FindFails  REG_DWORD  1: FindPackagesByUserSecurityId fails.
//   Packages   REG_MULTI_SZ  the installed packages, in order, each
//                         "name|publisher|architecture number|a.b.c.d".
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "execution/MsixWinRt.h"

using namespace prereq::winrt;

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\PrereqTest\\MsixStub";
// A private interface of the stub's Uri objects that hands back their text.
constexpr IID kIidStubUri = {0x3f0b7c31, 0x8d4e, 0x4b7a, {0x9c, 0x11, 0x52, 0x6e, 0x0d, 0x7a, 0x44, 0x19}};
constexpr HRESULT kDeploymentRejected = static_cast<HRESULT>(0x80073CF3);
constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);
constexpr HRESULT kIllegalDelegateAssignment = static_cast<HRESULT>(0x80000018);
constexpr HRESULT kBounds = static_cast<HRESULT>(0x8000000B);

// --- Windows Runtime strings, through the combase.dll that loaded us. ---

template <typename F>
F Combase(const char* name) {
  return reinterpret_cast<F>(::GetProcAddress(::GetModuleHandleW(L"combase.dll"), name));
}

std::wstring TextOf(HSTRING h) {
  static const auto raw = Combase<WindowsGetStringRawBufferFn>("WindowsGetStringRawBuffer");
  UINT32 length = 0;
  const wchar_t* buffer = raw != nullptr ? raw(h, &length) : nullptr;
  return buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
}

HRESULT MakeString(const std::wstring& text, HSTRING* out) {
  static const auto create = Combase<WindowsCreateStringFn>("WindowsCreateString");
  if (out == nullptr) return E_POINTER;
  if (create == nullptr) return E_FAIL;
  return create(text.c_str(), static_cast<UINT32>(text.size()), out);
}

// --- Settings and the request log. ---

std::wstring ReadText(const wchar_t* name) {
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ,
                     nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return {};
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ,
                     nullptr, text.data(), &bytes) != ERROR_SUCCESS)
    return {};
  text.resize(bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

DWORD ReadNumber(const wchar_t* name) {
  DWORD value = 0, bytes = sizeof(value);
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &bytes) != ERROR_SUCCESS)
    return 0;
  return value;
}

bool Contains(const std::wstring& text, const wchar_t* setting) {
  const std::wstring part = ReadText(setting);
  return !part.empty() && text.find(part) != std::wstring::npos;
}

CRITICAL_SECTION* LogLock() {
  static CRITICAL_SECTION cs = [] {
    CRITICAL_SECTION c;
    ::InitializeCriticalSection(&c);
    return c;
  }();
  return &cs;
}

void Record(const std::wstring& line) {
  const std::wstring path = ReadText(L"Log");
  if (path.empty()) return;
  const std::wstring withEnd = line + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()), bytes.data(),
                        size, nullptr, nullptr);
  ::EnterCriticalSection(LogLock());
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  ::LeaveCriticalSection(LogLock());
}

std::wstring ApartmentAndThread() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  std::wstring apartment = L"none";
  if (SUCCEEDED(::CoGetApartmentType(&type, &qualifier))) {
    apartment = type == APTTYPE_MTA ? L"mta" : type == APTTYPE_STA || type == APTTYPE_MAINSTA
                                                   ? L"sta"
                                                   : L"other";
  }
  return apartment + L"|" + std::to_wstring(::GetCurrentThreadId());
}

// --- Objects. ---

// Reference counting and the IInspectable members for one or more
// interfaces that derive from IInspectable.
template <typename Primary, typename... More>
class Object : public Primary, public More... {
 public:
  virtual ~Object() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = Find(iid);
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
    if (count != nullptr) *count = 0;
    if (iids != nullptr) *iids = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
    return MakeString(L"PrereqTest.Stub", name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
    if (level == nullptr) return E_POINTER;
    *level = BaseTrust;
    return S_OK;
  }

 protected:
  // The interface for an IID, or null; IUnknown and IInspectable are the
  // primary interface.
  virtual void* Find(REFIID iid) {
    if (iid == kIidUnknown || iid == kIidInspectable || iid == kIidAgileObject)
      return static_cast<Primary*>(this);
    return nullptr;
  }

 private:
  std::atomic<ULONG> references_{1};
};

template <typename T>
HRESULT Hand(T* object, T** out) {
  if (out == nullptr) {
    object->Release();
    return E_POINTER;
  }
  *out = object;
  return S_OK;
}

class Uri final : public Object<IUriRuntimeClass> {
 public:
  explicit Uri(std::wstring text) : text(std::move(text)) {}
  const std::wstring text;

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidUriRuntimeClass || iid == kIidStubUri) return static_cast<IUriRuntimeClass*>(this);
    return Object::Find(iid);
  }
};

class DeploymentResult final : public Object<IDeploymentResult> {
 public:
  HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* value) override { return MakeString(L"", value); }
  HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* value) override {
    if (value == nullptr) return E_POINTER;
    *value = GUID{};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* value) override {
    if (value == nullptr) return E_POINTER;
    *value = S_OK;
    return S_OK;
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidDeploymentResult) return static_cast<IDeploymentResult*>(this);
    return Object::Find(iid);
  }
};

// A deployment: Started until Finish() gives it its final status; the
// Completed handler is called exactly once, at the end or, when it is set
// after the end, at once.
class Operation final : public Object<IDeploymentOperation, IAsyncInfo> {
 public:
  Operation() { ::InitializeCriticalSection(&lock_); }
  ~Operation() override {
    if (handler_ != nullptr) handler_->Release();
    ::DeleteCriticalSection(&lock_);
  }

  // The status a deployment that ends later ends with.
  AsyncStatus pendingStatus = AsyncStarted;

  void Finish(AsyncStatus status) {
    IDeploymentCompletedHandler* handler = nullptr;
    ::EnterCriticalSection(&lock_);
    status_ = status;
    std::swap(handler, handler_);
    ::LeaveCriticalSection(&lock_);
    if (handler != nullptr) {
      handler->Invoke(this, status);
      handler->Release();
    }
  }

  // IDeploymentOperation
  HRESULT STDMETHODCALLTYPE put_Progress(IUnknown*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Progress(IUnknown** handler) override {
    if (handler == nullptr) return E_POINTER;
    *handler = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Completed(IDeploymentCompletedHandler* handler) override {
    if (handler == nullptr) return E_POINTER;
    ::EnterCriticalSection(&lock_);
    if (handlerSet_) {
      ::LeaveCriticalSection(&lock_);
      return kIllegalDelegateAssignment;
    }
    handlerSet_ = true;
    const AsyncStatus status = status_;
    if (status == AsyncStarted) {
      handler->AddRef();
      handler_ = handler;
    }
    ::LeaveCriticalSection(&lock_);
    if (status != AsyncStarted) handler->Invoke(this, status);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IDeploymentCompletedHandler** handler) override {
    if (handler == nullptr) return E_POINTER;
    *handler = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetResults(IDeploymentResult** results) override {
    if (results == nullptr) return E_POINTER;
    *results = nullptr;
    const AsyncStatus status = Status();
    if (status == AsyncStarted) return kIllegalMethodCall;
    if (status != AsyncCompleted) return kDeploymentRejected;
    return Hand<IDeploymentResult>(new DeploymentResult, results);
  }

  // IAsyncInfo
  HRESULT STDMETHODCALLTYPE get_Id(uint32_t* id) override {
    if (id == nullptr) return E_POINTER;
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
    if (status == nullptr) return E_POINTER;
    *status = Status();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
    if (code == nullptr) return E_POINTER;
    *code = Status() == AsyncError ? kDeploymentRejected : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidDeploymentOperation) return static_cast<IDeploymentOperation*>(this);
    if (iid == kIidAsyncInfo) return static_cast<IAsyncInfo*>(this);
    return Object::Find(iid);
  }

 private:
  AsyncStatus Status() {
    ::EnterCriticalSection(&lock_);
    const AsyncStatus status = status_;
    ::LeaveCriticalSection(&lock_);
    return status;
  }

  CRITICAL_SECTION lock_;
  AsyncStatus status_ = AsyncStarted;

  bool handlerSet_ = false;
  IDeploymentCompletedHandler* handler_ = nullptr;
};

struct PackageData {
  std::wstring name;
  std::wstring publisher;
  uint32_t architecture = 0;
  PackageVersion version{};
};

class PackageId final : public Object<IPackageId> {
 public:
  explicit PackageId(PackageData data) : data_(std::move(data)) {}
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) override { return MakeString(data_.name, value); }
  HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) override {
    if (value == nullptr) return E_POINTER;
    *value = data_.version;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Architecture(uint32_t* value) override {
    if (value == nullptr) return E_POINTER;
    *value = data_.architecture;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* value) override { return MakeString(L"", value); }
  HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* value) override {
    return MakeString(data_.publisher, value);
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidPackageId) return static_cast<IPackageId*>(this);
    return Object::Find(iid);
  }

 private:
  PackageData data_;
};

class Package final : public Object<IPackage> {
 public:
  explicit Package(PackageData data) : data_(std::move(data)) {}
  HRESULT STDMETHODCALLTYPE get_Id(IPackageId** value) override {
    return Hand<IPackageId>(new PackageId(data_), value);
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidPackage) return static_cast<IPackage*>(this);
    return Object::Find(iid);
  }

 private:
  PackageData data_;
};

class PackageIterator final : public Object<IPackageIterator> {
 public:
  explicit PackageIterator(std::vector<PackageData> packages) : packages_(std::move(packages)) {}
  HRESULT STDMETHODCALLTYPE get_Current(IPackage** current) override {
    if (current == nullptr) return E_POINTER;
    *current = nullptr;
    if (at_ >= packages_.size()) return kBounds;
    return Hand<IPackage>(new Package(packages_[at_]), current);
  }
  HRESULT STDMETHODCALLTYPE get_HasCurrent(Boolean* hasCurrent) override {
    if (hasCurrent == nullptr) return E_POINTER;
    *hasCurrent = at_ < packages_.size() ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(Boolean* hasCurrent) override {
    if (hasCurrent == nullptr) return E_POINTER;
    if (at_ < packages_.size()) ++at_;
    *hasCurrent = at_ < packages_.size() ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(uint32_t, IPackage**, uint32_t* actual) override {
    if (actual != nullptr) *actual = 0;
    return E_NOTIMPL;
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidPackageIterator) return static_cast<IPackageIterator*>(this);
    return Object::Find(iid);
  }

 private:
  std::vector<PackageData> packages_;
  size_t at_ = 0;
};

class PackageIterable final : public Object<IPackageIterable> {
 public:
  explicit PackageIterable(std::vector<PackageData> packages) : packages_(std::move(packages)) {}
  HRESULT STDMETHODCALLTYPE First(IPackageIterator** first) override {
    return Hand<IPackageIterator>(new PackageIterator(packages_), first);
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidPackageIterable) return static_cast<IPackageIterable*>(this);
    return Object::Find(iid);
  }

 private:
  std::vector<PackageData> packages_;
};

// "name|publisher|architecture|a.b.c.d" entries of the Packages setting.
std::vector<PackageData> InstalledPackages() {
  std::vector<PackageData> packages;
  const std::wstring all = ReadText(L"Packages");
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find(L'\0', at);
    if (end == std::wstring::npos) end = all.size();
    const std::wstring entry = all.substr(at, end - at);
    at = end + 1;
    std::vector<std::wstring> fields;
    for (size_t f = 0;;) {
      const size_t bar = entry.find(L'|', f);
      fields.push_back(entry.substr(f, bar == std::wstring::npos ? std::wstring::npos : bar - f));
      if (bar == std::wstring::npos) break;
      f = bar + 1;
    }
    if (fields.size() != 4) continue;
    PackageData data;
    data.name = fields[0];
    data.publisher = fields[1];
    data.architecture = static_cast<uint32_t>(std::wcstoul(fields[2].c_str(), nullptr, 10));
    uint16_t* parts[] = {&data.version.Major, &data.version.Minor, &data.version.Build,
                         &data.version.Revision};
    const wchar_t* p = fields[3].c_str();
    for (uint16_t* part : parts) {
      wchar_t* next = nullptr;
      *part = static_cast<uint16_t>(std::wcstoul(p, &next, 10));
      p = *next == L'.' ? next + 1 : next;
    }
    packages.push_back(std::move(data));
  }
  return packages;
}

DWORD WINAPI FinishLater(void* context) {
  auto* operation = static_cast<Operation*>(context);
  ::Sleep(100);
  operation->Finish(operation->pendingStatus);
  operation->Release();
  return 0;
}

class PackageManager final : public Object<IPackageManager> {
 public:
  HRESULT STDMETHODCALLTYPE AddPackageAsync(IUriRuntimeClass* packageUri, IUriIterable* dependencies,
                                            uint32_t options,
                                            IDeploymentOperation** operation) override {
    if (operation == nullptr) return E_POINTER;
    *operation = nullptr;
    IUriRuntimeClass* own = nullptr;
    if (packageUri == nullptr ||
        FAILED(packageUri->QueryInterface(kIidStubUri, reinterpret_cast<void**>(&own))))
      return E_INVALIDARG;
    const std::wstring text = static_cast<Uri*>(own)->text;
    own->Release();
    Record(L"AddPackageAsync|" + text + L"|" + (dependencies == nullptr ? L"null" : L"set") + L"|" +
           std::to_wstring(options) + L"|" + ApartmentAndThread());
    if (Contains(text, L"RejectWhere")) return kDeploymentRejected;

    auto* op = new Operation;
    const AsyncStatus final = Contains(text, L"FailWhere") ? AsyncError : AsyncCompleted;
    if (ReadNumber(L"Later") == 1) {
      op->pendingStatus = final;
      op->AddRef();
      HANDLE thread = ::CreateThread(nullptr, 0, &FinishLater, op, 0, nullptr);
      if (thread == nullptr) {
        op->Release();
        op->Finish(final);
      } else {
        ::CloseHandle(thread);
      }
    } else {
      op->Finish(final);
    }
    *operation = op;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UpdatePackageAsync(IUriRuntimeClass*, IUriIterable*, uint32_t,
                                               IDeploymentOperation**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING, IDeploymentOperation**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE StagePackageAsync(IUriRuntimeClass*, IUriIterable*,
                                              IDeploymentOperation**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RegisterPackageAsync(IUriRuntimeClass*, IUriIterable*, uint32_t,
                                                 IDeploymentOperation**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPackages(IPackageIterable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING sid,
                                                         IPackageIterable** packages) override {
    if (packages == nullptr) return E_POINTER;
    *packages = nullptr;
    const std::wstring text = TextOf(sid);
    Record(L"FindPackagesByUserSecurityId|" + text + L"|" + ApartmentAndThread());
    if (ReadNumber(L"FindFails") == 1) return E_ACCESSDENIED;
    // Only the current user's packages are listed.
    std::vector<PackageData> list = text.empty() ? InstalledPackages() : std::vector<PackageData>{};
    return Hand<IPackageIterable>(new PackageIterable(std::move(list)), packages);
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidPackageManager) return static_cast<IPackageManager*>(this);
    return Object::Find(iid);
  }
};

// One factory type for both classes: the package manager is made by
// ActivateInstance, a Uri only from its text.
class Factory final : public Object<IActivationFactory, IUriRuntimeClassFactory> {
 public:
  explicit Factory(bool uri) : uri_(uri) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    if (instance == nullptr) return E_POINTER;
    *instance = nullptr;
    if (uri_) return E_NOTIMPL;
    *instance = static_cast<IPackageManager*>(new PackageManager);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateUri(HSTRING text, IUriRuntimeClass** instance) override {
    if (instance == nullptr) return E_POINTER;
    *instance = nullptr;
    const std::wstring value = TextOf(text);
    Record(L"CreateUri|" + value);
    if (value.empty()) return E_INVALIDARG;
    return Hand<IUriRuntimeClass>(new Uri(value), instance);
  }

 protected:
  void* Find(REFIID iid) override {
    if (iid == kIidActivationFactory) return static_cast<IActivationFactory*>(this);
    if (uri_ && iid == kIidUriRuntimeClassFactory) return static_cast<IUriRuntimeClassFactory*>(this);
    return Object::Find(iid);
  }

 private:
  const bool uri_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId,
                                                                        IActivationFactory** factory) {
  if (factory == nullptr) return E_POINTER;
  *factory = nullptr;
  const std::wstring name = TextOf(classId);
  if (name == kPackageManagerClass) {
    *factory = new Factory(false);
    return S_OK;
  }
  if (name == kUriClass) {
    *factory = static_cast<IActivationFactory*>(new Factory(true));
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
