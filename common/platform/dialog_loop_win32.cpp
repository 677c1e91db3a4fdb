#include "common/platform/dialog_loop.h"

#include <map>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

// The common dialogs run a modal message loop of their own that dispatches the thread's
// timer messages: a thread timer keeps the tick going while a dialog is open. Timers and
// ticks live on the window thread only.
std::map<UINT_PTR, std::function<void()>>& Ticks() {
  static std::map<UINT_PTR, std::function<void()>> ticks;
  return ticks;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  auto found = Ticks().find(timer);
  if (found != Ticks().end()) found->second();
}

}  // namespace

ForeignLoopTick::ForeignLoopTick(int interval_ms, std::function<void()> tick)
    : tick_(std::move(tick)) {
  if (!tick_ || interval_ms <= 0) return;
  UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(interval_ms), OnTimer);
  if (id == 0) return;
  source_ = static_cast<unsigned>(id);
  Ticks()[id] = tick_;
}

ForeignLoopTick::~ForeignLoopTick() {
  if (source_ == 0) return;
  KillTimer(nullptr, source_);
  Ticks().erase(source_);
}

int ForeignLoopTick::OnTick(void* self) {
  static_cast<ForeignLoopTick*>(self)->tick_();
  return 1;
}

}  // namespace platform
