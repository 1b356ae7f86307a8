// pipeline.cpp: the drawing pipeline behind validated draw calls: per draw it takes the state into
// its stages once, then assembles primitives from the vertex cache, clips, projects, rasterises and
// runs the pixel stages span by span.
#include "platform/d3d9/pipeline.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/d3d9/points.h"

namespace qm::d3d9 {
namespace {

// Half-extent of the guard band, in pixels beyond the viewport's centre: clipping against x and y
// happens only there, the rasteriser scissors to the viewport within it.
constexpr float kGuardBandPixels = 16384.0f;

std::uint64_t ReadIndex(const IndexSource& indices, std::size_t at) {
    if (indices.indexSize == 4) {
        std::uint32_t v;
        std::memcpy(&v, indices.data + at * 4, 4);
        return v;
    }
    std::uint16_t v;
    std::memcpy(&v, indices.data + at * 2, 2);
    return v;
}

float ScreenArea(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
}

bool Culled(DWORD cullMode, float area) {
    return area == 0.0f || (cullMode == D3DCULL_CW && area > 0.0f) || (cullMode == D3DCULL_CCW && area < 0.0f);
}

}  // namespace

Pipeline::Pipeline() : cache_(kCacheSize), cacheTags_(kCacheSize, 0) {}

void Pipeline::SetThreadCount(int count) {
    if (count == ThreadCount()) return;
    workers_ = count > 1 ? std::make_unique<SpanWorkers>(count) : nullptr;
}

HRESULT Pipeline::Draw(const DeviceState& state, std::uint32_t dirtyGroups, const RenderTargets& targets,
                       const DrawRequest& request) {
    if (targets.colour == nullptr || !request.declaration) return D3DERR_INVALIDCALL;
    // Changes are kept until a draw reaches the stages, since the device forgets them once any draw
    // succeeds (a draw into an empty viewport too).
    pendingDirty_ |= dirtyGroups;
    layout_ = &request.declaration->Layout();
    if (request.declaration.Get() != lastDeclaration_) {
        lastDeclaration_ = request.declaration.Get();
        pendingDirty_ |= kDirtyVertexFormat;
    }
    // Without a position there is nothing to place on the screen.
    if (!layout_->hasPosition) return D3DERR_INVALIDCALL;
    if (!outputMerger_.Prepare(state, targets.colour, targets.depth)) return D3DERR_INVALIDCALL;

    for (UINT s = 0; s < kMaxStreams; ++s) {
        const VertexSource& source = request.streams[s];
        streams_[s] = StreamView{source.data, source.size, source.stride};
    }
    std::uint64_t available = VerticesAvailable(*layout_, streams_.data());

    // The viewport, kept inside the target (and the depth buffer, should it be smaller).
    const D3DVIEWPORT9& vp = state.viewport;
    UINT targetWidth = targets.colour->Width(), targetHeight = targets.colour->Height();
    if (targets.depth != nullptr) {
        targetWidth = std::min(targetWidth, targets.depth->Width());
        targetHeight = std::min(targetHeight, targets.depth->Height());
    }
    UINT left = std::min<UINT>(vp.X, targetWidth), top = std::min<UINT>(vp.Y, targetHeight);
    UINT right = static_cast<UINT>(std::min<std::uint64_t>(std::uint64_t{vp.X} + vp.Width, targetWidth));
    UINT bottom = static_cast<UINT>(std::min<std::uint64_t>(std::uint64_t{vp.Y} + vp.Height, targetHeight));
    if (left >= right || top >= bottom) return D3D_OK;
    viewportX_ = static_cast<float>(vp.X);
    viewportY_ = static_cast<float>(vp.Y);
    halfWidth_ = static_cast<float>(vp.Width) * 0.5f;
    halfHeight_ = static_cast<float>(vp.Height) * 0.5f;
    minZ_ = vp.MinZ;
    depthRange_ = vp.MaxZ - vp.MinZ;

    const auto& rs = state.renderStates;
    cullMode_ = rs[D3DRS_CULLMODE];
    fillMode_ = rs[D3DRS_FILLMODE];
    flatShading_ = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    pointSprites_ = rs[D3DRS_POINTSPRITEENABLE] != 0;

    pixelProcessor_.Prepare(state);
    vertexProcessor_.Prepare(state, pendingDirty_, *layout_);
    pendingDirty_ = 0;
    texCoordSetMask_ = pixelProcessor_.TexCoordSetMask();
    varyingCount_ = kTexCoordSlot + 4 * static_cast<int>(std::bit_width(texCoordSetMask_));
    float guardX = std::max(1.0f, kGuardBandPixels / std::max(halfWidth_, 1.0f));
    float guardY = std::max(1.0f, kGuardBandPixels / std::max(halfHeight_, 1.0f));
    clipper_.Prepare(guardX, guardY, varyingCount_);
    spanContext_ = SpanContext{&pixelProcessor_, &outputMerger_, varyingCount_, texCoordSetMask_};
    SpanFn span = ChooseSpan(pixelProcessor_.Fast().kind, outputMerger_.Merging(), outputMerger_.Depth());
    // Untextured plain shading reads only the diffuse colour: the other planes need no set-up.
    const FastShade& fast = pixelProcessor_.Fast();
    int planes = fast.kind == ShadeKind::kUntextured && !fast.specularAdd ? kSpecularSlot : varyingCount_;
    if (workers_) {
        workers_->Begin(span, &spanContext_, planes);
        rasteriser_.Prepare(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                            static_cast<int>(bottom), planes, &SpanWorkers::Record, workers_.get());
    } else {
        rasteriser_.Prepare(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                            static_cast<int>(bottom), planes, span, &spanContext_);
    }
    std::fill(cacheTags_.begin(), cacheTags_.end(), 0);

    // The vertex index of the n-th vertex the primitives use, or -1 when it lies outside the source.
    auto vertexAt = [&](std::uint64_t n) -> std::int64_t {
        std::int64_t index;
        if (request.indexed) {
            std::size_t at = request.firstIndex + n;
            if (at >= request.indices.count) return -1;
            index = request.baseVertexIndex + static_cast<std::int64_t>(ReadIndex(request.indices, at));
        } else {
            index = static_cast<std::int64_t>(request.firstVertex + n);
        }
        return index >= 0 && static_cast<std::uint64_t>(index) < available ? index : -1;
    };

    const std::uint64_t count = request.primitiveCount;
    switch (request.type) {
        case D3DPT_POINTLIST:
            for (std::uint64_t p = 0; p < count; ++p) {
                std::int64_t i = vertexAt(p);
                if (i < 0) continue;
                BeginPrimitive();
                DrawPoint(&Vertex(static_cast<std::uint64_t>(i), 0));
            }
            break;
        case D3DPT_LINELIST:
        case D3DPT_LINESTRIP: {
            bool strip = request.type == D3DPT_LINESTRIP;
            bool lastPixel = rs[D3DRS_LASTPIXEL] != 0;
            for (std::uint64_t p = 0; p < count; ++p) {
                std::int64_t i0 = vertexAt(strip ? p : 2 * p), i1 = vertexAt(strip ? p + 1 : 2 * p + 1);
                if (i0 < 0 || i1 < 0) continue;
                BeginPrimitive();
                const CachedVertex* a = &Vertex(static_cast<std::uint64_t>(i0), 0);
                const CachedVertex* b = &Vertex(static_cast<std::uint64_t>(i1), 1);
                // Inside a strip the next segment draws the shared pixel.
                DrawLine(a, b, strip && p + 1 < count ? false : lastPixel);
            }
            break;
        }
        case D3DPT_TRIANGLELIST:
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            for (std::uint64_t p = 0; p < count; ++p) {
                std::uint64_t n[3];
                if (request.type == D3DPT_TRIANGLELIST) {
                    n[0] = 3 * p, n[1] = 3 * p + 1, n[2] = 3 * p + 2;
                } else if (request.type == D3DPT_TRIANGLESTRIP) {
                    // Every other triangle of a strip is turned back to the strip's winding; each
                    // starts with its own first vertex, which leads flat shading.
                    n[0] = p, n[1] = (p & 1) ? p + 2 : p + 1, n[2] = (p & 1) ? p + 1 : p + 2;
                } else {
                    // Fan triangles wind as (0, p+1, p+2) and are led by vertex p+1.
                    n[0] = p + 1, n[1] = p + 2, n[2] = 0;
                }
                std::int64_t i[3] = {vertexAt(n[0]), vertexAt(n[1]), vertexAt(n[2])};
                if (i[0] < 0 || i[1] < 0 || i[2] < 0) continue;
                BeginPrimitive();
                const CachedVertex* a = &Vertex(static_cast<std::uint64_t>(i[0]), 0);
                const CachedVertex* b = &Vertex(static_cast<std::uint64_t>(i[1]), 1);
                const CachedVertex* c = &Vertex(static_cast<std::uint64_t>(i[2]), 2);
                DrawTriangle(a, b, c);
            }
            break;
    }
    if (workers_) workers_->Finish();
    return D3D_OK;
}

const Pipeline::CachedVertex& Pipeline::Vertex(std::uint64_t index, int position) {
    std::size_t slot = static_cast<std::size_t>(index % kCacheSize);
    CachedVertex* entry = &cache_[slot];
    if (cacheTags_[slot] == index + 1) {
        pinned_[static_cast<std::size_t>(pinnedCount_++)] = slot;
        return *entry;
    }
    for (int p = 0; p < pinnedCount_; ++p) {
        if (pinned_[static_cast<std::size_t>(p)] == slot) {
            entry = &spare_[static_cast<std::size_t>(position)];
            break;
        }
    }
    if (entry == &cache_[slot]) {
        cacheTags_[slot] = index + 1;
        pinned_[static_cast<std::size_t>(pinnedCount_++)] = slot;
    }
    FetchVertex(*layout_, streams_.data(), static_cast<std::size_t>(index), &input_);
    vertexProcessor_.Process(input_, &entry->processed);
    entry->outcode = layout_->pretransformed ? 0 : clipper_.Outcode(entry->processed.position);
    if (entry->outcode == 0) Project(entry->processed, &entry->screen);
    return *entry;
}

void Pipeline::Project(const ProcessedVertex& in, ScreenVertex* out) const {
    float invW;
    if (layout_->pretransformed) {
        out->x = in.position[0];
        out->y = in.position[1];
        out->z = in.position[2];
        invW = in.position[3] > 0.0f && std::isfinite(in.position[3]) ? in.position[3] : 1.0f;
    } else {
        invW = 1.0f / in.position[3];
        out->x = viewportX_ + (1.0f + in.position[0] * invW) * halfWidth_;
        out->y = viewportY_ + (1.0f - in.position[1] * invW) * halfHeight_;
        out->z = minZ_ + in.position[2] * invW * depthRange_;
    }
    out->invW = invW;
    for (int i = 0; i < varyingCount_; ++i) out->varyings[i] = in.varyings[i] * invW;
}

void Pipeline::DrawTriangle(const CachedVertex* a, const CachedVertex* b, const CachedVertex* c) {
    if ((a->outcode & b->outcode & c->outcode) != 0) return;
    CachedVertex flat[2];
    if (flatShading_) {
        // Flat shading: the first vertex's colours over the whole triangle.
        const CachedVertex* others[2] = {b, c};
        for (int k = 0; k < 2; ++k) {
            flat[k] = *others[k];
            std::copy(a->processed.varyings, a->processed.varyings + kTexCoordSlot, flat[k].processed.varyings);
            if (flat[k].outcode == 0) {
                // Screen varyings are multiplied by the vertex's own 1/w. (Triangles with a vertex
                // outside are clipped from the processed values instead.)
                for (int i = 0; i < kTexCoordSlot; ++i) {
                    flat[k].screen.varyings[i] = a->processed.varyings[i] * flat[k].screen.invW;
                }
            }
        }
        b = &flat[0];
        c = &flat[1];
    }
    if ((a->outcode | b->outcode | c->outcode) == 0) {
        DrawScreenTriangle(a->screen, b->screen, c->screen);
        return;
    }
    const ProcessedVertex* const* polygon = nullptr;
    int n = clipper_.ClipTriangle(&a->processed, &b->processed, &c->processed, a->outcode | b->outcode | c->outcode,
                                  &polygon);
    if (n < 3) return;
    ScreenVertex projected[16];
    for (int i = 0; i < n; ++i) Project(*polygon[i], &projected[i]);
    for (int i = 1; i + 1 < n; ++i) DrawScreenTriangle(projected[0], projected[i], projected[i + 1]);
}

void Pipeline::DrawScreenTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    if (fillMode_ == D3DFILL_SOLID) {
        rasteriser_.DrawTriangle(a, b, c, cullMode_);
        return;
    }
    if (Culled(cullMode_, ScreenArea(a, b, c))) return;
    if (fillMode_ == D3DFILL_WIREFRAME) {
        rasteriser_.DrawLine(a, b, false);
        rasteriser_.DrawLine(b, c, false);
        rasteriser_.DrawLine(c, a, false);
    } else {
        const ScreenVertex* corners[3] = {&a, &b, &c};
        for (const ScreenVertex* v : corners) rasteriser_.DrawLine(*v, *v, true);
    }
}

void Pipeline::DrawLine(const CachedVertex* a, const CachedVertex* b, bool lastPixel) {
    if ((a->outcode & b->outcode) != 0) return;
    if ((a->outcode | b->outcode) == 0) {
        rasteriser_.DrawLine(a->screen, b->screen, lastPixel);
        return;
    }
    const ProcessedVertex* ca = nullptr;
    const ProcessedVertex* cb = nullptr;
    if (!clipper_.ClipLine(&a->processed, &b->processed, a->outcode | b->outcode, &ca, &cb)) return;
    ScreenVertex sa, sb;
    Project(*ca, &sa);
    Project(*cb, &sb);
    rasteriser_.DrawLine(sa, sb, lastPixel && cb == &b->processed);
}

void Pipeline::DrawPoint(const CachedVertex* v) {
    // A point is drawn when its centre lies inside the clip volume (guard band for x and y).
    if (v->outcode != 0) return;
    ScreenVertex quad[4];
    ExpandPoint(v->screen, v->processed.pointSize, pointSprites_, texCoordSetMask_, varyingCount_, quad);
    rasteriser_.DrawTriangle(quad[0], quad[1], quad[2], D3DCULL_NONE);
    rasteriser_.DrawTriangle(quad[2], quad[1], quad[3], D3DCULL_NONE);
}

}  // namespace qm::d3d9
