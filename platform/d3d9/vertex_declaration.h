// vertex_declaration.h: vertex declaration objects: the element list as given, and the vertex
// layout the input stage reads through.
#pragma once

#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/vertex_input.h"

namespace qm::d3d9 {

class VertexDeclaration final : public RefCounted<VertexDeclaration, IDirect3DVertexDeclaration9> {
public:
    // Null for an element list the device cannot read (see IDirect3DDevice9::CreateVertexDeclaration).
    static ComPtr<VertexDeclaration> FromElements(std::shared_ptr<DeviceLink> link, const D3DVERTEXELEMENT9* elements);
    // The declaration of a valid, non-zero vertex format word.
    static ComPtr<VertexDeclaration> FromFvf(std::shared_ptr<DeviceLink> link, DWORD fvf);

    VertexDeclaration(std::shared_ptr<DeviceLink> link, std::vector<D3DVERTEXELEMENT9> elements, InputLayout layout,
                      DWORD fvf);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) override;

    const InputLayout& Layout() const { return layout_; }
    // The format word this declaration was made from, 0 for element lists.
    DWORD Fvf() const { return fvf_; }
    const std::shared_ptr<DeviceLink>& Link() const { return link_; }

private:
    std::shared_ptr<DeviceLink> link_;
    std::vector<D3DVERTEXELEMENT9> elements_;  // end marker included
    InputLayout layout_;
    DWORD fvf_;
};

}  // namespace qm::d3d9
