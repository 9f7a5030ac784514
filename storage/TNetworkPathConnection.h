#pragma once

#include "storage/SharePath.h"

#include <QString>

#include <mutex>

struct _SMBCCTX;
class TSleeper;

// A session to a network share for the length of a job run (or a rename or removal), made with
// the SMB client library: no kernel mount and no root. Each object has a client context of its
// own. The password reaches the library only through its authentication callback.
//
// The library keeps per-call scratch memory in process-wide state (its thread support is not
// exported by the system's build), so every call into it, on any context, holds LockLibrary():
// two jobs on two threads take turns call by call.
//
// One object per run, used by one thread at a time.
class TNetworkPathConnection {
public:
    explicit TNetworkPathConnection(TSleeper* sleeper = nullptr);
    ~TNetworkPathConnection();
    TNetworkPathConnection(const TNetworkPathConnection&) = delete;
    TNetworkPathConnection& operator=(const TNetworkPathConnection&) = delete;

    // Opens a session to the share of aNetworkPath ("\\server\share\path", "//server/share/path"
    // or "smb://server[:port]/share/path") and checks that the share answers. A blank user name
    // connects as guest, whatever the password. An open session is closed first. On failure
    // FLastError says why, with the prefix of its kind ("Access denied:", "Bad network Name:",
    // ...), and nothing stays open.
    bool Connect(const QString& aNetworkPath, const QString& aUsername, const QString& aPassword);
    // Closes the session. Without aForce, a close refused because files are still open is tried
    // again every 100 ms, 99 more times, and then forced.
    void Disconnect(bool aForce);

    // The connected share and the client context for the branch's file operations; null when
    // not connected.
    const TSharePath& Share() const { return FShare; }
    _SMBCCTX* Context() const { return FContext; }

    // The text of an error number of the client library, with the prefix of its kind.
    static QString ErrorText(int error);
    // Held around every call into the client library.
    [[nodiscard]] static std::unique_lock<std::mutex> LockLibrary();

    QString FRemotePath;
    QString FUser;
    QString FPassword;
    bool FConnected = false;
    bool FOwned = false;
    QString FLastError;
    bool FFailed = false;
    QString FURI;

private:
    void Fail(const QString& text);
    void FreeContext(bool force);

    TSleeper* FSleeper;
    _SMBCCTX* FContext = nullptr;
    TSharePath FShare;
};
