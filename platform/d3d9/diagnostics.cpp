// diagnostics.cpp: the installed CallRecorder, its failure injection, and the formatting of call
// arguments into recorded lines.
#include "platform/d3d9/diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/d3d9/recording.h"

namespace {

std::atomic<CallRecorder*> installedRecorder{nullptr};
// Guards installing and removing recorders (the chain of previous_ links); lines only read the head.
std::mutex chainMutex;

}  // namespace

CallRecorder::CallRecorder() {
    std::lock_guard<std::mutex> lock(chainMutex);
    previous_ = installedRecorder.load();
    installedRecorder.store(this, std::memory_order_release);
}

CallRecorder::~CallRecorder() {
    std::lock_guard<std::mutex> lock(chainMutex);
    CallRecorder* head = installedRecorder.load();
    if (head == this) {
        installedRecorder.store(previous_, std::memory_order_release);
        return;
    }
    for (CallRecorder* r = head; r != nullptr; r = r->previous_) {
        if (r->previous_ == this) {
            r->previous_ = previous_;
            return;
        }
    }
}

std::vector<std::string> CallRecorder::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<std::string> CallRecorder::TakeLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(lines_, {});
}

void CallRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

void CallRecorder::FailDirect3DCreate9(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failCreate_ = fail;
}

void CallRecorder::FailGetAdapterDisplayMode(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failDisplayMode_ = fail;
}

void CallRecorder::RefuseCreateDevice(D3DDEVTYPE type, DWORD behaviorFlags) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusedDevices_.emplace_back(type, behaviorFlags);
}

void CallRecorder::ReportVertexShaderVersion(DWORD version) {
    std::lock_guard<std::mutex> lock(mutex_);
    reportVertexShaderVersion_ = true;
    vertexShaderVersion_ = version;
}

bool CallRecorder::ReportedVertexShaderVersion(DWORD* version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reportVertexShaderVersion_) *version = vertexShaderVersion_;
    return reportVertexShaderVersion_;
}

void CallRecorder::ReplaceDeviceCaps(const D3DCAPS9& caps) {
    std::lock_guard<std::mutex> lock(mutex_);
    replaceCaps_ = true;
    caps_ = caps;
}

bool CallRecorder::ReplacedDeviceCaps(D3DCAPS9* caps) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replaceCaps_) *caps = caps_;
    return replaceCaps_;
}

void CallRecorder::Append(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
}

bool CallRecorder::Direct3DCreate9Fails() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failCreate_;
}

bool CallRecorder::GetAdapterDisplayModeFails() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failDisplayMode_;
}

bool CallRecorder::CreateDeviceRefused(D3DDEVTYPE type, DWORD behaviorFlags) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(refusedDevices_.begin(), refusedDevices_.end(), std::make_pair(type, behaviorFlags)) !=
           refusedDevices_.end();
}

CallRecorder* InstalledCallRecorder() { return installedRecorder.load(std::memory_order_acquire); }

namespace qm::d3d9 {
namespace {

// Writes {a, b, ...} from a list of already formatting callables.
template <class... Parts>
void AppendBraced(std::string* out, const Parts&... parts) {
    *out += '{';
    bool first = true;
    ((*out += first ? "" : ", ", first = false, parts()), ...);
    *out += '}';
}

void AppendColour(std::string* out, const D3DCOLORVALUE& c) {
    AppendBraced(out, [&] { AppendArg(out, c.r); }, [&] { AppendArg(out, c.g); }, [&] { AppendArg(out, c.b); },
                 [&] { AppendArg(out, c.a); });
}

void AppendVector(std::string* out, const D3DVECTOR& v) {
    AppendBraced(out, [&] { AppendArg(out, v.x); }, [&] { AppendArg(out, v.y); }, [&] { AppendArg(out, v.z); });
}

}  // namespace

void AppendArg(std::string* out, std::int32_t value) { *out += std::to_string(value); }

void AppendArg(std::string* out, std::uint32_t value) { *out += std::to_string(value); }

void AppendArg(std::string* out, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    *out += text;
}

void AppendArg(std::string* out, const GUID& g) {
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    *out += text;
}

void AppendPointer(std::string* out, const void* value) { *out += value == nullptr ? "null" : "ptr"; }

void AppendArg(std::string* out, InRecord<D3DMATRIX> value) {
    if (value.record == nullptr) return AppendPointer(out, nullptr);
    *out += '{';
    for (int i = 0; i < 16; ++i) {
        if (i != 0) *out += ", ";
        AppendArg(out, value.record->m[i / 4][i % 4]);
    }
    *out += '}';
}

void AppendArg(std::string* out, InRecord<D3DLIGHT9> value) {
    const D3DLIGHT9* l = value.record;
    if (l == nullptr) return AppendPointer(out, nullptr);
    AppendBraced(
        out, [&] { AppendArg(out, l->Type); }, [&] { AppendColour(out, l->Diffuse); },
        [&] { AppendColour(out, l->Specular); }, [&] { AppendColour(out, l->Ambient); },
        [&] { AppendVector(out, l->Position); }, [&] { AppendVector(out, l->Direction); },
        [&] { AppendArg(out, l->Range); }, [&] { AppendArg(out, l->Falloff); },
        [&] { AppendArg(out, l->Attenuation0); }, [&] { AppendArg(out, l->Attenuation1); },
        [&] { AppendArg(out, l->Attenuation2); }, [&] { AppendArg(out, l->Theta); }, [&] { AppendArg(out, l->Phi); });
}

void AppendArg(std::string* out, InRecord<D3DMATERIAL9> value) {
    const D3DMATERIAL9* m = value.record;
    if (m == nullptr) return AppendPointer(out, nullptr);
    AppendBraced(
        out, [&] { AppendColour(out, m->Diffuse); }, [&] { AppendColour(out, m->Ambient); },
        [&] { AppendColour(out, m->Specular); }, [&] { AppendColour(out, m->Emissive); },
        [&] { AppendArg(out, m->Power); });
}

void AppendArg(std::string* out, InRecord<D3DVIEWPORT9> value) {
    const D3DVIEWPORT9* v = value.record;
    if (v == nullptr) return AppendPointer(out, nullptr);
    AppendBraced(
        out, [&] { AppendArg(out, v->X); }, [&] { AppendArg(out, v->Y); }, [&] { AppendArg(out, v->Width); },
        [&] { AppendArg(out, v->Height); }, [&] { AppendArg(out, v->MinZ); }, [&] { AppendArg(out, v->MaxZ); });
}

void AppendArg(std::string* out, InRecord<D3DPRESENT_PARAMETERS> value) {
    const D3DPRESENT_PARAMETERS* p = value.record;
    if (p == nullptr) return AppendPointer(out, nullptr);
    AppendBraced(
        out, [&] { AppendArg(out, p->BackBufferWidth); }, [&] { AppendArg(out, p->BackBufferHeight); },
        [&] { AppendArg(out, p->BackBufferFormat); }, [&] { AppendArg(out, p->BackBufferCount); },
        [&] { AppendArg(out, p->MultiSampleType); }, [&] { AppendArg(out, p->MultiSampleQuality); },
        [&] { AppendArg(out, p->SwapEffect); }, [&] { AppendPointer(out, p->hDeviceWindow); },
        [&] { AppendArg(out, p->Windowed); }, [&] { AppendArg(out, p->EnableAutoDepthStencil); },
        [&] { AppendArg(out, p->AutoDepthStencilFormat); }, [&] { AppendArg(out, p->Flags); },
        [&] { AppendArg(out, p->FullScreen_RefreshRateInHz); }, [&] { AppendArg(out, p->PresentationInterval); });
}

}  // namespace qm::d3d9
