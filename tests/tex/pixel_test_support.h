// pixel_test_support.h: in-memory pixel boxes for the conversion and filtering tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "library/tex/pixel_box.h"

namespace pixeltest {

// A width x height x depth block of pixels of bytesPerPixel bytes (or a DXT block grid), owned.
struct Image {
    std::vector<BYTE> bytes;
    qm::PixelBox box;

    Image(D3DFORMAT format, UINT width, UINT height, UINT bytesPerPixel, UINT depth = 1) {
        box.format = format;
        box.rowPitch = width * bytesPerPixel;
        box.slicePitch = box.rowPitch * height;
        bytes.assign(static_cast<std::size_t>(box.slicePitch) * depth, 0);
        box.pixels = bytes.data();
        box.extent = {0, 0, width, height, 0, depth};
        box.box = box.extent;
    }

    // A DXT image: rows of 4 x 4 blocks.
    static Image Blocks(D3DFORMAT format, UINT width, UINT height, UINT blockBytes) {
        Image image(format, (width + 3) / 4, (height + 3) / 4, blockBytes);
        image.box.extent = {0, 0, width, height, 0, 1};
        image.box.box = image.box.extent;
        return image;
    }

    template <class T>
    T At(UINT x, UINT y, UINT z = 0) const {
        T v;
        std::memcpy(&v, bytes.data() + z * box.slicePitch + y * box.rowPitch + x * sizeof(T), sizeof(T));
        return v;
    }
    template <class T>
    void Set(UINT x, UINT y, T v, UINT z = 0) {
        std::memcpy(bytes.data() + z * box.slicePitch + y * box.rowPitch + x * sizeof(T), &v, sizeof(T));
    }
};

// A small deterministic generator (xorshift32).
struct Random {
    std::uint32_t state = 0x12345678u;
    std::uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float Unit() { return static_cast<float>(Next() >> 8) / static_cast<float>(1u << 24); }
};

}  // namespace pixeltest
