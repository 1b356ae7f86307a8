// abi_test.cpp: loads quillmere.hpi with dlopen, resolves every export by name and drives it as a host does.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quillmere/quillmere.h"

namespace {

class Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        handle = dlopen(QM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    static void TearDownTestSuite() {
        if (handle != nullptr) dlclose(handle);
        handle = nullptr;
    }
    static QmExportFn Export(const char* name) { return reinterpret_cast<QmExportFn>(dlsym(handle, name)); }
    static void* handle;
};
void* Module::handle = nullptr;

#define QM_EXPORT_NAME(name) #name,
constexpr const char* kExportNames[] = {QM_EXPORT_LIST(QM_EXPORT_NAME)};
#undef QM_EXPORT_NAME

TEST_F(Module, EveryExportResolvesAndSurvivesZeroWordsBeforeInit) {
    ASSERT_EQ(sizeof kExportNames / sizeof kExportNames[0], static_cast<size_t>(QM_EXPORT_COUNT));
    for (const char* name : kExportNames) {
        QmExportFn fn = Export(name);
        ASSERT_NE(fn, nullptr) << name;
        // Before Init there is no device: every export returns a result word, nothing crashes.
        std::int32_t result = fn(0, 0, 0, 0);
        EXPECT_TRUE(result == 0 || result == -1 || result == -2) << name << " returned " << result;
    }
    EXPECT_NE(dlsym(handle, "qmCreateHostWindow"), nullptr);
    EXPECT_NE(dlsym(handle, "qmDestroyHostWindow"), nullptr);
    // Engine internals stay hidden.
    EXPECT_EQ(dlsym(handle, "_ZN2qm6EngineEv"), nullptr);
}

struct Presented {
    int frames = 0;
    std::int32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

void OnPresent(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::int32_t pitch) {
    auto* p = static_cast<Presented*>(user);
    ++p->frames;
    p->width = width;
    p->height = height;
    p->pixels.assign(pixels, pixels + static_cast<size_t>(pitch / 4) * height);
}

TEST_F(Module, AFramePresentedThroughAHostWindowCarriesTheClearedColour) {
    auto create = reinterpret_cast<std::int32_t (*)(QmPresentFn, void*)>(dlsym(handle, "qmCreateHostWindow"));
    auto destroy = reinterpret_cast<void (*)(std::int32_t)>(dlsym(handle, "qmDestroyHostWindow"));
    ASSERT_NE(create, nullptr);
    Presented presented;
    std::int32_t window = create(OnPresent, &presented);
    ASSERT_NE(window, 0);

    std::int32_t info[16] = {};
    info[1] = 64;
    info[2] = 48;
    info[13] = window;
    ASSERT_EQ(Export("Init")(reinterpret_cast<QmWord>(info), 0, 0, 0), 0);
    EXPECT_EQ(Export("SetBgColor")(0x20, 0x40, 0x60, 0xFF), 0);
    EXPECT_EQ(Export("BeginScene")(0, 0, 0, 0), 0);
    EXPECT_EQ(Export("EndScene")(0, 0, 0, 0), 0);
    ASSERT_EQ(presented.frames, 1);
    EXPECT_EQ(presented.width, 64);
    EXPECT_EQ(presented.height, 48);
    for (std::uint32_t pixel : presented.pixels) ASSERT_EQ(pixel, 0xFF204060u);

    // Sign-extended negative words reach the engine as negative integers.
    std::int32_t length = 0;
    EXPECT_EQ(Export("Len")(reinterpret_cast<QmWord>(&length), -3 * 65536, 4 * 65536, 0), 0);
    EXPECT_EQ(length, 5 * 65536);

    EXPECT_EQ(Export("Bye")(0, 0, 0, 0), 0);
    destroy(window);
    EXPECT_EQ(Export("BeginScene")(0, 0, 0, 0), 0);
    EXPECT_EQ(Export("EndScene")(0, 0, 0, 0), 0);
    EXPECT_EQ(presented.frames, 1);  // a retired window shows nothing
}

}  // namespace
