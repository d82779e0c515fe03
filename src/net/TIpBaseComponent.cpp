#include "net/TIpBaseComponent.h"

#include <cstdio>

std::string TIpBaseComponent::Version() {
    char text[16] = {};
    std::snprintf(text, sizeof text, "v%.2f", 1.02);
    return text;
}

std::string TIpBaseComponent::FormatLogEntry(int32_t, int32_t, uint32_t, const char*, uint32_t) {
    return "!!!! Unhandled log entry\n\r";
}
