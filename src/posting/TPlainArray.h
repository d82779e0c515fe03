#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// A growable array of plain values kept with malloc and realloc. A large array grows in place
// (the system moves its pages to a larger range instead of copying them), so an array filled
// with a million entries is written once and its memory touched once, where a vector doubling
// its capacity copies everything again and touches fresh pages each time.
template <typename T> class TPlainArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    TPlainArray() = default;
    TPlainArray(const TPlainArray& other) { Append(other.data(), other.size()); }
    TPlainArray(TPlainArray&& other) noexcept { Swap(other); }
    TPlainArray& operator=(TPlainArray other) noexcept {
        Swap(other);
        return *this;
    }
    ~TPlainArray() { std::free(FData); }

    void Swap(TPlainArray& other) noexcept {
        std::swap(FData, other.FData);
        std::swap(FSize, other.FSize);
        std::swap(FCapacity, other.FCapacity);
    }

    T* data() { return FData; }
    const T* data() const { return FData; }
    size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }
    T& operator[](size_t i) { return FData[i]; }
    const T& operator[](size_t i) const { return FData[i]; }

    void Reserve(size_t capacity) {
        if (capacity <= FCapacity)
            return;
        void* grown = std::realloc(FData, capacity * sizeof(T));
        if (grown == nullptr)
            throw std::bad_alloc();
        FData = static_cast<T*>(grown);
        FCapacity = capacity;
    }
    void PushBack(const T& value) {
        Grow(1);
        FData[FSize++] = value;
    }
    void Append(const T* from, size_t count) {
        if (count == 0)
            return;
        Grow(count);
        std::memcpy(FData + FSize, from, count * sizeof(T));
        FSize += count;
    }
    void Insert(size_t at, const T& value) {
        Grow(1);
        std::memmove(FData + at + 1, FData + at, (FSize - at) * sizeof(T));
        FData[at] = value;
        ++FSize;
    }
    void Erase(size_t at) {
        std::memmove(FData + at, FData + at + 1, (FSize - at - 1) * sizeof(T));
        --FSize;
    }
    // Keeps the first `count` values.
    void Truncate(size_t count) { FSize = count < FSize ? count : FSize; }
    // Empties the array and gives its memory back.
    void Clear() { TPlainArray().Swap(*this); }

private:
    void Grow(size_t more) {
        if (FSize + more > FCapacity)
            Reserve(std::max(FSize + more, FCapacity < 4096 ? 4096 : FCapacity * 2));
    }

    T* FData = nullptr;
    size_t FSize = 0;
    size_t FCapacity = 0;
};
