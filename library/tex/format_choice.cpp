// format_choice.cpp: the mismatch score and the walk over the format table that picks a texture format.
#include "library/tex/format_choice.h"

#include <optional>

#include "library/tex/debug_mute.h"

namespace qm {

namespace {

constexpr int kKindCount = 5;

// kCompatible[requested][candidate]: whether a candidate of that kind may replace the request.
constexpr bool kCompatible[kKindCount][kKindCount] = {
    //  colour palettized luminance signed depth
    {true, false, false, false, false},  // colour
    {true, true, false, false, false},   // palettized
    {true, false, true, false, false},   // luminance
    {false, false, false, true, false},  // signed
    {false, false, false, false, true},  // depth
};

constexpr UINT kLostChannel = 1u << 24;
constexpr UINT kGainedChannel = 256;
constexpr UINT kNarrowerStep = 1u << 16;

bool KindsCompatible(FormatKind requested, FormatKind candidate) {
    auto r = static_cast<DWORD>(requested);
    auto c = static_cast<DWORD>(candidate);
    return r < kKindCount && c < kKindCount && kCompatible[r][c];
}

// What the format checks of one search run against: the device's Direct3D object, adapter and
// type, its display format, and the usage as the checks see it.
struct DeviceCheck {
    ComPtr<IDirect3D9> direct3d;
    UINT adapter = 0;
    D3DDEVTYPE type = D3DDEVTYPE_HAL;
    D3DFORMAT displayFormat = D3DFMT_UNKNOWN;
    DWORD usage = 0;

    bool Accepts(D3DRESOURCETYPE resourceType, D3DFORMAT format) const {
        return SUCCEEDED(direct3d->CheckDeviceFormat(adapter, type, displayFormat, usage, resourceType, format));
    }
};

// Gathers what the checks need; nothing when the device will not say.
std::optional<DeviceCheck> PrepareCheck(IDirect3DDevice9* device, DWORD usage) {
    DeviceCheck check;
    if (FAILED(device->GetDirect3D(check.direct3d.ReleaseAndGetAddressOf())) || !check.direct3d) return std::nullopt;
    D3DCAPS9 caps{};
    if (FAILED(device->GetDeviceCaps(&caps))) return std::nullopt;
    check.adapter = caps.AdapterOrdinal;
    check.type = caps.DeviceType;
    D3DDISPLAYMODE mode{};
    if (FAILED(device->GetDisplayMode(0, &mode))) return std::nullopt;
    check.displayFormat = mode.Format;
    check.usage = usage;
    if (usage & kUsageQueryVertexTexture) {
        D3DDEVICE_CREATION_PARAMETERS creation{};
        if (SUCCEEDED(device->GetCreationParameters(&creation)) &&
            (creation.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0) {
            check.usage |= D3DUSAGE_SOFTWAREPROCESSING;
        }
    }
    return check;
}

}  // namespace

UINT FormatMismatchScore(const FormatDescriptor& requested, const FormatDescriptor& candidate) {
    if (!KindsCompatible(requested.kind, candidate.kind)) return kNoFormatMatch;
    UINT score = 0;
    UINT requestedChannels = 0;
    for (int i = 0; i < kWidthCount; ++i) {
        UINT r = requested.widths[i];
        UINT c = candidate.widths[i];
        if (r != 0) ++requestedChannels;
        if (c < r) {
            score += c > 0 ? (r - c) * kNarrowerStep : kLostChannel;
        } else if (c > r) {
            score += r > 0 ? c - r : kGainedChannel;
        }
    }
    if ((score >> 24) == requestedChannels) return kNoFormatMatch;
    return score;
}

D3DFORMAT ChooseTextureFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE type,
                              const FormatDescriptor& requested) {
    std::optional<DeviceCheck> check;
    std::optional<ScopedDebugMute> mute;
    if (device != nullptr) {
        check = PrepareCheck(device, usage);
        if (!check) return D3DFMT_UNKNOWN;
        mute.emplace();
    }

    const FormatDescriptor* best = nullptr;
    UINT bestScore = kNoFormatMatch;
    for (const FormatDescriptor& row : FormatTable()) {
        if (row.format == D3DFMT_UNKNOWN) continue;
        if (check && !check->Accepts(type, row.format)) continue;
        if (row.format == requested.format) return row.format;
        if (row.substitute == 0) continue;
        UINT score = FormatMismatchScore(requested, row);
        if (score == kNoFormatMatch) continue;
        if (best == nullptr || score < bestScore || (score == bestScore && row.bitsPerPixel < best->bitsPerPixel)) {
            best = &row;
            bestScore = score;
        }
    }
    return best != nullptr ? best->format : D3DFMT_UNKNOWN;
}

}  // namespace qm
