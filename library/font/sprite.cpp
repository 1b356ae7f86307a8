// sprite.cpp: the Sprite: state blocks recorded in a fixed order, pixel-to-clip world matrix with a
// half-pixel shift, quads in pixel units (or pre-transformed), translucency by format and colour.
#include "library/font/sprite.h"

#include <iterator>

#include "library/math/math.h"

namespace qm {
namespace {

constexpr DWORD kPixelVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;      // 0x142
constexpr DWORD kScreenVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144

struct PixelVertex {
    float x, y, z;
    D3DCOLOR color;
    float u, v;
};
struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
static_assert(sizeof(PixelVertex) == 24 && sizeof(ScreenVertex) == 28);

// Formats whose texels carry alpha (palettes may too).
constexpr D3DFORMAT kFormatsWithAlpha[] = {
    D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_A8, D3DFMT_A8R3G3B2, D3DFMT_A8P8, D3DFMT_P8,
    D3DFMT_A8L8,     D3DFMT_A4L4,     D3DFMT_DXT2,     D3DFMT_DXT3, D3DFMT_DXT4,   D3DFMT_DXT5,
};

bool HasAlpha(D3DFORMAT format) {
    for (D3DFORMAT f : kFormatsWithAlpha)
        if (f == format) return true;
    return false;
}

struct RenderStateValue {
    D3DRENDERSTATETYPE state;
    DWORD value;
};

constexpr RenderStateValue kCommonStates[] = {
    {D3DRS_ZENABLE, 0},           {D3DRS_FILLMODE, D3DFILL_SOLID}, {D3DRS_CULLMODE, D3DCULL_NONE},
    {D3DRS_WRAP0, 0},             {D3DRS_CLIPPING, 1},             {D3DRS_VERTEXBLEND, 0},
    {D3DRS_CLIPPLANEENABLE, 0},
};
constexpr RenderStateValue kTessellationAndOutputStates[] = {
    {D3DRS_INDEXEDVERTEXBLENDENABLE, 0},
    {D3DRS_ENABLEADAPTIVETESSELLATION, 0},
    {D3DRS_SRGBWRITEENABLE, 0},
    {D3DRS_COLORWRITEENABLE, 0xF},
};
constexpr RenderStateValue kUntransformedStates[] = {
    {D3DRS_FOGENABLE, 0}, {D3DRS_SPECULARENABLE, 0}, {D3DRS_STENCILENABLE, 0},
    {D3DRS_LIGHTING, 0},  {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
};
constexpr RenderStateValue kBlendStates[] = {
    {D3DRS_ALPHABLENDENABLE, 1},
    {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
};
constexpr RenderStateValue kAlphaTestStates[] = {
    {D3DRS_ALPHATESTENABLE, 1},
    {D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
    {D3DRS_ALPHAREF, 0x7F},
};

struct StageStateValue {
    DWORD stage;
    D3DTEXTURESTAGESTATETYPE type;
    DWORD value;
};
constexpr StageStateValue kStageOps[] = {
    {0, D3DTSS_COLOROP, D3DTOP_MODULATE}, {0, D3DTSS_COLORARG1, D3DTA_TEXTURE}, {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE}, {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},  {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};

class SpriteObject final : public RefCounted<SpriteObject, Sprite> {
public:
    explicit SpriteObject(IDirect3DDevice9* device) : device_(device) {}

    void ReadCaps() {
        D3DCAPS9 caps{};
        device_->GetDeviceCaps(&caps);
        D3DDEVICE_CREATION_PARAMETERS parameters{};
        device_->GetCreationParameters(&parameters);
        blend_ = (caps.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA) != 0 && (caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA) != 0;
        preTransformed_ = (caps.PrimitiveMiscCaps & D3DPMISCCAPS_CLIPTLVERTS) != 0 ||
                          (parameters.BehaviorFlags & D3DCREATE_PUREDEVICE) != 0;
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (device == nullptr) return D3DERR_INVALIDCALL;
        *device = device_.CopyOut();
        return S_OK;
    }

    HRESULT Begin() override {
        if (inBatch_) return D3DERR_INVALIDCALL;
        if (!savedState_ || !spriteState_) {
            HRESULT hr = RecordBlock(true, savedState_.ReleaseAndGetAddressOf());
            if (SUCCEEDED(hr)) hr = RecordBlock(false, spriteState_.ReleaseAndGetAddressOf());
            if (FAILED(hr)) {
                ReleaseDeviceObjects();
                return hr;
            }
        }
        savedState_->Capture();
        spriteState_->Apply();
        if (!preTransformed_) {
            D3DVIEWPORT9 viewport{};
            device_->GetViewport(&viewport);
            float w = static_cast<float>(viewport.Width), h = static_cast<float>(viewport.Height);
            float x = static_cast<float>(viewport.X), y = static_cast<float>(viewport.Y);
            Matrix pixelsToClip(2 / w, 0, 0, 0, 0, -2 / h, 0, 0, 0, 0, 0, 0, -2 * x / w - 1 / w - 1,
                                (2 * y + 1) / h + 1, 0, 1);
            device_->SetTransform(D3DTS_WORLD, &pixelsToClip);
        }
        inBatch_ = true;
        return S_OK;
    }

    HRESULT Draw(IDirect3DTexture9* texture, const RECT* sourceRect, const Vector2* scaling,
                 const Vector2* rotationCenter, float rotation, const Vector2* translation, D3DCOLOR color) override {
        Vector3 scale3, centre3, translation3;
        Quaternion turn;
        if (scaling != nullptr) scale3 = Vector3(scaling->x, scaling->y, 1);
        if (rotationCenter != nullptr) centre3 = Vector3(rotationCenter->x, rotationCenter->y, 0);
        if (translation != nullptr) translation3 = Vector3(translation->x, translation->y, 0);
        if (rotation != 0) turn = Quaternion{0, 0, std::sin(-rotation / 2), std::cos(-rotation / 2)};
        Matrix transform;
        MatrixTransformation(&transform, nullptr, nullptr, scaling != nullptr ? &scale3 : nullptr,
                             rotationCenter != nullptr ? &centre3 : nullptr, rotation != 0 ? &turn : nullptr,
                             translation != nullptr ? &translation3 : nullptr);
        return DrawTransformed(texture, sourceRect, &transform, color);
    }

    HRESULT DrawTransformed(IDirect3DTexture9* texture, const RECT* sourceRect, const Matrix* transform,
                            D3DCOLOR color) override {
        if (texture == nullptr) return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        HRESULT hr = texture->GetLevelDesc(0, &desc);
        if (FAILED(hr)) return hr;
        const LONG levelWidth = static_cast<LONG>(desc.Width), levelHeight = static_cast<LONG>(desc.Height);
        RECT source{0, 0, levelWidth, levelHeight};
        if (sourceRect != nullptr) {
            source = *sourceRect;
            if (source.left < 0 || source.left > source.right || source.left > levelWidth || source.top < 0 ||
                source.top > source.bottom || source.top > levelHeight)
                return D3DERR_INVALIDCALL;
        }
        const BOOL translucent = (color >> 24) != 0xFF || HasAlpha(desc.Format) ? TRUE : FALSE;

        const bool implicitBatch = !inBatch_;
        if (implicitBatch) {
            hr = Begin();
            if (FAILED(hr)) return hr;
        }
        hr = device_->SetTexture(0, texture);
        if (SUCCEEDED(hr))
            hr = device_->SetRenderState(blend_ ? D3DRS_ALPHABLENDENABLE : D3DRS_ALPHATESTENABLE, translucent);
        if (SUCCEEDED(hr)) hr = DrawQuad(source, levelWidth, levelHeight, transform, color);
        if (implicitBatch) {
            HRESULT endResult = End();
            if (SUCCEEDED(hr)) hr = endResult;
        }
        return hr;
    }

    HRESULT End() override {
        if (!inBatch_) return D3DERR_INVALIDCALL;
        inBatch_ = false;
        return savedState_->Apply();
    }

    HRESULT ReleaseDeviceObjects() override {
        savedState_.Reset();
        spriteState_.Reset();
        return S_OK;
    }

    HRESULT RestoreDeviceObjects() override { return S_OK; }

private:
    friend class RefCounted<SpriteObject, Sprite>;
    ~SpriteObject() = default;

    void SetStates(const RenderStateValue* begin, const RenderStateValue* end) {
        for (const RenderStateValue* s = begin; s != end; ++s) device_->SetRenderState(s->state, s->value);
    }

    // Records one block with every state the sprite changes; the first (the saving block) also holds
    // the world matrix, the stage-0 texture and stream 0 so that End gives them back.
    HRESULT RecordBlock(bool saving, IDirect3DStateBlock9** block) {
        HRESULT hr = device_->BeginStateBlock();
        if (FAILED(hr)) return hr;
        device_->SetFVF(preTransformed_ ? kScreenVertexFormat : kPixelVertexFormat);
        device_->SetVertexShader(nullptr);
        if (!preTransformed_) {
            Matrix identity;
            MatrixIdentity(&identity);
            device_->SetTransform(D3DTS_VIEW, &identity);
            device_->SetTransform(D3DTS_PROJECTION, &identity);
            if (saving) device_->SetTransform(D3DTS_WORLD, &identity);
        }
        SetStates(std::begin(kCommonStates), std::end(kCommonStates));
        device_->SetNPatchMode(0);
        SetStates(std::begin(kTessellationAndOutputStates), std::end(kTessellationAndOutputStates));
        if (!preTransformed_) SetStates(std::begin(kUntransformedStates), std::end(kUntransformedStates));
        for (const StageStateValue& s : kStageOps) device_->SetTextureStageState(s.stage, s.type, s.value);
        device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        if (blend_) SetStates(std::begin(kBlendStates), std::end(kBlendStates));
        else SetStates(std::begin(kAlphaTestStates), std::end(kAlphaTestStates));
        if (saving) {
            device_->SetTexture(0, nullptr);
            device_->SetStreamSource(0, nullptr, 0, 0);
        }
        return device_->EndStateBlock(block);
    }

    HRESULT DrawQuad(const RECT& source, LONG levelWidth, LONG levelHeight, const Matrix* transform, D3DCOLOR color) {
        const float w = static_cast<float>(source.right - source.left);
        const float h = static_cast<float>(source.bottom - source.top);
        const float uLeft = static_cast<float>(source.left) / levelWidth;
        const float uRight = static_cast<float>(source.right) / levelWidth;
        const float vTop = static_cast<float>(source.top) / levelHeight;
        const float vBottom = static_cast<float>(source.bottom) / levelHeight;
        struct Corner {
            float x, y, u, v;
        } corners[4] = {{0, 0, uLeft, vTop}, {0, h, uLeft, vBottom}, {w, h, uRight, vBottom}, {w, 0, uRight, vTop}};
        for (Corner& c : corners) {
            if (transform == nullptr) continue;
            Vector3 p(c.x, c.y, 0);
            Vec3TransformCoord(&p, &p, transform);
            c.x = p.x;
            c.y = p.y;
        }
        if (preTransformed_) {
            ScreenVertex quad[4];
            for (int i = 0; i < 4; ++i)
                quad[i] = {corners[i].x - 0.5f, corners[i].y - 0.5f, 0, 1, color, corners[i].u, corners[i].v};
            return device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex));
        }
        PixelVertex quad[4];
        for (int i = 0; i < 4; ++i) quad[i] = {corners[i].x, corners[i].y, 0, color, corners[i].u, corners[i].v};
        return device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(PixelVertex));
    }

    ComPtr<IDirect3DDevice9> device_;
    bool inBatch_ = false;
    ComPtr<IDirect3DStateBlock9> savedState_;
    ComPtr<IDirect3DStateBlock9> spriteState_;
    bool blend_ = false;
    bool preTransformed_ = false;
};

}  // namespace

HRESULT CreateSprite(IDirect3DDevice9* device, Sprite** sprite) {
    if (device == nullptr || sprite == nullptr) return D3DERR_INVALIDCALL;
    ComPtr<SpriteObject> object = MakeRef<SpriteObject>(device);
    if (!object) return E_OUTOFMEMORY;
    object->ReadCaps();
    *sprite = object.Detach();
    return S_OK;
}

}  // namespace qm
