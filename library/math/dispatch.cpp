// dispatch.cpp: the active slot table, its first-call stubs, the public entries that jump through it,
// the choice of implementations by processor and registry, and the MMX flag.
#include <atomic>
#include <cstddef>
#include <iterator>

#include "library/math/math_slots.h"
#include "platform/win/registry.h"
#include "platform/win/sysinfo.h"

namespace qm {
namespace {

constexpr char kDirect3DKey[] = "Software\\Platform\\Direct3D";

// A set of implementations: one typed pointer per slot, null where the set does not replace the slot.
struct SlotTable {
#define QM_MATH_FIELD(slot, Operation) decltype(&::qm::Operation) Operation = nullptr;
    QM_MATH_SLOTS(QM_MATH_FIELD)
#undef QM_MATH_FIELD
};

// The active table: the same 71 pointers, each stored and loaded whole.
struct ActiveTable {
#define QM_MATH_FIELD(slot, Operation) std::atomic<decltype(&::qm::Operation)> Operation;
    QM_MATH_SLOTS(QM_MATH_FIELD)
#undef QM_MATH_FIELD
};

// Both tables hold their pointers in slot order.
#define QM_MATH_CHECK_ORDER(slot, Operation)                                                  \
    static_assert(offsetof(SlotTable, Operation) == (slot) * sizeof(MathSlotFunction));        \
    static_assert(offsetof(ActiveTable, Operation) == (slot) * sizeof(std::atomic<MathSlotFunction>));
QM_MATH_SLOTS(QM_MATH_CHECK_ORDER)
#undef QM_MATH_CHECK_ORDER
static_assert(sizeof(SlotTable) == kMathSlotCount * sizeof(MathSlotFunction));

struct Dispatch {
    static ActiveTable active;
    static std::atomic<DWORD> state;
};

// The first-call stub of a slot: make the choice, then complete the call through the same slot.
template <typename Function>
struct StubOf;
template <typename Result, typename... Arguments>
struct StubOf<Result (*)(Arguments...)> {
    template <std::atomic<Result (*)(Arguments...)> ActiveTable::*kSlot>
    static Result Call(Arguments... arguments) {
        SelectMathImplementation(1);
        return (Dispatch::active.*kSlot).load(std::memory_order_acquire)(arguments...);
    }
};

#define QM_MATH_STUB(slot, Operation) &StubOf<decltype(&::qm::Operation)>::template Call<&ActiveTable::Operation>

// Constant-initialised with the stubs, so an operation called during any static initialisation
// already finds them.
ActiveTable Dispatch::active = {
#define QM_MATH_STUB_ENTRY(slot, Operation) QM_MATH_STUB(slot, Operation),
    QM_MATH_SLOTS(QM_MATH_STUB_ENTRY)
#undef QM_MATH_STUB_ENTRY
};
std::atomic<DWORD> Dispatch::state{kMathNotChosen};

constexpr SlotTable MakeStubTable() {
    SlotTable table;
#define QM_MATH_ASSIGN(slot, Operation) table.Operation = QM_MATH_STUB(slot, Operation);
    QM_MATH_SLOTS(QM_MATH_ASSIGN)
#undef QM_MATH_ASSIGN
    return table;
}

constexpr SlotTable MakePortableTable() {
    SlotTable table;
#define QM_MATH_ASSIGN(slot, Operation) table.Operation = &::qm::portable::Operation;
    QM_MATH_SLOTS(QM_MATH_ASSIGN)
#undef QM_MATH_ASSIGN
    return table;
}

constexpr SlotTable MakeAlternativeSet() {
    SlotTable table;
#define QM_MATH_ASSIGN(slot, Operation) table.Operation = &::qm::alternative::Operation;
    QM_MATH_ALTERNATIVE_SLOTS(QM_MATH_ASSIGN)
#undef QM_MATH_ASSIGN
    return table;
}

#if QM_MATH_VECTOR_SETS
constexpr SlotTable MakeSse2Set() {
    SlotTable table;
#define QM_MATH_ASSIGN(slot, Operation) table.Operation = &::qm::sse2::Operation;
    QM_MATH_SSE2_SLOTS(QM_MATH_ASSIGN)
#undef QM_MATH_ASSIGN
    return table;
}

constexpr SlotTable MakeSseSet() {
    SlotTable table;
#define QM_MATH_ASSIGN(slot, Operation) table.Operation = &::qm::sse::Operation;
    QM_MATH_SSE_SLOTS(QM_MATH_ASSIGN)
#undef QM_MATH_ASSIGN
    return table;
}
#endif

constexpr SlotTable kStubTable = MakeStubTable();
constexpr SlotTable kPortableTable = MakePortableTable();
constexpr SlotTable kAlternativeSet = MakeAlternativeSet();
#if QM_MATH_VECTOR_SETS
constexpr SlotTable kSse2Set = MakeSse2Set();
constexpr SlotTable kSseSet = MakeSseSet();
#endif

// The set a test asks for, or null when this build has none.
const SlotTable* SetTable(MathImplementationSet set) {
    static const SlotTable* const kSets[] = {
        &kStubTable,
        &kPortableTable,
        &kAlternativeSet,
#if QM_MATH_VECTOR_SETS
        &kSse2Set,
        &kSseSet,
#else
        nullptr,
        nullptr,
#endif
    };
    auto index = static_cast<std::size_t>(set);
    return index < std::size(kSets) ? kSets[index] : nullptr;
}

// The 3DNow! set. None is built: x86-64 processors have no 3DNow!, so a processor reporting it still
// goes on to the SSE2 and SSE tests.
const SlotTable* ThreeDNowSet() { return nullptr; }

const SlotTable* Sse2Set() { return SetTable(MathImplementationSet::Sse2); }
const SlotTable* SseSet() { return SetTable(MathImplementationSet::Sse); }

// Stores every non-null pointer of the set into the active table.
void Install(const SlotTable& set) {
#define QM_MATH_STORE(slot, Operation) \
    if (set.Operation != nullptr) Dispatch::active.Operation.store(set.Operation, std::memory_order_release);
    QM_MATH_SLOTS(QM_MATH_STORE)
#undef QM_MATH_STORE
}

// Readers of one slot by number, for the tests' view of the tables.
using ActiveReader = MathSlotFunction (*)();
constexpr ActiveReader kActiveReaders[kMathSlotCount] = {
#define QM_MATH_READER(slot, Operation) \
    [] { return reinterpret_cast<MathSlotFunction>(Dispatch::active.Operation.load(std::memory_order_acquire)); },
    QM_MATH_SLOTS(QM_MATH_READER)
#undef QM_MATH_READER
};
using SetReader = MathSlotFunction (*)(const SlotTable&);
constexpr SetReader kSetReaders[kMathSlotCount] = {
#define QM_MATH_READER(slot, Operation) \
    [](const SlotTable& set) { return reinterpret_cast<MathSlotFunction>(set.Operation); },
    QM_MATH_SLOTS(QM_MATH_READER)
#undef QM_MATH_READER
};

// The registry mode: "DisablePSGP", replaced by "DisableLibraryPSGP" when that is present.
DWORD ReadMode() {
    DWORD mode = 0;
    DWORD value = 0;
    if (ReadRegistryDword(kDirect3DKey, "DisablePSGP", &value)) mode = value;
    if (ReadRegistryDword(kDirect3DKey, "DisableLibraryPSGP", &value)) mode = value;
    return mode;
}

bool ProcessorHasSse2() {
    DWORD registers[4];
    CpuId(0, registers);
    if (registers[0] == 0) return false;  // no leaf 1: no extensions reported
    CpuId(1, registers);
    return (registers[3] >> 26 & 1u) != 0;
}

std::atomic<std::int32_t> mmxFlag{-1};

}  // namespace

DWORD SelectMathImplementation(int argument) {
    std::atomic<DWORD>& state = Dispatch::state;
    if (argument == 0) {
        Install(kPortableTable);
        state.store(kMathNotChosen);
        return kMathNotChosen;
    }
    if (argument != 1 || state.load() != kMathNotChosen) return state.load();

    state.store(kMathPortable);
    Install(kPortableTable);
    Install(kAlternativeSet);

    DWORD mode = ReadMode();
    if (mode == 1) return state.load();

    if (mode != 2 && IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE)) {
        if (const SlotTable* set = ThreeDNowSet()) {
            Install(*set);
            state.store(kMath3DNow);
            return state.load();
        }
    }
    if (const SlotTable* set = Sse2Set(); set != nullptr && ProcessorHasSse2()) {
        Install(*set);
        state.store(kMathSse2);
    } else if (const SlotTable* sseSet = SseSet();
               sseSet != nullptr && IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE)) {
        Install(*sseSet);
        state.store(kMathSse);
    }
    return state.load();
}

DWORD MathDispatchState() { return Dispatch::state.load(); }

MathSlotFunction MathActiveSlot(int slot) {
    if (slot < 0 || slot >= kMathSlotCount) return nullptr;
    return kActiveReaders[slot]();
}

MathSlotFunction MathImplementation(MathImplementationSet set, int slot) {
    const SlotTable* table = SetTable(set);
    if (table == nullptr || slot < 0 || slot >= kMathSlotCount) return nullptr;
    return kSetReaders[slot](*table);
}

std::int32_t MathMmxFlag() { return mmxFlag.load(); }

std::int32_t MathHasMmx() {
    DWORD disable = 0;
    if (ReadRegistryDword(kDirect3DKey, "DisableMMX", &disable) && disable != 0) {
        mmxFlag.store(0);
        return 0;
    }
    if (mmxFlag.load() < 0) {
        std::int32_t flag = 0;
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL && info.wProcessorLevel >= 5) {
            DWORD registers[4];
            CpuId(1, registers);
            if (registers[3] >> 23 & 1u) flag = 1;
        }
        mmxFlag.store(flag);
    }
    return mmxFlag.load();
}

// The public entries: each jumps through its slot.
#define QM_MATH_ENTRY(slot, Operation, Result, Parameters, Arguments) \
    Result Operation Parameters { return Dispatch::active.Operation.load(std::memory_order_acquire) Arguments; }

QM_MATH_ENTRY(0, Vec2Transform, Vector4*, (Vector4* out, const Vector2* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(1, Vec3Transform, Vector4*, (Vector4* out, const Vector3* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(2, Vec4Transform, Vector4*, (Vector4* out, const Vector4* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(3, MatrixMultiply, Matrix*, (Matrix* out, const Matrix* a, const Matrix* b), (out, a, b))
QM_MATH_ENTRY(4, MatrixMultiplyTranspose, Matrix*, (Matrix* out, const Matrix* a, const Matrix* b), (out, a, b))
QM_MATH_ENTRY(5, Vec2TransformNormal, Vector2*, (Vector2* out, const Vector2* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(6, Vec3TransformNormal, Vector3*, (Vector3* out, const Vector3* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(7, Vec3Normalize, Vector3*, (Vector3* out, const Vector3* v), (out, v))
QM_MATH_ENTRY(8, Vec4Normalize, Vector4*, (Vector4* out, const Vector4* v), (out, v))
QM_MATH_ENTRY(9, Vec2TransformCoord, Vector2*, (Vector2* out, const Vector2* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(10, Vec3TransformCoord, Vector3*, (Vector3* out, const Vector3* v, const Matrix* m), (out, v, m))
QM_MATH_ENTRY(11, MatrixDeterminant, float, (const Matrix* m), (m))
QM_MATH_ENTRY(12, PlaneFromPointNormal, Plane*, (Plane* out, const Vector3* point, const Vector3* normal),
              (out, point, normal))
QM_MATH_ENTRY(13, PlaneFromPoints, Plane*, (Plane* out, const Vector3* p1, const Vector3* p2, const Vector3* p3),
              (out, p1, p2, p3))
QM_MATH_ENTRY(14, Vec3Project, Vector3*,
              (Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
               const Matrix* view, const Matrix* world),
              (out, v, viewport, projection, view, world))
QM_MATH_ENTRY(15, Vec3Unproject, Vector3*,
              (Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
               const Matrix* view, const Matrix* world),
              (out, v, viewport, projection, view, world))
QM_MATH_ENTRY(16, Vec4Cross, Vector4*, (Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3),
              (out, v1, v2, v3))
QM_MATH_ENTRY(17, Vec2Hermite, Vector2*,
              (Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2, const Vector2* t2, float s),
              (out, p1, t1, p2, t2, s))
QM_MATH_ENTRY(18, MatrixInverse, Matrix*, (Matrix* out, float* determinant, const Matrix* m), (out, determinant, m))
QM_MATH_ENTRY(19, QuaternionMultiply, Quaternion*, (Quaternion* out, const Quaternion* q1, const Quaternion* q2),
              (out, q1, q2))
QM_MATH_ENTRY(20, QuaternionNormalize, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))
QM_MATH_ENTRY(21, PlaneNormalize, Plane*, (Plane* out, const Plane* p), (out, p))
QM_MATH_ENTRY(22, PlaneIntersectLine, Vector3*,
              (Vector3* out, const Plane* plane, const Vector3* p1, const Vector3* p2), (out, plane, p1, p2))
QM_MATH_ENTRY(23, QuaternionToAxisAngle, void, (const Quaternion* q, Vector3* axis, float* angle), (q, axis, angle))
QM_MATH_ENTRY(24, QuaternionRotationMatrix, Quaternion*, (Quaternion* out, const Matrix* m), (out, m))
QM_MATH_ENTRY(25, QuaternionRotationYawPitchRoll, Quaternion*, (Quaternion* out, float yaw, float pitch, float roll),
              (out, yaw, pitch, roll))
QM_MATH_ENTRY(26, MatrixTranslation, Matrix*, (Matrix* out, float x, float y, float z), (out, x, y, z))
QM_MATH_ENTRY(27, MatrixShadow, Matrix*, (Matrix* out, const Vector4* light, const Plane* plane), (out, light, plane))
QM_MATH_ENTRY(28, MatrixReflect, Matrix*, (Matrix* out, const Plane* plane), (out, plane))
QM_MATH_ENTRY(29, QuaternionRotationAxis, Quaternion*, (Quaternion* out, const Vector3* axis, float angle),
              (out, axis, angle))
QM_MATH_ENTRY(30, MatrixRotationX, Matrix*, (Matrix* out, float angle), (out, angle))
QM_MATH_ENTRY(31, MatrixRotationY, Matrix*, (Matrix* out, float angle), (out, angle))
QM_MATH_ENTRY(32, MatrixRotationZ, Matrix*, (Matrix* out, float angle), (out, angle))
QM_MATH_ENTRY(33, MatrixScaling, Matrix*, (Matrix* out, float x, float y, float z), (out, x, y, z))
QM_MATH_ENTRY(34, PlaneTransform, Plane*, (Plane* out, const Plane* p, const Matrix* m), (out, p, m))
QM_MATH_ENTRY(35, QuaternionSlerp, Quaternion*, (Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t),
              (out, q1, q2, t))
QM_MATH_ENTRY(36, QuaternionBaryCentric, Quaternion*,
              (Quaternion* out, const Quaternion* q1, const Quaternion* q2, const Quaternion* q3, float f, float g),
              (out, q1, q2, q3, f, g))
QM_MATH_ENTRY(37, MatrixTranspose, Matrix*, (Matrix* out, const Matrix* m), (out, m))
QM_MATH_ENTRY(38, MatrixRotationQuaternion, Matrix*, (Matrix* out, const Quaternion* q), (out, q))
QM_MATH_ENTRY(39, MatrixTransformation, Matrix*,
              (Matrix* out, const Vector3* scalingCenter, const Quaternion* scalingRotation, const Vector3* scaling,
               const Vector3* rotationCenter, const Quaternion* rotation, const Vector3* translation),
              (out, scalingCenter, scalingRotation, scaling, rotationCenter, rotation, translation))
QM_MATH_ENTRY(40, MatrixRotationYawPitchRoll, Matrix*, (Matrix* out, float yaw, float pitch, float roll),
              (out, yaw, pitch, roll))
QM_MATH_ENTRY(41, MatrixAffineTransformation, Matrix*,
              (Matrix* out, float scaling, const Vector3* rotationCenter, const Quaternion* rotation,
               const Vector3* translation),
              (out, scaling, rotationCenter, rotation, translation))
QM_MATH_ENTRY(42, MatrixRotationAxis, Matrix*, (Matrix* out, const Vector3* axis, float angle), (out, axis, angle))
QM_MATH_ENTRY(43, QuaternionSquad, Quaternion*,
              (Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b, const Quaternion* c,
               float t),
              (out, q1, a, b, c, t))
QM_MATH_ENTRY(44, QuaternionInverse, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))
QM_MATH_ENTRY(45, QuaternionSquadSetup, void,
              (Quaternion* aOut, Quaternion* bOut, Quaternion* cOut, const Quaternion* q0, const Quaternion* q1,
               const Quaternion* q2, const Quaternion* q3),
              (aOut, bOut, cOut, q0, q1, q2, q3))
QM_MATH_ENTRY(46, Vec2Normalize, Vector2*, (Vector2* out, const Vector2* v), (out, v))
QM_MATH_ENTRY(47, Vec2CatmullRom, Vector2*,
              (Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2, const Vector2* p3, float s),
              (out, p0, p1, p2, p3, s))
QM_MATH_ENTRY(48, Vec2BaryCentric, Vector2*,
              (Vector2* out, const Vector2* p1, const Vector2* p2, const Vector2* p3, float f, float g),
              (out, p1, p2, p3, f, g))
QM_MATH_ENTRY(49, Vec3Hermite, Vector3*,
              (Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2, const Vector3* t2, float s),
              (out, p1, t1, p2, t2, s))
QM_MATH_ENTRY(50, Vec3CatmullRom, Vector3*,
              (Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2, const Vector3* p3, float s),
              (out, p0, p1, p2, p3, s))
QM_MATH_ENTRY(51, Vec3BaryCentric, Vector3*,
              (Vector3* out, const Vector3* p1, const Vector3* p2, const Vector3* p3, float f, float g),
              (out, p1, p2, p3, f, g))
QM_MATH_ENTRY(52, Vec4Hermite, Vector4*,
              (Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2, const Vector4* t2, float s),
              (out, p1, t1, p2, t2, s))
QM_MATH_ENTRY(53, Vec4CatmullRom, Vector4*,
              (Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2, const Vector4* p3, float s),
              (out, p0, p1, p2, p3, s))
QM_MATH_ENTRY(54, Vec4BaryCentric, Vector4*,
              (Vector4* out, const Vector4* p1, const Vector4* p2, const Vector4* p3, float f, float g),
              (out, p1, p2, p3, f, g))
QM_MATH_ENTRY(55, QuaternionLn, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))
QM_MATH_ENTRY(56, QuaternionExp, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))
QM_MATH_ENTRY(57, Float32To16Array, WORD*, (WORD* out, const float* in, UINT count), (out, in, count))
QM_MATH_ENTRY(58, Float16To32Array, float*, (float* out, const WORD* in, UINT count), (out, in, count))
QM_MATH_ENTRY(59, Vec2TransformArray, Vector4*,
              (Vector4* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(60, Vec2TransformCoordArray, Vector2*,
              (Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(61, Vec2TransformNormalArray, Vector2*,
              (Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(62, Vec3TransformCoordArray, Vector3*,
              (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(63, Vec3TransformNormalArray, Vector3*,
              (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(64, Vec4TransformArray, Vector4*,
              (Vector4* out, UINT outStride, const Vector4* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(65, PlaneTransformArray, Plane*,
              (Plane* out, UINT outStride, const Plane* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(66, Vec3ProjectArray, Vector3*,
              (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const D3DVIEWPORT9* viewport,
               const Matrix* projection, const Matrix* view, const Matrix* world, UINT count),
              (out, outStride, in, inStride, viewport, projection, view, world, count))
QM_MATH_ENTRY(67, Vec3UnprojectArray, Vector3*,
              (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const D3DVIEWPORT9* viewport,
               const Matrix* projection, const Matrix* view, const Matrix* world, UINT count),
              (out, outStride, in, inStride, viewport, projection, view, world, count))
QM_MATH_ENTRY(68, Vec3TransformArray, Vector4*,
              (Vector4* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m, UINT count),
              (out, outStride, in, inStride, m, count))
QM_MATH_ENTRY(69, SkinVertices, void*,
              (void* destination, UINT destinationStride, const void* source, UINT sourceStride, UINT firstVertex,
               UINT vertexCount, const float* influences, const Matrix* boneMatrices, const Matrix* normalMatrices,
               UINT boneCount, const UINT* directionOffsets, UINT directionCount),
              (destination, destinationStride, source, sourceStride, firstVertex, vertexCount, influences,
               boneMatrices, normalMatrices, boneCount, directionOffsets, directionCount))
QM_MATH_ENTRY(70, Vec3LerpArray, Vector3*,
              (Vector3* out, UINT outStride, const Vector3* a, UINT aStride, const Vector3* b, UINT bStride, float s,
               UINT count),
              (out, outStride, a, aStride, b, bStride, s, count))

#undef QM_MATH_ENTRY

}  // namespace qm
