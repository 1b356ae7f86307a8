// gdi_objects.cpp: the handle table: slots with a generation count, so that a retired handle is
// recognised and refused rather than followed.
#include "platform/gdi/gdi_objects.h"

#include <cstring>

namespace qm::gdi {
namespace {

// A handle value: bits 0-15 slot index + 1, bits 16-27 generation, bits 28-31 object kind. It fits
// in 32 bits and is never 0.
enum class Kind : std::uint32_t { None = 0, Font = 1, Bitmap = 2, Dc = 3 };

constexpr std::uint32_t kIndexMask = 0xFFFF;
constexpr std::uint32_t kGenerationMask = 0xFFF;

struct Slot {
    std::uint32_t generation = 1;
    Kind kind = Kind::None;
    std::variant<std::monostate, FontObject, BitmapObject, DcObject> object;
};

struct Table {
    std::vector<Slot> slots;
    std::vector<std::uint32_t> freeSlots;
    HGDIOBJ stockFont = nullptr;
    HGDIOBJ stockBitmap = nullptr;
};

std::uint32_t ValueOf(const void* handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
}

Table& TheTable();

template <class T>
void* Add(Kind kind, T object) {
    Table& table = TheTable();
    std::uint32_t index;
    if (!table.freeSlots.empty()) {
        index = table.freeSlots.back();
        table.freeSlots.pop_back();
    } else {
        if (table.slots.size() >= kIndexMask) return nullptr;
        table.slots.emplace_back();
        index = static_cast<std::uint32_t>(table.slots.size() - 1);
    }
    Slot& slot = table.slots[index];
    slot.kind = kind;
    slot.object = std::move(object);
    std::uintptr_t value = (index + 1) | (slot.generation << 16) | (static_cast<std::uint32_t>(kind) << 28);
    return reinterpret_cast<void*>(value);
}

Slot* Find(const void* handle, Kind kind) {
    std::uint32_t value = ValueOf(handle);
    if (reinterpret_cast<std::uintptr_t>(handle) != value || value == 0) return nullptr;
    if ((value >> 28) != static_cast<std::uint32_t>(kind)) return nullptr;
    std::uint32_t index = (value & kIndexMask) - 1;
    Table& table = TheTable();
    if (index >= table.slots.size()) return nullptr;
    Slot& slot = table.slots[index];
    if (slot.kind != kind || slot.generation != ((value >> 16) & kGenerationMask)) return nullptr;
    return &slot;
}

Table& TheTable() {
    static Table table;
    return table;
}

}  // namespace

FontObject* FindFont(HGDIOBJ handle) {
    Slot* slot = Find(handle, Kind::Font);
    return slot != nullptr ? &std::get<FontObject>(slot->object) : nullptr;
}

BitmapObject* FindBitmap(HGDIOBJ handle) {
    Slot* slot = Find(handle, Kind::Bitmap);
    return slot != nullptr ? &std::get<BitmapObject>(slot->object) : nullptr;
}

DcObject* FindDc(HDC handle) {
    Slot* slot = Find(handle, Kind::Dc);
    return slot != nullptr ? &std::get<DcObject>(slot->object) : nullptr;
}

HGDIOBJ AddFont(FontObject font) { return static_cast<HGDIOBJ>(Add(Kind::Font, std::move(font))); }
HGDIOBJ AddBitmap(BitmapObject bitmap) { return static_cast<HGDIOBJ>(Add(Kind::Bitmap, std::move(bitmap))); }
HDC AddDc(DcObject dc) { return static_cast<HDC>(Add(Kind::Dc, std::move(dc))); }

void RemoveObject(const void* handle) {
    std::uint32_t value = ValueOf(handle);
    Slot* slot = Find(handle, static_cast<Kind>(value >> 28));
    if (slot == nullptr || slot->kind == Kind::None) return;
    slot->object = std::monostate{};
    slot->kind = Kind::None;
    slot->generation = (slot->generation + 1) & kGenerationMask;
    if (slot->generation == 0) slot->generation = 1;
    TheTable().freeSlots.push_back((value & kIndexMask) - 1);
}

HGDIOBJ StockSystemFont() {
    Table& table = TheTable();
    if (table.stockFont == nullptr) {
        FontObject font;
        font.description.lfHeight = 16;
        font.description.lfWeight = FW_NORMAL;
        font.description.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
        std::memcpy(font.description.lfFaceName, "System", 7);
        font.realized = RealizedFont::ForDescription(font.description);
        table.stockFont = AddFont(std::move(font));
    }
    return table.stockFont;
}

HGDIOBJ StockBitmap() {
    Table& table = TheTable();
    if (table.stockBitmap == nullptr) {
        BitmapObject bitmap;
        bitmap.pixels.assign(1, 0);
        table.stockBitmap = AddBitmap(std::move(bitmap));
    }
    return table.stockBitmap;
}

bool IsStockObject(const void* handle) {
    const Table& table = TheTable();
    return handle != nullptr && (handle == table.stockFont || handle == table.stockBitmap);
}

}  // namespace qm::gdi
