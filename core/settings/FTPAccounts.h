#pragma once

#include "core/settings/TOptions.h"

#include <cstdint>

// The FTP account list of the options. IDs are never reused: jobs refer to accounts by ID, and a
// job whose account was removed must not silently reach another server. The callers save the
// options afterwards.

// Appends the account with a fresh ID (LastFTPAccountID + 1, and the counter is raised) and
// returns that ID; -1 when no ID is left.
int32_t AddFTPAccount(TOptions& options, TFTPAccount account);
// Replaces the fields of the account with that ID; its ID stays. False when there is none.
bool EditFTPAccount(TOptions& options, int32_t id, const TFTPAccount& fields);
// Removes the account at index, keeping the order of the others. Returns the index of the entry
// to select afterwards (the one now in its place, the previous one when the last was removed),
// -1 when the list is empty or index is out of range.
int RemoveFTPAccount(TOptions& options, int index);
// The account with that ID (the last one when two share it), or nullptr.
const TFTPAccount* FindFTPAccount(const TOptions& options, int32_t id);
