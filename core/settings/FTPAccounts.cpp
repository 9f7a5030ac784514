#include "core/settings/FTPAccounts.h"

#include <limits>

int32_t AddFTPAccount(TOptions& options, TFTPAccount account) {
    // A hand-edited or damaged file may hold a counter below an existing ID; the new ID must
    // still be unused.
    int32_t highest = options.LastFTPAccountID;
    for (const TFTPAccount& existing : options.FTPAccounts)
        highest = std::max(highest, existing.ID);
    if (highest == std::numeric_limits<int32_t>::max())
        return -1;
    account.ID = highest + 1;
    options.LastFTPAccountID = account.ID;
    options.FTPAccounts.append(account);
    return account.ID;
}

bool EditFTPAccount(TOptions& options, int32_t id, const TFTPAccount& fields) {
    // The account jobs reach is the one edited (FindFTPAccount).
    for (auto it = options.FTPAccounts.rbegin(); it != options.FTPAccounts.rend(); ++it) {
        if (it->ID == id) {
            *it = fields;
            it->ID = id;
            return true;
        }
    }
    return false;
}

int RemoveFTPAccount(TOptions& options, int index) {
    if (index < 0 || index >= options.FTPAccounts.size())
        return -1;
    options.FTPAccounts.removeAt(index);
    if (options.FTPAccounts.isEmpty())
        return -1;
    return std::min(index, int(options.FTPAccounts.size()) - 1);
}

const TFTPAccount* FindFTPAccount(const TOptions& options, int32_t id) {
    // Options written by hand may hold two accounts with one ID; the later one wins, as the
    // destination texts of the window already show it.
    for (auto it = options.FTPAccounts.crbegin(); it != options.FTPAccounts.crend(); ++it)
        if (it->ID == id)
            return &*it;
    return nullptr;
}
