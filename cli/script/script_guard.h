// Keeps the code of a definition script under a deadline: the script itself, the
// metamethods that the section walk runs, and the finalizers that run when the state is
// closed. Each runs on a thread of its own while the compile thread waits; at the limit
// the script is stopped, and what cannot be stopped (a long C call, a finalizer, which
// Lua runs without hooks) is given up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"

struct lua_State;
struct lua_Debug;

// How a piece of guarded work ended.
enum class GuardedEnd {
  kFinished,   // it ended within its limit
  kStopped,    // it was stopped at the limit and then ended
  kAbandoned,  // it did not end after the stop: its thread is left to itself
};

class ScriptGuard : public StateHost, public std::enable_shared_from_this<ScriptGuard> {
 public:
  // Attaches itself to `L` (a state of NewLimitedState with its libraries open), sets the
  // count hook, and replaces coroutine.resume, coroutine.wrap, debug.sethook and debug.gethook by
  // versions that keep the stop in force. The guard must outlive the state's use.
  explicit ScriptGuard(lua_State* L);
  ~ScriptGuard() override;
  ScriptGuard(const ScriptGuard&) = delete;
  ScriptGuard& operator=(const ScriptGuard&) = delete;

  SleepCanceller& sleep() { return sleep_; }

  // Begins a stage of the compile: the stop is lifted, `message` is what a stop raises
  // from now on, and `instruction_budget` (> 0) stops the script once it has run that
  // many Lua instructions in this stage (0: no budget).
  void BeginStage(const char* message, int64_t instruction_budget = 0);

  // Runs `work` on a thread of its own and waits for it. The script may run for
  // `limit_ms` of script time from `start_ms` (time between PauseClock and ResumeClock
  // does not count); past that it is stopped. The work's own thread keeps the deadline
  // (the count hook looks at the clock, sys.sleep wakes at the deadline), so the limit
  // holds however late this thread is; this thread looks every 10 ms as well, for work
  // that runs no hooks (a long C call). Once the script has been stopped and has seen it
  // (or has ended), `at_limit` runs on this thread, once, so that nothing of the script
  // runs after what it prints. When the work has not ended `grace_ms` of script time
  // after the stop, it is given up: the state must never be used again.
  GuardedEnd Run(std::function<void()> work, int64_t start_ms, int limit_ms, int grace_ms,
                 const std::function<void()>& at_limit = {});

  // Stops the script: from now on every Lua thread in use runs the hook at every
  // instruction, which raises the stage's message, and sys.sleep raises it at once.
  void Stop();
  bool stopped() const { return stop_.load(); }

  // Asked by every library call of the script before it runs (see stop_calls.h): raises
  // the stage's stop in `L` once it is in force. Every so many calls it also looks at the
  // clock, as the count hook does, since code that Lua runs without hooks (a hook
  // function of the script, a finalizer) never meets the hook.
  void CheckCall(lua_State* L) {
    if (stop_.load()) [[unlikely]]
      RaiseStop(L);
    int left = calls_to_clock_.load(std::memory_order_relaxed) - 1;
    calls_to_clock_.store(left, std::memory_order_relaxed);
    if (left <= 0) [[unlikely]]
      CheckClock(L);
  }
  // Raises the stage's stop in `L`, as the hook does at the limit (a Lua error: it does
  // not return).
  int RaiseStop(lua_State* L);

  // Tests: the watching thread of Run takes no notice of the clock for its first
  // `delay_ms` (as on a loaded machine), though it still sees the work end.
  void DelayWatcherForTesting(int delay_ms) { watcher_delay_ms_ = delay_ms; }

  void PauseClock() override;
  void ResumeClock() override;

  // The guard attached to a state, or nullptr.
  static ScriptGuard* Of(lua_State* L);
  // The steady clock in milliseconds.
  static int64_t NowMs();

 private:
  struct ScriptHook {
    void (*hook)(lua_State*, lua_Debug*);
    int mask;
    int count;
    int64_t left;
  };

  static void Hook(lua_State* L, lua_Debug* ar);
  static int SetHook(lua_State* L);
  static int GetHook(lua_State* L);
  static int Resume(lua_State* L);
  static int Wrap(lua_State* L);
  static int WrapCall(lua_State* L);
  static int ResumeThread(lua_State* L, lua_State* co, int narg);

  // Sets the hook of `thread`, with the script's own hook events; every instruction
  // when `every`. The caller holds threads_mutex_.
  void InstallHookLocked(lua_State* thread, bool every);
  // Hooks every Lua thread in use at every instruction. The caller holds threads_mutex_.
  void InstallStopHooksLocked();
  // The stop of the script's own thread at the deadline.
  void StopAtDeadline();
  // CheckCall's look at the clock: raises the stop once the deadline has passed.
  void CheckClock(lua_State* L);
  int64_t ScriptTimeLocked(int64_t now, int64_t start) const;
  // Gives the stage's deadline to sys.sleep and the hook. The caller holds clock_mutex_.
  void PublishDeadlineLocked();

  lua_State* L_;
  SleepCanceller sleep_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> limit_reached_{false};  // the script's thread stopped at the deadline
  std::atomic<bool> stop_seen_{false};      // the script's thread raised the stop
  std::atomic<const char*> message_;
  std::atomic<int64_t> budget_{0};
  std::atomic<bool> budgeted_{false};
  // Library calls until CheckCall next looks at the clock. Only the thread that runs the
  // script's code counts, so a load and a store are enough.
  std::atomic<int> calls_to_clock_{0};

  std::mutex threads_mutex_;
  std::vector<lua_State*> resumed_;                  // coroutines being resumed, innermost last
  std::map<lua_State*, ScriptHook> script_hooks_;    // hooks the script set with debug.sethook

  std::mutex clock_mutex_;
  std::condition_variable done_;
  bool finished_ = true;
  int64_t deadline_base_ = SleepCanceller::kNoDeadline;  // start + limit of the running stage
  int watcher_delay_ms_ = 0;
  int64_t paused_ms_ = 0;
  int64_t paused_since_ = -1;
  int pause_depth_ = 0;
};
