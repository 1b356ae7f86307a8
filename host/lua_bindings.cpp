// lua_bindings.cpp: the qm table: one closure per export that turns Lua values into four words, the
// number helpers, qm.has and qm.window.
#include "host/lua_bindings.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "host/frame_output.h"
#include "host/lua_buffers.h"
#include "host/module_loader.h"

namespace qm {

namespace {

constexpr char kStopType[] = "qm.stop";
constexpr double kPi = 3.14159265358979323846;
constexpr lua_Integer kMaxWindowSide = 16384;

HostBindings* Host(lua_State* L) { return static_cast<HostBindings*>(lua_touserdata(L, lua_upvalueindex(1))); }

// Raises the error object that ends the script with exitCode.
[[noreturn]] void RaiseStop(lua_State* L, int exitCode) {
    auto* code = static_cast<int*>(lua_newuserdatauv(L, sizeof(int), 0));
    *code = exitCode;
    luaL_setmetatable(L, kStopType);
    lua_error(L);
    std::abort();  // lua_error does not return
}

// One argument of an export call as a word: integers as they are (sign-extended), strings and host
// buffers by address, booleans as 1 or 0, nil or a missing argument as 0.
QmWord ToWord(lua_State* L, int index, const char* exportName) {
    switch (lua_type(L, index)) {
        case LUA_TNONE:
        case LUA_TNIL:
            return 0;
        case LUA_TBOOLEAN:
            return lua_toboolean(L, index) ? 1 : 0;
        case LUA_TNUMBER: {
            int isInteger = 0;
            lua_Integer value = lua_tointegerx(L, index, &isInteger);
            if (!isInteger)
                luaL_error(L, "qm.%s: word %d is %s, which is not an integer (qm.fx makes 16.16 fixed point)",
                           exportName, index, luaL_tolstring(L, index, nullptr));
            return static_cast<QmWord>(value);
        }
        case LUA_TSTRING:
            // Lua strings end in a zero byte and stay alive while they are arguments of the call.
            return reinterpret_cast<QmWord>(lua_tostring(L, index));
        case LUA_TUSERDATA:
            if (void* address = BufferAddress(L, index)) return reinterpret_cast<QmWord>(address);
            break;
        default:
            break;
    }
    luaL_error(L, "qm.%s: word %d cannot be a %s; pass an integer, a string, a boolean, nil, qm.ints or qm.bytes",
               exportName, index, luaL_typename(L, index));
    return 0;
}

// After a call into the module: report what the frame recorder could not report from inside it, and
// end the script when the user closed the frame window.
void CheckFrames(lua_State* L, HostBindings* host, const char* exportName) {
    std::string failure = host->frames->TakeError();
    if (!failure.empty()) luaL_error(L, "qm.%s: %s", exportName, failure.c_str());
    if (host->frames->CloseRequested()) RaiseStop(L, EXIT_SUCCESS);
}

// qm.Name(w1, w2, w3, w4); upvalue 2 is the export's position in the list.
int CallExport(lua_State* L) {
    HostBindings* host = Host(L);
    const auto index = static_cast<std::size_t>(lua_tointeger(L, lua_upvalueindex(2)));
    const char* name = ExportNames()[index];
    const int count = lua_gettop(L);
    if (count > 4) luaL_error(L, "qm.%s takes at most 4 words, got %d", name, count);
    QmWord words[4] = {0, 0, 0, 0};
    for (int i = 1; i <= count; ++i) words[i - 1] = ToWord(L, i, name);

    QmExportFn fn = host->module->Export(index);
    if (fn == nullptr) {
        if (!host->module->IsOpen())
            luaL_error(L, "qm.%s: no module is loaded (%s)", name, host->module->Error().c_str());
        luaL_error(L, "qm.%s: the module %s does not export %s", name, host->module->Path().c_str(), name);
    }
    const std::int32_t result = fn(words[0], words[1], words[2], words[3]);
    CheckFrames(L, host, name);
    lua_pushinteger(L, result);
    return 1;
}

// __index of qm: reached only for names that are neither exports nor helpers.
int UnknownField(lua_State* L) {
    if (lua_type(L, 2) == LUA_TSTRING)
        luaL_error(L, "qm.%s is not an export of the module (qm.has tells whether a name is)", lua_tostring(L, 2));
    luaL_error(L, "qm has no field %s", luaL_tolstring(L, 2, nullptr));
    return 0;
}

// A real number truncated toward zero into a 32-bit word, or an error naming the helper.
lua_Integer TruncateToWord(lua_State* L, double value, const char* helper, double input) {
    const double truncated = std::trunc(value);
    if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0))
        luaL_error(L, "%s(%f): the result does not fit in a 32-bit word", helper, static_cast<lua_Number>(input));
    return static_cast<lua_Integer>(truncated);
}

// qm.fx(x): x as 16.16 fixed point, truncated toward zero.
int Fx(lua_State* L) {
    const double x = luaL_checknumber(L, 1);
    lua_pushinteger(L, TruncateToWord(L, x * 65536.0, "qm.fx", x));
    return 1;
}

// qm.real(w): the 16.16 fixed-point word w as a real number.
int Real(lua_State* L) {
    std::int32_t word = 0;
    if (!ToWord32(L, 1, &word)) luaL_error(L, "qm.real: %s is not a 32-bit word", luaL_tolstring(L, 1, nullptr));
    lua_pushnumber(L, word / 65536.0);
    return 1;
}

// qm.turn(radians): the angle in turn units, 65536 to the full turn, truncated toward zero.
int Turn(lua_State* L) {
    const double radians = luaL_checknumber(L, 1);
    lua_pushinteger(L, TruncateToWord(L, radians * 65536.0 / (2.0 * kPi), "qm.turn", radians));
    return 1;
}

// qm.has(name): whether name is an export that the loaded module provides.
int Has(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    const int index = FindExport(name);
    lua_pushboolean(L, index >= 0 && Host(L)->module->Export(static_cast<std::size_t>(index)) != nullptr);
    return 1;
}

lua_Integer CheckSide(lua_State* L, int index, const char* what) {
    int isInteger = 0;
    lua_Integer side = lua_tointegerx(L, index, &isInteger);
    if (lua_type(L, index) != LUA_TNUMBER || !isInteger || side < 1 || side > kMaxWindowSide)
        luaL_error(L, "qm.window: the %s must be an integer from 1 to %I", what, kMaxWindowSide);
    return side;
}

// qm.window(width, height): makes a host window whose frames come to the recorder and returns the
// HostWindowInfo record for Init as a qm.ints(16): word 1 width, word 2 height, word 13 the window.
int Window(lua_State* L) {
    HostBindings* host = Host(L);
    const lua_Integer width = CheckSide(L, 1, "width");
    const lua_Integer height = CheckSide(L, 2, "height");
    CreateHostWindowFn create = host->module->CreateHostWindowEntry();
    if (create == nullptr) {
        if (!host->module->IsOpen()) luaL_error(L, "qm.window: no module is loaded (%s)", host->module->Error().c_str());
        luaL_error(L, "qm.window: the module %s does not export qmCreateHostWindow", host->module->Path().c_str());
    }
    const std::int32_t id = create(&FrameRecorder::Present, host->frames);
    if (id == 0) luaL_error(L, "qm.window: the module made no host window");
    std::int32_t* info = PushInts(L, 16);
    info[1] = static_cast<std::int32_t>(width);
    info[2] = static_cast<std::int32_t>(height);
    info[13] = id;
    return 1;
}

// os.exit([code]): ends the script through the host. true or no code is success, false failure.
int Exit(lua_State* L) {
    int code = EXIT_SUCCESS;
    if (lua_isboolean(L, 1))
        code = lua_toboolean(L, 1) ? EXIT_SUCCESS : EXIT_FAILURE;
    else if (!lua_isnoneornil(L, 1))
        code = static_cast<int>(luaL_checkinteger(L, 1));
    RaiseStop(L, code);
}

int StopToString(lua_State* L) {
    lua_pushfstring(L, "script stopped with exit code %d", *static_cast<int*>(luaL_checkudata(L, 1, kStopType)));
    return 1;
}

}  // namespace

void OpenQmLibrary(lua_State* L, HostBindings* host) {
    RegisterBufferTypes(L);
    luaL_newmetatable(L, kStopType);
    lua_pushcfunction(L, StopToString);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);

    lua_createtable(L, 0, QM_EXPORT_COUNT + 8);
    const auto names = ExportNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        lua_pushlightuserdata(L, host);
        lua_pushinteger(L, static_cast<lua_Integer>(i));
        lua_pushcclosure(L, CallExport, 2);
        lua_setfield(L, -2, names[i]);
    }
    static const luaL_Reg helpers[] = {{"ints", NewInts},   {"bytes", NewBytes},   {"fx", Fx},
                                       {"real", Real},      {"turn", Turn},        {"has", Has},
                                       {"window", Window},  {nullptr, nullptr}};
    lua_pushlightuserdata(L, host);
    luaL_setfuncs(L, helpers, 1);

    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, UnknownField);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);

    lua_pushvalue(L, -1);
    lua_setglobal(L, "qm");
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    lua_insert(L, -2);
    lua_setfield(L, -2, "qm");
    lua_pop(L, 1);

    if (lua_getglobal(L, "os") == LUA_TTABLE) {
        lua_pushcfunction(L, Exit);
        lua_setfield(L, -2, "exit");
    }
    lua_pop(L, 1);
}

bool IsStopRequest(lua_State* L, int index, int* exitCode) {
    auto* code = static_cast<int*>(luaL_testudata(L, index, kStopType));
    if (code == nullptr) return false;
    *exitCode = *code;
    return true;
}

}  // namespace qm
