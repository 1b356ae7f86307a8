// core_test.cpp: number formats, the keyed tables and the script math, which need no device.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "engine/keyed_table.h"
#include "engine/script_math.h"
#include "engine/states.h"

namespace qm {
namespace {

TEST(Fixed16, ConversionsAtTheirEdges) {
    EXPECT_EQ(FixedToFloat(0x00010000), 1.0f);
    EXPECT_EQ(FixedToFloat(static_cast<std::int32_t>(0xFFFF0000u)), -1.0f);
    EXPECT_EQ(FixedToFloat(0x00008000), 0.5f);
    EXPECT_EQ(FixedToFloat(1), 1.0f / 65536.0f);
    // The largest word is converted to float first (rounding to 2^31), then scaled.
    EXPECT_EQ(FixedToFloat(INT32_MAX), 32768.0f);
    EXPECT_EQ(FixedToFloat(INT32_MIN), -32768.0f);

    // Outputs truncate toward zero.
    EXPECT_EQ(FloatToFixed(-0.00001f), 0);
    EXPECT_EQ(FloatToFixed(1.99999f), 131071);
    EXPECT_EQ(FloatToFixed(-1.99999f), -131071);
    // Out of range and NaN give the processor's integer indefinite, 0x80000000.
    EXPECT_EQ(FloatToFixed(1e10f), INT32_MIN);
    EXPECT_EQ(FloatToFixed(-1e10f), INT32_MIN);
    EXPECT_EQ(FloatToFixed(std::nanf("")), INT32_MIN);
    EXPECT_EQ(FloatToFixed(-32768.0f), INT32_MIN);
    EXPECT_EQ(FloatToFixed(32767.99f), 2147483008);

    // Turn angles: radians times the float 10430.378, truncated toward zero.
    EXPECT_EQ(RadiansToTurn(1.0f), 10430);
    EXPECT_EQ(RadiansToTurn(-1.0f), -10430);
    EXPECT_EQ(RadiansToTurn(0.5f), 5215);
    EXPECT_FLOAT_EQ(TurnToRadians(16384), 1.5707963f);
    EXPECT_EQ(kRadiansToTurn, 10430.3779296875f);
}

TEST(Colours, PackedFromTheLowBytes) {
    EXPECT_EQ(PackColor(0x80, 0x40, 0x20, 0xFF), 0xFF804020u);
    EXPECT_EQ(PackColor(0x1FF, 0, 0, 0), 0x00FF0000u);
    EXPECT_EQ(PackColor(-1, -256, 0, 0x100), 0x00FF0000u);

    EngineState& engine = Engine();
    EXPECT_EQ(engine.backgroundColor, 0x00000000u);
    EXPECT_EQ(engine.drawColor, 0xFFFFFFFFu);
    EXPECT_EQ(SetBackgroundColor(255, 0, 0, 255), 0);
    EXPECT_EQ(engine.backgroundColor, 0xFFFF0000u);
    EXPECT_EQ(SetDrawColor(0x80, 0x40, 0x20, 0xFF), 0);
    EXPECT_EQ(engine.drawColor, 0xFF804020u);
    SetBackgroundColor(0, 0, 0, 0);
    SetDrawColor(255, 255, 255, 255);
}

TEST(KeyedTable, OrderedUniqueAndLookupsNeverInsert) {
    KeyedTable<std::string> table;
    EXPECT_EQ(table.Find(5), nullptr);
    EXPECT_EQ(table.Size(), 0u);  // a failed lookup created nothing
    EXPECT_TRUE(table.InsertIfAbsent(5, "five").second);
    EXPECT_TRUE(table.InsertIfAbsent(-7, "minus seven").second);
    EXPECT_TRUE(table.InsertIfAbsent(INT32_MIN, "min").second);
    EXPECT_TRUE(table.InsertIfAbsent(0, "zero").second);
    auto [entry, added] = table.InsertIfAbsent(5, "other");
    EXPECT_FALSE(added);
    EXPECT_EQ(*entry, "five");

    std::vector<std::int32_t> keys;
    table.ForEach([&](std::int32_t key, const std::string&) { keys.push_back(key); });
    EXPECT_EQ(keys, (std::vector<std::int32_t>{INT32_MIN, -7, 0, 5}));

    table.Erase(-7);
    table.Erase(12345);  // absent: nothing happens
    EXPECT_EQ(table.Size(), 3u);
    table.Clear();
    EXPECT_TRUE(table.Empty());
}

TEST(KeyedTable, UnloadForgetsEntriesWithoutReleasing) {
    struct Probe final : RefCounted<Probe, IUnknown> {
        explicit Probe(int* destroyed) : destroyed(destroyed) {}
        ~Probe() { ++*destroyed; }
        int* destroyed;
    };
    int destroyed = 0;
    ComPtr<Probe> kept = MakeRef<Probe>(&destroyed);
    {
        KeyedTable<ComPtr<Probe>> table;
        table.InsertIfAbsent(1, kept);
        EXPECT_EQ(kept->RefCount(), 2u);
    }
    // The table's reference was abandoned with it, not released.
    EXPECT_EQ(kept->RefCount(), 2u);
    EXPECT_EQ(destroyed, 0);
    kept->Release();  // give back the abandoned reference so the probe is freed
    kept.Reset();
    EXPECT_EQ(destroyed, 1);

    // Erase and Clear do release.
    KeyedTable<ComPtr<Probe>> table;
    table.InsertIfAbsent(3, MakeRef<Probe>(&destroyed));
    table.InsertIfAbsent(4, MakeRef<Probe>(&destroyed));
    table.Erase(3);
    EXPECT_EQ(destroyed, 2);
    table.Clear();
    EXPECT_EQ(destroyed, 3);
}

TEST(EngineState, StartsWithTheCameraDefaultsAndEmptyTables) {
    EngineState& engine = Engine();
    EXPECT_EQ(engine.cameraPosition.z, 0.0f);
    EXPECT_EQ(engine.cameraTarget.z, 1.0f);
    EXPECT_EQ(engine.cameraUp.y, 1.0f);
    EXPECT_TRUE(engine.modelTable.Empty());
    EXPECT_TRUE(engine.textureTable.Empty());
    EXPECT_TRUE(engine.lightTable.Empty());
    std::int32_t size = 0;
    EXPECT_EQ(GetCapabilitiesSize(&size), 0);
    EXPECT_EQ(size, 304);
    EXPECT_EQ(GetCapabilitiesSize(nullptr), -1);
}

TEST(ScriptMath, SineAndCosineTables) {
    std::vector<std::int32_t> table(8, 0x5A5A5A5A);
    ASSERT_EQ(FillSinTable(table.data(), 4), 0);
    EXPECT_EQ(std::vector<std::int32_t>(table.begin(), table.begin() + 4),
              (std::vector<std::int32_t>{0, 65535, 0, -65535}));
    EXPECT_EQ(table[4], 0x5A5A5A5A);  // nothing past n
    ASSERT_EQ(FillCosTable(table.data(), 4), 0);
    EXPECT_EQ(std::vector<std::int32_t>(table.begin(), table.begin() + 4),
              (std::vector<std::int32_t>{65536, 0, -65535, 0}));
    ASSERT_EQ(FillSinTable(table.data(), 8), 0);
    EXPECT_EQ(table, (std::vector<std::int32_t>{0, 46340, 65535, 46340, 0, -46340, -65535, -46340}));

    std::vector<std::int32_t> untouched(4, 7);
    EXPECT_EQ(FillSinTable(untouched.data(), 0), 0);
    EXPECT_EQ(FillCosTable(untouched.data(), -3), 0);
    EXPECT_EQ(untouched, std::vector<std::int32_t>(4, 7));
    EXPECT_EQ(FillSinTable(nullptr, 0), 0);
    EXPECT_EQ(FillSinTable(nullptr, 4), -1);

    // A large table against the rule worked out in double precision with the float 2*pi.
    std::vector<std::int32_t> big(1000);
    ASSERT_EQ(FillCosTable(big.data(), 1000), 0);
    for (int i = 0; i < 1000; i += 37) {
        double angle = (i / 1000.0) * 6.2831854820251465;
        EXPECT_EQ(big[i], static_cast<std::int32_t>(std::cos(angle) * 65536.0)) << i;
    }
}

TEST(ScriptMath, AtanInTurnUnits) {
    std::int32_t out = 99;
    const std::int32_t one = 65536;
    struct Case {
        std::int32_t y, x, expected;
    };
    const Case cases[] = {{one, 0, 16383}, {0, -one, 32767}, {-one, 0, -16383}, {one, one, 8191}, {0, 0, 0},
                          {0, one, 0},     {-one, -one, -24575}};
    for (const Case& c : cases) {
        ASSERT_EQ(AngleOf(&out, c.y, c.x), 0);
        EXPECT_EQ(out, c.expected) << c.y << "," << c.x;
    }
    // Only the ratio and the signs count.
    std::int32_t scaled = 0;
    AngleOf(&out, 3 * one, 4 * one);
    AngleOf(&scaled, 30 * one, 40 * one);
    EXPECT_EQ(out, scaled);
    EXPECT_EQ(AngleOf(nullptr, one, one), -1);
}

TEST(ScriptMath, LengthInFixed16) {
    std::int32_t out = 0;
    ASSERT_EQ(LengthOf(&out, 3 * 65536, 4 * 65536, 0), 0);
    EXPECT_EQ(out, 327680);
    ASSERT_EQ(LengthOf(&out, 1, 1, 0), 0);
    EXPECT_EQ(out, 1);
    ASSERT_EQ(LengthOf(&out, -2 * 65536, 0, 0), 0);
    EXPECT_EQ(out, 131072);
    // A length beyond the Fixed16 range gives the integer indefinite 0x80000000.
    ASSERT_EQ(LengthOf(&out, INT32_MIN, INT32_MIN, INT32_MIN), 0);
    EXPECT_EQ(out, INT32_MIN);
    EXPECT_EQ(LengthOf(nullptr, 1, 1, 1), -1);
}

}  // namespace
}  // namespace qm
