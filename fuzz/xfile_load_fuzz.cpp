// xfile_load_fuzz.cpp: libFuzzer target for the whole hierarchy load from memory: the input is a file
// image in any encoding, loaded with the mesh reader, animation sets and controller into plain
// records; the tree is walked and destroyed, and nothing may stay alive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "library/xfile/hierarchy.h"
#include "library/xfile/plain_allocator.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/standalone_device.h"

namespace {

IDirect3DDevice9* TheDevice() {
    static ComPtr<IDirect3DDevice9> device = [] {
        ComPtr<IDirect3DDevice9> made = qm::d3d9::CreateStandaloneDevice(8, 8);
        if (!made) std::abort();
        return made;
    }();
    return device.Get();
}

// Reads every vertex, index and adjacency entry the load handed out.
void Touch(qm::Frame* frame) {
    volatile std::uint8_t sink = 0;
    for (; frame != nullptr; frame = frame->sibling) {
        for (qm::MeshContainer* c = frame->meshContainer; c != nullptr; c = c->nextContainer) {
            qm::Mesh* mesh = c->meshData.mesh;
            void* data = nullptr;
            if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) {
                const std::size_t bytes = std::size_t(mesh->GetVertexCount()) * mesh->GetVertexSize();
                for (std::size_t i = 0; i < bytes; ++i) sink = sink ^ static_cast<const std::uint8_t*>(data)[i];
                mesh->UnlockVertexBuffer();
            }
            for (std::size_t i = 0; i < 3 * std::size_t(mesh->GetFaceCount()); ++i) sink = sink ^ std::uint8_t(c->adjacency[i]);
        }
        Touch(frame->firstChild);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 0xFFFFFFFFu) return 0;
    std::vector<std::uint8_t> copy(data, data + size);  // exact bounds for the sanitizer
    qm::PlainHierarchyAllocator allocator;
    qm::Frame* root = nullptr;
    ComPtr<qm::AnimationController> controller;
    const HRESULT hr = qm::LoadHierarchyFromMemory(copy.data(), DWORD(copy.size()), 0, TheDevice(), &allocator, nullptr,
                                                   &root, controller.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) {
        Touch(root);
        if (controller) controller->SetTime(0.5);
        controller.Reset();
        qm::DestroyFrameTree(root, &allocator);
    }
    if (allocator.LiveFrames() != 0 || allocator.LiveContainers() != 0) std::abort();
    return 0;
}
