// shaders.cpp: shader programs: walking a token stream to its end, the shader objects, and the
// device's shader bindings and constant registers.
#include "platform/d3d9/shaders.h"

#include <algorithm>
#include <bitset>
#include <cstring>

#include "platform/d3d9/device.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

// Bit 31 marks a parameter token; instruction, comment and end tokens have it clear.
constexpr DWORD kParameterTokenBit = 0x80000000u;

constexpr DWORD kVertexVersions[] = {D3DVS_VERSION(1, 1), D3DVS_VERSION(2, 0), D3DVS_VERSION(2, 1),
                                     D3DVS_VERSION(3, 0)};
constexpr DWORD kPixelVersions[] = {D3DPS_VERSION(1, 1), D3DPS_VERSION(1, 2), D3DPS_VERSION(1, 3),
                                    D3DPS_VERSION(1, 4), D3DPS_VERSION(2, 0), D3DPS_VERSION(2, 1),
                                    D3DPS_VERSION(3, 0)};

bool KnownVersion(ShaderStage stage, DWORD version) {
    if (stage == ShaderStage::kVertex) {
        return std::find(std::begin(kVertexVersions), std::end(kVertexVersions), version) != std::end(kVertexVersions);
    }
    return std::find(std::begin(kPixelVersions), std::end(kPixelVersions), version) != std::end(kPixelVersions);
}

}  // namespace

std::size_t ShaderProgramLength(ShaderStage stage, const DWORD* tokens) {
    if (tokens == nullptr || !KnownVersion(stage, tokens[0])) return 0;
    // From shader model 2.0 on every instruction token counts its parameter tokens; before, the
    // parameters are the tokens with bit 31 set that follow, except the four raw floats of def.
    const bool countedParameters = D3DSHADER_VERSION_MAJOR(tokens[0]) >= 2;
    std::size_t at = 1;
    while (at < kMaxShaderTokens) {
        DWORD token = tokens[at];
        if (token == D3DVS_END()) return at + 1;
        if ((token & kParameterTokenBit) != 0) return 0;
        DWORD opcode = token & D3DSI_OPCODE_MASK;
        ++at;
        if (opcode == D3DSIO_COMMENT) {
            at += (token & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
        } else if (countedParameters) {
            at += (token & D3DSI_INSTLENGTH_MASK) >> D3DSI_INSTLENGTH_SHIFT;
        } else if (opcode == D3DSIO_DEF) {
            at += 5;  // the register, then four floats of any bit pattern
        } else {
            while (at < kMaxShaderTokens && (tokens[at] & kParameterTokenBit) != 0) ++at;
        }
    }
    return 0;
}

template <class Interface>
ComPtr<ShaderObject<Interface>> ShaderObject<Interface>::Create(std::shared_ptr<DeviceLink> link, const DWORD* tokens) {
    std::size_t length = ShaderProgramLength(kStage, tokens);
    if (length == 0) return nullptr;
    return MakeRef<ShaderObject>(std::move(link), std::vector<DWORD>(tokens, tokens + length));
}

template <class Interface>
ShaderObject<Interface>::ShaderObject(std::shared_ptr<DeviceLink> link, std::vector<DWORD> tokens)
    : link_(std::move(link)), tokens_(std::move(tokens)) {}

template <class Interface>
HRESULT ShaderObject<Interface>::GetDevice(IDirect3DDevice9** ppDevice) {
    RecordCall("GetDevice", ppDevice);
    if (ppDevice == nullptr) return D3DERR_INVALIDCALL;
    *ppDevice = nullptr;
    if (!link_ || link_->device == nullptr) return D3DERR_INVALIDCALL;
    link_->device->AddRef();
    *ppDevice = link_->device;
    return D3D_OK;
}

template <class Interface>
HRESULT ShaderObject<Interface>::GetFunction(void* pData, UINT* pSizeOfData) {
    RecordCall("GetFunction", pData, pSizeOfData);
    if (pSizeOfData == nullptr) return D3DERR_INVALIDCALL;
    UINT size = static_cast<UINT>(tokens_.size() * sizeof(DWORD));
    if (pData == nullptr) {
        *pSizeOfData = size;
        return D3D_OK;
    }
    if (*pSizeOfData < size) return D3DERR_INVALIDCALL;
    std::memcpy(pData, tokens_.data(), size);
    *pSizeOfData = size;
    return D3D_OK;
}

template class ShaderObject<IDirect3DVertexShader9>;
template class ShaderObject<IDirect3DPixelShader9>;

// ---- The device's shader slots ----

namespace {

// Writes `count` registers of `width` values from `data` into `registers`, starting at register
// `start`, and marks them in `recorded` when a block is being recorded. Nothing changes on failure.
template <class T, std::size_t N, std::size_t Registers>
HRESULT WriteRegisters(std::array<T, N>* registers, std::bitset<Registers>* recorded, UINT start, const T* data,
                       UINT count) {
    constexpr std::size_t kWidth = N / Registers;
    if (data == nullptr || std::uint64_t{start} + count > Registers) return D3DERR_INVALIDCALL;
    std::copy_n(data, std::size_t{count} * kWidth, registers->begin() + std::size_t{start} * kWidth);
    if (recorded != nullptr) {
        for (UINT r = start; r < start + count; ++r) recorded->set(r);
    }
    return D3D_OK;
}

template <std::size_t Registers, class T, std::size_t N>
HRESULT ReadRegisters(const std::array<T, N>& registers, UINT start, T* data, UINT count) {
    constexpr std::size_t kWidth = N / Registers;
    if (data == nullptr || std::uint64_t{start} + count > Registers) return D3DERR_INVALIDCALL;
    std::copy_n(registers.begin() + std::size_t{start} * kWidth, std::size_t{count} * kWidth, data);
    return D3D_OK;
}

// A shader argument of this device as its concrete type; `*valid` is false for a shader of another
// device or another kind of object.
template <class Shader, class Interface>
Shader* OwnShader(Interface* given, const std::shared_ptr<DeviceLink>& link, bool* valid) {
    auto* shader = dynamic_cast<Shader*>(given);
    *valid = given == nullptr || (shader != nullptr && shader->Link() == link);
    return shader;
}

}  // namespace

HRESULT Device::CreateVertexShader(const DWORD* pFunction, IDirect3DVertexShader9** ppShader) {
    RecordCall("CreateVertexShader", pFunction, ppShader);
    if (ppShader == nullptr) return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    ComPtr<VertexShader> shader = VertexShader::Create(link_, pFunction);
    if (!shader) return D3DERR_INVALIDCALL;
    *ppShader = shader.Detach();
    return D3D_OK;
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* pShader) {
    RecordCall("SetVertexShader", pShader);
    bool valid = false;
    VertexShader* shader = OwnShader<VertexShader>(pShader, link_, &valid);
    if (!valid) return D3DERR_INVALIDCALL;
    Target().vertexShader = ComPtr<VertexShader>(shader);
    Target().dirty |= kDirtyShaders;
    if (StateMask* mask = RecordedMask()) mask->vertexShader = true;
    return D3D_OK;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** ppShader) {
    RecordCall("GetVertexShader", ppShader);
    if (ppShader == nullptr) return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    *ppShader = state_.vertexShader.CopyOut();
    return D3D_OK;
}

HRESULT Device::SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) {
    RecordCall("SetVertexShaderConstantF", StartRegister, pConstantData, Vector4fCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().vertexConstants.f, mask ? &mask->vertexConstants.f : nullptr, StartRegister,
                                pConstantData, Vector4fCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetVertexShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) {
    RecordCall("GetVertexShaderConstantF", StartRegister, pConstantData, Vector4fCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kVertexShaderConstantsF>(state_.vertexConstants.f, StartRegister, pConstantData,
                                                  Vector4fCount);
}

HRESULT Device::SetVertexShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) {
    RecordCall("SetVertexShaderConstantI", StartRegister, pConstantData, Vector4iCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().vertexConstants.i, mask ? &mask->vertexConstants.i : nullptr, StartRegister,
                                pConstantData, Vector4iCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetVertexShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) {
    RecordCall("GetVertexShaderConstantI", StartRegister, pConstantData, Vector4iCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kShaderConstantsI>(state_.vertexConstants.i, StartRegister, pConstantData, Vector4iCount);
}

HRESULT Device::SetVertexShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) {
    RecordCall("SetVertexShaderConstantB", StartRegister, pConstantData, BoolCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().vertexConstants.b, mask ? &mask->vertexConstants.b : nullptr, StartRegister,
                                pConstantData, BoolCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetVertexShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) {
    RecordCall("GetVertexShaderConstantB", StartRegister, pConstantData, BoolCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kShaderConstantsB>(state_.vertexConstants.b, StartRegister, pConstantData, BoolCount);
}

HRESULT Device::CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) {
    RecordCall("CreatePixelShader", pFunction, ppShader);
    if (ppShader == nullptr) return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    ComPtr<PixelShader> shader = PixelShader::Create(link_, pFunction);
    if (!shader) return D3DERR_INVALIDCALL;
    *ppShader = shader.Detach();
    return D3D_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* pShader) {
    RecordCall("SetPixelShader", pShader);
    bool valid = false;
    PixelShader* shader = OwnShader<PixelShader>(pShader, link_, &valid);
    if (!valid) return D3DERR_INVALIDCALL;
    Target().pixelShader = ComPtr<PixelShader>(shader);
    Target().dirty |= kDirtyShaders;
    if (StateMask* mask = RecordedMask()) mask->pixelShader = true;
    return D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** ppShader) {
    RecordCall("GetPixelShader", ppShader);
    if (ppShader == nullptr) return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    *ppShader = state_.pixelShader.CopyOut();
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) {
    RecordCall("SetPixelShaderConstantF", StartRegister, pConstantData, Vector4fCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().pixelConstants.f, mask ? &mask->pixelConstants.f : nullptr, StartRegister,
                                pConstantData, Vector4fCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetPixelShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) {
    RecordCall("GetPixelShaderConstantF", StartRegister, pConstantData, Vector4fCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kPixelShaderConstantsF>(state_.pixelConstants.f, StartRegister, pConstantData, Vector4fCount);
}

HRESULT Device::SetPixelShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) {
    RecordCall("SetPixelShaderConstantI", StartRegister, pConstantData, Vector4iCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().pixelConstants.i, mask ? &mask->pixelConstants.i : nullptr, StartRegister,
                                pConstantData, Vector4iCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetPixelShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) {
    RecordCall("GetPixelShaderConstantI", StartRegister, pConstantData, Vector4iCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kShaderConstantsI>(state_.pixelConstants.i, StartRegister, pConstantData, Vector4iCount);
}

HRESULT Device::SetPixelShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) {
    RecordCall("SetPixelShaderConstantB", StartRegister, pConstantData, BoolCount);
    StateMask* mask = RecordedMask();
    HRESULT hr = WriteRegisters(&Target().pixelConstants.b, mask ? &mask->pixelConstants.b : nullptr, StartRegister,
                                pConstantData, BoolCount);
    if (SUCCEEDED(hr)) Target().dirty |= kDirtyShaders;
    return hr;
}

HRESULT Device::GetPixelShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) {
    RecordCall("GetPixelShaderConstantB", StartRegister, pConstantData, BoolCount);
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    return ReadRegisters<kShaderConstantsB>(state_.pixelConstants.b, StartRegister, pConstantData, BoolCount);
}

}  // namespace qm::d3d9
