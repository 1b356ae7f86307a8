// caps.h: the software adapter: its display mode, the device limits that validation enforces, and
// the capability record describing what the software device does.
#pragma once

#include "platform/d3d9/d3d9.h"

namespace qm::d3d9 {

// Limits shared by validation and the capability record, so that the two always agree.
constexpr DWORD kMaxTextureBlendStages = 8;
constexpr DWORD kMaxStreams = 16;
constexpr DWORD kMaxStreamStride = 2048;
constexpr DWORD kMaxPrimitiveCount = 0x000FFFFF;
constexpr DWORD kMaxVertexIndex = 0x00FFFFFF;
constexpr DWORD kMaxTextureSize = 4096;
constexpr DWORD kMaxVolumeExtent = 256;
constexpr float kMaxPointSize = 64.0f;
// Lights the fixed-function pipeline evaluates (the first enabled ones by index), and vertex blend
// matrices per vertex (indexed blending reaches world matrices 0-255).
constexpr DWORD kMaxActiveLights = 8;
constexpr DWORD kMaxVertexBlendMatrices = 4;
constexpr DWORD kMaxVertexBlendMatrixIndex = 255;
// Screen coordinates the rasteriser accepts; primitives reaching beyond are not drawn.
constexpr float kMaxScreenCoordinate = 1048576.0f;
// Largest back buffer side; larger requests are D3DERR_INVALIDCALL.
constexpr UINT kMaxSurfaceSize = 16384;
// Shader constant registers, as shader model 3.0 has them: float vectors of the vertex and the pixel
// stage, integer vectors and booleans of each.
constexpr UINT kVertexShaderConstantsF = 256;
constexpr UINT kPixelShaderConstantsF = 224;
constexpr UINT kShaderConstantsI = 16;
constexpr UINT kShaderConstantsB = 16;

// The nominal display of the software adapter: what GetAdapterDisplayMode and the device's
// GetDisplayMode report, and the format D3DFMT_UNKNOWN stands for in windowed back buffers.
D3DDISPLAYMODE AdapterDisplayMode();

// Capabilities of the software device for the given device type (HAL and REF are the same device).
// Shaders are not run yet: both shader versions are 0.0, though the vertex constant registers exist
// and are counted. Texture, blend and raster capabilities list what the fixed-function pipeline
// provides.
D3DCAPS9 SoftwareDeviceCaps(D3DDEVTYPE type);

// What a device of this type reports and enforces: SoftwareDeviceCaps, or the record a test put in
// place with CallRecorder::ReplaceDeviceCaps (with DeviceType set to `type`).
D3DCAPS9 ReportedDeviceCaps(D3DDEVTYPE type);

}  // namespace qm::d3d9
