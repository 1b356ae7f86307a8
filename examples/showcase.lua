-- showcase.lua: the module's showcase, first scene: a 640x480 window, camera and projection, ambient
-- light and two lights, the script math exports, textured sprites from five kinds of picture file,
-- and frames over a slowly changing background.
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

-- Textures from the five kinds of picture file that tools/make_images.py --showcase writes (the demo
-- command puts them in out/images; QUILLMERE_IMAGES names another folder).
local root = (arg[0]:match("^(.*)/examples/[^/]*$")) or "."
local images = os.getenv("QUILLMERE_IMAGES") or (root .. "/out/images")
local pictures = {
  {key = 1, file = "showcase-disc.png"},     -- with an alpha channel that fades at the edge
  {key = 2, file = "showcase-sunset.jpg"},
  {key = 3, file = "showcase-checker.bmp"},  -- an arrow pointing right
  {key = 4, file = "showcase-stripes.tga"},  -- every other stripe half transparent
  {key = 5, file = "showcase-rings.dds"},    -- three mip levels in the file, the rest generated
}
for _, picture in ipairs(pictures) do
  picture.loaded = call("LoadTexture", 0, images .. "/" .. picture.file, picture.key) == 0
end

-- Render-state and stage codes of the sprites' blending.
local ALPHABLENDENABLE, ALPHAOP, MODULATE = 27, 4, 4
local ONE = qm.fx(1)

-- One sprite: the rectangle at (x, y), w x h pixels, with texture coordinates u0..u1 and v0..v1.
local sprite = qm.ints(8)
local function drawSprite(x, y, w, h, u0, v0, u1, v1)
  sprite[0], sprite[1], sprite[2], sprite[3] = x, y, x + w, y + h
  sprite[4], sprite[5], sprite[6], sprite[7] = u0, v0, u1, v1
  return qm.DrawSprite(sprite)
end

-- The sprites of a frame: a row of the five textures along the bottom, the checker board again
-- mirrored (its arrow points left), and a translucent sunset sliding over the row.
local function drawSprites(frame)
  qm.SetRenderState(ALPHABLENDENABLE, 1)
  qm.SetTexStageState(ALPHAOP, MODULATE)  -- texture alpha times the draw colour's alpha
  qm.SetColor(255, 255, 255, 255)
  for i, picture in ipairs(pictures) do
    qm.SetTexture(picture.loaded and picture.key or -1)
    drawSprite(24 + (i - 1) * 120, 340, 112, 112, 0, 0, ONE, ONE)
  end
  qm.SetTexture(3)
  drawSprite(24, 200, 112, 112, ONE, 0, 0, ONE)
  qm.SetTexture(2)
  qm.SetColor(255, 255, 255, 128)
  drawSprite(160 + (frame * 4) % 320, 280, 160, 120, 0, 0, ONE, ONE)
  qm.SetColor(255, 255, 255, 255)
  qm.SetRenderState(ALPHABLENDENABLE, 0)
  qm.SetTexture(-1)
end

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
  drawSprites(frame)
  qm.EndScene()
end
for _, picture in ipairs(pictures) do call("FreeTexture", picture.key) end
print(("%d frames rendered"):format(frameCount))
call("Bye")

-- ---- Models: an animated, skinned character and a textured box from X files ----------------------
-- tools/make_xfiles.py --assets writes the models (the demo command puts them in out/models;
-- QUILLMERE_MODELS names another folder). Bye above freed the textures; the device stays open, so
-- this second run of frames shows the models on their own.
local models = os.getenv("QUILLMERE_MODELS") or (root .. "/out/models")
local CHARACTER, BOX = 1, 2
local haveCharacter = call("LoadModel", 0, models .. "/character_txt.x", CHARACTER) == 0
local haveBox = call("LoadModel", 0, models .. "/static_model_bzip.x", BOX) == 0

if haveCharacter then
  -- Each animation set has its own track; track 0 plays the file's last set (Run). Walk (track 1)
  -- joins at half weight, so the two poses blend.
  print(("the character has %d animation sets"):format(-qm.GetAnimNum(CHARACTER)))
  call("SetTrackEnable", CHARACTER, 1, 1)
  call("SetTrackWeight", CHARACTER, 1, qm.fx(0.5))
  -- Frame names by walk order: the root first, then its siblings' subtrees, then its children.
  local name = qm.bytes(256)
  local names = {}
  for index = 0, 15 do
    if qm.GetFrameNameByIndex(CHARACTER, index, 0, name) == 0 then names[#names + 1] = name:string() end
  end
  print("character frames: " .. table.concat(names, ", "))
end

-- Places a model: position, a turn about Y (turn units), a uniform scale, and the animation time.
local posture = qm.ints(10)
local function place(key, x, y, z, turn, scale, seconds)
  posture[0], posture[1], posture[2] = qm.fx(x), qm.fx(y), qm.fx(z)
  posture[3], posture[4], posture[5] = 0, turn, 0
  posture[6], posture[7], posture[8] = qm.fx(scale), qm.fx(scale), qm.fx(scale)
  posture[9] = qm.fx(seconds)
  return qm.SetPosture(posture, key)
end

local tint = qm.ints(4)
local ray = qm.ints(9)
local point = qm.ints(6)
local topBone = qm.ints(1)
for frame = 0, frameCount - 1 do
  local seconds = frame / 30
  qm.SetBgColor(24, 28, 40, 255)
  qm.BeginScene(0)
  if haveCharacter then
    place(CHARACTER, -0.8, -0.5, 0.5, (frame * 512) % 65536, 1, seconds)
    qm.DrawModel(CHARACTER)
  end
  if haveBox then
    place(BOX, 1.6, 0.3, 1.0, (frame * -768) % 65536, 0.5, 0)
    -- The box's colours pulse: every material's colours times a level between 0.5 and 1.
    local level = qm.fx(0.75 + 0.25 * math.sin(frame / 6))
    tint[0], tint[1], tint[2], tint[3] = level, level, level, qm.fx(1)
    qm.SetObjColor(tint, BOX)
    qm.DrawModel(BOX)
  end
  qm.EndScene()
end

if haveCharacter then
  -- Where the top bone ended up, found by its name among the frames in walk order, and what a ray
  -- from the camera toward the character hits.
  local name = qm.bytes(64)
  for index = 0, 63 do
    if qm.GetFramePtrByIndex(topBone, CHARACTER, index) ~= 0 or topBone[0] == 0 then break end
    if qm.GetFrameNameByIndex(CHARACTER, index, 0, name) == 0 and name:string() == "Bone2" then
      point[0], point[1], point[2] = 0, 0, 0
      qm.GetFrameVec(point, topBone[0], 0, 3)
      print(("Bone2 is at (%.3f, %.3f, %.3f)"):format(qm.real(point[3]), qm.real(point[4]), qm.real(point[5])))
      break
    end
  end
  ray[0], ray[1], ray[2] = 0, qm.fx(1.5), qm.fx(-5)
  ray[3], ray[4], ray[5] = qm.fx(-0.8), qm.fx(-1.0), qm.fx(5.5)
  call("IntersectWorld", ray, CHARACTER)
  if ray[7] >= 0 then
    print(("the camera's ray meets the character %.3f ray lengths away, face %d, material %d")
      :format(qm.real(ray[6]), ray[7], ray[8]))
  else
    print("the camera's ray misses the character")
  end
end
call("FreeModel", CHARACTER)
call("FreeModel", BOX)
call("Bye")
