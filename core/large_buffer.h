// Pixel planes and the cost of their first touch.
//
// A 12-megapixel plane is 3000 pages of 4 KiB, and on the virtual machines
// this program often runs on each first touch of a page is a trap to the
// hypervisor: filling a fresh 48 MB plane took 150 ms there, against 4 ms when
// the kernel may back it with 2 MiB pages. Every plane of a whole image is
// therefore allocated through these helpers, which allocate as usual and then
// tell the kernel that transparent huge pages are welcome (a hint: where they
// are not available nothing changes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

// Allows huge pages for the 2 MiB-aligned part of [data, data + bytes); small
// buffers are left alone.
void AdviseLargeBuffer(void* data, std::size_t bytes);

// An uninitialised array of count elements (at least one), or null when the
// memory cannot be had.
template <typename T>
std::unique_ptr<T[]> TryMakeLargeArray(std::size_t count)
{
    std::unique_ptr<T[]> array(new (std::nothrow) T[count > 0 ? count : 1]);
    if (array)
        AdviseLargeBuffer(array.get(), count * sizeof(T));
    return array;
}

// The same, throwing std::bad_alloc like new when the memory cannot be had.
template <typename T>
std::unique_ptr<T[]> MakeLargeArray(std::size_t count)
{
    std::unique_ptr<T[]> array(new T[count > 0 ? count : 1]);
    AdviseLargeBuffer(array.get(), count * sizeof(T));
    return array;
}

// Sizes a byte vector to count bytes of value, advising before the first touch.
inline void ResizeLarge(std::vector<std::uint8_t>& bytes, std::size_t count, std::uint8_t value = 0)
{
    bytes.clear();
    bytes.reserve(count);
    AdviseLargeBuffer(bytes.data(), count);
    bytes.resize(count, value);
}
