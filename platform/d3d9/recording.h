// recording.h: how the Direct3D objects report their calls to the installed CallRecorder: one
// formatted line per call, built only while a recorder is installed.
#pragma once

#include <string>
#include <type_traits>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/diagnostics.h"

namespace qm::d3d9 {

// Marks a pointer argument whose record is written out in full rather than as `ptr`.
template <class T>
struct InRecord {
    const T* record;
};
template <class T>
InRecord<T> In(const T* record) {
    return InRecord<T>{record};
}

void AppendArg(std::string* out, std::int32_t value);
void AppendArg(std::string* out, std::uint32_t value);
void AppendArg(std::string* out, float value);
void AppendArg(std::string* out, const GUID& value);
void AppendPointer(std::string* out, const void* value);
void AppendArg(std::string* out, InRecord<D3DMATRIX> value);
void AppendArg(std::string* out, InRecord<D3DLIGHT9> value);
void AppendArg(std::string* out, InRecord<D3DMATERIAL9> value);
void AppendArg(std::string* out, InRecord<D3DVIEWPORT9> value);
void AppendArg(std::string* out, InRecord<D3DPRESENT_PARAMETERS> value);

template <class E>
    requires std::is_enum_v<E>
void AppendArg(std::string* out, E value) {
    AppendArg(out, static_cast<std::uint32_t>(value));
}
template <class T>
void AppendArg(std::string* out, T* value) {
    AppendPointer(out, value);
}

// Sends `name(args...)` to the installed recorder, if any.
template <class... Args>
void RecordCall(const char* name, const Args&... args) {
    CallRecorder* recorder = InstalledCallRecorder();
    if (recorder == nullptr) return;
    std::string line = name;
    line += '(';
    bool first = true;
    ((line += first ? "" : ", ", first = false, AppendArg(&line, args)), ...);
    line += ')';
    recorder->Append(std::move(line));
}

}  // namespace qm::d3d9
