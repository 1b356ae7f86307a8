// state_block.cpp: state blocks: the platform's pixel and vertex state lists, Capture and Apply over
// a state mask, recording between BeginStateBlock and EndStateBlock, and CreateStateBlock.
#include "platform/d3d9/state_block.h"

#include <algorithm>

#include "platform/d3d9/device.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

// Render states of D3DSBT_PIXELSTATE.
constexpr D3DRENDERSTATETYPE kPixelRenderStates[] = {
    D3DRS_ZENABLE, D3DRS_FILLMODE, D3DRS_SHADEMODE, D3DRS_ZWRITEENABLE, D3DRS_ALPHATESTENABLE, D3DRS_LASTPIXEL,
    D3DRS_SRCBLEND, D3DRS_DESTBLEND, D3DRS_ZFUNC, D3DRS_ALPHAREF, D3DRS_ALPHAFUNC, D3DRS_DITHERENABLE,
    D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_FOGDENSITY, D3DRS_ALPHABLENDENABLE, D3DRS_DEPTHBIAS, D3DRS_STENCILENABLE,
    D3DRS_STENCILFAIL, D3DRS_STENCILZFAIL, D3DRS_STENCILPASS, D3DRS_STENCILFUNC, D3DRS_STENCILREF,
    D3DRS_STENCILMASK, D3DRS_STENCILWRITEMASK, D3DRS_TEXTUREFACTOR, D3DRS_WRAP0, D3DRS_WRAP1, D3DRS_WRAP2,
    D3DRS_WRAP3, D3DRS_WRAP4, D3DRS_WRAP5, D3DRS_WRAP6, D3DRS_WRAP7, D3DRS_WRAP8, D3DRS_WRAP9, D3DRS_WRAP10,
    D3DRS_WRAP11, D3DRS_WRAP12, D3DRS_WRAP13, D3DRS_WRAP14, D3DRS_WRAP15, D3DRS_COLORWRITEENABLE, D3DRS_BLENDOP,
    D3DRS_SCISSORTESTENABLE, D3DRS_SLOPESCALEDEPTHBIAS, D3DRS_ANTIALIASEDLINEENABLE, D3DRS_TWOSIDEDSTENCILMODE,
    D3DRS_CCW_STENCILFAIL, D3DRS_CCW_STENCILZFAIL, D3DRS_CCW_STENCILPASS, D3DRS_CCW_STENCILFUNC,
    D3DRS_COLORWRITEENABLE1, D3DRS_COLORWRITEENABLE2, D3DRS_COLORWRITEENABLE3, D3DRS_BLENDFACTOR,
    D3DRS_SRGBWRITEENABLE, D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_SRCBLENDALPHA, D3DRS_DESTBLENDALPHA,
    D3DRS_BLENDOPALPHA,
};

// Render states of D3DSBT_VERTEXSTATE.
constexpr D3DRENDERSTATETYPE kVertexRenderStates[] = {
    D3DRS_CULLMODE, D3DRS_FOGENABLE, D3DRS_FOGCOLOR, D3DRS_FOGTABLEMODE, D3DRS_FOGSTART, D3DRS_FOGEND,
    D3DRS_FOGDENSITY, D3DRS_RANGEFOGENABLE, D3DRS_AMBIENT, D3DRS_COLORVERTEX, D3DRS_FOGVERTEXMODE, D3DRS_CLIPPING,
    D3DRS_LIGHTING, D3DRS_NORMALIZENORMALS, D3DRS_LOCALVIEWER, D3DRS_EMISSIVEMATERIALSOURCE,
    D3DRS_AMBIENTMATERIALSOURCE, D3DRS_DIFFUSEMATERIALSOURCE, D3DRS_SPECULARMATERIALSOURCE, D3DRS_VERTEXBLEND,
    D3DRS_CLIPPLANEENABLE, D3DRS_POINTSIZE, D3DRS_POINTSIZE_MIN, D3DRS_POINTSPRITEENABLE, D3DRS_POINTSCALEENABLE,
    D3DRS_POINTSCALE_A, D3DRS_POINTSCALE_B, D3DRS_POINTSCALE_C, D3DRS_MULTISAMPLEANTIALIAS, D3DRS_MULTISAMPLEMASK,
    D3DRS_PATCHEDGESTYLE, D3DRS_POINTSIZE_MAX, D3DRS_INDEXEDVERTEXBLENDENABLE, D3DRS_TWEENFACTOR,
    D3DRS_POSITIONDEGREE, D3DRS_NORMALDEGREE, D3DRS_MINTESSELLATIONLEVEL, D3DRS_MAXTESSELLATIONLEVEL,
    D3DRS_ADAPTIVETESS_X, D3DRS_ADAPTIVETESS_Y, D3DRS_ADAPTIVETESS_Z, D3DRS_ADAPTIVETESS_W,
    D3DRS_ENABLEADAPTIVETESSELLATION, D3DRS_SPECULARENABLE, D3DRS_SHADEMODE,
};

// Texture-stage states of D3DSBT_VERTEXSTATE; D3DSBT_PIXELSTATE holds every stage state.
constexpr D3DTEXTURESTAGESTATETYPE kVertexStageStates[] = {D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS};

}  // namespace

bool MaskForType(D3DSTATEBLOCKTYPE type, const DeviceState& current, StateMask* mask) {
    *mask = StateMask{};
    bool all = type == D3DSBT_ALL;
    bool pixel = all || type == D3DSBT_PIXELSTATE;
    bool vertex = all || type == D3DSBT_VERTEXSTATE;
    if (!pixel && !vertex) return false;
    for (DWORD s = 0; s < kRenderStateSlots; ++s) {
        if (all && IsRenderState(s)) mask->renderStates.set(s);
    }
    if (pixel) {
        for (D3DRENDERSTATETYPE s : kPixelRenderStates) mask->renderStates.set(s);
        for (auto& stage : mask->stageStates) {
            for (DWORD t = 0; t < kStageStateSlots; ++t) {
                if (IsStageState(t)) stage.set(t);
            }
        }
        // Every pixel sampler's states except the displacement-map offset.
        for (std::size_t slot = 0; slot < kSamplerSlots; ++slot) {
            for (DWORD t = D3DSAMP_ADDRESSU; t <= D3DSAMP_ELEMENTINDEX; ++t) mask->samplerStates[slot].set(t);
        }
        mask->pixelShader = true;
        mask->pixelConstants.SetAll();
    }
    if (vertex) {
        for (D3DRENDERSTATETYPE s : kVertexRenderStates) mask->renderStates.set(s);
        for (auto& stage : mask->stageStates) {
            for (D3DTEXTURESTAGESTATETYPE t : kVertexStageStates) stage.set(t);
        }
        for (auto& sampler : mask->samplerStates) sampler.set(D3DSAMP_DMAPOFFSET);
        mask->fvf = true;
        mask->vertexShader = true;
        mask->vertexConstants.SetAll();
        mask->nPatchMode = true;
        for (const auto& [index, record] : current.lights) {
            mask->lights.insert(index);
            mask->lightEnables.insert(index);
        }
    }
    if (all) {
        mask->transforms.set();
        mask->textures.set();
        mask->streams.set();
        mask->indices = true;
        mask->viewport = true;
        mask->material = true;
    }
    return true;
}

namespace {

// Copies the masked registers of `from` into `into`, `width` values per register.
template <std::size_t Registers, class T, std::size_t N>
bool CopyRegisters(const std::bitset<Registers>& mask, std::size_t width, const std::array<T, N>& from,
                   std::array<T, N>* into) {
    if (mask.none()) return false;
    for (std::size_t r = 0; r < Registers; ++r) {
        if (mask.test(r)) std::copy_n(from.begin() + r * width, width, into->begin() + r * width);
    }
    return true;
}

template <std::size_t FloatRegisters>
bool CopyConstants(const ShaderConstantMask<FloatRegisters>& mask, const ShaderConstants<FloatRegisters>& from,
                   ShaderConstants<FloatRegisters>* into) {
    bool f = CopyRegisters(mask.f, 4, from.f, &into->f);
    bool i = CopyRegisters(mask.i, 4, from.i, &into->i);
    bool b = CopyRegisters(mask.b, 1, from.b, &into->b);
    return f || i || b;
}

// Copies the masked states from one state to another; returns the groups it touched.
std::uint32_t CopyMasked(const StateMask& mask, const DeviceState& from, DeviceState* into) {
    std::uint32_t touched = 0;
    for (std::size_t s = 0; s < kRenderStateSlots; ++s) {
        if (mask.renderStates.test(s)) into->renderStates[s] = from.renderStates[s], touched |= kDirtyRenderStates;
    }
    for (std::size_t stage = 0; stage < kMaxTextureBlendStages; ++stage) {
        for (std::size_t t = 0; t < kStageStateSlots; ++t) {
            if (mask.stageStates[stage].test(t)) {
                into->stageStates[stage][t] = from.stageStates[stage][t];
                touched |= kDirtyTextureStages;
            }
        }
    }
    for (std::size_t slot = 0; slot < kSamplerSlots; ++slot) {
        for (std::size_t t = 0; t < kSamplerStateSlots; ++t) {
            if (mask.samplerStates[slot].test(t)) {
                into->samplerStates[slot][t] = from.samplerStates[slot][t];
                touched |= kDirtySamplers;
            }
        }
        if (mask.textures.test(slot)) into->textures[slot] = from.textures[slot], touched |= kDirtyTextures;
    }
    for (std::size_t t = 0; t < kTransformSlots; ++t) {
        if (mask.transforms.test(t)) into->transforms[t] = from.transforms[t], touched |= kDirtyTransforms;
    }
    for (std::size_t s = 0; s < kMaxStreams; ++s) {
        if (mask.streams.test(s)) into->streams[s] = from.streams[s], touched |= kDirtyStreams;
    }
    if (mask.indices) into->indices = from.indices, touched |= kDirtyIndices;
    // The vertex format word and the declaration are one state: either call sets both.
    if (mask.fvf) {
        into->fvf = from.fvf;
        into->declaration = from.declaration;
        touched |= kDirtyVertexFormat;
    }
    if (mask.viewport) into->viewport = from.viewport, touched |= kDirtyViewport;
    if (mask.material) into->material = from.material, touched |= kDirtyMaterial;
    if (mask.vertexShader) into->vertexShader = from.vertexShader, touched |= kDirtyShaders;
    if (mask.pixelShader) into->pixelShader = from.pixelShader, touched |= kDirtyShaders;
    if (CopyConstants(mask.vertexConstants, from.vertexConstants, &into->vertexConstants)) touched |= kDirtyShaders;
    if (CopyConstants(mask.pixelConstants, from.pixelConstants, &into->pixelConstants)) touched |= kDirtyShaders;
    // The N-patch mode changes nothing the pipeline derives, so it marks no group.
    if (mask.nPatchMode) into->nPatchSegments = from.nPatchSegments;
    return touched;
}

}  // namespace

void CaptureState(const StateMask& mask, const DeviceState& from, DeviceState* into) {
    CopyMasked(mask, from, into);
    for (DWORD index : mask.lights) {
        auto it = from.lights.find(index);
        if (it == from.lights.end()) continue;
        auto [slot, added] = into->lights.try_emplace(index, it->second);
        slot->second.light = it->second.light;
    }
    for (DWORD index : mask.lightEnables) {
        auto it = from.lights.find(index);
        if (it == from.lights.end()) continue;
        auto [slot, added] = into->lights.try_emplace(index, it->second);
        slot->second.enabled = it->second.enabled;
    }
}

void ApplyState(const StateMask& mask, const DeviceState& from, DeviceState* into) {
    into->dirty |= CopyMasked(mask, from, into);
    for (DWORD index : mask.lights) {
        auto it = from.lights.find(index);
        if (it == from.lights.end()) continue;
        auto [slot, added] = into->lights.try_emplace(index, LightRecord{it->second.light, false});
        slot->second.light = it->second.light;
        into->dirty |= kDirtyLights;
    }
    for (DWORD index : mask.lightEnables) {
        auto it = from.lights.find(index);
        if (it == from.lights.end()) continue;
        auto [slot, added] = into->lights.try_emplace(index, LightRecord{DefaultLight(), false});
        slot->second.enabled = it->second.enabled;
        into->dirty |= kDirtyLights;
    }
}

namespace {

class StateBlock final : public RefCounted<StateBlock, IDirect3DStateBlock9> {
public:
    StateBlock(std::shared_ptr<DeviceLink> link, StateRecord record) : link_(std::move(link)), record_(std::move(record)) {}

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override {
        RecordCall("GetDevice", ppDevice);
        if (ppDevice == nullptr) return D3DERR_INVALIDCALL;
        *ppDevice = nullptr;
        if (link_->device == nullptr) return D3DERR_INVALIDCALL;
        link_->device->AddRef();
        *ppDevice = link_->device;
        return D3D_OK;
    }
    HRESULT Capture() override {
        RecordCall("Capture");
        Device* device = LiveDevice();
        if (device == nullptr) return D3DERR_INVALIDCALL;
        CaptureState(record_.mask, device->MutableState(), &record_.values);
        return D3D_OK;
    }
    HRESULT Apply() override {
        RecordCall("Apply");
        Device* device = LiveDevice();
        if (device == nullptr) return D3DERR_INVALIDCALL;
        ApplyState(record_.mask, record_.values, &device->MutableState());
        return D3D_OK;
    }

private:
    // The device, unless it is gone or busy recording another block.
    Device* LiveDevice() const {
        auto* device = dynamic_cast<Device*>(link_->device);
        return device != nullptr && !device->Recording() ? device : nullptr;
    }

    std::shared_ptr<DeviceLink> link_;
    StateRecord record_;
};

}  // namespace

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9** ppSB) {
    RecordCall("CreateStateBlock", Type, ppSB);
    if (ppSB == nullptr) return D3DERR_INVALIDCALL;
    *ppSB = nullptr;
    if (recording_) return D3DERR_INVALIDCALL;
    auto record = std::make_unique<StateRecord>();
    if (!MaskForType(Type, state_, &record->mask)) return D3DERR_INVALIDCALL;
    CaptureState(record->mask, state_, &record->values);
    ComPtr<StateBlock> block = MakeRef<StateBlock>(link_, std::move(*record));
    if (!block) return E_OUTOFMEMORY;
    *ppSB = block.Detach();
    return D3D_OK;
}

HRESULT Device::BeginStateBlock() {
    RecordCall("BeginStateBlock");
    if (recording_) return D3DERR_INVALIDCALL;
    recording_ = std::make_unique<StateRecord>();
    return D3D_OK;
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** ppSB) {
    RecordCall("EndStateBlock", ppSB);
    if (ppSB == nullptr || !recording_) return D3DERR_INVALIDCALL;
    *ppSB = nullptr;
    ComPtr<StateBlock> block = MakeRef<StateBlock>(link_, std::move(*recording_));
    recording_.reset();
    if (!block) return E_OUTOFMEMORY;
    *ppSB = block.Detach();
    return D3D_OK;
}

}  // namespace qm::d3d9
