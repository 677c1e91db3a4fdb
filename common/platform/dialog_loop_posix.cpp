#include "common/platform/dialog_loop.h"

#include <dlfcn.h>

namespace platform {
namespace {

// The few GLib calls needed, looked up at run time: GLib is there whenever the GTK
// dialogs are, and the program must not need it otherwise.
struct GLib {
  unsigned (*timeout_add)(unsigned interval, int (*function)(void*), void* data) = nullptr;
  int (*source_remove)(unsigned id) = nullptr;
};

const GLib& LoadGLib() {
  static const GLib glib = [] {
    GLib g;
    // The library stays loaded for the life of the program, like the GTK that uses it.
    void* library = dlopen("libglib-2.0.so.0", RTLD_LAZY | RTLD_GLOBAL);
    if (library == nullptr) return g;
    g.timeout_add = reinterpret_cast<decltype(g.timeout_add)>(dlsym(library, "g_timeout_add"));
    g.source_remove =
        reinterpret_cast<decltype(g.source_remove)>(dlsym(library, "g_source_remove"));
    if (g.timeout_add == nullptr || g.source_remove == nullptr) g = GLib();
    return g;
  }();
  return glib;
}

}  // namespace

ForeignLoopTick::ForeignLoopTick(int interval_ms, std::function<void()> tick)
    : tick_(std::move(tick)) {
  const GLib& glib = LoadGLib();
  if (glib.timeout_add == nullptr || !tick_ || interval_ms <= 0) return;
  source_ = glib.timeout_add(static_cast<unsigned>(interval_ms), OnTick, this);
}

ForeignLoopTick::~ForeignLoopTick() {
  if (source_ != 0) LoadGLib().source_remove(source_);
}

int ForeignLoopTick::OnTick(void* self) {
  static_cast<ForeignLoopTick*>(self)->tick_();
  return 1;  // keep ticking until removed
}

}  // namespace platform
