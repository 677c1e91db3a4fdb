// Native file dialogs on Linux are GTK dialogs that run GTK's event loop until they
// close; the window program's own timers and wake-ups are not served meanwhile (only its
// windows are redrawn). A ForeignLoopTick makes that loop call `tick` every few
// milliseconds on the calling (window) thread for as long as it lives, so the window
// program can go on with its own work while a dialog is open.
#pragma once

#include <functional>

namespace platform {

class ForeignLoopTick {
 public:
  // Does nothing where there is no such loop (no GLib, or a platform whose dialogs serve
  // the program's timers themselves).
  ForeignLoopTick(int interval_ms, std::function<void()> tick);
  ~ForeignLoopTick();
  ForeignLoopTick(const ForeignLoopTick&) = delete;
  ForeignLoopTick& operator=(const ForeignLoopTick&) = delete;

  // False when no tick was installed.
  bool active() const { return source_ != 0; }

 private:
  static int OnTick(void* self);
  std::function<void()> tick_;
  unsigned source_ = 0;
};

}  // namespace platform
