// animation_loader_test.cpp: animation sets read from small text X files through the X-file
// parser: ticks per second, key types, frame references, matrix keys, failures that skip one
// Animation or fail the set, and key data the object cannot hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/anim/animation_loader.h"
#include "tests/anim/anim_test_util.h"

using namespace animtest;

namespace {

// The X file format's templates for frames and animation.
const char kTemplates[] =
    "xof 0303txt 0032\n"
    "template Matrix4x4 { <F6F23F45-7686-11cf-8F52-0040333594A3> array FLOAT matrix[16]; }\n"
    "template FrameTransformMatrix { <F6F23F41-7686-11cf-8F52-0040333594A3> Matrix4x4 frameMatrix; }\n"
    "template Frame { <3D82AB46-62DA-11cf-AB39-0020AF71E433> [...] }\n"
    "template FloatKeys { <10DD46A9-775B-11cf-8F52-0040333594A3> DWORD nValues; array FLOAT values[nValues]; }\n"
    "template TimedFloatKeys { <F406B180-7B3B-11cf-8F52-0040333594A3> DWORD time; FloatKeys tfkeys; }\n"
    "template AnimationKey { <10DD46A8-775B-11cf-8F52-0040333594A3> DWORD keyType; DWORD nKeys;\n"
    "  array TimedFloatKeys keys[nKeys]; }\n"
    "template AnimationOptions { <E2BF56C0-840F-11cf-8F52-0040333594A3> DWORD openclosed; DWORD positionquality; }\n"
    "template Animation { <3D82AB4F-62DA-11cf-AB39-0020AF71E433> [...] }\n"
    "template AnimationSet { <3D82AB50-62DA-11cf-AB39-0020AF71E433> [Animation <3D82AB4F-62DA-11cf-AB39-0020AF71E433>] }\n"
    "template AnimTicksPerSecond { <9E415A43-7BA6-4a73-8743-B73D47E88476> DWORD AnimTicksPerSecond; }\n"
    "Frame Arm {} Frame Leg {} Frame Head {}\n";

// Reads the file's top-level objects as a loader does: AnimTicksPerSecond updates the ticks per
// second (4800 at the start), each AnimationSet is loaded with the value in force.
struct Loaded {
    HRESULT result = E_FAIL;
    std::vector<ComPtr<AnimationSet>> sets;
};

Loaded LoadFile(const std::string& body) {
    Loaded loaded;
    const std::string file = kTemplates + body;
    ComPtr<IDirectXFile> parser;
    EXPECT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    DXFILELOADMEMORY memory{const_cast<char*>(file.data()), static_cast<DWORD>(file.size())};
    ComPtr<IDirectXFileEnumObject> e;
    HRESULT hr = parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf());
    EXPECT_EQ(hr, S_OK) << "the test file does not parse";
    if (FAILED(hr)) return loaded;
    double ticksPerSecond = kDefaultTicksPerSecond;
    loaded.result = S_OK;
    for (;;) {
        ComPtr<IDirectXFileData> object;
        if (FAILED(e->GetNextDataObject(object.ReleaseAndGetAddressOf()))) break;
        const GUID* type = nullptr;
        object->GetType(&type);
        if (*type == kTemplateAnimTicksPerSecond) {
            EXPECT_EQ(ReadAnimTicksPerSecond(object.Get(), &ticksPerSecond), S_OK);
        } else if (*type == kTemplateAnimationSet) {
            ComPtr<AnimationSet> set;
            loaded.result = LoadAnimationSet(ticksPerSecond, object.Get(), set.ReleaseAndGetAddressOf());
            if (FAILED(loaded.result)) break;
            loaded.sets.push_back(set);
        }
    }
    return loaded;
}

ComPtr<KeyframeInterpolator> Find(AnimationSet* set, const char* name) {
    ComPtr<KeyframeInterpolator> found;
    EXPECT_GE(set->GetInterpolatorByName(name, found.ReleaseAndGetAddressOf()), 0) << name;
    return found;
}

}  // namespace

TEST(AnimationLoader, ReadsKeysNamesTicksAndOrder) {
    // Leg comes first in the file, so Arm (read last) is the first interpolator handed to the set
    // and gives the set its period.
    const Loaded loaded = LoadFile(
        "AnimationSet Before { Animation { {Head} AnimationKey { 2; 2; 0; 3; 0, 0, 0;;, 9600; 3; 1, 1, 1;;; } } }\n"
        "AnimTicksPerSecond { 100; }\n"
        "AnimationSet Walk {\n"
        "  Animation { {Leg} AnimationKey { 2; 2; 0; 3; 0, 0, 0;;, 400; 3; 4, 8, 12;;; }\n"
        "              AnimationOptions { 1; 0; } }\n"
        "  Animation { AnimationKey { 0; 3; 0; 4; 1, 0, 0, 0;;, 100; 4; 0.70710678, 0, 0, 0.70710678;;,\n"
        "                             200; 4; 0, 0, 0, 1;;; }\n"
        "              AnimationKey { 1; 2; 0; 3; 2, 3, 4;;, 200; 3; 2, 3, 4;;; }\n"
        "              {Arm} }\n"
        "}\n");
    ASSERT_EQ(loaded.result, S_OK);
    ASSERT_EQ(loaded.sets.size(), 2u);

    AnimationSet* before = loaded.sets[0].Get();
    ComPtr<KeyframeInterpolator> head = Find(before, "Head");
    EXPECT_EQ(head->GetTicksPerSecond(), 4800.0);  // no AnimTicksPerSecond before this set
    EXPECT_DOUBLE_EQ(head->GetPeriod(), 2.0);

    AnimationSet* walk = loaded.sets[1].Get();
    EXPECT_STREQ(walk->GetName(), "Walk");
    ASSERT_EQ(walk->GetInterpolatorCount(), 2u);
    ComPtr<KeyframeInterpolator> first;
    walk->GetInterpolatorByIndex(0, first.ReleaseAndGetAddressOf());
    EXPECT_STREQ(first->GetName(), "Arm");  // name order, not file order
    EXPECT_DOUBLE_EQ(walk->GetPeriod(), 2.0);

    ComPtr<KeyframeInterpolator> arm = Find(walk, "Arm");
    EXPECT_EQ(arm->GetTicksPerSecond(), 100.0);
    EXPECT_EQ(arm->GetTranslationKeyCount(), 1u);  // the default key
    Vector3 s, t;
    Quaternion q;
    arm->SampleSRT(0.0, &s, &q, &t);
    ExpectNear(q, Quaternion{0, 0, 0, 1});  // file (w, x, y, z) = (1, 0, 0, 0): the identity
    ExpectNear(s, 2, 3, 4);
    ExpectNear(t, 0, 0, 0);
    // File rotation (w, x, y, z) = (cos 45°, 0, 0, sin 45°) is kept as it stands and conjugated
    // when sampled: the rotation by −90° about z.
    arm->SampleSRT(1.0, nullptr, &q, nullptr);
    ExpectNear(q, AboutZ(-90));
    RotationKey stored[3];
    arm->CopyRotationKeys(stored);
    ExpectNear(stored[1].value, Quaternion{0, 0, 0.70710678f, 0.70710678f});

    ComPtr<KeyframeInterpolator> leg = Find(walk, "Leg");
    EXPECT_DOUBLE_EQ(leg->GetPeriod(), 4.0);
    leg->SampleSRT(1.0, nullptr, nullptr, &t);
    ExpectNear(t, 1, 2, 3);
}

TEST(AnimationLoader, SplitsMatrixKeys) {
    // Key 0: rows scaled by (2, 3, 4) and moved by (5, 6, 7); keys 1 and 2: 180° and 270° about z.
    const Loaded loaded = LoadFile(
        "AnimationSet M { Animation { {Arm} AnimationKey { 4; 3;\n"
        "  0; 16; 2, 0, 0, 0,  0, 3, 0, 0,  0, 0, 4, 0,  5, 6, 7, 1;;,\n"
        "  100; 16; -1, 0, 0, 0,  0, -1, 0, 0,  0, 0, 1, 0,  0, 0, 0, 1;;,\n"
        "  200; 16; 0, -1, 0, 0,  1, 0, 0, 0,  0, 0, 1, 0,  0, 0, 0, 1;;; } } }\n");
    ASSERT_EQ(loaded.result, S_OK);
    ASSERT_EQ(loaded.sets.size(), 1u);
    ComPtr<KeyframeInterpolator> arm = Find(loaded.sets[0].Get(), "Arm");
    ASSERT_EQ(arm->GetScaleKeyCount(), 3u);
    ASSERT_EQ(arm->GetRotationKeyCount(), 3u);
    ASSERT_EQ(arm->GetTranslationKeyCount(), 3u);

    Vector3 s, t;
    Quaternion q;
    arm->SampleSRT(0.0, &s, &q, &t);
    ExpectNear(s, 2, 2, 2);  // the first row's length in all three components
    ExpectNear(t, 5, 6, 7);
    ExpectNear(q, Quaternion{0, 0, 0, 1});

    // The rotations sampled are those of the matrices (up to sign), and the stored neighbours lie
    // in one hemisphere.
    RotationKey stored[3];
    arm->CopyRotationKeys(stored);
    for (int i = 1; i < 3; ++i) EXPECT_GE(QuaternionDot(&stored[i].value, &stored[i - 1].value), 0.0f) << i;
    const struct {
        double seconds;
        double degrees;
    } expected[] = {{100.0 / 4800.0, 180.0}, {150.0 / 4800.0, 225.0}};
    for (const auto& e : expected) {
        arm->SampleSRT(e.seconds, nullptr, &q, nullptr);
        const Quaternion want = AboutZ(e.degrees);
        EXPECT_NEAR(std::fabs(QuaternionDot(&q, &want)), 1.0f, 1e-5f) << e.degrees;
    }
}

TEST(AnimationLoader, BadAnimationsAreSkippedOrFailTheSet) {
    // Each of these Animations fails: two rotation key objects, a second frame reference, an
    // embedded Frame, key type 3, a matrix key after another key, a value count that is not the
    // type's, and no keys. The set keeps the one good Animation.
    const Loaded loaded = LoadFile(
        "AnimationSet S {\n"
        "  Animation { {Leg} AnimationKey { 0; 1; 0; 4; 1, 0, 0, 0;;; } AnimationKey { 0; 1; 0; 4; 1, 0, 0, 0;;; } }\n"
        "  Animation { {Leg} {Arm} AnimationKey { 1; 1; 0; 3; 1, 1, 1;;; } }\n"
        "  Animation { Frame Inner {} AnimationKey { 1; 1; 0; 3; 1, 1, 1;;; } }\n"
        "  Animation { {Leg} AnimationKey { 3; 1; 0; 3; 1, 1, 1;;; } }\n"
        "  Animation { {Leg} AnimationKey { 2; 1; 0; 3; 1, 1, 1;;; }\n"
        "              AnimationKey { 4; 1; 0; 16; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;;; } }\n"
        "  Animation { {Leg} AnimationKey { 2; 2; 0; 2; 1, 1;;, 10; 3; 1, 1, 1;;; } }\n"
        "  Animation { {Leg} AnimationOptions { 0; 0; } }\n"
        "  Animation { {Head} AnimationKey { 2; 1; 0; 3; 7, 8, 9;;; } }\n"
        "}\n"
        "AnimationSet Empty { }\n");
    ASSERT_EQ(loaded.result, S_OK);
    ASSERT_EQ(loaded.sets.size(), 2u);
    ASSERT_EQ(loaded.sets[0]->GetInterpolatorCount(), 1u);
    Vector3 t;
    Find(loaded.sets[0].Get(), "Head")->SampleSRT(0.0, nullptr, nullptr, &t);
    ExpectNear(t, 7, 8, 9);
    EXPECT_EQ(loaded.sets[1].Get(), nullptr);  // nothing survived: no set, and no failure

    // An Animation without a frame reference has no name, which fails its set.
    const Loaded unnamed =
        LoadFile("AnimationSet S { Animation { AnimationKey { 2; 1; 0; 3; 1, 1, 1;;; } } }\n");
    EXPECT_EQ(unnamed.result, D3DERR_INVALIDCALL);
}

namespace {

// A data object with fixed bytes and children, to present data the text format cannot express.
class FakeData final : public RefCounted<FakeData, IDirectXFileData> {
public:
    FakeData(GUID type, std::vector<BYTE> bytes, std::vector<ComPtr<IDirectXFileData>> children = {})
        : type_(type), bytes_(std::move(bytes)), children_(std::move(children)) {}
    HRESULT GetName(LPSTR, DWORD* length) override {
        *length = 0;
        return S_OK;
    }
    HRESULT GetId(GUID* id) override {
        *id = GUID{};
        return S_OK;
    }
    HRESULT GetData(LPCSTR, DWORD* size, void** data) override {
        *size = static_cast<DWORD>(bytes_.size());
        *data = bytes_.data();
        return S_OK;
    }
    HRESULT GetType(const GUID** type) override {
        *type = &type_;
        return S_OK;
    }
    HRESULT GetNextObject(IDirectXFileObject** child) override {
        if (next_ >= children_.size()) return DXFILEERR_NOMOREOBJECTS;
        *child = children_[next_++].CopyOut();
        return S_OK;
    }
    HRESULT AddDataObject(IDirectXFileData*) override { return E_NOTIMPL; }
    HRESULT AddDataReference(LPCSTR, const GUID*) override { return E_NOTIMPL; }
    HRESULT AddBinaryObject(LPCSTR, const GUID*, LPCSTR, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT GetString(DWORD, LPCSTR*) override { return E_NOTIMPL; }

private:
    GUID type_;
    std::vector<BYTE> bytes_;
    std::vector<ComPtr<IDirectXFileData>> children_;
    std::size_t next_ = 0;
};

std::vector<BYTE> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<BYTE> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.begin(), bytes.size());
    return bytes;
}

}  // namespace

TEST(AnimationLoader, RefusesKeyDataTheObjectCannotHold) {
    const std::uint32_t one = 0x3F800000;  // 1.0f
    const struct {
        std::vector<BYTE> bytes;
        HRESULT expected;
    } cases[] = {
        {Words({2, 0x40000000, 0, 3, one, one, one}), E_INVALIDARG},  // a billion keys in 28 bytes
        {Words({2, 2, 0, 3, one, one, one}), E_INVALIDARG},           // the second key is missing
        {Words({2}), E_INVALIDARG},                                   // no key count
        {Words({2, 1, 0, 3, one, one, one}), S_OK},                   // exactly enough
        {Words({0xFFFFFFFF, 1, 0, 3, one, one, one}), E_INVALIDARG},  // unknown type
    };
    for (const auto& c : cases) {
        ComPtr<IDirectXFileData> key = MakeRef<FakeData>(kTemplateAnimationKey, c.bytes);
        ComPtr<IDirectXFileData> animation = MakeRef<FakeData>(kTemplateAnimation, std::vector<BYTE>{},
                                                               std::vector<ComPtr<IDirectXFileData>>{key});
        ComPtr<KeyframeInterpolator> it;
        EXPECT_EQ(LoadAnimation(4800.0, animation.Get(), it.ReleaseAndGetAddressOf()), c.expected);
        EXPECT_EQ(it.Get() != nullptr, c.expected == S_OK);
    }
    // A zero AnimTicksPerSecond is taken as given; other sizes are ignored.
    double ticks = 4800.0;
    ComPtr<IDirectXFileData> zero = MakeRef<FakeData>(kTemplateAnimTicksPerSecond, Words({0}));
    ComPtr<IDirectXFileData> longer = MakeRef<FakeData>(kTemplateAnimTicksPerSecond, Words({25, 25}));
    EXPECT_EQ(ReadAnimTicksPerSecond(longer.Get(), &ticks), S_OK);
    EXPECT_EQ(ticks, 4800.0);
    EXPECT_EQ(ReadAnimTicksPerSecond(zero.Get(), &ticks), S_OK);
    EXPECT_EQ(ticks, 0.0);
    EXPECT_EQ(LoadAnimationSet(4800.0, nullptr, nullptr), D3DERR_INVALIDCALL);
}
