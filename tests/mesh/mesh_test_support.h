// mesh_test_support.h: a device for mesh tests and meshes filled from plain arrays.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/mesh/mesh.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace qm::meshtest {

// A software device on a small host window.
class DeviceFixture : public testing::Test {
protected:
    DeviceFixture() : window_(16, 16) { device_ = d3d9test::MakeDevice(window_.Handle()); }
    IDirect3DDevice9* Device() const { return device_.Get(); }

    d3d9test::CapturingWindow window_;
    ComPtr<IDirect3DDevice9> device_;
};

// Makes a mesh of the vertex-format code and fills vertices (vertexSize bytes each), indices and
// attributes. Fails the test and returns null when any step fails.
inline ComPtr<Mesh> MakeMesh(IDirect3DDevice9* device, DWORD options, DWORD fvf, const void* vertices,
                             DWORD vertexCount, const std::vector<DWORD>& indices,
                             const std::vector<DWORD>& attributes) {
    Mesh* made = nullptr;
    const DWORD faceCount = static_cast<DWORD>(indices.size() / 3);
    HRESULT hr = CreateMeshObjectFVF(faceCount, vertexCount, options, fvf, device, &made);
    EXPECT_EQ(hr, D3D_OK);
    if (FAILED(hr)) return nullptr;
    ComPtr<Mesh> mesh = ComPtr<Mesh>::Adopt(made);
    void* data = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(0, &data), D3D_OK);
    std::memcpy(data, vertices, static_cast<std::size_t>(vertexCount) * mesh->GetVertexSize());
    mesh->UnlockVertexBuffer();
    EXPECT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (options & kMesh32BitIndices) {
            static_cast<DWORD*>(data)[i] = indices[i];
        } else {
            static_cast<WORD*>(data)[i] = static_cast<WORD>(indices[i]);
        }
    }
    mesh->UnlockIndexBuffer();
    DWORD* ids = nullptr;
    EXPECT_EQ(mesh->LockAttributeBuffer(0, &ids), D3D_OK);
    std::copy(attributes.begin(), attributes.end(), ids);
    mesh->UnlockAttributeBuffer();
    return mesh;
}

// The indices of a mesh, widened.
inline std::vector<DWORD> ReadIndices(Mesh* mesh) {
    std::vector<DWORD> out(3 * static_cast<std::size_t>(mesh->GetFaceCount()));
    void* data = nullptr;
    EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = (mesh->GetOptions() & kMesh32BitIndices) ? static_cast<DWORD*>(data)[i] : static_cast<WORD*>(data)[i];
    mesh->UnlockIndexBuffer();
    return out;
}

inline std::vector<DWORD> ReadAttributes(Mesh* mesh) {
    DWORD* ids = nullptr;
    EXPECT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &ids), D3D_OK);
    std::vector<DWORD> out(ids, ids + mesh->GetFaceCount());
    mesh->UnlockAttributeBuffer();
    return out;
}

inline std::vector<AttributeRange> ReadTable(Mesh* mesh) {
    DWORD count = 0;
    EXPECT_EQ(mesh->GetAttributeTable(nullptr, &count), D3D_OK);
    std::vector<AttributeRange> table(count);
    EXPECT_EQ(mesh->GetAttributeTable(table.data(), nullptr), D3D_OK);
    return table;
}

// The DrawIndexedPrimitive lines among the recorded calls.
inline std::vector<std::string> DrawLines(const std::vector<std::string>& lines) {
    std::vector<std::string> draws;
    for (const std::string& line : lines)
        if (line.rfind("DrawIndexedPrimitive(", 0) == 0) draws.push_back(line);
    return draws;
}

}  // namespace qm::meshtest
