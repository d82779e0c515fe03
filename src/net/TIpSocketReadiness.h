#pragma once

#include <QPointer>
#include <QSocketNotifier>

class TIpSockControl;

// The read and write notifiers of one socket handle. Their signals go to the owner's
// SocketReadiness with the handle, so the owner decides which socket (if any) they concern.
// Release() stops both and lets Qt delete them once the current notification has returned,
// because a socket is often freed from inside one of its own notifications.
class TIpSocketReadiness {
public:
    TIpSocketReadiness(TIpSockControl& owner, int handle);
    TIpSocketReadiness(const TIpSocketReadiness&) = delete;
    TIpSocketReadiness& operator=(const TIpSocketReadiness&) = delete;
    ~TIpSocketReadiness();

    void SetReadEnabled(bool enabled);
    void SetWriteEnabled(bool enabled);
    bool ReadEnabled() const;
    bool WriteEnabled() const;
    void Release();

private:
    QPointer<QSocketNotifier> FRead;
    QPointer<QSocketNotifier> FWrite;
};
