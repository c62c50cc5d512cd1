#pragma once
// Owners for every kind of Win32 handle. Each type closes its handle with the
// right function on every path; handles whose empty value is NULL and those
// whose empty value is INVALID_HANDLE_VALUE are different types.
#include <windows.h>

#include <atomic>
#include <utility>

namespace prereq {

template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(pointer h) noexcept : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  pointer get() const noexcept { return h_; }
  bool valid() const noexcept { return h_ != Traits::empty(); }
  explicit operator bool() const noexcept { return valid(); }

  pointer release() noexcept { return std::exchange(h_, Traits::empty()); }
  void reset(pointer h = Traits::empty()) noexcept {
    pointer old = std::exchange(h_, h);
    if (old != Traits::empty()) Traits::close(old);
  }
  // For out-parameters: closes the current handle and exposes the slot.
  pointer* put() noexcept {
    reset();
    return &h_;
  }

 private:
  pointer h_ = Traits::empty();
};

// Kernel objects whose empty value is NULL: process, thread, event, mutex,
// token.
struct KernelHandleTraits {
  using pointer = HANDLE;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::CloseHandle(h); }
};
// Files: CreateFileW reports failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using pointer = HANDLE;
  static pointer empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using pointer = HANDLE;
  static pointer empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
  using pointer = HKEY;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct LibraryTraits {
  using pointer = HMODULE;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::FreeLibrary(h); }
};
struct LocalMemoryTraits {
  using pointer = HLOCAL;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::LocalFree(h); }
};
struct WindowTraits {
  using pointer = HWND;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::DestroyWindow(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using Library = UniqueHandle<LibraryTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

// Loads a system library by name from the system folder, and the libraries
// it needs from there too (LOAD_LIBRARY_SEARCH_SYSTEM32; never from the
// program's folder, the current folder or PATH). By name, so that the
// version the manifest asks for is the one loaded (comctl32). Where the
// system lacks the flag (Windows 7 without its search-path update), the
// copy in the system folder by its full path. Empty when it cannot be loaded.
Library LoadSystemLibrary(const wchar_t* fileName);

// From now on the libraries this process loads by name (the ones loaded on
// first use among them) come from the system folder only, never from the
// program's own folder or the current folder, where anybody who can write
// there could plant one. Does nothing where the system lacks the call
// (Windows 7 without its search-path update). Call it first at start.
void LoadLibrariesFromSystemFolderOnly();

// Runs a function when the scope ends, unless dismissed.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F f) : f_(std::move(f)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() {
    if (active_) f_();
  }
  void Dismiss() noexcept { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};

// Owns a critical section: initialised at construction, deleted at the end.
class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { ::EnterCriticalSection(&cs_); }
  // Enters when no other thread holds it; false otherwise, at once.
  bool TryEnter() { return ::TryEnterCriticalSection(&cs_) != FALSE; }
  void Leave() { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionLock() { cs_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& cs_;
};

// A critical section that knows which thread holds it and how often, so that
// a guarded thread whose frames were abandoned after a fault can give back
// what those frames held (ExceptionHandling.cpp): otherwise the lock stays
// owned by a thread that has ended, and every later user waits for ever.
class RecoverableLock {
 public:
  RecoverableLock() { ::InitializeCriticalSection(&cs_); }
  ~RecoverableLock() { ::DeleteCriticalSection(&cs_); }
  RecoverableLock(const RecoverableLock&) = delete;
  RecoverableLock& operator=(const RecoverableLock&) = delete;
  void Enter() {
    ::EnterCriticalSection(&cs_);
    owner_ = ::GetCurrentThreadId();
    ++depth_;
  }
  void Leave() {
    if (--depth_ == 0) owner_ = 0;
    ::LeaveCriticalSection(&cs_);
  }
  // How many times the calling thread holds it now (0 when it does not).
  int DepthOnThisThread() const { return owner_ == ::GetCurrentThreadId() ? depth_ : 0; }
  // Leaves it until the calling thread holds it `depth` times (or not at all).
  void ReleaseOnThisThreadTo(int depth) {
    while (owner_ == ::GetCurrentThreadId() && depth_ > depth) Leave();
  }

 private:
  CRITICAL_SECTION cs_;
  std::atomic<DWORD> owner_{0};
  int depth_ = 0;  // changed only by the owner
};

class RecoverableLockHold {
 public:
  explicit RecoverableLockHold(RecoverableLock& lock) : lock_(lock) { lock_.Enter(); }
  ~RecoverableLockHold() { lock_.Leave(); }
  RecoverableLockHold(const RecoverableLockHold&) = delete;
  RecoverableLockHold& operator=(const RecoverableLockHold&) = delete;

 private:
  RecoverableLock& lock_;
};

// Disables WOW64 file-system redirection for its lifetime (no-op where the
// functions do not exist or the process is not under WOW64).
class Wow64RedirectionOff {
 public:
  Wow64RedirectionOff();
  ~Wow64RedirectionOff();
  Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
  Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;

 private:
  PVOID old_ = nullptr;
  bool active_ = false;
};

}  // namespace prereq
