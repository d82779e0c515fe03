#include "net/TIpBaseLog.h"

bool TIpBaseLog::Enabled() const {
    std::scoped_lock lock(FLock);
    return FEnabled;
}

void TIpBaseLog::SetEnabled(bool value) {
    std::scoped_lock lock(FLock);
    FEnabled = value;
}

std::string TIpBaseLog::FileName() const {
    std::scoped_lock lock(FLock);
    return FFileName;
}

void TIpBaseLog::SetFileName(const std::string& value) {
    std::scoped_lock lock(FLock);
    FFileName = value;
}
