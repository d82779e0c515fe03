#pragma once

#include <cstdint>
#include <initializer_list>

// A small set over an enumeration whose ordinals are below 32, stored as one bit per member.
template <typename E> class TIpSet {
public:
    constexpr TIpSet() = default;
    constexpr TIpSet(std::initializer_list<E> members) {
        for (E m : members)
            FBits |= Bit(m);
    }

    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr TIpSet& Include(E m) {
        FBits |= Bit(m);
        return *this;
    }
    constexpr TIpSet& Exclude(E m) {
        FBits &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool operator==(const TIpSet&) const = default;

private:
    static constexpr uint32_t Bit(E m) {
        const auto ordinal = static_cast<uint32_t>(m);
        return ordinal < 32 ? (uint32_t{1} << ordinal) : 0;
    }
    uint32_t FBits = 0;
};
