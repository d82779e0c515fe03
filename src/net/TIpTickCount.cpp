#include "net/TIpTickCount.h"

#include <chrono>
#include <mutex>

static std::mutex sourceLock;
static std::function<uint32_t()>& Source() {
    static std::function<uint32_t()> source;
    return source;
}

uint32_t IpTickCount() {
    {
        std::scoped_lock lock(sourceLock);
        if (Source())
            return Source()();
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetIpTickSource(std::function<uint32_t()> source) {
    std::scoped_lock lock(sourceLock);
    Source() = std::move(source);
}
