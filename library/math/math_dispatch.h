// math_dispatch.h: the choice of math implementations by processor, the MMX flag, and read access to
// the slot tables for tests.
//
// The active table holds 71 function pointers, one per operation of math.h in slot order. At load it
// holds first-call stubs: the first operation called runs SelectMathImplementation(1) and then jumps
// through its slot again. The choice:
//   1. State 0: the portable table, then the alternative portable forms of slots 0-7 and 34.
//   2. The registry DWORD "DisablePSGP" under HKEY_LOCAL_MACHINE\Software\Platform\Direct3D gives
//      the mode (0 when absent); "DisableLibraryPSGP", when present, replaces it.
//   3. Mode 1: portable only (state 0).
//   4. Mode other than 2 and a processor with 3DNow!: the 3DNow! set (state 1). This build carries no
//      3DNow! set (no x86-64 processor has 3DNow!), so this step is passed over and the choice goes on.
//   5. CPUID leaf 1 EDX bit 26 (SSE2): the SSE2 set, slots 0-11, 13, 24, 25, 27, 28, 34, 68, 69
//      (state 2).
//   6. Else IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE): the SSE set, the SSE2 slots
//      plus slot 44 (state 3).
// Built with QM_FORCE_SCALAR=1 (or for a processor without these extensions) the vector sets do not
// exist and the choice ends at state 0.
//
// No lock guards the table: the choice stores whole pointers, and concurrent first calls store the
// same ones.
#pragma once

#include <cstdint>

#include "platform/win/win_types.h"

namespace qm {

inline constexpr int kMathSlotCount = 71;

// Dispatch states.
inline constexpr DWORD kMathNotChosen = 0xFFFF;
inline constexpr DWORD kMathPortable = 0;
inline constexpr DWORD kMath3DNow = 1;
inline constexpr DWORD kMathSse2 = 2;
inline constexpr DWORD kMathSse = 3;

// argument 0: the portable table becomes active and the state returns to kMathNotChosen (operations
// then run the portable forms until the next SelectMathImplementation(1)); returns kMathNotChosen.
// argument 1: when not yet chosen, chooses as above; returns the state. Any other argument returns
// the state unchanged.
DWORD SelectMathImplementation(int argument);

// The current dispatch state.
DWORD MathDispatchState();

// Slot pointers are stored as this type; cast back to the pointer type of the slot's operation
// (decltype(&Operation)) before calling.
using MathSlotFunction = void (*)();

// The pointer now in a slot of the active table (null for a slot number out of range).
MathSlotFunction MathActiveSlot(int slot);

enum class MathImplementationSet {
    FirstCallStub,  // what the active table holds before the first call
    Portable,       // the portable table
    Alternative,    // the alternative portable forms (slots 0-7 and 34)
    Sse2,           // the SSE2 set
    Sse,            // the SSE set
};

// The implementation a set provides for a slot: null when the set does not replace that slot, was not
// built, or the slot number is out of range.
MathSlotFunction MathImplementation(MathImplementationSet set, int slot);

// The MMX flag for pixel conversion: -1 until tested, then 0 or 1. Read without testing.
std::int32_t MathMmxFlag();
// Runs the MMX test and returns the flag: a present non-zero registry DWORD "DisableMMX" sets it to 0;
// otherwise, while it is still -1, it becomes 1 when GetSystemInfo reports processor architecture 0
// with level 5 or higher and CPUID leaf 1 EDX bit 23 is set, else 0.
std::int32_t MathHasMmx();

}  // namespace qm
