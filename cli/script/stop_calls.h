// Library calls refuse to run once a script is stopped. Lua runs some of a script's code
// without hooks (a hook function that the script set, the finalizers that the collector
// runs), so the guard's count hook never stops it; every C function of the libraries
// raises the stop instead, so such code can neither wait on a library call (os.clock,
// string functions) nor have any effect (io, os, print) after the limit.
#pragma once

struct lua_State;

// Replaces each C function without upvalues in the global table, in the library tables
// (every table in package.loaded: string, table, math, io, os, utf8, coroutine, debug,
// package, bit32 where Lua has it; and sys) and among the methods of file handles by one
// that asks the state's ScriptGuard first (it raises the stop once that is in force) and
// then runs the original within the same call, so that errors name the function as
// before. Functions with upvalues keep the library's own state there and are left as
// they are, and so are metamethods (the collector must still close a file). Call once
// the libraries are open, the guard attached and the host functions registered, before
// the state has a coroutine; without a guard the functions run as before.
void StopLibraryCallsAtLimit(lua_State* L);

// Tests: wrappers made from now on are closures that keep the original as their upvalue
// (as when the process has wrapped more functions than it has slots for).
void UseClosureWrappersForTesting(bool closures);
