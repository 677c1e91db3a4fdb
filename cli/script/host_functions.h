// The host functions that definition scripts see beside Lua's standard libraries:
// print, clear, int, the sys table, the replaced os.exit and the __akq table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

struct lua_State;

// Keeps sys.sleep within the script's time: a sleep ends early when the compile is
// cancelled (the time limit passed), and never lasts past the deadline of the running
// stage. A sleep cut short raises `message` as a Lua error, so that a script cannot sleep
// its way past the limit one short call at a time.
struct SleepCanceller {
  static constexpr int64_t kNoDeadline = INT64_MAX;

  // Sleeps up to `ms` milliseconds. False, at once or as soon as it happens, when
  // Cancel() was called or the deadline came first; in the latter case the deadline
  // action has run (on the sleeping thread) before it gives false.
  bool Sleep(uint32_t ms);
  void Cancel(const char* message);
  // Sleeps work again (a new stage of the compile begins).
  void Reset();
  bool cancelled() const { return cancelled_.load(); }
  const char* message() const { return message_.load(); }

  // The last millisecond of NowMs() that a sleep may reach (kNoDeadline: none). It moves
  // while the script clock is paused, so a sleep re-reads it whenever it changes.
  void SetDeadline(int64_t deadline_ms);
  int64_t deadline() const { return deadline_.load(std::memory_order_relaxed); }
  // What runs when a sleep reaches the deadline first: the owner's stop, which cancels.
  // Without one the sleep cancels itself. Set before the first sleep.
  void SetDeadlineAction(std::function<void()> action) { at_deadline_ = std::move(action); }

  // The steady clock in milliseconds, the clock of every deadline.
  static int64_t NowMs();

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<const char*> message_{"script stopped at the time limit"};
  std::atomic<int64_t> deadline_{kNoDeadline};
  std::function<void()> at_deadline_;
};

// Registers the host functions in `L`. `canceller` must outlive the state's use;
// `log_value` is published as __akq.__log.
void RegisterHostFunctions(lua_State* L, SleepCanceller* canceller, int32_t log_value);

// The helpers behind int, sys.bin and sys.hex, exposed for tests.
double HostInt(double value);                  // nearest 32-bit integer, ties to even
bool HostRound64(double value, int64_t* out);  // nearest 64-bit integer; false for NaN
const char* HostDigits(uint64_t value, unsigned base, char* buffer);  // no leading zeros
