// rasteriser.cpp: edge functions in 24.8 fixed point evaluated exactly in 64-bit integers; for each
// row the covered span is found directly from the three edges, then handed on.
#include "platform/d3d9/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qm::d3d9 {
namespace {

constexpr std::int64_t kSubPixels = 256;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
    std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

bool Usable(float v) { return std::fabs(v) <= Rasteriser::kMaxCoordinate; }  // false for NaN too

}  // namespace

void Rasteriser::Prepare(int left, int top, int right, int bottom, int varyingCount, SpanFn span, void* context) {
    left_ = left;
    top_ = top;
    right_ = right;
    bottom_ = bottom;
    varyingCount_ = varyingCount;
    span_ = span;
    context_ = context;
}

void Rasteriser::DrawTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, DWORD cullMode) {
    if (!Usable(a.x) || !Usable(a.y) || !Usable(b.x) || !Usable(b.y) || !Usable(c.x) || !Usable(c.y)) return;
    const ScreenVertex* v[3] = {&a, &b, &c};
    std::int64_t x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = std::llrint(static_cast<double>(v[i]->x) * kSubPixels);
        y[i] = std::llrint(static_cast<double>(v[i]->y) * kSubPixels);
    }
    std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (area == 0) return;
    // On the screen (y down) a positive area is a clockwise triangle.
    bool clockwise = area > 0;
    if ((cullMode == D3DCULL_CW && clockwise) || (cullMode == D3DCULL_CCW && !clockwise)) return;
    if (!clockwise) {
        std::swap(v[1], v[2]);
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
        area = -area;
    }

    // Edge i runs from vertex i to vertex i+1; inside is where A*x + B*y + C > 0, or = 0 on a top or
    // left edge.
    std::int64_t edgeA[3], edgeB[3], bias[3];
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        std::int64_t dx = x[j] - x[i];
        std::int64_t dy = y[j] - y[i];
        edgeA[i] = -dy;
        edgeB[i] = dx;
        bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        bias[i] = topLeft ? 0 : -1;
    }

    std::int64_t minY = std::min({y[0], y[1], y[2]});
    std::int64_t maxY = std::max({y[0], y[1], y[2]});
    std::int64_t firstRow = std::max<std::int64_t>(CeilDiv(minY, kSubPixels), top_);
    std::int64_t lastRow = std::min<std::int64_t>(FloorDiv(maxY, kSubPixels), bottom_ - 1);
    if (firstRow > lastRow) return;

    // Attribute planes from the snapped positions, relative to vertex 0.
    double x0 = static_cast<double>(x[0]) / kSubPixels, y0 = static_cast<double>(y[0]) / kSubPixels;
    double dx1 = static_cast<double>(x[1]) / kSubPixels - x0, dy1 = static_cast<double>(y[1]) / kSubPixels - y0;
    double dx2 = static_cast<double>(x[2]) / kSubPixels - x0, dy2 = static_cast<double>(y[2]) / kSubPixels - y0;
    double inverseDet = 1.0 / (dx1 * dy2 - dx2 * dy1);
    auto makePlane = [&](float a0, float a1, float a2) {
        double d1 = static_cast<double>(a1) - a0, d2 = static_cast<double>(a2) - a0;
        return Plane{a0, static_cast<float>((d1 * dy2 - d2 * dy1) * inverseDet),
                     static_cast<float>((d2 * dx1 - d1 * dx2) * inverseDet)};
    };
    setup_.ox = static_cast<float>(x0);
    setup_.oy = static_cast<float>(y0);
    setup_.z = makePlane(v[0]->z, v[1]->z, v[2]->z);
    setup_.invW = makePlane(v[0]->invW, v[1]->invW, v[2]->invW);
    for (int i = 0; i < varyingCount_; ++i) {
        setup_.varyings[static_cast<std::size_t>(i)] =
            makePlane(v[0]->varyings[i], v[1]->varyings[i], v[2]->varyings[i]);
    }
    setup_.frontFace = clockwise;  // front faces are clockwise, as the default culling assumes
    setup_.serial = ++serial_;

    // Per edge and row, the first (A > 0) or last (A < 0) pixel inside is a quotient N / D of an
    // exact numerator that changes by a fixed amount per row; quotient and remainder are stepped
    // row by row, so the loop divides only while setting up.
    struct EdgeWalk {
        int kind;  // +1 lower bound (ceiling), -1 upper bound (floor), 0 horizontal
        std::int64_t q, r, d, dq, dr;
        bool outside;  // a horizontal edge that excludes every row
    };
    EdgeWalk walks[3];
    for (int i = 0; i < 3; ++i) {
        EdgeWalk& w = walks[i];
        // E(px) = A px + k(row), k(row) = -A x_i + B (row 256 - y_i) + bias.
        std::int64_t k = -edgeA[i] * x[i] + edgeB[i] * (firstRow * kSubPixels - y[i]) + bias[i];
        std::int64_t dk = edgeB[i] * kSubPixels;
        w.outside = false;
        if (edgeA[i] == 0) {
            w.kind = 0;
            // B has the sign that keeps the interior; k changes with the row only through B.
            w.q = k;
            w.dq = dk;
            w.r = w.d = w.dr = 0;
            continue;
        }
        std::int64_t n, dn;
        if (edgeA[i] > 0) {
            w.kind = 1;  // px >= ceil(-k / D)
            w.d = edgeA[i] * kSubPixels;
            n = -k;
            dn = -dk;
        } else {
            w.kind = -1;  // px <= floor(k / D)
            w.d = -edgeA[i] * kSubPixels;
            n = k;
            dn = dk;
        }
        w.q = FloorDiv(n, w.d);
        w.r = n - w.q * w.d;
        w.dq = FloorDiv(dn, w.d);
        w.dr = dn - w.dq * w.d;
    }

    for (std::int64_t row = firstRow; row <= lastRow; ++row) {
        std::int64_t lo = left_, hi = right_ - 1;
        bool empty = false;
        for (EdgeWalk& w : walks) {
            if (w.kind > 0) {
                lo = std::max(lo, w.q + (w.r != 0 ? 1 : 0));
            } else if (w.kind < 0) {
                hi = std::min(hi, w.q);
            } else if (w.q < 0) {
                empty = true;
            }
            // On to the next row.
            if (w.kind == 0) {
                w.q += w.dq;
            } else {
                w.q += w.dq;
                w.r += w.dr;
                if (w.r >= w.d) {
                    w.r -= w.d;
                    w.q += 1;
                }
            }
        }
        if (!empty && lo <= hi) span_(context_, setup_, static_cast<int>(row), static_cast<int>(lo), static_cast<int>(hi + 1));
    }
}

void Rasteriser::DrawLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel) {
    if (!Usable(a.x) || !Usable(a.y) || !Usable(b.x) || !Usable(b.y)) return;
    double dx = static_cast<double>(b.x) - a.x;
    double dy = static_cast<double>(b.y) - a.y;
    if (dx == 0.0 && dy == 0.0) {
        // A line of no length draws at most the pixel holding its end.
        auto px = static_cast<std::int64_t>(std::floor(a.x + 0.5)), py = static_cast<std::int64_t>(std::floor(a.y + 0.5));
        if (!lastPixel || px < left_ || px >= right_ || py < top_ || py >= bottom_) return;
        setup_.ox = a.x;
        setup_.oy = a.y;
        setup_.z = Plane{a.z, 0.0f, 0.0f};
        setup_.invW = Plane{a.invW, 0.0f, 0.0f};
        for (int i = 0; i < varyingCount_; ++i) setup_.varyings[static_cast<std::size_t>(i)] = Plane{a.varyings[i], 0.0f, 0.0f};
        setup_.frontFace = true;
        setup_.serial = ++serial_;
        span_(context_, setup_, static_cast<int>(py), static_cast<int>(px), static_cast<int>(px) + 1);
        return;
    }
    bool xMajor = std::fabs(dx) >= std::fabs(dy);
    double length = xMajor ? dx : dy;
    // Along the major axis a pixel is drawn when the line leaves its diamond: centres strictly
    // between start - 0.5 and end - 0.5 in the direction of travel, plus the end pixel on request.
    double start = xMajor ? a.x : a.y;
    double end = xMajor ? b.x : b.y;
    double minorStart = xMajor ? a.y : a.x;
    double slope = (xMajor ? dy : dx) / length;
    std::int64_t lowLimit = xMajor ? left_ : top_;
    std::int64_t highLimit = xMajor ? right_ - 1 : bottom_ - 1;
    std::int64_t first, last;  // inclusive, in the order of travel
    int step;
    if (length > 0) {
        step = 1;
        first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(start - 0.5)) + 1, lowLimit);
        last = lastPixel ? static_cast<std::int64_t>(std::floor(end + 0.5)) : static_cast<std::int64_t>(std::ceil(end - 0.5)) - 1;
        last = std::min(last, highLimit);
        if (first > last) return;
    } else {
        step = -1;
        first = std::min<std::int64_t>(static_cast<std::int64_t>(std::ceil(start + 0.5)) - 1, highLimit);
        last = lastPixel ? static_cast<std::int64_t>(std::ceil(end - 0.5)) : static_cast<std::int64_t>(std::floor(end + 0.5)) + 1;
        last = std::max(last, lowLimit);
        if (first < last) return;
    }
    double inverseLength = 1.0 / length;
    auto makePlane = [&](float a0, float a1) {
        float d = static_cast<float>((static_cast<double>(a1) - a0) * inverseLength);
        return xMajor ? Plane{a0, d, 0.0f} : Plane{a0, 0.0f, d};
    };
    setup_.ox = a.x;
    setup_.oy = a.y;
    setup_.z = makePlane(a.z, b.z);
    setup_.invW = makePlane(a.invW, b.invW);
    for (int i = 0; i < varyingCount_; ++i) {
        setup_.varyings[static_cast<std::size_t>(i)] = makePlane(a.varyings[i], b.varyings[i]);
    }
    setup_.frontFace = true;
    setup_.serial = ++serial_;
    for (std::int64_t major = first;; major += step) {
        double minor = minorStart + (static_cast<double>(major) - start) * slope;
        auto minorPixel = static_cast<std::int64_t>(std::floor(minor + 0.5));
        std::int64_t px = xMajor ? major : minorPixel;
        std::int64_t py = xMajor ? minorPixel : major;
        if (px >= left_ && px < right_ && py >= top_ && py < bottom_) {
            span_(context_, setup_, static_cast<int>(py), static_cast<int>(px), static_cast<int>(px) + 1);
        }
        if (major == last) break;
    }
}

}  // namespace qm::d3d9
