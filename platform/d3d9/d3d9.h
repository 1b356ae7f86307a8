// d3d9.h: the Direct3D 9 interfaces of the software device and Direct3DCreate9, with the platform's
// names, parameter lists and method order. Methods not yet provided by this device are left out;
// those declared here are implemented.
#pragma once

#include "platform/d3d9/d3d9caps.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/win/unknown.h"

constexpr UINT D3D_SDK_VERSION = 31;

struct IDirect3D9;
struct IDirect3DDevice9;

// Common operations of every resource. Private data is kept per GUID: bytes, or with
// D3DSPD_IUNKNOWN an interface pointer that the resource holds a reference to. Priority is kept for
// managed resources only; for other pools SetPriority changes nothing and returns 0.
struct IDirect3DResource9 : IUnknown {
    static constexpr IID iid = {0x05EEC05D, 0x8F7D, 0x4362, {0xB9, 0x99, 0xD1, 0xBA, 0xF3, 0x57, 0xC7, 0x04}};
    // The device that made the resource, with a reference for the caller; D3DERR_INVALIDCALL once
    // that device is gone.
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) = 0;
    // With pData null, writes the size only. D3DERR_NOTFOUND for an unknown GUID, D3DERR_MOREDATA
    // (with the needed size written) when *pSizeOfData is too small.
    virtual HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) = 0;
    virtual HRESULT FreePrivateData(REFGUID refguid) = 0;
    virtual DWORD SetPriority(DWORD PriorityNew) = 0;
    virtual DWORD GetPriority() = 0;
    virtual void PreLoad() = 0;
    virtual D3DRESOURCETYPE GetType() = 0;

protected:
    ~IDirect3DResource9() = default;
};

struct IDirect3DSurface9;
struct IDirect3DVolume9;

// Operations every texture shares. Levels are numbered from 0, the largest. A texture made with
// D3DUSAGE_AUTOGENMIPMAP shows one level; the device rebuilds its smaller levels whenever level 0
// changes, so GenerateMipSubLevels has nothing left to do.
struct IDirect3DBaseTexture9 : IDirect3DResource9 {
    static constexpr IID iid = {0x580CA87E, 0x1D3C, 0x4D54, {0x99, 0x1D, 0xB7, 0xD3, 0xE3, 0xC2, 0x98, 0xCE}};
    // The most detailed level sampled, for managed textures (others keep 0 and return 0).
    virtual DWORD SetLOD(DWORD LODNew) = 0;
    virtual DWORD GetLOD() = 0;
    virtual DWORD GetLevelCount() = 0;
    // D3DTEXF_POINT or D3DTEXF_LINEAR for textures with D3DUSAGE_AUTOGENMIPMAP.
    virtual HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) = 0;
    virtual D3DTEXTUREFILTERTYPE GetAutoGenFilterType() = 0;
    virtual void GenerateMipSubLevels() = 0;

protected:
    ~IDirect3DBaseTexture9() = default;
};

struct IDirect3DSurface9 : IDirect3DResource9 {
    static constexpr IID iid = {0x0CFBAF3A, 0x9FF6, 0x429A, {0x99, 0xB3, 0xA2, 0x79, 0x6A, 0xF8, 0xB8, 0x9B}};
    // The device's own surfaces (back buffer, depth buffer) answer for IDirect3DDevice9.
    virtual HRESULT GetContainer(REFIID riid, void** ppContainer) = 0;
    virtual HRESULT GetDesc(D3DSURFACE_DESC* pDesc) = 0;
    // pRect null locks the whole surface; otherwise it must be a non-empty rectangle inside it.
    // One lock at a time: a second LockRect before UnlockRect is D3DERR_INVALIDCALL.
    virtual HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT UnlockRect() = 0;

protected:
    ~IDirect3DSurface9() = default;
};

// Rectangles of LockRect and AddDirtyRect must lie inside the level; for block formats (DXT1-DXT5,
// and the two-pixel formats horizontally) their edges must fall on block boundaries or on the
// level's edge. A level can be locked once at a time. Default-pool textures lock only when dynamic.
struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    static constexpr IID iid = {0x85C31227, 0x3DE5, 0x4F00, {0x9B, 0x3A, 0xF1, 0x1A, 0xC3, 0x8C, 0x18, 0xB5}};
    virtual HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
    virtual HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) = 0;
    virtual HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT UnlockRect(UINT Level) = 0;
    virtual HRESULT AddDirtyRect(const RECT* pDirtyRect) = 0;

protected:
    ~IDirect3DTexture9() = default;
};

struct IDirect3DCubeTexture9 : IDirect3DBaseTexture9 {
    static constexpr IID iid = {0xFFF32F81, 0xD953, 0x473A, {0x92, 0x23, 0x93, 0xD6, 0x52, 0xAB, 0xA9, 0x3F}};
    virtual HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
    virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level, IDirect3DSurface9** ppCubeMapSurface) = 0;
    virtual HRESULT LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                             DWORD Flags) = 0;
    virtual HRESULT UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) = 0;
    virtual HRESULT AddDirtyRect(D3DCUBEMAP_FACES FaceType, const RECT* pDirtyRect) = 0;

protected:
    ~IDirect3DCubeTexture9() = default;
};

// A volume texture's levels are volumes. Boxes of LockBox must be non-empty and inside the level.
struct IDirect3DVolumeTexture9 : IDirect3DBaseTexture9 {
    static constexpr IID iid = {0x2518526C, 0xE789, 0x4111, {0xA7, 0xB9, 0x47, 0xEF, 0x32, 0x8D, 0x13, 0xE6}};
    virtual HRESULT GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc) = 0;
    virtual HRESULT GetVolumeLevel(UINT Level, IDirect3DVolume9** ppVolumeLevel) = 0;
    virtual HRESULT LockBox(UINT Level, D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) = 0;
    virtual HRESULT UnlockBox(UINT Level) = 0;
    virtual HRESULT AddDirtyBox(const D3DBOX* pDirtyBox) = 0;

protected:
    ~IDirect3DVolumeTexture9() = default;
};

// One level of a volume texture; not a resource of its own, as on the platform.
struct IDirect3DVolume9 : IUnknown {
    static constexpr IID iid = {0x24F416E6, 0x1F67, 0x4AA7, {0xB8, 0x8E, 0xD3, 0x3F, 0x6F, 0x31, 0x28, 0xA1}};
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) = 0;
    virtual HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) = 0;
    virtual HRESULT FreePrivateData(REFGUID refguid) = 0;
    virtual HRESULT GetContainer(REFIID riid, void** ppContainer) = 0;
    virtual HRESULT GetDesc(D3DVOLUME_DESC* pDesc) = 0;
    virtual HRESULT LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) = 0;
    virtual HRESULT UnlockBox() = 0;

protected:
    ~IDirect3DVolume9() = default;
};

// A saved set of device states. Capture reads the current values of the states the block holds;
// Apply sets them on the device. Both are D3DERR_INVALIDCALL while a block is being recorded.
struct IDirect3DStateBlock9 : IUnknown {
    static constexpr IID iid = {0xB07C4FE5, 0x310D, 0x4BA8, {0xA2, 0x3C, 0x4F, 0x0F, 0x20, 0x6F, 0x21, 0x8B}};
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT Capture() = 0;
    virtual HRESULT Apply() = 0;

protected:
    ~IDirect3DStateBlock9() = default;
};

// Lock: OffsetToLock and SizeToLock (0 = to the end) must lie inside the buffer. Locks nest; each
// Lock needs its Unlock. D3DLOCK_DISCARD on a dynamic or default-pool buffer that is not locked
// gives storage of undefined contents that no earlier draw still reads; on other buffers it is
// ignored. D3DLOCK_READONLY with D3DLOCK_DISCARD, or unknown flags, are D3DERR_INVALIDCALL.
struct IDirect3DVertexBuffer9 : IDirect3DResource9 {
    static constexpr IID iid = {0xB64BB1B5, 0xFD70, 0x4DF6, {0xBF, 0x91, 0x19, 0xD0, 0xA1, 0x24, 0x55, 0xE3}};
    virtual HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) = 0;

protected:
    ~IDirect3DVertexBuffer9() = default;
};

struct IDirect3DIndexBuffer9 : IDirect3DResource9 {
    static constexpr IID iid = {0x7C9DD65E, 0xD3F7, 0x4529, {0xAC, 0xEE, 0x78, 0x58, 0x30, 0xAC, 0xDE, 0x35}};
    virtual HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) = 0;

protected:
    ~IDirect3DIndexBuffer9() = default;
};

// A vertex declaration: the elements a draw reads from its streams. Made by the device from an
// element list ending in D3DDECL_END(), or by SetFVF from a vertex format word.
struct IDirect3DVertexDeclaration9 : IUnknown {
    static constexpr IID iid = {0xDD13C59C, 0x36FA, 0x4098, {0xA8, 0xFB, 0xC7, 0xED, 0x39, 0xDC, 0x85, 0x46}};
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // With pElement null writes the number of elements, the end marker included, to *pNumElements;
    // otherwise copies that many elements to pElement as well.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) = 0;

protected:
    ~IDirect3DVertexDeclaration9() = default;
};

// A vertex or pixel shader program as the device keeps it: the token stream given to
// CreateVertexShader or CreatePixelShader, from the version token to the end token. The device
// stores programs and binds them, but draws only with the fixed-function pipeline (see
// IDirect3DDevice9::SetVertexShader).
struct IDirect3DVertexShader9 : IUnknown {
    static constexpr IID iid = {0xEFC5557E, 0x6265, 0x4613, {0x8A, 0x94, 0x43, 0x85, 0x78, 0x89, 0xEB, 0x36}};
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // With pData null writes the program's size in bytes to *pSizeOfData; otherwise copies the
    // program, and *pSizeOfData smaller than it is D3DERR_INVALIDCALL.
    virtual HRESULT GetFunction(void* pData, UINT* pSizeOfData) = 0;

protected:
    ~IDirect3DVertexShader9() = default;
};

struct IDirect3DPixelShader9 : IUnknown {
    static constexpr IID iid = {0x6D3BDBDC, 0x5B02, 0x4415, {0xB8, 0x52, 0xCE, 0x5E, 0x8B, 0xCC, 0xB2, 0x89}};
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT GetFunction(void* pData, UINT* pSizeOfData) = 0;

protected:
    ~IDirect3DPixelShader9() = default;
};

// The device. Every getter that hands out an object adds a reference for the caller; every bound
// object (stream source, index buffer, texture) is held by the device until it is unbound or the
// device goes away. State Set/Get calls validate their type, stage and index and return
// D3DERR_INVALIDCALL for values outside the platform's ranges. On a pure device
// (D3DCREATE_PUREDEVICE) the Get calls of state are D3DERR_INVALIDCALL, as on the platform.
struct IDirect3DDevice9 : IUnknown {
    static constexpr IID iid = {0xD0223B96, 0xBF7A, 0x43FD, {0x92, 0xBD, 0xA4, 0x3B, 0x0D, 0x82, 0xB9, 0xEB}};

    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT GetDirect3D(IDirect3D9** ppD3D9) = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS9* pCaps) = 0;
    virtual HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) = 0;
    virtual HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) = 0;
    // Hands the back buffer (32-bit ARGB, top row first) to hDestWindowOverride, or else the device
    // window. A window that is 0 or unknown shows nothing and the call still succeeds. The rectangles
    // and the region must be null unless the swap effect is D3DSWAPEFFECT_COPY; with it a source
    // rectangle presents that part of the back buffer, and a destination rectangle is
    // D3DERR_NOTAVAILABLE (host windows receive whole frames).
    virtual HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                            const RGNDATA* pDirtyRegion) = 0;
    virtual HRESULT GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                  IDirect3DSurface9** ppBackBuffer) = 0;
    // Textures in the four pools. Levels 0 makes the whole chain down to 1 x 1. The format must be
    // one CheckDeviceFormat accepts for the usage (any known colour format in D3DPOOL_SCRATCH); sizes,
    // powers of two, squareness, aspect ratio and mipmapping follow the device's caps (not checked for
    // scratch textures). D3DUSAGE_RENDERTARGET and D3DUSAGE_AUTOGENMIPMAP need D3DPOOL_DEFAULT or
    // (autogen) D3DPOOL_MANAGED; D3DUSAGE_DYNAMIC is not allowed in D3DPOOL_MANAGED.
    virtual HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                  IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) = 0;
    virtual HRESULT CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                        D3DFORMAT Format, D3DPOOL Pool, IDirect3DVolumeTexture9** ppVolumeTexture,
                                        HANDLE* pSharedHandle) = 0;
    virtual HRESULT CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                      IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) = 0;
    virtual HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                       IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) = 0;
    virtual HRESULT CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                      IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) = 0;
    // A default-pool render target in a format the pipeline draws into; no multisampling.
    virtual HRESULT CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                       DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                                       HANDLE* pSharedHandle) = 0;
    // Copies a rectangle (null: the whole source) of a system-memory surface to a point (null: the
    // origin) of a default-pool surface of the same format, without stretching.
    virtual HRESULT UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                                  IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) = 0;
    // Copies every level of a system-memory texture to the matching levels of a default-pool texture
    // of the same type and format; the destination's level 0 must match a level of the source.
    virtual HRESULT UpdateTexture(IDirect3DBaseTexture9* pSourceTexture, IDirect3DBaseTexture9* pDestinationTexture) = 0;
    // Copies a render target into a system-memory surface of the same size and format.
    virtual HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) = 0;
    // Copies a rectangle of a default-pool surface into a rectangle of another, stretching with
    // D3DTEXF_NONE/POINT (nearest texel) or D3DTEXF_LINEAR. The formats must match, or the destination
    // must be a render-target format and the source decodable. DXT rectangles copy unstretched only.
    virtual HRESULT StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                                IDirect3DSurface9* pDestSurface, const RECT* pDestRect,
                                D3DTEXTUREFILTERTYPE Filter) = 0;
    virtual HRESULT CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                                IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) = 0;
    // Target 0 only: a default-pool surface made with D3DUSAGE_RENDERTARGET (a render target, a level
    // of a render-target texture, or the back buffer) in a format the pipeline draws into. The
    // viewport becomes the whole target.
    virtual HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) = 0;
    virtual HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) = 0;
    // A depth-stencil surface of this device, or null for none. Draws and depth clears need it to be
    // at least as large as the render target.
    virtual HRESULT SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) = 0;
    // D3DERR_NOTFOUND when the device has no depth buffer.
    virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) = 0;
    // Scenes do not nest: BeginScene inside a scene and EndScene outside one are D3DERR_INVALIDCALL.
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Clears the viewport, or with Count > 0 the given rectangles clipped to the viewport (Count 0
    // ignores pRects; Count > 0 with pRects null is D3DERR_INVALIDCALL). The colour is stored as the
    // 32-bit value given; Z (0 to 1) is stored in the depth format's integer range, 1.0 as all ones.
    // D3DCLEAR_ZBUFFER without a depth buffer, or D3DCLEAR_STENCIL without a stencil format, is
    // D3DERR_INVALIDCALL.
    virtual HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) = 0;
    // The viewport must lie inside the render target.
    virtual HRESULT SetViewport(const D3DVIEWPORT9* pViewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* pViewport) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) = 0;
    virtual HRESULT GetMaterial(D3DMATERIAL9* pMaterial) = 0;
    // Lights exist for any DWORD index once set. LightEnable on an index never set first creates the
    // default light (directional, white diffuse, direction (0, 0, 1), everything else 0). GetLight and
    // GetLightEnable of an index never set are D3DERR_INVALIDCALL; GetLightEnable writes TRUE or FALSE.
    virtual HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) = 0;
    virtual HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) = 0;
    virtual HRESULT LightEnable(DWORD Index, BOOL Enable) = 0;
    virtual HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) = 0;
    // D3DSBT_ALL, D3DSBT_PIXELSTATE or D3DSBT_VERTEXSTATE, with the platform's lists of states, holding
    // their current values. The vertex shader, its constants and the N-patch mode are vertex state;
    // the pixel shader and its constants pixel state; D3DSBT_ALL holds both.
    virtual HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9** ppSB) = 0;
    // Between BeginStateBlock and EndStateBlock the Set calls of state are recorded into a new block
    // and leave the device's state as it was. Blocks do not nest.
    virtual HRESULT BeginStateBlock() = 0;
    virtual HRESULT EndStateBlock(IDirect3DStateBlock9** ppSB) = 0;
    // Stages 0-15 and D3DDMAPSAMPLER, D3DVERTEXTEXTURESAMPLER0-3.
    virtual HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) = 0;
    virtual HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) = 0;
    // Stages 0-7.
    virtual HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) = 0;
    virtual HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) = 0;
    // Samplers 0-15 and D3DDMAPSAMPLER, D3DVERTEXTEXTURESAMPLER0-3.
    virtual HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) = 0;
    virtual HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) = 0;
    // The number of segments N-patches are divided into; below 1.0 (the default 0.0) N-patches are
    // off. The value is stored, recorded in state blocks and reported as set; this device draws
    // every triangle as it is, whatever the mode. GetNPatchMode has no failure result: it reports
    // the current value on a pure device too.
    virtual HRESULT SetNPatchMode(float nSegments) = 0;
    virtual float GetNPatchMode() = 0;
    // Draw calls are validated (inside a scene; stream 0 and, for indexed draws, indices bound and
    // unlocked; a vertex format set; every vertex and index the call names inside its buffer) and
    // D3DERR_INVALIDCALL otherwise. The *UP calls leave stream 0 (and the index buffer) unbound.
    // A valid draw runs the fixed-function pipeline and returns D3D_OK (D3DERR_NOTAVAILABLE while a
    // shader is set, see SetVertexShader); primitives that name a vertex outside the vertex source are
    // skipped, and nothing is read outside a buffer.
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                         UINT NumVertices, UINT startIndex, UINT primCount) = 0;
    virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                    const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) = 0;
    virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                           UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                           const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) = 0;
    // Elements with an unknown type, method or usage, a stream beyond 15, an element repeated, or no
    // end marker within MAXD3DDECLLENGTH elements are D3DERR_INVALIDCALL.
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                            IDirect3DVertexDeclaration9** ppDecl) = 0;
    // Setting a declaration sets the vertex format to 0, unless the declaration was made by SetFVF;
    // SetFVF sets a declaration made from the format word (and GetVertexDeclaration hands it out).
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) = 0;
    virtual HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) = 0;
    // A malformed vertex format (reserved bits, unknown position type, more than 8 coordinate sets)
    // is D3DERR_INVALIDCALL; 0 means none.
    virtual HRESULT SetFVF(DWORD FVF) = 0;
    virtual HRESULT GetFVF(DWORD* pFVF) = 0;
    // Programs are token streams from a version token to the end token: vertex shader models 1.1,
    // 2.0, 2.x and 3.0, pixel shader models 1.1-1.4, 2.0, 2.x and 3.0. A stream with another version,
    // an unknown token where an instruction belongs, or no end token within 2^20 tokens is
    // D3DERR_INVALIDCALL. The device keeps the program; it does not run it.
    virtual HRESULT CreateVertexShader(const DWORD* pFunction, IDirect3DVertexShader9** ppShader) = 0;
    // A shader of this device, or null for the fixed-function vertex stage. While a vertex or a pixel
    // shader is set, a draw call inside a scene, with a known primitive type, a primitive count in
    // range and a vertex format or declaration set, draws nothing and returns D3DERR_NOTAVAILABLE:
    // this device runs no shader programs, and drawing the call with the fixed-function pipeline
    // instead would put wrong pixels on the target.
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* pShader) = 0;
    virtual HRESULT GetVertexShader(IDirect3DVertexShader9** ppShader) = 0;
    // Constant registers: 256 float and 16 integer vectors of four, 16 booleans (stored as given).
    // A null pointer, or a range reaching beyond the last register, is D3DERR_INVALIDCALL and changes
    // nothing; a count of 0 does nothing.
    virtual HRESULT SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) = 0;
    virtual HRESULT GetVertexShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) = 0;
    virtual HRESULT SetVertexShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) = 0;
    virtual HRESULT GetVertexShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) = 0;
    virtual HRESULT SetVertexShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) = 0;
    virtual HRESULT GetVertexShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) = 0;
    // Streams 0-15; the stride may not exceed the caps' MaxStreamStride. Buffers of another device
    // are D3DERR_INVALIDCALL.
    virtual HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                    UINT Stride) = 0;
    virtual HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                                    UINT* pStride) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9* pIndexData) = 0;
    virtual HRESULT GetIndices(IDirect3DIndexBuffer9** ppIndexData) = 0;
    // As for vertex shaders; the pixel stage has 224 float constant registers.
    virtual HRESULT CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) = 0;
    virtual HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) = 0;
    virtual HRESULT GetPixelShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) = 0;
    virtual HRESULT SetPixelShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) = 0;
    virtual HRESULT GetPixelShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) = 0;
    virtual HRESULT SetPixelShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) = 0;
    virtual HRESULT GetPixelShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) = 0;

protected:
    ~IDirect3DDevice9() = default;
};

// The Direct3D object: one adapter (0), the software device as D3DDEVTYPE_HAL and D3DDEVTYPE_REF.
struct IDirect3D9 : IUnknown {
    static constexpr IID iid = {0x81BDCBCA, 0x64D4, 0x426D, {0xAE, 0x8D, 0xAD, 0x01, 0x47, 0xF4, 0x27, 0x5C}};

    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) = 0;
    // Windowed only: D3D_OK when the back-buffer format suits the display format.
    virtual HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                    D3DFORMAT BackBufferFormat, BOOL bWindowed) = 0;
    // D3D_OK when the software device samples (textures), draws into (D3DUSAGE_RENDERTARGET) or
    // depth-tests with (D3DUSAGE_DEPTHSTENCIL) the format for the resource type and usage; else
    // D3DERR_NOTAVAILABLE. Bad arguments are D3DERR_INVALIDCALL.
    virtual HRESULT CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                      D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) = 0;
    // What the software device does; the same for HAL and REF apart from DeviceType.
    virtual HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) = 0;
    // Windowed devices only. Exactly one of the software, hardware and mixed vertex-processing flags;
    // the pure-device flag only with hardware processing. Zero back-buffer dimensions take the client
    // size of the device window (hDeviceWindow, or else the focus window) as recorded with
    // SetWindowClientSize, 640 x 480 when none is recorded; D3DFMT_UNKNOWN takes the display format.
    // The filled-in values are written back into *pPresentationParameters. The automatic depth
    // buffer may be D3DFMT_D16, D16_LOCKABLE, D24S8, D24X8 or D32. Unsupported requests (full
    // screen, multisampling, more than one back buffer) are D3DERR_NOTAVAILABLE.
    virtual HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                 D3DPRESENT_PARAMETERS* pPresentationParameters,
                                 IDirect3DDevice9** ppReturnedDeviceInterface) = 0;

protected:
    ~IDirect3D9() = default;
};

// Returns a new Direct3D object with one reference, or null when SDKVersion is not D3D_SDK_VERSION.
IDirect3D9* Direct3DCreate9(UINT SDKVersion);
