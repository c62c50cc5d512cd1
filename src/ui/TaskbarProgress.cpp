#include "ui/TaskbarProgress.h"

#include "evaluation/OsInfo.h"

namespace prereq {

namespace {
// {56FDF344-FD6D-11d0-958A-006097C9A090}
constexpr CLSID kTaskbarList = {
    0x56fdf344, 0xfd6d, 0x11d0, {0x95, 0x8a, 0x00, 0x60, 0x97, 0xc9, 0xa0, 0x90}};

bool HasTaskbarProgress() {
  const OsInfo& os = GetOsInfo();
  return os.majorVersion > 6 || (os.majorVersion == 6 && os.minorVersion >= 1);
}
}  // namespace

UINT TaskbarButtonCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void TaskbarProgress::Attach(HWND window, ITaskbarList3* list) {
  Release();
  window_ = window;
  shownState_ = TBPF_NOPROGRESS;
  if (list == nullptr) {
    if (!HasTaskbarProgress()) return;
    void* created = nullptr;
    if (FAILED(::CoCreateInstance(kTaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(ITaskbarList3), &created)) ||
        created == nullptr)
      return;
    list = static_cast<ITaskbarList3*>(created);
  }
  if (FAILED(list->HrInit())) {
    list->Release();
    return;
  }
  list_ = list;
}

void TaskbarProgress::Release() {
  if (list_ != nullptr) list_->Release();
  list_ = nullptr;
}

void TaskbarProgress::Apply(bool force) {
  if (list_ == nullptr || window_ == nullptr) return;
  // Failures (no button yet, no taskbar, E_NOTIMPL) change nothing: the
  // window shows the same in its own bar.
  if (force || state_ != shownState_) list_->SetProgressState(window_, state_);
  shownState_ = state_;
  if (state_ != TBPF_NOPROGRESS && total_ != 0) list_->SetProgressValue(window_, done_, total_);
}

void TaskbarProgress::SetValue(uint64_t done, uint64_t total) {
  done_ = done;
  total_ = total;
  state_ = TBPF_NORMAL;
  Apply(false);
}

void TaskbarProgress::SetError(uint64_t done, uint64_t total) {
  done_ = done;
  total_ = total;
  state_ = TBPF_ERROR;
  Apply(false);
}

void TaskbarProgress::Clear() {
  state_ = TBPF_NOPROGRESS;
  Apply(false);
}

void TaskbarProgress::Reapply() { Apply(true); }

}  // namespace prereq
