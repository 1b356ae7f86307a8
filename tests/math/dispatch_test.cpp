// dispatch_test.cpp: the first-call stubs, reset, the choice by registry and processor features, and the
// MMX flag.
#include <cstdlib>

#include "platform/win/sysinfo.h"
#include "tests/math/math_test_support.h"

namespace qm::test {
namespace {

const char* const kRegistryVariables[] = {"QUILLMERE_REG_DisablePSGP", "QUILLMERE_REG_DisableLibraryPSGP",
                                          "QUILLMERE_REG_DisableMMX"};

void ClearRegistry() {
    for (const char* name : kRegistryVariables) unsetenv(name);
}

// What the table should hold in each slot after a choice that ended in `state`.
MathSlotFunction ExpectedSlot(DWORD state, int slot) {
    MathSlotFunction found = nullptr;
    if (state == kMathSse2) found = MathImplementation(MathImplementationSet::Sse2, slot);
    if (state == kMathSse) found = MathImplementation(MathImplementationSet::Sse, slot);
    if (found == nullptr && state != kMathNotChosen) found = MathImplementation(MathImplementationSet::Alternative, slot);
    if (found == nullptr) found = MathImplementation(MathImplementationSet::Portable, slot);
    return found;
}

void ExpectTableFor(DWORD state) {
    for (int slot = 0; slot < kMathSlotCount; ++slot)
        EXPECT_EQ(MathActiveSlot(slot), ExpectedSlot(state, slot)) << "slot " << slot;
}

// The state a processor with SSE2 reaches when nothing is disabled.
DWORD VectorState() { return SetBuilt(Under::Sse2) ? kMathSse2 : kMathPortable; }

// Runs in a freshly started process, where no operation has been called yet; exits 0 when the stubs
// behave.
[[noreturn]] void CheckFirstCall() {
    int failures = 0;
    auto check = [&](bool condition) { failures += condition ? 0 : 1; };
    check(MathDispatchState() == kMathNotChosen);
    for (int slot = 0; slot < kMathSlotCount; ++slot) {
        check(MathActiveSlot(slot) == MathImplementation(MathImplementationSet::FirstCallStub, slot));
        check(MathActiveSlot(slot) != MathImplementation(MathImplementationSet::Portable, slot));
    }
    // The stub of slot 37 chooses, then completes the call with the chosen implementation.
    Matrix m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16), transposed;
    check(MatrixTranspose(&transposed, &m) == &transposed);
    check(transposed._12 == 5.0f && transposed._41 == 4.0f && transposed._44 == 16.0f);
    check(MathDispatchState() == VectorState());
    for (int slot = 0; slot < kMathSlotCount; ++slot) check(MathActiveSlot(slot) == ExpectedSlot(VectorState(), slot));
    std::exit(failures == 0 ? 0 : 1);
}

TEST(MathDispatchDeathTest, StubsChooseOnTheFirstCallOfAnyOperation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ClearRegistry();
    EXPECT_EXIT(CheckFirstCall(), testing::ExitedWithCode(0), "");
}

class MathDispatch : public testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override {
        ClearRegistry();
        SetProcessorFeatureMask(~0u);
        SelectMathImplementation(0);
        SelectMathImplementation(1);
    }
    // Reset, choose again, and return the new state.
    DWORD Choose() {
        EXPECT_EQ(SelectMathImplementation(0), kMathNotChosen);
        return SelectMathImplementation(1);
    }
};

TEST_F(MathDispatch, ResetReturnsToThePortableTableUntilTheNextChoice) {
    EXPECT_EQ(SelectMathImplementation(0), kMathNotChosen);
    EXPECT_EQ(MathDispatchState(), kMathNotChosen);
    ExpectTableFor(kMathNotChosen);
    // Operations now run the portable forms and do not choose by themselves.
    Vector3 v(3, 0, 4), n;
    Vec3Normalize(&n, &v);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    EXPECT_EQ(MathDispatchState(), kMathNotChosen);

    EXPECT_EQ(SelectMathImplementation(1), VectorState());
    ExpectTableFor(VectorState());
    // Later choices and other arguments leave the state alone.
    EXPECT_EQ(SelectMathImplementation(1), VectorState());
    EXPECT_EQ(SelectMathImplementation(7), VectorState());
    ExpectTableFor(VectorState());
}

TEST_F(MathDispatch, RegistryValuesSelectTheMode) {
    EXPECT_EQ(Choose(), VectorState());

    setenv("QUILLMERE_REG_DisableLibraryPSGP", "1", 1);
    EXPECT_EQ(Choose(), kMathPortable);
    ExpectTableFor(kMathPortable);  // portable, with the alternative forms of slots 0-7 and 34
    for (int slot : {0, 3, 7, 34})
        EXPECT_NE(MathActiveSlot(slot), MathImplementation(MathImplementationSet::Portable, slot));

    ClearRegistry();
    setenv("QUILLMERE_REG_DisablePSGP", "1", 1);
    EXPECT_EQ(Choose(), kMathPortable);
    // DisableLibraryPSGP, when present, replaces DisablePSGP.
    setenv("QUILLMERE_REG_DisableLibraryPSGP", "0", 1);
    EXPECT_EQ(Choose(), VectorState());

    // Mode 2 skips only the 3DNow! step: SSE2 is still chosen.
    ClearRegistry();
    setenv("QUILLMERE_REG_DisablePSGP", "2", 1);
    EXPECT_EQ(Choose(), VectorState());
    ExpectTableFor(VectorState());

    // A value that is not a DWORD counts as absent.
    setenv("QUILLMERE_REG_DisablePSGP", "yes", 1);
    EXPECT_EQ(Choose(), VectorState());
}

TEST_F(MathDispatch, ProcessorFeaturesSelectTheSet) {
    if (!SetBuilt(Under::Sse2)) GTEST_SKIP() << "vector sets not built";
    EXPECT_EQ(Choose(), kMathSse2);
    EXPECT_EQ(MathActiveSlot(44), MathImplementation(MathImplementationSet::Portable, 44));
    EXPECT_EQ(MathActiveSlot(69), MathImplementation(MathImplementationSet::Sse2, 69));

    // Without SSE2 but with SSE: the SSE set, which adds slot 44.
    SetProcessorFeatureMask(~(1u << PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_EQ(Choose(), kMathSse);
    ExpectTableFor(kMathSse);
    EXPECT_EQ(MathActiveSlot(44), MathImplementation(MathImplementationSet::Sse, 44));
    EXPECT_NE(MathActiveSlot(69), MathImplementation(MathImplementationSet::Sse2, 69));

    // Neither: portable only.
    SetProcessorFeatureMask(~((1u << PF_XMMI64_INSTRUCTIONS_AVAILABLE) | (1u << PF_XMMI_INSTRUCTIONS_AVAILABLE)));
    EXPECT_EQ(Choose(), kMathPortable);
    ExpectTableFor(kMathPortable);
}

TEST(MathDispatchSets, EachSetReplacesExactlyItsSlots) {
    auto replaced = [](MathImplementationSet set) {
        std::vector<int> slots;
        for (int slot = 0; slot < kMathSlotCount; ++slot)
            if (MathImplementation(set, slot) != nullptr) slots.push_back(slot);
        return slots;
    };
    EXPECT_EQ(replaced(MathImplementationSet::Portable).size(), 71u);
    EXPECT_EQ(replaced(MathImplementationSet::FirstCallStub).size(), 71u);
    EXPECT_EQ(replaced(MathImplementationSet::Alternative), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 34}));
    if (SetBuilt(Under::Sse2)) {
        std::vector<int> sse2{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 24, 25, 27, 28, 34, 68, 69};
        EXPECT_EQ(replaced(MathImplementationSet::Sse2), sse2);
        sse2.insert(sse2.begin() + 18, 44);
        EXPECT_EQ(replaced(MathImplementationSet::Sse), sse2);
    } else {
        EXPECT_TRUE(replaced(MathImplementationSet::Sse2).empty());
    }
    EXPECT_EQ(MathActiveSlot(-1), nullptr);
    EXPECT_EQ(MathActiveSlot(71), nullptr);
    EXPECT_EQ(MathImplementation(MathImplementationSet::Portable, 71), nullptr);
}

// The MMX flag is tested once per process, so each case runs in a fresh one.
std::int32_t MmxPresent() {
    DWORD registers[4];
    CpuId(1, registers);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    bool present = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL && info.wProcessorLevel >= 5 &&
                   (registers[3] >> 23 & 1u) != 0;
    return present ? 1 : 0;
}

[[noreturn]] void CheckMmxThenDisable() {
    bool ok = MathMmxFlag() == -1 && MathHasMmx() == MmxPresent() && MathMmxFlag() == MmxPresent();
    setenv("QUILLMERE_REG_DisableMMX", "1", 1);
    ok = ok && MathHasMmx() == 0;
    unsetenv("QUILLMERE_REG_DisableMMX");
    ok = ok && MathHasMmx() == 0;  // once decided, the flag stays
    std::exit(ok ? 0 : 1);
}

[[noreturn]] void CheckMmxHiddenByFeatureMask() {
    SetProcessorFeatureMask(~(1u << PF_MMX_INSTRUCTIONS_AVAILABLE));
    std::exit(MathHasMmx() == 0 ? 0 : 1);
}

[[noreturn]] void CheckMmxWithZeroDisableValue() {
    setenv("QUILLMERE_REG_DisableMMX", "0", 1);  // present but zero: the test runs
    std::exit(MathHasMmx() == MmxPresent() ? 0 : 1);
}

TEST(MathMmxDeathTest, FlagFollowsTheProcessorAndTheRegistry) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ClearRegistry();
    EXPECT_EXIT(CheckMmxThenDisable(), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(CheckMmxHiddenByFeatureMask(), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(CheckMmxWithZeroDisableValue(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qm::test
