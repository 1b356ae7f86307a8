// texture_create_fuzz.cpp: libFuzzer target: the whole creation of a texture from a file in memory
// (probing, format and size choice, palette and colour key, level loads, mip generation, staging) on
// the software device, with the creation options chosen by the input's last byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "library/tex/parse_image_file.h"
#include "library/tex/pixel_box.h"
#include "library/tex/source_image.h"
#include "library/tex/texture_creation.h"
#include "library/tex/texture_requirements.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/standalone_device.h"

namespace {

// Textures above this many pixels (all faces and slices) are not made: a few bytes of a file may
// describe a huge image, and the fuzzer's memory limit would report it.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 20;

struct Options {
    UINT size;  // width, height and depth request
    UINT mipLevels;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    DWORD filter;
    DWORD mipFilter;
    D3DCOLOR colorKey;
    D3DRESOURCETYPE type;
    bool paletteOutput;
};

constexpr UINT kD = qm::kDefaultValue;
constexpr Options kOptions[] = {
    {kD, kD, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kD, kD, 0, qm::kResourceTypeFromFile, false},
    {qm::kDefaultNonPowerOfTwo, kD, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, qm::FILTER_POINT, qm::FILTER_TRIANGLE,
     0xFF000000, D3DRTYPE_TEXTURE, true},
    {kD, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, qm::FILTER_LINEAR, qm::FILTER_BOX, 0, qm::kResourceTypeFromFile,
     false},
    {3, 2, D3DUSAGE_DYNAMIC, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, qm::FILTER_BOX | qm::FILTER_DITHER, qm::FILTER_POINT,
     0xFFFFFFFF, D3DRTYPE_TEXTURE, false},
    {kD, kD, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, kD, kD, 0xFF00FF00, qm::kResourceTypeFromFile, true},
    {kD, kD, 0, D3DFMT_DXT5, D3DPOOL_SYSTEMMEM, qm::FILTER_TRIANGLE, qm::FILTER_LINEAR, 0, D3DRTYPE_TEXTURE, false},
    {qm::kDefaultNonPowerOfTwo, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH, qm::FILTER_NONE, kD, 0, D3DRTYPE_TEXTURE,
     false},
    {kD, kD, 0, D3DFMT_L8, D3DPOOL_MANAGED, qm::FILTER_BOX | qm::FILTER_SRGB, kD, 0x80808080, D3DRTYPE_VOLUMETEXTURE,
     false},
    {kD, kD, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kD, kD, 0, D3DRTYPE_CUBETEXTURE, false},
    {kD, kD, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, kD, kD, 0, qm::kResourceTypeFromFile, false},
};

IDirect3DDevice9* Device() {
    static ComPtr<IDirect3DDevice9> device = [] {
        ComPtr<IDirect3DDevice9> made = qm::d3d9::CreateStandaloneDevice(16, 16);
        if (!made) std::abort();
        return made;
    }();
    return device.Get();
}

// True when the file's first image is small enough to make a texture of, as the header says.
bool SmallEnough(const std::uint8_t* data, std::size_t size) {
    qm::SourceImage image;
    qm::ImageInfo info;
    if (FAILED(qm::ParseImageFile(&image, data, static_cast<UINT>(size), &info, false))) return true;
    const std::uint64_t faces = info.resourceType == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    // Sizes are rounded up to powers of two, so allow for doubling in each direction.
    const std::uint64_t pixels = std::uint64_t{info.width} * 2 * info.height * 2 * (info.depth == 0 ? 1 : info.depth) *
                                 2 * faces;
    return pixels <= kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 0x7FFFFFFF || !SmallEnough(data, size)) return 0;
    const Options& options = kOptions[data[size - 1] % (sizeof kOptions / sizeof kOptions[0])];
    PALETTEENTRY palette[256];
    qm::ImageInfo info;
    IDirect3DBaseTexture9* texture = nullptr;
    HRESULT hr = qm::CreateTextureResourceFromMemory(
        Device(), data, static_cast<UINT>(size), options.size, options.size, options.size, options.mipLevels,
        options.usage, options.format, options.pool, options.filter, options.mipFilter, options.colorKey, &info,
        options.paletteOutput ? palette : nullptr, options.type, &texture);
    if (SUCCEEDED(hr)) {
        if (texture == nullptr || texture->GetLevelCount() == 0) std::abort();
        texture->Release();
    } else if (texture != nullptr) {
        std::abort();  // a failure hands nothing out
    }
    return 0;
}
