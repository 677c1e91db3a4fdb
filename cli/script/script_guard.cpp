#include "cli/script/script_guard.h"

#include <algorithm>
#include <chrono>
#include <thread>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// The count hook runs every kHookInterval Lua instructions until the stop.
constexpr int kHookInterval = 1000;
// CheckCall looks at the clock every kCallsPerClockRead library calls: a call is a few
// instructions at least, so that is no later than the count hook does.
constexpr int kCallsPerClockRead = 128;

// The standard debug.sethook and debug.gethook. Kept here, not as upvalues or in the
// registry, where a script could reach them (debug.getupvalue, debug.getregistry).
lua_CFunction g_standard_sethook = nullptr;
lua_CFunction g_standard_gethook = nullptr;

// Replaces table[name] (the table on top of the stack) by `function`; gives the standard
// C function it replaces.
lua_CFunction Replace(lua_State* L, const char* name, lua_CFunction function) {
  lua_getfield(L, -1, name);
  lua_CFunction standard = lua_tocfunction(L, -1);
  lua_pop(L, 1);
  lua_pushcfunction(L, function);
  lua_setfield(L, -2, name);
  return standard;
}

}  // namespace

ScriptGuard::ScriptGuard(lua_State* L) : L_(L), message_("script stopped at the time limit") {
  SetStateHost(L, this);
  lua_getglobal(L, "coroutine");
  if (lua_istable(L, -1)) {
    lua_pushcfunction(L, Resume);
    lua_setfield(L, -2, "resume");
    lua_pushcfunction(L, Wrap);
    lua_setfield(L, -2, "wrap");
  }
  lua_pop(L, 1);
  lua_getglobal(L, "debug");
  if (lua_istable(L, -1)) {
    lua_CFunction sethook = Replace(L, "sethook", SetHook);
    lua_CFunction gethook = Replace(L, "gethook", GetHook);
    if (sethook != nullptr) g_standard_sethook = sethook;
    if (gethook != nullptr) g_standard_gethook = gethook;
  }
  lua_pop(L, 1);
  sleep_.SetDeadlineAction([this] { StopAtDeadline(); });
  std::lock_guard<std::mutex> lock(threads_mutex_);
  InstallHookLocked(L_, false);
}

ScriptGuard::~ScriptGuard() = default;

int64_t ScriptGuard::NowMs() {
  return SleepCanceller::NowMs();
}

ScriptGuard* ScriptGuard::Of(lua_State* L) {
  return static_cast<ScriptGuard*>(GetStateHost(L));
}

void ScriptGuard::BeginStage(const char* message, int64_t instruction_budget) {
  message_.store(message);
  budget_.store(instruction_budget);
  budgeted_.store(instruction_budget > 0);
  stop_.store(false);
  limit_reached_.store(false);
  stop_seen_.store(false);
  sleep_.Reset();
  std::lock_guard<std::mutex> lock(threads_mutex_);
  InstallHookLocked(L_, false);
}

void ScriptGuard::Stop() {
  {
    // Every hook is in place before a cancelled sleep can raise the stop, and before the
    // script's thread (which sees stop_ and then waits for this lock) raises it: a pcall
    // or a resume that catches it returns to code that is hooked already.
    std::lock_guard<std::mutex> lock(threads_mutex_);
    stop_.store(true);
    InstallStopHooksLocked();
  }
  sleep_.Cancel(message_.load());
}

void ScriptGuard::StopAtDeadline() {
  limit_reached_.store(true);
  Stop();
  done_.notify_all();  // the watcher prints the time-limit lines without waiting for its poll
}

int ScriptGuard::RaiseStop(lua_State* L) {
  // Caught with pcall, the error meets the script again at its next instruction, and a
  // coroutine that it ends returns to a resumer that is hooked as well.
  {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    InstallStopHooksLocked();
    InstallHookLocked(L, true);
  }
  stop_seen_.store(true);
  lua_pushstring(L, message_.load());
  return lua_error(L);
}

void ScriptGuard::CheckClock(lua_State* L) {
  calls_to_clock_.store(kCallsPerClockRead, std::memory_order_relaxed);
  if (SleepCanceller::NowMs() > sleep_.deadline()) {
    StopAtDeadline();
    RaiseStop(L);
  }
}

void ScriptGuard::InstallStopHooksLocked() {
  // Hooks are per Lua thread: the main thread and every coroutine being resumed now.
  // A coroutine created later inherits the hook of the thread that creates it, and one
  // resumed later is hooked by Resume.
  InstallHookLocked(L_, true);
  for (lua_State* thread : resumed_) InstallHookLocked(thread, true);
}

void ScriptGuard::InstallHookLocked(lua_State* thread, bool every) {
  int mask = LUA_MASKCOUNT;
  int count = kHookInterval;
  auto it = script_hooks_.find(thread);
  if (it != script_hooks_.end()) {
    mask |= it->second.mask;
    if (it->second.mask & LUA_MASKCOUNT) count = std::min(count, std::max(it->second.count, 1));
  }
  if (every) count = 1;
  lua_sethook(thread, Hook, mask, count);
}

void ScriptGuard::Hook(lua_State* L, lua_Debug* ar) {
  ScriptGuard* guard = Of(L);
  if (guard == nullptr) return;
  if (ar->event == LUA_HOOKCOUNT) {
    if (guard->budgeted_.load()) {
      int64_t left = guard->budget_.load() - lua_gethookcount(L);
      guard->budget_.store(left);
      if (left <= 0) guard->Stop();
    }
    // The script's own thread keeps the deadline: a watcher that is late (a loaded
    // machine) lets nothing run past the limit. One clock read per count event.
    if (!guard->stop_.load() && SleepCanceller::NowMs() > guard->sleep_.deadline()) guard->StopAtDeadline();
  }
  if (guard->stop_.load()) guard->RaiseStop(L);
  // The script's own hook, set with debug.sethook, gets the events it asked for. Only the
  // script's thread changes script_hooks_, so it may look without the lock.
  if (guard->script_hooks_.empty()) return;
  void (*hook)(lua_State*, lua_Debug*) = nullptr;
  {
    std::lock_guard<std::mutex> lock(guard->threads_mutex_);
    auto it = guard->script_hooks_.find(L);
    if (it == guard->script_hooks_.end()) return;
    ScriptHook& own = it->second;
    if (ar->event == LUA_HOOKCOUNT) {
      if (!(own.mask & LUA_MASKCOUNT)) return;
      own.left -= lua_gethookcount(L);
      if (own.left > 0) return;
      own.left = own.count;
    } else {
      int bit = ar->event == LUA_HOOKTAILCALL ? LUA_MASKCALL : 1 << ar->event;
      if (!(own.mask & bit)) return;
    }
    hook = own.hook;
  }
  if (hook != nullptr) hook(L, ar);
}

// debug.sethook: the standard function sets the script's hook, which then runs behind
// the guard's own, so that no script can switch the stop off.
int ScriptGuard::SetHook(lua_State* L) {
  lua_State* target = lua_type(L, 1) == LUA_TTHREAD ? lua_tothread(L, 1) : L;
  int arguments = lua_gettop(L);
  ScriptGuard* guard = Of(L);
  if (guard == nullptr || g_standard_sethook == nullptr) return 0;
  lua_pushcfunction(L, g_standard_sethook);
  lua_insert(L, 1);
  lua_call(L, arguments, 0);
  void (*hook)(lua_State*, lua_Debug*) = lua_gethook(target);
  int mask = lua_gethookmask(target);
  int count = lua_gethookcount(target);
  std::lock_guard<std::mutex> lock(guard->threads_mutex_);
  if (hook == nullptr || hook == Hook || mask == 0)
    guard->script_hooks_.erase(target);
  else
    guard->script_hooks_[target] = ScriptHook{hook, mask, count, count};
  guard->InstallHookLocked(target, guard->stop_.load());
  return 0;
}

// debug.gethook: what the script set (the standard function would name the guard's own
// hook an "external hook").
int ScriptGuard::GetHook(lua_State* L) {
  lua_State* target = lua_type(L, 1) == LUA_TTHREAD ? lua_tothread(L, 1) : L;
  ScriptGuard* guard = Of(L);
  if (guard == nullptr || g_standard_gethook == nullptr) return 0;
  int arguments = lua_gettop(L);
  lua_pushcfunction(L, g_standard_gethook);
  lua_insert(L, 1);
  // The standard function reads the thread's hook: show it the script's for a moment.
  // No lock is held while it runs (it allocates, and a finalizer may resume a coroutine);
  // it runs no hooked code, and a stop meanwhile is seen when the guard's hook returns.
  ScriptHook own{nullptr, 0, 0, 0};
  {
    std::lock_guard<std::mutex> lock(guard->threads_mutex_);
    auto it = guard->script_hooks_.find(target);
    if (it != guard->script_hooks_.end()) own = it->second;
  }
  lua_sethook(target, own.hook, own.mask, own.count);
  int status = lua_pcall(L, arguments, LUA_MULTRET, 0);
  {
    std::lock_guard<std::mutex> lock(guard->threads_mutex_);
    guard->InstallHookLocked(target, guard->stop_.load());
  }
  if (status != LUA_OK) return lua_error(L);
  return lua_gettop(L);
}

// Resumes `co` from `L` as the standard coroutine library does, keeping `co` on the list
// of threads that a stop hooks. Gives the number of results moved to L, or -1 with the
// error value on top of L.
int ScriptGuard::ResumeThread(lua_State* L, lua_State* co, int narg) {
  if (!lua_checkstack(co, narg)) {
    lua_pushliteral(L, "too many arguments to resume");
    return -1;
  }
  if (lua_status(co) == LUA_OK && lua_gettop(co) == 0) {
    lua_pushliteral(L, "cannot resume dead coroutine");
    return -1;
  }
  lua_xmove(L, co, narg);
  ScriptGuard* guard = Of(L);
  if (guard != nullptr) {
    std::lock_guard<std::mutex> lock(guard->threads_mutex_);
    guard->resumed_.push_back(co);
    if (guard->stop_.load()) guard->InstallHookLocked(co, true);
  }
  int status = lua_resume(co, L, narg);
  if (guard != nullptr) {
    std::lock_guard<std::mutex> lock(guard->threads_mutex_);
    auto it = std::find(guard->resumed_.rbegin(), guard->resumed_.rend(), co);
    if (it != guard->resumed_.rend()) guard->resumed_.erase(std::next(it).base());
    if (guard->stop_.load()) guard->InstallHookLocked(L, true);
  }
  if (status == LUA_OK || status == LUA_YIELD) {
    int results = lua_gettop(co);
    if (!lua_checkstack(L, results + 1)) {
      lua_pop(co, results);
      lua_pushliteral(L, "too many results to resume");
      return -1;
    }
    lua_xmove(co, L, results);
    return results;
  }
  lua_xmove(co, L, 1);
  return -1;
}

int ScriptGuard::Resume(lua_State* L) {
  lua_State* co = lua_tothread(L, 1);
  luaL_argcheck(L, co != nullptr, 1, "coroutine expected");
  int results = ResumeThread(L, co, lua_gettop(L) - 1);
  if (results < 0) {
    lua_pushboolean(L, 0);
    lua_insert(L, -2);
    return 2;
  }
  lua_pushboolean(L, 1);
  lua_insert(L, -(results + 1));
  return results + 1;
}

int ScriptGuard::WrapCall(lua_State* L) {
  lua_State* co = lua_tothread(L, lua_upvalueindex(1));
  int results = ResumeThread(L, co, lua_gettop(L));
  if (results < 0) {
    if (lua_type(L, -1) == LUA_TSTRING) {
      luaL_where(L, 1);
      lua_insert(L, -2);
      lua_concat(L, 2);
    }
    return lua_error(L);
  }
  return results;
}

int ScriptGuard::Wrap(lua_State* L) {
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_State* co = lua_newthread(L);
  lua_pushvalue(L, 1);
  lua_xmove(L, co, 1);
  lua_pushcclosure(L, WrapCall, 1);
  return 1;
}

void ScriptGuard::PauseClock() {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  if (pause_depth_++ == 0) {
    paused_since_ = NowMs();
    PublishDeadlineLocked();
  }
}

void ScriptGuard::ResumeClock() {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  if (pause_depth_ > 0 && --pause_depth_ == 0) {
    paused_ms_ += NowMs() - paused_since_;
    paused_since_ = -1;
    PublishDeadlineLocked();
  }
}

int64_t ScriptGuard::ScriptTimeLocked(int64_t now, int64_t start) const {
  int64_t paused = paused_ms_ + (paused_since_ >= 0 ? now - paused_since_ : 0);
  return now - start - paused;
}

// A paused clock has no deadline; once it runs again the deadline is later by the
// paused time. Script time over the limit (ScriptTimeLocked > limit) is the same as
// NowMs() > this deadline.
void ScriptGuard::PublishDeadlineLocked() {
  int64_t deadline = SleepCanceller::kNoDeadline;
  if (deadline_base_ != SleepCanceller::kNoDeadline && pause_depth_ == 0) deadline = deadline_base_ + paused_ms_;
  sleep_.SetDeadline(deadline);
}

GuardedEnd ScriptGuard::Run(std::function<void()> work, int64_t start_ms, int limit_ms, int grace_ms,
                            const std::function<void()>& at_limit) {
  limit_reached_.store(false);
  stop_seen_.store(false);
  {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    finished_ = false;
    paused_ms_ = 0;
    paused_since_ = -1;
    pause_depth_ = 0;
    deadline_base_ = start_ms + limit_ms;
    PublishDeadlineLocked();
  }
  // The thread holds the guard: given up, it may still run (and sleep, and hook) later.
  std::thread thread([self = shared_from_this(), work = std::move(work)] {
    work();
    {
      std::lock_guard<std::mutex> lock(self->clock_mutex_);
      self->finished_ = true;
    }
    self->done_.notify_all();
  });
  std::unique_lock<std::mutex> lock(clock_mutex_);
  if (watcher_delay_ms_ > 0)
    done_.wait_for(lock, std::chrono::milliseconds(watcher_delay_ms_), [this] { return finished_; });
  bool stopped = false;    // the stop is in force
  bool announced = false;  // at_limit has run
  int64_t stopped_at = 0;
  // The time-limit lines wait until the script has seen the stop: a hook set from this
  // thread may miss a count or two of a running thread, and the script must not print
  // after them.
  auto announce = [&] {
    if (announced) return;
    announced = true;
    lock.unlock();
    if (at_limit) at_limit();
    lock.lock();
  };
  while (!finished_) {
    done_.wait_for(lock, std::chrono::milliseconds(stopped ? 5 : 10));
    if (finished_) break;
    int64_t elapsed = ScriptTimeLocked(NowMs(), start_ms);
    if (!stopped && (elapsed > limit_ms || limit_reached_.load())) {
      stopped = true;
      stopped_at = elapsed;
      // A stop at the deadline is in force already: the script's thread made it.
      if (!limit_reached_.load()) {
        lock.unlock();
        Stop();
        lock.lock();
      }
    }
    if (!stopped) continue;
    if (stop_seen_.load()) announce();
    if (elapsed - stopped_at >= grace_ms) {
      announce();
      lock.unlock();
      thread.detach();
      return GuardedEnd::kAbandoned;
    }
  }
  deadline_base_ = SleepCanceller::kNoDeadline;
  PublishDeadlineLocked();
  lock.unlock();
  thread.join();
  // A script that stopped itself at the deadline was stopped at the limit all the same.
  if (limit_reached_.load()) stopped = true;
  if (stopped && !announced && at_limit) at_limit();
  return stopped ? GuardedEnd::kStopped : GuardedEnd::kFinished;
}
