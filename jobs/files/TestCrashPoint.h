#pragma once

#include <functional>

class TSleeper;

// Crash-safety tests stop a backup run at named moments the way a power cut or kill -9 would:
// no cleanup, no ending. Built with VAULTORA_TEST_HOOKS, the run ends its process with _exit when
// the variable VAULTORA_TEST_CRASH_AT names this point ("name" or "name:N" for the N-th time
// it is reached). In other builds, and when the variable is unset, it does nothing.
void TestCrashPoint(const char* name);

// Tests that must act while a run is at a known moment (send Ctrl-C inside the file loop, say)
// hold it there. Built with VAULTORA_TEST_HOOKS, when the variable VAULTORA_TEST_PAUSE_AT names
// this point ("name" or "name:N"), the run writes "test pause: name" to standard error and waits
// until released() is true. In other builds, and when the variable is unset, it does nothing.
void TestPausePoint(const char* name, TSleeper& sleeper, const std::function<bool()>& released);
