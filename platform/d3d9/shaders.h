// shaders.h: vertex and pixel shader objects: a program's token stream, checked for a known version
// and an end token, kept for GetFunction and for the programmable stages that will run it.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/resources.h"

namespace qm::d3d9 {

enum class ShaderStage { kVertex, kPixel };

// Programs longer than this many tokens are refused, so that a stream missing its end token is
// not walked without bound.
constexpr std::size_t kMaxShaderTokens = std::size_t{1} << 20;

// The number of tokens of the program at `tokens`, version and end token included, or 0 when it is
// not a program of the stage (unknown version, a parameter token where an instruction belongs, no
// end token within kMaxShaderTokens). Walks instruction by instruction, so that comment blocks and
// immediate constants that happen to look like the end token are skipped.
std::size_t ShaderProgramLength(ShaderStage stage, const DWORD* tokens);

// A shader of one stage: IDirect3DVertexShader9 or IDirect3DPixelShader9.
template <class Interface>
class ShaderObject final : public RefCounted<ShaderObject<Interface>, Interface> {
public:
    static constexpr ShaderStage kStage =
        std::is_same_v<Interface, IDirect3DVertexShader9> ? ShaderStage::kVertex : ShaderStage::kPixel;

    // Null when `tokens` is not a program of this stage (see ShaderProgramLength) or memory runs out.
    static ComPtr<ShaderObject> Create(std::shared_ptr<DeviceLink> link, const DWORD* tokens);

    ShaderObject(std::shared_ptr<DeviceLink> link, std::vector<DWORD> tokens);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetFunction(void* pData, UINT* pSizeOfData) override;

    const std::vector<DWORD>& Tokens() const { return tokens_; }
    DWORD Version() const { return tokens_.front(); }
    const std::shared_ptr<DeviceLink>& Link() const { return link_; }

private:
    std::shared_ptr<DeviceLink> link_;
    std::vector<DWORD> tokens_;  // version token to end token
};

using VertexShader = ShaderObject<IDirect3DVertexShader9>;
using PixelShader = ShaderObject<IDirect3DPixelShader9>;

extern template class ShaderObject<IDirect3DVertexShader9>;
extern template class ShaderObject<IDirect3DPixelShader9>;

}  // namespace qm::d3d9
