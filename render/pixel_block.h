#pragma once
// Allocation of the pixel blocks that images own.
//
// Ownership: `allocatePixelBlock` hands the caller a zero-filled block that the
// caller owns and gives back with `freePixelBlock` (plain `free`). Every owned
// block of a RasterImage goes through here, so a test can make allocation fail
// and check that a failed `create` or `boxBlur` loses nothing. The override is
// process-wide and not synchronised: only single-threaded tests set it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace pixel_block {

// Returns a zero-filled block of `bytes` that `free` can release, or null.
using Allocator = void* (*)(size_t bytes);

inline Allocator& allocatorOverride() {
    static Allocator allocator = nullptr;
    return allocator;
}

// Never returns a pointer for a request of 0 bytes as "no memory": a zero-size
// block still gets one byte so that "has pixels" holds for a 0 x 0 image.
inline uint8_t* allocatePixelBlock(size_t bytes) {
    const size_t size = bytes == 0 ? 1 : bytes;
    if (Allocator override = allocatorOverride())
        return static_cast<uint8_t*>(override(size));
    return static_cast<uint8_t*>(std::calloc(size, 1));
}

inline void freePixelBlock(uint8_t* block) {
    std::free(block);
}

} // namespace pixel_block
