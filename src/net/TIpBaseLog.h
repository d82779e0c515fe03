#pragma once

#include <mutex>
#include <string>

class TIpBaseComponent;

// What both logs share: the switch, the file and a lock around every property access.
class TIpBaseLog {
public:
    explicit TIpBaseLog(TIpBaseComponent* owner) : FOwner(owner) {}
    TIpBaseLog(const TIpBaseLog&) = delete;
    TIpBaseLog& operator=(const TIpBaseLog&) = delete;
    virtual ~TIpBaseLog() = default;

    bool Enabled() const;
    virtual void SetEnabled(bool value);
    std::string FileName() const;
    virtual void SetFileName(const std::string& value);
    TIpBaseComponent* Owner() const { return FOwner; }

protected:
    bool FEnabled = false;
    std::string FFileName;
    mutable std::recursive_mutex FLock;
    TIpBaseComponent* FOwner = nullptr;
};
