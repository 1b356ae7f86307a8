// platform_win_test.cpp: registry from the environment, code pages, message boxes, host windows, objects,
// large blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win/codepage.h"
#include "platform/win/host_window.h"
#include "platform/win/large_blocks.h"
#include "platform/win/message_box.h"
#include "platform/win/registry.h"
#include "platform/win/sysinfo.h"
#include "platform/win/unknown.h"

namespace {

constexpr char kKey[] = "Software\\Platform\\Direct3D";

TEST(Registry, DwordValuesComeFromTheEnvironment) {
    DWORD value = 7;
    unsetenv("QUILLMERE_REG_TestValue");
    EXPECT_FALSE(ReadRegistryDword(kKey, "TestValue", &value));
    EXPECT_EQ(value, 7u);

    setenv("QUILLMERE_REG_TestValue", "2", 1);
    ASSERT_TRUE(ReadRegistryDword(kKey, "TestValue", &value));
    EXPECT_EQ(value, 2u);
    setenv("QUILLMERE_REG_TestValue", "0x10", 1);
    ASSERT_TRUE(ReadRegistryDword(kKey, "TestValue", &value));
    EXPECT_EQ(value, 16u);

    // Text that is not a whole number is a string value, which a DWORD read refuses.
    setenv("QUILLMERE_REG_TestValue", "yes", 1);
    EXPECT_FALSE(ReadRegistryDword(kKey, "TestValue", &value));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 2;
    char small[2];
    EXPECT_EQ(RegQueryValueExA(key, "TestValue", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u);
    RegCloseKey(key);
    unsetenv("QUILLMERE_REG_TestValue");
}

TEST(CodePage, ShiftJisAndUtf16Conversions) {
    // "の" is 0x82 0xCC in code page 932 and U+306E.
    EXPECT_EQ(CodePageToUtf8(932, "a\x82\xCC"), "a\xE3\x81\xAE");
    // A lone lead byte is replaced, not dropped silently or read past.
    EXPECT_EQ(CodePageToUtf8(932, "\x82"), "\xEF\xBF\xBD");

    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(932, 0, "\x82\xCC", 2, nullptr, 0), 1);
    ASSERT_EQ(MultiByteToWideChar(932, 0, "\x82\xCC", 2, wide, 8), 1);
    EXPECT_EQ(wide[0], 0x306E);
    char back[8] = {};
    ASSERT_EQ(WideCharToMultiByte(932, 0, wide, 1, back, 8, nullptr, nullptr), 2);
    EXPECT_EQ(std::string(back, 2), "\x82\xCC");
    // Too small an output fails instead of writing past it.
    EXPECT_EQ(WideCharToMultiByte(932, 0, wide, 1, back, 1, nullptr, nullptr), 0);

    setenv("QUILLMERE_CODEPAGE", "932", 1);
    EXPECT_EQ(GetACP(), 932u);
    setenv("QUILLMERE_CODEPAGE", "12345", 1);
    EXPECT_EQ(GetACP(), CP_UTF8);
    unsetenv("QUILLMERE_CODEPAGE");
    EXPECT_EQ(GetACP(), CP_UTF8);
}

TEST(MessageBox, HookReceivesUtf8TextInTheSystemCodePage) {
    std::string text, caption;
    UINT style = 0;
    SetMessageBoxHook([&](const std::string& t, const std::string& c, UINT s) {
        text = t;
        caption = c;
        style = s;
    });
    setenv("QUILLMERE_CODEPAGE", "932", 1);
    EXPECT_EQ(MessageBoxA(nullptr, "x\x82\xCC", "Cap", MB_ICONERROR), IDOK);
    unsetenv("QUILLMERE_CODEPAGE");
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(text, "x\xE3\x81\xAE");
    EXPECT_EQ(caption, "Cap");
    EXPECT_EQ(style, MB_ICONERROR);
}

struct Frames {
    int count = 0;
    std::uint32_t first = 0;
    std::int32_t width = 0;
};
void OnPresent(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t, std::int32_t) {
    auto* frames = static_cast<Frames*>(user);
    ++frames->count;
    frames->first = pixels[0];
    frames->width = width;
}

TEST(HostWindow, PresentReachesOnlyOpenWindows) {
    EXPECT_EQ(CreateHostWindow(nullptr, nullptr), 0);
    Frames frames;
    std::int32_t id = CreateHostWindow(OnPresent, &frames);
    ASSERT_NE(id, 0);
    std::uint32_t pixels[4] = {0x11223344, 0, 0, 0};
    EXPECT_TRUE(PresentToHostWindow(HwndFromId(id), pixels, 2, 2, 8));
    EXPECT_EQ(frames.count, 1);
    EXPECT_EQ(frames.first, 0x11223344u);
    EXPECT_EQ(frames.width, 2);
    EXPECT_FALSE(PresentToHostWindow(HwndFromId(0), pixels, 2, 2, 8));
    DestroyHostWindow(id);
    EXPECT_FALSE(PresentToHostWindow(HwndFromId(id), pixels, 2, 2, 8));
    EXPECT_EQ(frames.count, 1);
    // A new window never reuses a retired id.
    std::int32_t next = CreateHostWindow(OnPresent, &frames);
    EXPECT_NE(next, id);
    DestroyHostWindow(next);

    RECT rect{};
    EXPECT_FALSE(GetClientRect(HwndFromId(next), &rect));
    SetWindowClientSize(HwndFromId(0), 320, 200);
    ASSERT_TRUE(GetClientRect(HwndFromId(0), &rect));
    EXPECT_EQ(rect.right, 320);
    EXPECT_EQ(rect.bottom, 200);
}

TEST(SystemInfo, FeatureMaskHidesProcessorFeatures) {
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE));
    DWORD regs[4];
    CpuId(1, regs);
#if defined(__x86_64__)
    EXPECT_TRUE(regs[3] >> 26 & 1u);  // every x86-64 processor has SSE2
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_GE(info.wProcessorLevel, 6);
#endif
    SetProcessorFeatureMask(~(1u << PF_XMMI64_INSTRUCTIONS_AVAILABLE | 1u << PF_XMMI_INSTRUCTIONS_AVAILABLE));
    CpuId(1, regs);
    EXPECT_FALSE(regs[3] >> 26 & 1u);
    EXPECT_FALSE(regs[3] >> 25 & 1u);
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE));
    SetProcessorFeatureMask(~0u);
}

// A two-interface object to check reference counting and interface queries.
struct IFirst : IUnknown {
    static constexpr IID iid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    virtual int First() = 0;
};
struct ISecond : IUnknown {
    static constexpr IID iid = {2, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    virtual int Second() = 0;
};
struct Counted final : RefCounted<Counted, IFirst, ISecond> {
    explicit Counted(int* destroyed) : destroyed_(destroyed) {}
    ~Counted() { ++*destroyed_; }
    int First() override { return 1; }
    int Second() override { return 2; }
    int* destroyed_;
};

TEST(Unknown, ReferenceCountsAndQueries) {
    int destroyed = 0;
    {
        ComPtr<Counted> object = MakeRef<Counted>(&destroyed);
        ASSERT_TRUE(object);
        EXPECT_EQ(object->RefCount(), 1u);
        ISecond* second = nullptr;
        ASSERT_EQ(object->QueryInterface(ISecond::iid, reinterpret_cast<void**>(&second)), S_OK);
        EXPECT_EQ(second->Second(), 2);
        EXPECT_EQ(object->RefCount(), 2u);
        IUnknown* unknown = nullptr;
        ASSERT_EQ(second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        EXPECT_EQ(unknown->Release(), 2u);
        EXPECT_EQ(second->Release(), 1u);
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(GUID{9, 9, 9, {}}, &none), E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
        ComPtr<IFirst> copy = object;
        EXPECT_EQ(object->RefCount(), 2u);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(LargeBlocks, GivenBackBlocksAreReusedWithinTheirBounds) {
    using namespace qm;
    constexpr std::size_t kMB = std::size_t{1} << 20;
    ReleaseKeptLargeBlocks();
    ASSERT_EQ(KeptLargeBlockCount(), 0u);

    // A fresh block is zero; given back, it is kept and handed out again as its last user left it.
    bool fresh = false;
    auto* block = static_cast<std::uint8_t*>(TakeLargeBlock(3 * kMB, &fresh));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[3 * kMB - 1], 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2 * kMB), 0u);
    std::memset(block, 0x5A, 3 * kMB);
    GiveBackLargeBlock(block, 3 * kMB);
    EXPECT_EQ(KeptLargeBlockCount(), 1u);
    EXPECT_EQ(KeptLargeBlockBytes(), 4 * kMB);
    auto* again = static_cast<std::uint8_t*>(TakeLargeBlock(4 * kMB - 1, &fresh));
    EXPECT_EQ(again, block);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(again[4 * kMB - 2], 0);
    EXPECT_EQ(again[3 * kMB - 1], 0x5A);
    EXPECT_EQ(KeptLargeBlockCount(), 0u);

    // A shorter request takes a longer kept block cut to its length; the cut-off pages go back.
    GiveBackLargeBlock(again, 4 * kMB - 1);
    auto* shorter = static_cast<std::uint8_t*>(TakeLargeBlock(kMB, &fresh));
    EXPECT_EQ(shorter, block);
    EXPECT_FALSE(fresh);
    shorter[2 * kMB - 1] = 1;
    GiveBackLargeBlock(shorter, kMB);
    EXPECT_EQ(KeptLargeBlockBytes(), 2 * kMB);

    // The kept blocks stay within both bounds, and a block longer than the byte bound is not kept.
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kKeptLargeBlocks + 2; ++i) blocks.push_back(TakeLargeBlock(kMB));
    for (void* b : blocks) {
        ASSERT_NE(b, nullptr);
        GiveBackLargeBlock(b, kMB);
        EXPECT_LE(KeptLargeBlockCount(), kKeptLargeBlocks);
    }
    EXPECT_EQ(KeptLargeBlockCount(), kKeptLargeBlocks);
    void* huge = TakeLargeBlock(kKeptLargeBlockBytes + kMB);
    ASSERT_NE(huge, nullptr);
    GiveBackLargeBlock(huge, kKeptLargeBlockBytes + kMB);
    EXPECT_LE(KeptLargeBlockBytes(), kKeptLargeBlockBytes);
    void* big = TakeLargeBlock(kKeptLargeBlockBytes - 2 * kMB);
    ASSERT_NE(big, nullptr);
    GiveBackLargeBlock(big, kKeptLargeBlockBytes - 2 * kMB);
    EXPECT_LE(KeptLargeBlockBytes(), kKeptLargeBlockBytes);
    EXPECT_EQ(KeptLargeBlockCount(), 2u);  // the big block and the one given back just before it

    EXPECT_EQ(ReleaseKeptLargeBlocks(), kKeptLargeBlockBytes);
    EXPECT_EQ(KeptLargeBlockCount(), 0u);
    EXPECT_EQ(KeptLargeBlockBytes(), 0u);
}

TEST(LargeBlocks, MediumBlocksAreKeptPerSizeClass) {
    using namespace qm;
    constexpr std::size_t kKB = std::size_t{1} << 10;
    ReleaseKeptLargeBlocks();
    ASSERT_EQ(KeptMediumBlockBytes(), 0u);

    // A block of 20 KiB takes the 32 KiB class: given back it is kept, and any request of that class
    // gets it again as its last user left it; another class does not.
    auto* block = static_cast<std::uint8_t*>(TakeMediumBlock(20 * kKB));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x3C, 20 * kKB);
    GiveBackMediumBlock(block, 20 * kKB);
    EXPECT_EQ(KeptMediumBlockBytes(), 32 * kKB);
    auto* other = static_cast<std::uint8_t*>(TakeMediumBlock(100 * kKB));
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, block);
    other[128 * kKB - 1] = 1;  // the whole 128 KiB class is there
    auto* again = static_cast<std::uint8_t*>(TakeMediumBlock(32 * kKB));
    EXPECT_EQ(again, block);
    EXPECT_EQ(again[20 * kKB - 1], 0x3C);
    EXPECT_EQ(KeptMediumBlockBytes(), 0u);
    GiveBackMediumBlock(again, 32 * kKB);
    GiveBackMediumBlock(other, 100 * kKB);
    EXPECT_EQ(KeptMediumBlockBytes(), 160 * kKB);

    // The allocator serves arrays of medium size from these blocks (outside the sanitizer builds,
    // which keep every array on the heap), so a second array of the same class reuses the first
    // one's block.
    if (!kLargeBlocksOnHeap) {
        const std::uint8_t* first = nullptr;
        {
            std::vector<float, LargeBlockAllocator<float>> weights(20000, 0.5f);
            first = reinterpret_cast<const std::uint8_t*>(weights.data());
            EXPECT_EQ(KeptMediumBlockBytes(), 32 * kKB);  // the 128 KiB block went to it
        }
        std::vector<DWORD, LargeBlockAllocator<DWORD>> vertices(30000);
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(vertices.data()), first);
    }

    // The kept bytes stay within their bound, and releasing unmaps them all.
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kKeptMediumBlockBytes / (128 * kKB) + 4; ++i)
        blocks.push_back(TakeMediumBlock(128 * kKB));
    for (void* b : blocks) {
        ASSERT_NE(b, nullptr);
        GiveBackMediumBlock(b, 128 * kKB);
        EXPECT_LE(KeptMediumBlockBytes(), kKeptMediumBlockBytes);
    }
    const std::size_t kept = KeptMediumBlockBytes();
    EXPECT_GT(kept, kKeptMediumBlockBytes - 128 * kKB);
    EXPECT_EQ(ReleaseKeptLargeBlocks(), kept);
    EXPECT_EQ(KeptMediumBlockBytes(), 0u);
}

}  // namespace
