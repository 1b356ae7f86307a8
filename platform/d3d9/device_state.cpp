// device_state.cpp: the platform's default device state and the tables of valid state types.
#include "platform/d3d9/device_state.h"

#include <bit>
#include <bitset>

namespace qm::d3d9 {
namespace {

constexpr DWORD FloatBits(float f) { return std::bit_cast<DWORD>(f); }
constexpr DWORD kAllBits = 0xFFFFFFFFu;

struct StateDefault {
    DWORD state;
    DWORD value;
};

// Every render state the platform has, with its default. ZENABLE is adjusted for the depth buffer.
constexpr StateDefault kRenderStateDefaults[] = {
    {D3DRS_ZENABLE, D3DZB_FALSE},
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_ZWRITEENABLE, TRUE},
    {D3DRS_ALPHATESTENABLE, FALSE},
    {D3DRS_LASTPIXEL, TRUE},
    {D3DRS_SRCBLEND, D3DBLEND_ONE},
    {D3DRS_DESTBLEND, D3DBLEND_ZERO},
    {D3DRS_CULLMODE, D3DCULL_CCW},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRS_ALPHAREF, 0},
    {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRS_DITHERENABLE, FALSE},
    {D3DRS_ALPHABLENDENABLE, FALSE},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_FOGCOLOR, 0},
    {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
    {D3DRS_FOGSTART, FloatBits(0.0f)},
    {D3DRS_FOGEND, FloatBits(1.0f)},
    {D3DRS_FOGDENSITY, FloatBits(1.0f)},
    {D3DRS_RANGEFOGENABLE, FALSE},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_STENCILREF, 0},
    {D3DRS_STENCILMASK, kAllBits},
    {D3DRS_STENCILWRITEMASK, kAllBits},
    {D3DRS_TEXTUREFACTOR, kAllBits},
    {D3DRS_WRAP0, 0},
    {D3DRS_WRAP1, 0},
    {D3DRS_WRAP2, 0},
    {D3DRS_WRAP3, 0},
    {D3DRS_WRAP4, 0},
    {D3DRS_WRAP5, 0},
    {D3DRS_WRAP6, 0},
    {D3DRS_WRAP7, 0},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_LIGHTING, TRUE},
    {D3DRS_AMBIENT, 0},
    {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
    {D3DRS_COLORVERTEX, TRUE},
    {D3DRS_LOCALVIEWER, TRUE},
    {D3DRS_NORMALIZENORMALS, FALSE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
    {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
    {D3DRS_CLIPPLANEENABLE, 0},
    {D3DRS_POINTSIZE, FloatBits(1.0f)},
    {D3DRS_POINTSIZE_MIN, FloatBits(1.0f)},
    {D3DRS_POINTSPRITEENABLE, FALSE},
    {D3DRS_POINTSCALEENABLE, FALSE},
    {D3DRS_POINTSCALE_A, FloatBits(1.0f)},
    {D3DRS_POINTSCALE_B, FloatBits(0.0f)},
    {D3DRS_POINTSCALE_C, FloatBits(0.0f)},
    {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
    {D3DRS_MULTISAMPLEMASK, kAllBits},
    {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE},
    {D3DRS_DEBUGMONITORTOKEN, D3DDMT_ENABLE},
    {D3DRS_POINTSIZE_MAX, FloatBits(kMaxPointSize)},
    {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
    {D3DRS_COLORWRITEENABLE, 0xF},
    {D3DRS_TWEENFACTOR, FloatBits(0.0f)},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    {D3DRS_POSITIONDEGREE, D3DDEGREE_CUBIC},
    {D3DRS_NORMALDEGREE, D3DDEGREE_LINEAR},
    {D3DRS_SCISSORTESTENABLE, FALSE},
    {D3DRS_SLOPESCALEDEPTHBIAS, 0},
    {D3DRS_ANTIALIASEDLINEENABLE, FALSE},
    {D3DRS_MINTESSELLATIONLEVEL, FloatBits(1.0f)},
    {D3DRS_MAXTESSELLATIONLEVEL, FloatBits(1.0f)},
    {D3DRS_ADAPTIVETESS_X, FloatBits(0.0f)},
    {D3DRS_ADAPTIVETESS_Y, FloatBits(0.0f)},
    {D3DRS_ADAPTIVETESS_Z, FloatBits(1.0f)},
    {D3DRS_ADAPTIVETESS_W, FloatBits(0.0f)},
    {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
    {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
    {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_COLORWRITEENABLE1, 0xF},
    {D3DRS_COLORWRITEENABLE2, 0xF},
    {D3DRS_COLORWRITEENABLE3, 0xF},
    {D3DRS_BLENDFACTOR, kAllBits},
    {D3DRS_SRGBWRITEENABLE, 0},
    {D3DRS_DEPTHBIAS, 0},
    {D3DRS_WRAP8, 0},
    {D3DRS_WRAP9, 0},
    {D3DRS_WRAP10, 0},
    {D3DRS_WRAP11, 0},
    {D3DRS_WRAP12, 0},
    {D3DRS_WRAP13, 0},
    {D3DRS_WRAP14, 0},
    {D3DRS_WRAP15, 0},
    {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
    {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
    {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
    {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
};

// Texture-stage states with the defaults of every stage; COLOROP, ALPHAOP and TEXCOORDINDEX
// depend on the stage and are set apart.
constexpr StateDefault kStageStateDefaults[] = {
    {D3DTSS_COLOROP, D3DTOP_DISABLE},
    {D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {D3DTSS_COLORARG2, D3DTA_CURRENT},
    {D3DTSS_ALPHAOP, D3DTOP_DISABLE},
    {D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
    {D3DTSS_ALPHAARG2, D3DTA_CURRENT},
    {D3DTSS_BUMPENVMAT00, FloatBits(0.0f)},
    {D3DTSS_BUMPENVMAT01, FloatBits(0.0f)},
    {D3DTSS_BUMPENVMAT10, FloatBits(0.0f)},
    {D3DTSS_BUMPENVMAT11, FloatBits(0.0f)},
    {D3DTSS_TEXCOORDINDEX, 0},
    {D3DTSS_BUMPENVLSCALE, FloatBits(0.0f)},
    {D3DTSS_BUMPENVLOFFSET, FloatBits(0.0f)},
    {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
    {D3DTSS_COLORARG0, D3DTA_CURRENT},
    {D3DTSS_ALPHAARG0, D3DTA_CURRENT},
    {D3DTSS_RESULTARG, D3DTA_CURRENT},
    {D3DTSS_CONSTANT, 0},
};

constexpr StateDefault kSamplerStateDefaults[] = {
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
    {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
    {D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP},
    {D3DSAMP_BORDERCOLOR, 0},
    {D3DSAMP_MAGFILTER, D3DTEXF_POINT},
    {D3DSAMP_MINFILTER, D3DTEXF_POINT},
    {D3DSAMP_MIPFILTER, D3DTEXF_NONE},
    {D3DSAMP_MIPMAPLODBIAS, 0},
    {D3DSAMP_MAXMIPLEVEL, 0},
    {D3DSAMP_MAXANISOTROPY, 1},
    {D3DSAMP_SRGBTEXTURE, 0},
    {D3DSAMP_ELEMENTINDEX, 0},
    {D3DSAMP_DMAPOFFSET, 0},
};

template <std::size_t N, std::size_t M>
std::bitset<N> ValidSet(const StateDefault (&defaults)[M]) {
    std::bitset<N> valid;
    for (const StateDefault& d : defaults) valid.set(d.state);
    return valid;
}

const std::bitset<kRenderStateSlots>& ValidRenderStates() {
    static const std::bitset<kRenderStateSlots> valid = ValidSet<kRenderStateSlots>(kRenderStateDefaults);
    return valid;
}

const std::bitset<kStageStateSlots>& ValidStageStates() {
    static const std::bitset<kStageStateSlots> valid = ValidSet<kStageStateSlots>(kStageStateDefaults);
    return valid;
}

}  // namespace

bool IsRenderState(DWORD state) { return state < kRenderStateSlots && ValidRenderStates().test(state); }

bool IsStageState(DWORD type) { return type < kStageStateSlots && ValidStageStates().test(type); }

bool IsSamplerState(DWORD type) { return type >= D3DSAMP_ADDRESSU && type <= D3DSAMP_DMAPOFFSET; }

int SamplerSlot(DWORD sampler) {
    if (sampler < 16) return static_cast<int>(sampler);
    if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3) {
        return static_cast<int>(16 + (sampler - D3DDMAPSAMPLER));
    }
    return -1;
}

int TransformSlot(DWORD state) {
    if (state == D3DTS_VIEW) return 0;
    if (state == D3DTS_PROJECTION) return 1;
    if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) return static_cast<int>(2 + state - D3DTS_TEXTURE0);
    if (state >= D3DTS_WORLD && state < D3DTS_WORLDMATRIX(256)) return static_cast<int>(10 + state - D3DTS_WORLD);
    return -1;
}

D3DMATRIX IdentityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DLIGHT9 DefaultLight() {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
    light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    return light;
}

void ResetToDefaults(DeviceState* state, bool autoDepthStencil, UINT width, UINT height) {
    state->renderStates.fill(0);
    for (const StateDefault& d : kRenderStateDefaults) state->renderStates[d.state] = d.value;
    state->renderStates[D3DRS_ZENABLE] = autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;

    for (DWORD stage = 0; stage < kMaxTextureBlendStages; ++stage) {
        auto& values = state->stageStates[stage];
        values.fill(0);
        for (const StateDefault& d : kStageStateDefaults) values[d.state] = d.value;
        values[D3DTSS_TEXCOORDINDEX] = stage;
    }
    state->stageStates[0][D3DTSS_COLOROP] = D3DTOP_MODULATE;
    state->stageStates[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;

    for (auto& values : state->samplerStates) {
        values.fill(0);
        for (const StateDefault& d : kSamplerStateDefaults) values[d.state] = d.value;
    }

    state->transforms.fill(IdentityMatrix());
    state->viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
    state->material = D3DMATERIAL9{};
    state->lights.clear();
    for (StreamBinding& s : state->streams) s = StreamBinding{};
    state->indices.Reset();
    state->fvf = 0;
    state->declaration.Reset();
    for (auto& t : state->textures) t.Reset();
    state->vertexShader.Reset();
    state->pixelShader.Reset();
    state->vertexConstants = {};
    state->pixelConstants = {};
    state->nPatchSegments = 0.0f;
    state->dirty = kDirtyAll;
}

}  // namespace qm::d3d9
