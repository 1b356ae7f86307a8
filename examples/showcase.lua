-- showcase.lua: the module's showcase. A skinned character sways across the floor, its Run and Walk
-- animations cross-faded with track weights; a textured box rides beside it, placed in the
-- character's space and tinted in pulses; a warm key light, a blue point light and a red spot light
-- colour the scene; a particle fountain plays in front; a ray from the camera picks the character and
-- the hit is marked with a yellow point; textured sprites from five kinds of picture file (one
-- mirrored, one translucent) line the bottom; a title, a status block with tabs and a line of
-- Japanese text are printed over it all.
-- Run: qmhost [--frames DIR] [--window] examples/showcase.lua [frame count, default 60]
-- The demo command writes the pictures (QUILLMERE_IMAGES, default out/images) and the models with
-- their textures (QUILLMERE_MODELS, default out/models) first and runs the script from the models'
-- folder, where the models' texture names lead. Whatever is missing is left out of the scene.

local frameCount = math.tointeger(tonumber(arg[1] or "60"))
assert(frameCount and frameCount > 0, "the frame count must be a whole number above 0")

-- Calls an export and prints what it returned.
local function call(name, ...)
  local result = qm[name](...)
  print(("%s -> %d"):format(name, result))
  return result
end

local WIDTH, HEIGHT = 640, 480
local root = (arg[0]:match("^(.*)/examples/[^/]*$")) or "."
local images = os.getenv("QUILLMERE_IMAGES") or (root .. "/out/images")
local models = os.getenv("QUILLMERE_MODELS") or (root .. "/out/models")

-- Direct3D codes the script uses.
local RS = {ZENABLE = 7, ZWRITEENABLE = 14, ALPHABLENDENABLE = 27, SRCBLEND = 19, DESTBLEND = 20, LIGHTING = 137,
            POINTSIZE = 154}
local BLEND_ONE, BLEND_SRCALPHA, BLEND_INVSRCALPHA = 2, 5, 6
local TSS_ALPHAOP, TOP_MODULATE = 4, 4
local POINT, SPOT, DIRECTIONAL = 1, 2, 3
local ONE = qm.fx(1)

-- A 32-bit float's bits as a word, for the render states that take floats.
local function floatBits(x) return (string.unpack("<i4", string.pack("<f", x))) end

-- ---- Device, camera, lights ---------------------------------------------------------------------
local info = qm.window(WIDTH, HEIGHT)
if call("Init", info) ~= 0 then
  print("no device: the frames below will not be presented")
end

local camera = {0, 1.5, -5}
call("SetCameraPos", qm.fx(camera[1]), qm.fx(camera[2]), qm.fx(camera[3]))
call("SetCameraTarget", 0, qm.fx(0.5), 0)
call("SetCameraUp", 0, ONE, 0)
call("SetProj", qm.ints{qm.fx(0.8), WIDTH, HEIGHT, qm.fx(0.125), qm.fx(100)})

call("SetAmbient", 40, 40, 52, 255)
call("AddLight", 1, DIRECTIONAL)   -- warm key light from the upper left
call("SetLightColor", 1, qm.fx(1.0), qm.fx(0.9), qm.fx(0.75))
call("SetLightSpecular", 1, qm.fx(0.6), qm.fx(0.6), qm.fx(0.6))
call("SetLightDirection", 1, qm.fx(-0.4), qm.fx(-1.0), qm.fx(0.6))
call("AddLight", 2, POINT)         -- cool blue point light on the right
call("SetLightParam", qm.ints{
  qm.fx(0.3), qm.fx(0.5), qm.fx(1.0),   -- diffuse r, g, b
  qm.fx(0.2), qm.fx(0.3), qm.fx(0.5),   -- specular r, g, b
  qm.fx(2.5), qm.fx(2.0), qm.fx(-1.5),  -- position
  0, 0, 0,                              -- direction: a point light has none
  qm.fx(1.0), qm.fx(0.05), 0,           -- attenuation: constant, linear, quadratic
}, 2)
call("AddLight", 3, SPOT)          -- red spot light from above, aimed at the box's path
call("SetLightColor", 3, qm.fx(0.9), qm.fx(0.15), qm.fx(0.1))
call("SetLightPosition", 3, qm.fx(1.0), qm.fx(4.0), qm.fx(0.5))
call("SetLightDirection", 3, 0, qm.fx(-1.0), 0)
call("SetLightAttenuation", 3, qm.fx(1.0), 0, 0)

-- ---- Script math --------------------------------------------------------------------------------
local wave = qm.ints(256)
call("GetSinTable", wave, 256)
local out = qm.ints(1)
call("Atan", out, ONE, ONE)
print(("Atan(1, 1) = %d turn units = %.3f degrees"):format(out[0], out[0] * 360 / 65536))
call("Len", out, qm.fx(3), qm.fx(4), qm.fx(12))
print(("Len(3, 4, 12) = %d = %.4f"):format(out[0], qm.real(out[0])))
local function sine(step) return wave[step % 256] / 65536 end

-- ---- Textures for the sprites -------------------------------------------------------------------
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

-- ---- Models -------------------------------------------------------------------------------------
local CHARACTER, BOX = 1, 2
local haveCharacter = call("LoadModel", 0, models .. "/character_txt.x", CHARACTER) == 0
local haveBox = call("LoadModel", 0, models .. "/static_model_bzip.x", BOX) == 0
if haveCharacter then
  -- One track per animation set, sets in reverse file order: track 0 plays Run, track 1 Walk.
  print(("the character has %d animation sets"):format(-qm.GetAnimNum(CHARACTER)))
  call("SetTrackEnable", CHARACTER, 1, 1)
  local name = qm.bytes(256)
  local names = {}
  for index = 0, 15 do
    if qm.GetFrameNameByIndex(CHARACTER, index, 0, name) == 0 then names[#names + 1] = name:string() end
  end
  print("character frames: " .. table.concat(names, ", "))
end

-- ---- Fonts --------------------------------------------------------------------------------------
-- Record: width (0 keeps the face's aspect), height (negative: character height in pixels), style
-- bits (1 bold, 2 italic, 4 underline, 8 strike-out), character set (1 Shift-JIS).
local titleFont = qm.ints{0, -26, 1, 0}
local statusFont = qm.ints{0, -14, 0, 0}
local japaneseFont = qm.ints{0, -18, 0, 1}
-- "日本語のテキストを表示します" in Shift-JIS when the system code page is 932, else in UTF-8.
local japanese
if os.getenv("QUILLMERE_CODEPAGE") == "932" then
  japanese = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x82\xf0\x95\x5c\x8e\xa6\x82\xb5\x82\xdc\x82\xb7"
else
  japanese = "\u{65E5}\u{672C}\u{8A9E}\u{306E}\u{30C6}\u{30AD}\u{30B9}\u{30C8}\u{3092}\u{8868}\u{793A}\u{3057}\u{307E}\u{3059}"
end

-- ---- Per-frame pieces ---------------------------------------------------------------------------
local posture = qm.ints(10)
local function setPosture(x, y, z, turn, scale, seconds)
  posture[0], posture[1], posture[2] = qm.fx(x), qm.fx(y), qm.fx(z)
  posture[3], posture[4], posture[5] = 0, turn % 65536, 0
  posture[6], posture[7], posture[8] = qm.fx(scale), qm.fx(scale), qm.fx(scale)
  posture[9] = qm.fx(seconds)
end

-- Particle systems: 1 the fountain, 2 the marker of the ray's hit.
local FOUNTAIN, MARKER = 1, 2
local emission = qm.ints(12)
local function emit(system, life, position, velocity, acceleration, colour, colourStep)
  emission[0] = life
  for i = 1, 3 do
    emission[i] = qm.fx(position[i])
    emission[3 + i] = qm.fx(velocity[i])
    emission[6 + i] = qm.fx(acceleration[i])
  end
  emission[10], emission[11] = colour, colourStep
  return qm.AddParticle(emission, system)
end
local seed = 12345
local function random()  -- a small linear congruential generator, so every run draws the same frames
  seed = (seed * 1103515245 + 12345) % 2147483648
  return seed / 2147483648
end

-- Draws a particle system as unlit, additive points of the given size; on top of everything when
-- asked, else hidden behind nearer surfaces.
local function drawPoints(system, size, onTop)
  qm.SetRenderState(RS.LIGHTING, 0)
  if onTop then qm.SetRenderState(RS.ZENABLE, 0) end
  qm.SetRenderState(RS.ZWRITEENABLE, 0)
  qm.SetRenderState(RS.ALPHABLENDENABLE, 1)
  qm.SetRenderState(RS.SRCBLEND, BLEND_SRCALPHA)
  qm.SetRenderState(RS.DESTBLEND, BLEND_ONE)
  qm.SetRenderState(RS.POINTSIZE, floatBits(size))
  qm.SetTexture(-1)
  local result = qm.DrawParticle(system)
  qm.SetRenderState(RS.POINTSIZE, floatBits(1.0))
  qm.SetRenderState(RS.DESTBLEND, BLEND_INVSRCALPHA)
  qm.SetRenderState(RS.ALPHABLENDENABLE, 0)
  qm.SetRenderState(RS.ZWRITEENABLE, 1)
  qm.SetRenderState(RS.ZENABLE, 1)
  qm.SetRenderState(RS.LIGHTING, 1)
  return result
end

local sprite = qm.ints(8)
local function drawSprite(x, y, w, h, u0, v0, u1, v1)
  sprite[0], sprite[1], sprite[2], sprite[3] = x, y, x + w, y + h
  sprite[4], sprite[5], sprite[6], sprite[7] = u0, v0, u1, v1
  return qm.DrawSprite(sprite)
end

-- A row of the five textures along the bottom, the checker board again mirrored (its arrow points
-- left), and a translucent sunset sliding over the row.
local function drawSprites(frame)
  qm.SetRenderState(RS.ALPHABLENDENABLE, 1)
  qm.SetRenderState(RS.SRCBLEND, BLEND_SRCALPHA)
  qm.SetRenderState(RS.DESTBLEND, BLEND_INVSRCALPHA)
  qm.SetTexStageState(TSS_ALPHAOP, TOP_MODULATE)  -- texture alpha times the draw colour's alpha
  qm.SetColor(255, 255, 255, 255)
  for i, picture in ipairs(pictures) do
    qm.SetTexture(picture.loaded and picture.key or -1)
    drawSprite(12 + (i - 1) * 76, 404, 64, 64, 0, 0, ONE, ONE)
  end
  qm.SetTexture(3)
  drawSprite(392, 404, 64, 64, ONE, 0, 0, ONE)
  qm.SetTexture(2)
  qm.SetColor(255, 255, 255, 128)
  drawSprite(12 + (frame * 6) % 400, 380, 96, 72, 0, 0, ONE, ONE)
  qm.SetColor(255, 255, 255, 255)
  qm.SetRenderState(RS.ALPHABLENDENABLE, 0)
  qm.SetTexture(-1)
end

-- ---- The frames ---------------------------------------------------------------------------------
local tint = qm.ints(4)
local ray = qm.ints(9)
local hits = 0
local liveParticles = 0
for frame = 0, frameCount - 1 do
  local seconds = frame / 30
  local step = frame * 2
  qm.SetBgColor(24 + math.floor(10 * sine(step)), 30, 46 + math.floor(12 * sine(step + 64)), 255)
  qm.BeginScene(0)

  -- The character sways along the floor while Run fades into Walk and back.
  local runWeight = 0.5 + 0.5 * sine(step)
  local characterX = -1.4 + 0.6 * sine(step // 2 + 64)
  if haveCharacter then
    qm.SetTrackWeight(CHARACTER, 0, qm.fx(runWeight))
    qm.SetTrackWeight(CHARACTER, 1, qm.fx(1 - runWeight))
    setPosture(characterX, -0.5, 0.5, frame * 400, 1, seconds)
    qm.SetPosture(posture, CHARACTER)
    qm.DrawModel(CHARACTER)
  end

  -- The box rides 1.6 units to the character's right in its space, spinning, its colours pulsing.
  if haveBox then
    setPosture(1.6, 1.0 + 0.2 * sine(step * 2), 0, frame * -900, 0.5, 0)
    if haveCharacter then
      qm.SetPostureLocal(posture, BOX, CHARACTER)
    else
      qm.SetPosture(posture, BOX)
    end
    local level = 0.75 + 0.25 * sine(step * 3)
    tint[0], tint[1], tint[2], tint[3] = qm.fx(level), qm.fx(level), qm.fx(level), ONE
    qm.SetObjColor(tint, BOX)
    qm.DrawModel(BOX)
  end

  -- Pick: a ray from the camera toward the character's middle; the hit gets a yellow point.
  local rayResult = "no model"
  local marked = false
  if haveCharacter then
    local direction = {characterX - camera[1], 0.5 - camera[2], 0.5 - camera[3]}
    for i = 1, 3 do
      ray[i - 1] = qm.fx(camera[i])
      ray[i + 2] = qm.fx(direction[i])
    end
    qm.IntersectWorld(ray, CHARACTER)
    if ray[7] >= 0 then
      hits = hits + 1
      local t = qm.real(ray[6])
      local hit = {}
      for i = 1, 3 do hit[i] = camera[i] + direction[i] * t end
      rayResult = ("hit face %d at (%.2f, %.2f, %.2f)"):format(ray[7], hit[1], hit[2], hit[3])
      marked = emit(MARKER, 0, hit, {0, 0, 0}, {0, 0, 0}, 0xFFFFF040, 0x80808080) == 0
    else
      rayResult = "missed"
    end
  end

  -- The fountain: six new drops a frame, thrown up and falling back, fading as they go.
  for _ = 1, 6 do
    local angle = random() * 2 * math.pi
    local spread = 0.01 + 0.02 * random()
    emit(FOUNTAIN, 36, {0.6, -0.5, -1.2},
         {spread * math.cos(angle), 0.07 + 0.02 * random(), spread * math.sin(angle)},
         {0, -0.004, 0}, 0xFF60B0FF, 0x79837E80)
  end
  liveParticles = -qm.UpdateParticle(FOUNTAIN)
  drawPoints(FOUNTAIN, 4.0, false)
  if marked then
    drawPoints(MARKER, 9.0, true)
    qm.UpdateParticle(MARKER)  -- the marker lives for this frame only
  end

  drawSprites(frame)

  -- Text: a title, a status block with tabs and line breaks, and a line of Japanese.
  qm.SetFont(titleFont, "Arial")
  qm.SetColor(255, 236, 160, 255)
  qm.PrintText(0, "Quillmere showcase", 16, 12)
  qm.SetFont(statusFont, "Arial")
  qm.SetColor(220, 230, 255, 255)
  qm.PrintText(0, ("frame\t%d of %d\nparticles\t%d\ntracks\tRun %d%%, Walk %d%%\nray\t%s")
    :format(frame + 1, frameCount, liveParticles, math.floor(runWeight * 100 + 0.5),
            math.floor((1 - runWeight) * 100 + 0.5), rayResult), 16, 48)
  qm.SetFont(japaneseFont, "MS Gothic")
  qm.SetColor(255, 255, 255, 255)
  qm.PrintText(0, japanese, 16, 128)

  qm.EndScene()
end

print(("%d frames rendered; the ray hit the character in %d of them; %d particles alive at the end")
  :format(frameCount, hits, liveParticles))
for _, picture in ipairs(pictures) do call("FreeTexture", picture.key) end
call("FreeModel", CHARACTER)
call("FreeModel", BOX)
call("Bye")
