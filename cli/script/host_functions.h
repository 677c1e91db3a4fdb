// The host functions that definition scripts see beside Lua's standard libraries:
// print, clear, int, the sys table, the replaced os.exit and the __akq table.
#pragma once

#include <atomic>
#include <cstdint>

struct lua_State;

// Stops sys.sleep early when the compile is cancelled (the time limit passed). A
// cancelled sleep raises `message` as a Lua error, so that a script cannot sleep its way
// past the limit one short call at a time.
struct SleepCanceller {
  // Sleeps up to `ms` milliseconds. False, at once or as soon as it happens, when
  // Cancel() was called.
  bool Sleep(uint32_t ms);
  void Cancel(const char* message);
  // Sleeps work again (a new stage of the compile begins).
  void Reset();
  bool cancelled() const { return cancelled_.load(); }
  const char* message() const { return message_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<const char*> message_{"script stopped at the time limit"};
};

// Registers the host functions in `L`. `canceller` must outlive the state's use;
// `log_value` is published as __akq.__log.
void RegisterHostFunctions(lua_State* L, SleepCanceller* canceller, int32_t log_value);

// The helpers behind int, sys.bin and sys.hex, exposed for tests.
double HostInt(double value);                  // nearest 32-bit integer, ties to even
bool HostRound64(double value, int64_t* out);  // nearest 64-bit integer; false for NaN
const char* HostDigits(uint64_t value, unsigned base, char* buffer);  // no leading zeros
