-- showcase.lua: the module's showcase, first scene: a 640x480 window, camera and projection, ambient
-- light and two lights, the script math exports, and frames over a slowly changing background.
-- Run: qmhost [--frames DIR] [--window] examples/showcase.lua [frame count, default 60]

local frameCount = math.tointeger(tonumber(arg[1] or "60"))
assert(frameCount and frameCount > 0, "the frame count must be a whole number above 0")

-- Calls an export and prints what it returned. Parts of the engine that are not built yet answer -1;
-- the scene goes on without them.
local function call(name, ...)
  local result = qm[name](...)
  print(("%s -> %d"):format(name, result))
  return result
end

-- The window and the device.
local info = qm.window(640, 480)
if call("Init", info) ~= 0 then
  print("no device: the frames below will not be presented")
end

-- The camera looks slightly down at the origin; field of view 0.8 radian, aspect 640 / 480.
call("SetCameraPos", 0, qm.fx(1.5), qm.fx(-5))
call("SetCameraTarget", 0, qm.fx(0.5), 0)
call("SetCameraUp", 0, qm.fx(1), 0)
call("SetProj", qm.ints{qm.fx(0.8), 640, 480, qm.fx(0.125), qm.fx(100)})

-- A dim blue ambient, a warm directional key light (key 1) and a cool point light (key 2).
local POINT, DIRECTIONAL = 1, 3
call("SetAmbient", 32, 36, 48, 255)
call("AddLight", 1, DIRECTIONAL)
call("SetLightColor", 1, qm.fx(1.0), qm.fx(0.92), qm.fx(0.8))
call("SetLightSpecular", 1, qm.fx(0.6), qm.fx(0.6), qm.fx(0.6))
call("SetLightDirection", 1, qm.fx(-0.4), qm.fx(-1.0), qm.fx(0.6))
call("AddLight", 2, POINT)
call("SetLightParam", qm.ints{
  qm.fx(0.3), qm.fx(0.5), qm.fx(1.0),   -- diffuse r, g, b
  qm.fx(0.2), qm.fx(0.3), qm.fx(0.5),   -- specular r, g, b
  qm.fx(2.0), qm.fx(3.0), qm.fx(-2.0),  -- position
  0, 0, 0,                              -- direction: a point light has none
  qm.fx(1.0), qm.fx(0.05), 0,           -- attenuation: constant, linear, quadratic
}, 2)
call("SetLightAttenuation", 2, qm.fx(1.0), qm.fx(0.1), 0)

-- Script math: a sine table, an angle and a length, in the module's own number formats.
local steps = 8
local sines = qm.ints(steps)
call("GetSinTable", sines, steps)
local row = {}
for i = 0, steps - 1 do row[#row + 1] = ("%d"):format(sines[i]) end
print(("sine table, %d steps of a turn: %s"):format(steps, table.concat(row, " ")))
local out = qm.ints(1)
call("Atan", out, qm.fx(1), qm.fx(1))
print(("Atan(1, 1) = %d turn units = %.3f degrees"):format(out[0], out[0] * 360 / 65536))
call("Len", out, qm.fx(3), qm.fx(4), qm.fx(12))
print(("Len(3, 4, 12) = %d = %.4f"):format(out[0], qm.real(out[0])))

-- The frames: each colour channel follows the module's sine table, a third of a turn apart, two
-- table steps (of 256 to the turn) per frame.
local wave = qm.ints(256)
qm.GetSinTable(wave, 256)
local function level(step, base, depth)
  return base + depth * wave[step % 256] // 65536
end
for frame = 0, frameCount - 1 do
  local step = frame * 2
  qm.SetBgColor(level(step, 40, 24), level(step + 85, 56, 24), level(step + 171, 96, 32), 255)
  qm.BeginScene(0)
  qm.EndScene()
end
print(("%d frames rendered"):format(frameCount))
call("Bye")
