// xfile_test_support.h: helpers for the mesh reader and loader tests: X files from text bodies,
// the first data object of a file, vertex access and a description of loaded hierarchies.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/xfile/xfile_templates.h"
#include "tests/mesh/mesh_test_support.h"

namespace qm::xfiletest {

// A text X file of the body (templates come from the loader's blocks).
inline std::string TextFile(const std::string& body) { return "xof 0303txt 0032\n" + body; }

// A parsed file image and its first top-level data object.
struct Parsed {
    ComPtr<IDirectXFile> parser;
    ComPtr<IDirectXFileEnumObject> enumObject;
    ComPtr<IDirectXFileData> object;
};

inline Parsed ParseFirst(const std::string& file) {
    Parsed p;
    EXPECT_EQ(DirectXFileCreate(p.parser.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(RegisterLoaderTemplates(p.parser.Get()), S_OK);
    DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
    EXPECT_EQ(p.parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, p.enumObject.ReleaseAndGetAddressOf()), S_OK);
    if (p.enumObject) {
        EXPECT_EQ(p.enumObject->GetNextDataObject(p.object.ReleaseAndGetAddressOf()), S_OK);
    }
    return p;
}

// The vertex buffer's bytes.
inline std::vector<BYTE> VertexBytes(Mesh* mesh) {
    std::vector<BYTE> out(std::size_t(mesh->GetVertexCount()) * mesh->GetVertexSize());
    void* data = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    std::memcpy(out.data(), data, out.size());
    mesh->UnlockVertexBuffer();
    return out;
}

template <class T>
T VertexField(const std::vector<BYTE>& bytes, Mesh* mesh, DWORD vertex, DWORD offset) {
    T value;
    std::memcpy(&value, bytes.data() + std::size_t(vertex) * mesh->GetVertexSize() + offset, sizeof(T));
    return value;
}

struct Float3 {
    float x, y, z;
    bool operator==(const Float3&) const = default;
};

inline std::vector<Float3> Positions(Mesh* mesh) {
    std::vector<BYTE> bytes = VertexBytes(mesh);
    std::vector<Float3> out;
    for (DWORD v = 0; v < mesh->GetVertexCount(); ++v) out.push_back(VertexField<Float3>(bytes, mesh, v, 0));
    return out;
}

}  // namespace qm::xfiletest
