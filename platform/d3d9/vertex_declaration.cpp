// vertex_declaration.cpp: declarations from element lists and from vertex format words.
#include "platform/d3d9/vertex_declaration.h"

#include <algorithm>

#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

// Floats per coordinate set, indexed by the set's two format bits.
constexpr UINT kCoordinateFloats[4] = {2, 3, 4, 1};

D3DVERTEXELEMENT9 Element(UINT offset, BYTE type, BYTE usage, BYTE index = 0) {
    return D3DVERTEXELEMENT9{0, static_cast<WORD>(offset), type, D3DDECLMETHOD_DEFAULT, usage, index};
}

BYTE FloatType(UINT floats) { return static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + floats - 1); }

// The element list a vertex format word stands for, in stream 0, with the end marker.
std::vector<D3DVERTEXELEMENT9> ElementsFromFvf(DWORD fvf) {
    std::vector<D3DVERTEXELEMENT9> elements;
    UINT offset = 0;
    DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZRHW) {
        elements.push_back(Element(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT));
        offset = 16;
    } else if (position == D3DFVF_XYZW) {
        elements.push_back(Element(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION));
        offset = 16;
    } else if (position != 0) {
        elements.push_back(Element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION));
        offset = 12;
        UINT betas = position >= D3DFVF_XYZB1 ? (position - D3DFVF_XYZB1) / 2 + 1 : 0;
        bool lastBeta = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
        UINT weights = lastBeta ? betas - 1 : betas;
        if (weights > 0) {
            elements.push_back(Element(offset, FloatType(std::min(weights, 4u)), D3DDECLUSAGE_BLENDWEIGHT));
            offset += 4 * weights;
        }
        if (lastBeta) {
            BYTE type = (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR;
            elements.push_back(Element(offset, type, D3DDECLUSAGE_BLENDINDICES));
            offset += 4;
        }
    }
    if (fvf & D3DFVF_NORMAL) {
        elements.push_back(Element(offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL));
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) {
        elements.push_back(Element(offset, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE));
        offset += 4;
    }
    if (fvf & D3DFVF_DIFFUSE) {
        elements.push_back(Element(offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0));
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        elements.push_back(Element(offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1));
        offset += 4;
    }
    UINT sets = std::min<UINT>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT, kMaxTexCoordSets);
    for (UINT set = 0; set < sets; ++set) {
        UINT floats = kCoordinateFloats[(fvf >> (16 + set * 2)) & 3];
        elements.push_back(Element(offset, FloatType(floats), D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(set)));
        offset += 4 * floats;
    }
    elements.push_back(D3DDECL_END());
    return elements;
}

}  // namespace

ComPtr<VertexDeclaration> VertexDeclaration::FromElements(std::shared_ptr<DeviceLink> link,
                                                          const D3DVERTEXELEMENT9* elements) {
    InputLayout layout;
    if (!LayoutFromDeclaration(elements, &layout)) return nullptr;
    std::vector<D3DVERTEXELEMENT9> copy;
    for (const D3DVERTEXELEMENT9* e = elements;; ++e) {
        copy.push_back(*e);
        if (e->Stream == 0xFF) break;
    }
    return MakeRef<VertexDeclaration>(std::move(link), std::move(copy), layout, 0);
}

ComPtr<VertexDeclaration> VertexDeclaration::FromFvf(std::shared_ptr<DeviceLink> link, DWORD fvf) {
    return MakeRef<VertexDeclaration>(std::move(link), ElementsFromFvf(fvf), LayoutFromFvf(fvf), fvf);
}

VertexDeclaration::VertexDeclaration(std::shared_ptr<DeviceLink> link, std::vector<D3DVERTEXELEMENT9> elements,
                                     InputLayout layout, DWORD fvf)
    : link_(std::move(link)), elements_(std::move(elements)), layout_(layout), fvf_(fvf) {}

HRESULT VertexDeclaration::GetDevice(IDirect3DDevice9** ppDevice) {
    RecordCall("GetDevice", ppDevice);
    if (ppDevice == nullptr) return D3DERR_INVALIDCALL;
    *ppDevice = nullptr;
    if (!link_ || link_->device == nullptr) return D3DERR_INVALIDCALL;
    link_->device->AddRef();
    *ppDevice = link_->device;
    return D3D_OK;
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) {
    RecordCall("GetDeclaration", pElement, pNumElements);
    if (pNumElements == nullptr) return D3DERR_INVALIDCALL;
    *pNumElements = static_cast<UINT>(elements_.size());
    if (pElement != nullptr) std::copy(elements_.begin(), elements_.end(), pElement);
    return D3D_OK;
}

}  // namespace qm::d3d9
