// lua_buffers.cpp: qm.ints and qm.bytes as full userdata: a length followed by the zero-filled elements,
// indexed from 0 with bounds checks.
#include "host/lua_buffers.h"

#include <cstring>
#include <initializer_list>

namespace qm {

namespace {

constexpr char kIntsType[] = "qm.ints";
constexpr char kBytesType[] = "qm.bytes";
constexpr lua_Integer kMaxInts = lua_Integer{1} << 28;
constexpr lua_Integer kMaxBytes = lua_Integer{1} << 30;

// The userdata block: this header, then the elements. Lua aligns the block for any scalar, and the
// header's size keeps the elements aligned.
struct BufferHeader {
    std::size_t length;
};

void* Elements(BufferHeader* header) { return reinterpret_cast<unsigned char*>(header) + sizeof(BufferHeader); }

BufferHeader* PushBuffer(lua_State* L, std::size_t length, std::size_t elementSize, const char* type) {
    const std::size_t bytes = sizeof(BufferHeader) + length * elementSize;
    auto* header = static_cast<BufferHeader*>(lua_newuserdatauv(L, bytes, 0));
    std::memset(header, 0, bytes);
    header->length = length;
    luaL_setmetatable(L, type);
    return header;
}

// The length argument of qm.ints / qm.bytes.
std::size_t CheckLength(lua_State* L, int index, lua_Integer limit, const char* what) {
    int isInteger = 0;
    lua_Integer n = lua_tointegerx(L, index, &isInteger);
    if (lua_type(L, index) != LUA_TNUMBER || !isInteger || n < 0 || n > limit)
        luaL_error(L, "%s: the length must be an integer from 0 to %I", what, limit);
    return static_cast<std::size_t>(n);
}

// The element index of a[key], checked against the buffer's bounds.
std::size_t CheckElement(lua_State* L, const BufferHeader* header, int keyIndex, const char* type) {
    int isInteger = 0;
    lua_Integer i = lua_tointegerx(L, keyIndex, &isInteger);
    if (!isInteger) luaL_error(L, "%s index must be an integer, got %s", type, luaL_tolstring(L, keyIndex, nullptr));
    if (i < 0 || static_cast<lua_Unsigned>(i) >= header->length) {
        if (header->length == 0) luaL_error(L, "%s index %I is out of range (the buffer is empty)", type, i);
        luaL_error(L, "%s index %I is out of range 0..%I", type, i, static_cast<lua_Integer>(header->length - 1));
    }
    return static_cast<std::size_t>(i);
}

// The shared __index: integer keys read elements, names find methods (upvalue 1 holds them).
template <class Element>
int IndexBuffer(lua_State* L, const char* type) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, type));
    if (lua_type(L, 2) == LUA_TSTRING) {
        if (lua_getfield(L, lua_upvalueindex(1), lua_tostring(L, 2)) == LUA_TNIL)
            luaL_error(L, "%s has no method '%s'", type, lua_tostring(L, 2));
        return 1;
    }
    std::size_t i = CheckElement(L, header, 2, type);
    lua_pushinteger(L, static_cast<Element*>(Elements(header))[i]);
    return 1;
}

int IntsIndex(lua_State* L) { return IndexBuffer<std::int32_t>(L, kIntsType); }
int BytesIndex(lua_State* L) { return IndexBuffer<std::uint8_t>(L, kBytesType); }

int IntsNewIndex(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, kIntsType));
    std::size_t i = CheckElement(L, header, 2, kIntsType);
    std::int32_t word = 0;
    if (!ToWord32(L, 3, &word))
        luaL_error(L, "qm.ints value must be a 32-bit integer, got %s", luaL_tolstring(L, 3, nullptr));
    static_cast<std::int32_t*>(Elements(header))[i] = word;
    return 0;
}

int BytesNewIndex(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, kBytesType));
    std::size_t i = CheckElement(L, header, 2, kBytesType);
    int isInteger = 0;
    lua_Integer value = lua_tointegerx(L, 3, &isInteger);
    if (lua_type(L, 3) != LUA_TNUMBER || !isInteger || value < -128 || value > 255)
        luaL_error(L, "qm.bytes value must be an integer from -128 to 255, got %s", luaL_tolstring(L, 3, nullptr));
    static_cast<std::uint8_t*>(Elements(header))[i] = static_cast<std::uint8_t>(value);
    return 0;
}

template <const char* Type>
int BufferLength(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, Type));
    lua_pushinteger(L, static_cast<lua_Integer>(header->length));
    return 1;
}

template <const char* Type>
int BufferAddressMethod(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, Type));
    lua_pushinteger(L, static_cast<lua_Integer>(reinterpret_cast<std::intptr_t>(Elements(header))));
    return 1;
}

template <const char* Type>
int BufferToString(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, Type));
    lua_pushfstring(L, "%s(%I): %p", Type, static_cast<lua_Integer>(header->length), Elements(header));
    return 1;
}

// b:string(): the bytes up to the first zero, or all of them when there is none.
int BytesString(lua_State* L) {
    auto* header = static_cast<BufferHeader*>(luaL_checkudata(L, 1, kBytesType));
    const auto* bytes = static_cast<const char*>(Elements(header));
    const void* zero = std::memchr(bytes, 0, header->length);
    std::size_t length = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : header->length;
    lua_pushlstring(L, bytes, length);
    return 1;
}

void RegisterType(lua_State* L, const char* type, const luaL_Reg* methods, const luaL_Reg* metamethods,
                  lua_CFunction index) {
    luaL_newmetatable(L, type);
    luaL_setfuncs(L, metamethods, 0);
    lua_newtable(L);  // the methods, reached through __index as its upvalue
    luaL_setfuncs(L, methods, 0);
    lua_pushcclosure(L, index, 1);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
}

}  // namespace

bool ToWord32(lua_State* L, int index, std::int32_t* word) {
    if (lua_type(L, index) != LUA_TNUMBER) return false;
    int isInteger = 0;
    lua_Integer value = lua_tointegerx(L, index, &isInteger);
    if (!isInteger || value < INT32_MIN || value > lua_Integer{UINT32_MAX}) return false;
    *word = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return true;
}

void RegisterBufferTypes(lua_State* L) {
    static const luaL_Reg intsMethods[] = {{"address", BufferAddressMethod<kIntsType>}, {nullptr, nullptr}};
    static const luaL_Reg intsMeta[] = {{"__newindex", IntsNewIndex},
                                        {"__len", BufferLength<kIntsType>},
                                        {"__tostring", BufferToString<kIntsType>},
                                        {nullptr, nullptr}};
    static const luaL_Reg bytesMethods[] = {{"address", BufferAddressMethod<kBytesType>},
                                            {"string", BytesString},
                                            {nullptr, nullptr}};
    static const luaL_Reg bytesMeta[] = {{"__newindex", BytesNewIndex},
                                         {"__len", BufferLength<kBytesType>},
                                         {"__tostring", BufferToString<kBytesType>},
                                         {nullptr, nullptr}};
    RegisterType(L, kIntsType, intsMethods, intsMeta, IntsIndex);
    RegisterType(L, kBytesType, bytesMethods, bytesMeta, BytesIndex);
}

std::int32_t* PushInts(lua_State* L, std::size_t n) {
    return static_cast<std::int32_t*>(Elements(PushBuffer(L, n, sizeof(std::int32_t), kIntsType)));
}

int NewInts(lua_State* L) {
    if (lua_type(L, 1) != LUA_TTABLE) {
        PushInts(L, CheckLength(L, 1, kMaxInts, "qm.ints"));
        return 1;
    }
    const lua_Unsigned count = lua_rawlen(L, 1);
    if (count > static_cast<lua_Unsigned>(kMaxInts)) luaL_error(L, "qm.ints: the list is longer than %I", kMaxInts);
    std::int32_t* words = PushInts(L, static_cast<std::size_t>(count));
    for (lua_Unsigned i = 0; i < count; ++i) {
        lua_rawgeti(L, 1, static_cast<lua_Integer>(i + 1));
        if (!ToWord32(L, -1, &words[i]))
            luaL_error(L, "qm.ints: list item %I is not a 32-bit integer (%s)", static_cast<lua_Integer>(i + 1),
                       luaL_tolstring(L, -1, nullptr));
        lua_pop(L, 1);
    }
    return 1;
}

int NewBytes(lua_State* L) {
    PushBuffer(L, CheckLength(L, 1, kMaxBytes, "qm.bytes"), 1, kBytesType);
    return 1;
}

void* BufferAddress(lua_State* L, int index) {
    for (const char* type : {kIntsType, kBytesType})
        if (auto* header = static_cast<BufferHeader*>(luaL_testudata(L, index, type))) return Elements(header);
    return nullptr;
}

}  // namespace qm
