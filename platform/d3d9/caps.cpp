// caps.cpp: the software adapter's display mode and the capability record of the software device.
#include "platform/d3d9/caps.h"

#include "platform/d3d9/diagnostics.h"

namespace qm::d3d9 {

D3DDISPLAYMODE AdapterDisplayMode() { return D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8}; }

D3DCAPS9 SoftwareDeviceCaps(D3DDEVTYPE type) {
    D3DCAPS9 caps{};
    caps.DeviceType = type;
    caps.AdapterOrdinal = 0;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    // The device transforms, lights and rasterises itself, so it counts as doing both in "hardware";
    // it accepts the pure-device flag.
    caps.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                   D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
                   D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                   D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION |
                   D3DDEVCAPS_PUREDEVICE;
    caps.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                             D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_SEPARATEALPHABLEND |
                             D3DPMISCCAPS_TSSARGTEMP | D3DPMISCCAPS_PERSTAGECONSTANT | D3DPMISCCAPS_FOGVERTEXCLAMPED;
    // Depth test, colours interpolated with perspective correction like texture coordinates, fog
    // per vertex (depth or range) and per pixel (depth, or w under a perspective projection).
    caps.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_COLORPERSPECTIVE | D3DPRASTERCAPS_FOGVERTEX |
                      D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_ZFOG |
                      D3DPRASTERCAPS_WFOG;
    constexpr DWORD kAllComparisons = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL |
                                      D3DPCMPCAPS_LESSEQUAL | D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL |
                                      D3DPCMPCAPS_GREATEREQUAL | D3DPCMPCAPS_ALWAYS;
    caps.ZCmpCaps = kAllComparisons;
    caps.AlphaCmpCaps = kAllComparisons;
    constexpr DWORD kBlendFactors = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR |
                                    D3DPBLENDCAPS_INVSRCCOLOR | D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA |
                                    D3DPBLENDCAPS_DESTALPHA | D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR |
                                    D3DPBLENDCAPS_INVDESTCOLOR | D3DPBLENDCAPS_SRCALPHASAT |
                                    D3DPBLENDCAPS_BOTHSRCALPHA | D3DPBLENDCAPS_BOTHINVSRCALPHA |
                                    D3DPBLENDCAPS_BLENDFACTOR;
    caps.SrcBlendCaps = kBlendFactors;
    caps.DestBlendCaps = kBlendFactors;
    caps.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND |
                     D3DPSHADECAPS_FOGGOURAUD;
    caps.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP | D3DLINECAPS_FOG;
    // Transformed primitives are clipped to a guard band; pre-transformed ones may reach this far.
    caps.GuardBandLeft = -kMaxScreenCoordinate;
    caps.GuardBandTop = -kMaxScreenCoordinate;
    caps.GuardBandRight = kMaxScreenCoordinate;
    caps.GuardBandBottom = kMaxScreenCoordinate;
    // Textures of any size (no power-of-two rule), mipmapped 2D, cube and volume textures; the
    // sampler filters point and linear between and within levels, with every address mode.
    caps.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP |
                       D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPCUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP |
                       D3DPTEXTURECAPS_MIPVOLUMEMAP;
    caps.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                             D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR;
    caps.CubeTextureFilterCaps = caps.TextureFilterCaps;
    caps.VolumeTextureFilterCaps = caps.TextureFilterCaps;
    caps.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                                 D3DPTFILTERCAPS_MAGFLINEAR;
    caps.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                              D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
    caps.VolumeTextureAddressCaps = caps.TextureAddressCaps;
    caps.Caps2 = D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_CANAUTOGENMIPMAP;
    caps.MaxVolumeExtent = kMaxVolumeExtent;
    caps.MaxTextureWidth = kMaxTextureSize;
    caps.MaxTextureHeight = kMaxTextureSize;
    caps.MaxTextureRepeat = 8192;
    caps.MaxTextureAspectRatio = kMaxTextureSize;
    caps.MaxAnisotropy = 1;
    caps.MaxVertexW = 1.0e10f;
    caps.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE | D3DSTENCILCAPS_INCRSAT |
                       D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT | D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR |
                       D3DSTENCILCAPS_TWOSIDED;
    caps.FVFCaps = 8 | D3DFVFCAPS_PSIZE;  // texture coordinate sets per vertex, point sizes per vertex
    caps.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                         D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD |
                         D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_ADDSIGNED2X | D3DTEXOPCAPS_SUBTRACT |
                         D3DTEXOPCAPS_ADDSMOOTH | D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA |
                         D3DTEXOPCAPS_BLENDFACTORALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHAPM |
                         D3DTEXOPCAPS_BLENDCURRENTALPHA | D3DTEXOPCAPS_MODULATEALPHA_ADDCOLOR |
                         D3DTEXOPCAPS_MODULATECOLOR_ADDALPHA | D3DTEXOPCAPS_MODULATEINVALPHA_ADDCOLOR |
                         D3DTEXOPCAPS_MODULATEINVCOLOR_ADDALPHA | D3DTEXOPCAPS_DOTPRODUCT3 |
                         D3DTEXOPCAPS_MULTIPLYADD | D3DTEXOPCAPS_LERP;
    caps.MaxTextureBlendStages = kMaxTextureBlendStages;
    caps.MaxSimultaneousTextures = kMaxTextureBlendStages;
    caps.VertexProcessingCaps = D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                                D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
    caps.MaxActiveLights = kMaxActiveLights;
    caps.MaxVertexBlendMatrices = kMaxVertexBlendMatrices;
    caps.MaxVertexBlendMatrixIndex = kMaxVertexBlendMatrixIndex;
    caps.MaxPointSize = kMaxPointSize;
    caps.MaxPrimitiveCount = kMaxPrimitiveCount;
    caps.MaxVertexIndex = kMaxVertexIndex;
    caps.MaxStreams = kMaxStreams;
    caps.MaxStreamStride = kMaxStreamStride;
    caps.VertexShaderVersion = D3DVS_VERSION(0, 0);
    caps.PixelShaderVersion = D3DPS_VERSION(0, 0);
    // Programs are stored but not run; their constant registers hold values all the same.
    caps.MaxVertexShaderConst = kVertexShaderConstantsF;
    caps.DevCaps2 = D3DDEVCAPS2_STREAMOFFSET;
    caps.NumberOfAdaptersInGroup = 1;
    caps.NumSimultaneousRTs = 1;
    return caps;
}

D3DCAPS9 ReportedDeviceCaps(D3DDEVTYPE type) {
    CallRecorder* recorder = InstalledCallRecorder();
    D3DCAPS9 caps{};
    if (recorder != nullptr && recorder->ReplacedDeviceCaps(&caps)) {
        caps.DeviceType = type;
        return caps;
    }
    return SoftwareDeviceCaps(type);
}

}  // namespace qm::d3d9
