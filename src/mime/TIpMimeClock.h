#pragma once

#include <cstdint>
#include <functional>

// The clock readings a MIME boundary is made of. Each is a replaceable function object so that a
// test can fix them and compare a composed article with a golden text; Restore puts the system
// readings back.
class TIpMimeClock {
public:
    // Local date and time as days since 30 December 1899, the fraction being the time of day.
    static std::function<double()> Now;
    // A millisecond tick counter; it wraps around after 2^32 ms.
    static std::function<uint32_t()> TickCount;
    // A number from 0 to 65534, from a generator seeded from the clock right before.
    static std::function<uint32_t()> Random;

    static void Restore();

    static double SystemNow();
    static uint32_t SystemTickCount();
    static uint32_t SystemRandom();
};
