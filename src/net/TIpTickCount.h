#pragma once

#include <cstdint>
#include <functional>

// The millisecond tick counter behind the timer and the debug log's time stamps. It wraps after
// 2^32 - 1 ms like the system counter it stands for. Tests may replace the source; an empty
// function restores the monotonic clock.
uint32_t IpTickCount();
void SetIpTickSource(std::function<uint32_t()> source);
