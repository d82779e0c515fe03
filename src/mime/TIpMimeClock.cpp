#include "mime/TIpMimeClock.h"

#include <chrono>
#include <ctime>
#include <random>

std::function<double()> TIpMimeClock::Now = TIpMimeClock::SystemNow;
std::function<uint32_t()> TIpMimeClock::TickCount = TIpMimeClock::SystemTickCount;
std::function<uint32_t()> TIpMimeClock::Random = TIpMimeClock::SystemRandom;

void TIpMimeClock::Restore() {
    Now = SystemNow;
    TickCount = SystemTickCount;
    Random = SystemRandom;
}

namespace {
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
} // namespace

double TIpMimeClock::SystemNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    const int64_t days =
        DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) +
        25569; // 1899-12-30 to 1970-01-01
    const double dayFraction =
        (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + millis / 1000.0) / 86400.0;
    return static_cast<double>(days) + dayFraction;
}

uint32_t TIpMimeClock::SystemTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t TIpMimeClock::SystemRandom() {
    using namespace std::chrono;
    std::minstd_rand generator(
        static_cast<uint32_t>(high_resolution_clock::now().time_since_epoch().count()));
    return static_cast<uint32_t>(generator() % 65535);
}
