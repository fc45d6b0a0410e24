#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

// The scan buffers (lens images, panos, seam bands, blend pyramids) are tens of megabytes, each
// fresh from the system (see large_blocks.h): in 4 KiB pages, faulting them in, zeroing them and
// the TLB misses of the scattered lens reads cost a large share of a build. Asks the kernel to
// back the whole 2 MiB pages inside such a block with huge pages; to take effect it must come
// before the block's first touch. Nothing of a block smaller than that, nor of the memory around
// a block, is advised. Never changes the contents; where the kernel has no such advice, or
// refuses it, nothing happens.
void adviseHugePages(void* block, std::size_t bytes);

// An array of `count` elements, uninitialised, advised as above: for buffers whose every element
// read is written first.
template <typename T>
std::unique_ptr<T[]> makeHugeArray(std::size_t count)
{
    static_assert(std::is_trivially_default_constructible_v<T>, "the elements are left uninitialised");
    std::unique_ptr<T[]> array(new T[count]);
    adviseHugePages(array.get(), count * sizeof(T));
    return array;
}
