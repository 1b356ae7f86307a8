// lua_buffers.h: host buffers for scripts: qm.ints (32-bit words) and qm.bytes, whose addresses the
// exports receive, and the reading of 32-bit words from Lua numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include <lua.hpp>

namespace qm {

// Registers the metatables of both buffer kinds; call once per state before the functions below.
void RegisterBufferTypes(lua_State* L);

// qm.ints(n) or qm.ints{w0, w1, ...}: n zero words, or the list's words in order (list[1] is word 0).
int NewInts(lua_State* L);
// qm.bytes(n): n zero bytes.
int NewBytes(lua_State* L);

// Pushes a new qm.ints of n zero words and returns its words.
std::int32_t* PushInts(lua_State* L, std::size_t n);

// The address of the buffer at stack index, or null when the value is no qm.ints or qm.bytes.
void* BufferAddress(lua_State* L, int index);

// Reads a 32-bit word: an integer (or a float with an integral value) from -2^31 to 2^32 - 1.
// Values from 2^31 up are taken as their 32-bit pattern, so 0xFFFF0000 is -65536 as a script that
// writes hexadecimal words means it. Returns false for anything else.
bool ToWord32(lua_State* L, int index, std::int32_t* word);

}  // namespace qm
