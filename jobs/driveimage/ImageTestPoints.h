#pragma once

#include <functional>

// Crash-safety tests stop the image tool at named moments the way a power cut or kill -9 would.
// Built with VAULTORA_TEST_HOOKS, the tool ends with _exit when the variable VAULTORA_TEST_CRASH_AT
// names this point ("name" or "name:N" for the N-th time it is reached). Otherwise nothing.
void ImageCrashPoint(const char* name);

// Tests that must act while an operation is at a known moment hold it there: when the variable
// VAULTORA_TEST_PAUSE_AT names this point, the tool writes "test pause: name" to its output and
// waits until released() is true. Otherwise nothing.
void ImagePausePoint(const char* name, const std::function<void(const char*)>& say,
                     const std::function<bool()>& released);

// Tests that do not cut the power leave flushing to disk out (VAULTORA_TEST_NO_SYNC set, in builds
// with VAULTORA_TEST_HOOKS): a killed process loses nothing the kernel already has.
bool ImageSyncSkipped();
