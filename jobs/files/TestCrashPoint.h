#pragma once

// Crash-safety tests stop a backup run at named moments the way a power cut or kill -9 would:
// no cleanup, no ending. Built with VAULTORA_TEST_HOOKS, the run ends its process with _exit when
// the variable VAULTORA_TEST_CRASH_AT names this point ("name" or "name:N" for the N-th time
// it is reached). In other builds, and when the variable is unset, it does nothing.
void TestCrashPoint(const char* name);
