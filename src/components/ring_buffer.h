#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnveil {

// Single-producer, single-consumer FIFO without locks, for the samples the
// reader thread decodes and the audio callback plays.
//
// Both indices count elements since construction and only ever grow (64 bits
// do not wrap in the life of a program); the slot of index i is i & mask. The
// producer owns write_, the consumer owns read_:
//  - the producer fills slots, then publishes them with a release store of
//    write_; the consumer's acquire load of write_ therefore sees the slots
//    filled;
//  - the consumer copies slots out, then frees them with a release store of
//    read_; the producer's acquire load of read_ therefore never lets it
//    overwrite a slot that is still being copied.
// Nothing else is shared, so neither side ever waits for the other.
template <typename T>
class SpscRing {
public:
    // The capacity is rounded up to a power of two.
    explicit SpscRing(size_t minimumCapacity)
        : slots_(std::bit_ceil(std::max<size_t>(minimumCapacity, 2))), mask_(slots_.size() - 1)
    {
    }

    size_t capacity() const { return slots_.size(); }

    // Producer thread only.
    size_t writable() const
    {
        return capacity() - static_cast<size_t>(write_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
    }

    // Producer thread only. Writes as much of `data` as fits; returns how much that was.
    size_t write(const T* data, size_t count)
    {
        const uint64_t start = write_.load(std::memory_order_relaxed);
        count = std::min(count, writable());
        copyIn(start, data, count);
        write_.store(start + count, std::memory_order_release);
        return count;
    }

    // Producer thread only. One element, if there is room.
    bool push(const T& element)
    {
        const uint64_t index = write_.load(std::memory_order_relaxed);
        if (writable() == 0)
            return false;
        slots_[static_cast<size_t>(index & mask_)] = element;
        write_.store(index + 1, std::memory_order_release);
        return true;
    }

    // Producer thread only: the index the next written element will have.
    uint64_t producerIndex() const { return write_.load(std::memory_order_relaxed); }

    // Consumer thread only: how far the producer has published.
    uint64_t publishedIndex() const { return write_.load(std::memory_order_acquire); }

    // Consumer thread only.
    uint64_t readIndex() const { return read_.load(std::memory_order_relaxed); }

    // Consumer thread only. Copies out up to `count` elements, but none at or
    // beyond `limit` (an index earlier returned by publishedIndex()).
    size_t read(T* out, size_t count, uint64_t limit)
    {
        const uint64_t start = read_.load(std::memory_order_relaxed);
        count = std::min<size_t>(count, static_cast<size_t>(limit - start));
        copyOut(start, out, count);
        read_.store(start + count, std::memory_order_release);
        return count;
    }

    size_t read(T* out, size_t count) { return read(out, count, publishedIndex()); }

    // Consumer thread only. The oldest element, if there is one.
    bool pop(T& element)
    {
        const uint64_t index = read_.load(std::memory_order_relaxed);
        if (index == publishedIndex())
            return false;
        element = slots_[static_cast<size_t>(index & mask_)];
        read_.store(index + 1, std::memory_order_release);
        return true;
    }

    // Consumer thread only: drops everything before `index` (not beyond what was published).
    void discardTo(uint64_t index)
    {
        if (index > read_.load(std::memory_order_relaxed))
            read_.store(index, std::memory_order_release);
    }

    // Either thread; exact only from the consumer.
    size_t readable() const
    {
        return static_cast<size_t>(write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire));
    }

private:
    void copyIn(uint64_t start, const T* data, size_t count)
    {
        const size_t first = std::min(count, capacity() - static_cast<size_t>(start & mask_));
        std::copy_n(data, first, slots_.begin() + static_cast<ptrdiff_t>(start & mask_));
        std::copy_n(data + first, count - first, slots_.begin());
    }

    void copyOut(uint64_t start, T* out, size_t count) const
    {
        const size_t first = std::min(count, capacity() - static_cast<size_t>(start & mask_));
        std::copy_n(slots_.begin() + static_cast<ptrdiff_t>(start & mask_), first, out);
        std::copy_n(slots_.begin(), count - first, out + first);
    }

    std::vector<T> slots_;
    const uint64_t mask_;
    // Apart, so that the two threads do not fight over one cache line.
    alignas(64) std::atomic<uint64_t> write_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
};

} // namespace tarnveil
