#!/usr/bin/env python3
"""make_xfiles.py: writes one small X-file scene (a frame hierarchy with a skinned mesh, a material
list with texture names, animation sets) in text, binary (32- and 64-bit floats) and compressed
(MSZIP blocks) encodings, for the tests, benchmarks and examples.

Usage: make_xfiles.py OUTDIR [--grid N] [--name BASE]
Writes BASE_txt.x, BASE_bin32.x, BASE_bin64.x, BASE_tzip.x and BASE_bzip.x. The mesh is a grid of
N x N quads (default 4); N = 64 gives files whose compressed body spans several 32 KiB blocks.
Every float is a 32-bit value, so all encodings carry exactly the same data.

       make_xfiles.py OUTDIR --assets
Writes the sample models, each as NAME_txt.x (text), NAME_bin.x (binary, 32-bit floats) and
NAME_bzip.x (the binary file MSZIP-compressed): "static_model" (a multi-material textured box with
duplicated corner vertices), "hierarchy" (nested frames with meshes, shared materials and an
unnamed frame) and "character" (a skinned, animated column: three bones, three animation sets,
AnimTicksPerSecond).

       make_xfiles.py OUTDIR --large [--vertices V] [--keys K]
Writes large_character_{txt,bin,bzip}.x (and the _bin_peer, _bzip_peer copies described at
write_model): a skinned column of about V vertices (default 100000) with
animation sets holding about K keys in all (default 20000), for the load benchmark.
"""

import argparse
import math
import os
import struct
import zlib

# Standard templates: (name, GUID, members, children rule). A member is (type, name) or
# (type, name, [dimensions]); the children rule is None (closed), "..." (open) or a list of
# (template name, GUID) pairs.
TEMPLATES = [
    ("Header", "3D82AB43-62DA-11CF-AB39-0020AF71E433",
     [("WORD", "major"), ("WORD", "minor"), ("DWORD", "flags")], None),
    ("Vector", "3D82AB5E-62DA-11CF-AB39-0020AF71E433",
     [("FLOAT", "x"), ("FLOAT", "y"), ("FLOAT", "z")], None),
    ("Coords2d", "F6F23F44-7686-11CF-8F52-0040333594A3", [("FLOAT", "u"), ("FLOAT", "v")], None),
    ("Matrix4x4", "F6F23F45-7686-11CF-8F52-0040333594A3", [("FLOAT", "matrix", ["16"])], None),
    ("ColorRGBA", "35FF44E0-6C7C-11CF-8F52-0040333594A3",
     [("FLOAT", "red"), ("FLOAT", "green"), ("FLOAT", "blue"), ("FLOAT", "alpha")], None),
    ("ColorRGB", "D3E16E81-7835-11CF-8F52-0040333594A3",
     [("FLOAT", "red"), ("FLOAT", "green"), ("FLOAT", "blue")], None),
    ("TextureFilename", "A42790E1-7810-11CF-8F52-0040333594A3", [("STRING", "filename")], None),
    ("Material", "3D82AB4D-62DA-11CF-AB39-0020AF71E433",
     [("ColorRGBA", "faceColor"), ("FLOAT", "power"), ("ColorRGB", "specularColor"),
      ("ColorRGB", "emissiveColor")], "..."),
    ("MeshFace", "3D82AB5F-62DA-11CF-AB39-0020AF71E433",
     [("DWORD", "nFaceVertexIndices"), ("DWORD", "faceVertexIndices", ["nFaceVertexIndices"])], None),
    ("MeshTextureCoords", "F6F23F40-7686-11CF-8F52-0040333594A3",
     [("DWORD", "nTextureCoords"), ("Coords2d", "textureCoords", ["nTextureCoords"])], None),
    ("MeshMaterialList", "F6F23F42-7686-11CF-8F52-0040333594A3",
     [("DWORD", "nMaterials"), ("DWORD", "nFaceIndexes"), ("DWORD", "faceIndexes", ["nFaceIndexes"])],
     [("Material", "3D82AB4D-62DA-11CF-AB39-0020AF71E433")]),
    ("MeshNormals", "F6F23F43-7686-11CF-8F52-0040333594A3",
     [("DWORD", "nNormals"), ("Vector", "normals", ["nNormals"]), ("DWORD", "nFaceNormals"),
      ("MeshFace", "faceNormals", ["nFaceNormals"])], None),
    ("Mesh", "3D82AB44-62DA-11CF-AB39-0020AF71E433",
     [("DWORD", "nVertices"), ("Vector", "vertices", ["nVertices"]), ("DWORD", "nFaces"),
      ("MeshFace", "faces", ["nFaces"])], "..."),
    ("FrameTransformMatrix", "F6F23F41-7686-11CF-8F52-0040333594A3", [("Matrix4x4", "frameMatrix")], None),
    ("Frame", "3D82AB46-62DA-11CF-AB39-0020AF71E433", [], "..."),
    ("FloatKeys", "10DD46A9-775B-11CF-8F52-0040333594A3",
     [("DWORD", "nValues"), ("FLOAT", "values", ["nValues"])], None),
    ("TimedFloatKeys", "F406B180-7B3B-11CF-8F52-0040333594A3",
     [("DWORD", "time"), ("FloatKeys", "tfkeys")], None),
    ("AnimationKey", "10DD46A8-775B-11CF-8F52-0040333594A3",
     [("DWORD", "keyType"), ("DWORD", "nKeys"), ("TimedFloatKeys", "keys", ["nKeys"])], None),
    ("AnimationOptions", "E2BF56C0-840F-11CF-8F52-0040333594A3",
     [("DWORD", "openclosed"), ("DWORD", "positionquality")], None),
    ("Animation", "3D82AB4F-62DA-11CF-AB39-0020AF71E433", [], "..."),
    ("AnimationSet", "3D82AB50-62DA-11CF-AB39-0020AF71E433", [],
     [("Animation", "3D82AB4F-62DA-11CF-AB39-0020AF71E433")]),
    ("AnimTicksPerSecond", "9E415A43-7BA6-4A73-8743-B73D47E88476", [("DWORD", "AnimTicksPerSecond")], None),
    ("XSkinMeshHeader", "3CF169CE-FF7C-44AB-93C0-F78F62D172E2",
     [("WORD", "nMaxSkinWeightsPerVertex"), ("WORD", "nMaxSkinWeightsPerFace"), ("WORD", "nBones")], None),
    ("SkinWeights", "6F0D123B-BAD2-4167-A0D0-80224F25FABB",
     [("STRING", "transformNodeName"), ("DWORD", "nWeights"), ("DWORD", "vertexIndices", ["nWeights"]),
      ("FLOAT", "weights", ["nWeights"]), ("Matrix4x4", "matrixOffset")], None),
]

# Templates that only the sample models use; the scene above does not declare them.
EXTRA_TEMPLATES = [
    ("IndexedColor", "1630B820-7842-11CF-8F52-0040333594A3", [("DWORD", "index"), ("ColorRGBA", "indexColor")], None),
    ("MeshVertexColors", "1630B821-7842-11CF-8F52-0040333594A3",
     [("DWORD", "nVertexColors"), ("IndexedColor", "vertexColors", ["nVertexColors"])], None),
    ("VertexDuplicationIndices", "B8D65549-D7C9-4995-89CF-53A9A8B031E3",
     [("DWORD", "nIndices"), ("DWORD", "nOriginalVertices"), ("DWORD", "indices", ["nIndices"])], None),
    ("EffectParamFloats", "3014B9A0-62F5-478C-9B86-E4AC9F4E418B",
     [("STRING", "ParamName"), ("DWORD", "nFloats"), ("FLOAT", "Floats", ["nFloats"])], None),
    ("EffectParamString", "1DBC4C88-94C1-46EE-9076-2C28818C9481",
     [("STRING", "ParamName"), ("STRING", "Value")], None),
    ("EffectInstance", "E331F7E4-0559-4CC2-8E99-1CEC1657928F", [("STRING", "EffectFilename")], "..."),
]
ASSET_TEMPLATES = TEMPLATES + EXTRA_TEMPLATES
TEMPLATE_BY_NAME = {t[0]: t for t in ASSET_TEMPLATES}
PRIMITIVES = {"WORD", "DWORD", "FLOAT", "DOUBLE", "CHAR", "UCHAR", "BYTE", "STRING", "SWORD", "SDWORD"}
INTEGERS = {"WORD", "DWORD", "CHAR", "UCHAR", "BYTE", "SWORD", "SDWORD"}


def f32(x):
    """The nearest 32-bit float, as a Python float."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


class Obj:
    """A data object: template name, optional name and GUID, member values in declaration order
    (scalars, lists for arrays, lists for nested templates), and children (Obj or Ref)."""

    def __init__(self, template, name=None, values=(), children=(), guid=None):
        self.template, self.name, self.values = template, name, list(values)
        self.children, self.guid = list(children), guid


class Ref:
    def __init__(self, name=None, guid=None):
        self.name, self.guid = name, guid


IDENTITY = [1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0]


def translation(x, y, z):
    return [1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, f32(x), f32(y), f32(z), 1.0]


def build_scene(grid):
    """The scene every encoding carries."""
    n = grid
    verts, uvs, faces, normals, face_normals, materials = [], [], [], [], [], []
    for j in range(n + 1):
        for i in range(n + 1):
            x, z = i / n * 2.0 - 1.0, j / n * 2.0 - 1.0
            verts.append([f32(x), f32(0.25 * math.sin(3.0 * x) * math.cos(2.0 * z)), f32(z)])
            uvs.append([f32(i / n), f32(j / n)])
    for j in range(n):
        for i in range(n):
            a = j * (n + 1) + i
            quad = [a, a + 1, a + n + 2, a + n + 1]
            if (i + j) % 5 == 4:  # some faces are triangles, to exercise mixed face sizes
                faces.append([3, quad[:3]])
                face_normals.append([3, [0, 0, 0]])
            else:
                faces.append([4, quad])
                face_normals.append([4, [0, 0, 0, 0]])
            materials.append((i + j) % 2)
    normals.append([0.0, 1.0, 0.0])
    left = [k for k in range(len(verts)) if k % (n + 1) <= n // 2]
    right = [k for k in range(len(verts)) if k % (n + 1) > n // 2]
    mesh = Obj("Mesh", "GridMesh", [len(verts), verts, len(faces), faces], [
        Obj("MeshNormals", None, [1, normals, len(face_normals), face_normals]),
        Obj("MeshTextureCoords", None, [len(uvs), uvs]),
        Obj("MeshMaterialList", None, [2, len(materials), materials], [
            Ref("RedStone"),
            Obj("Material", "BlueGlass", [[f32(0.1), f32(0.2), 1.0, f32(0.5)], 20.0, [1.0, 1.0, 1.0],
                                          [0.0, 0.0, 0.0]],
                [Obj("TextureFilename", None, ["textures/blue glass.png"])]),
        ]),
        Obj("XSkinMeshHeader", None, [2, 4, 2]),
        Obj("SkinWeights", None, ["Body", len(left), left, [1.0] * len(left), [IDENTITY]]),
        Obj("SkinWeights", None, ["Arm", len(right), right, [f32(0.75)] * len(right),
                                  [translation(-1.0, 0.0, 0.0)]]),
    ])

    def rot_key(t, angle):
        return [t, [4, [f32(math.cos(angle / 2)), 0.0, f32(math.sin(angle / 2)), 0.0]]]

    def vec_key(t, v):
        return [t, [3, [f32(c) for c in v]]]

    walk = Obj("AnimationSet", "Walk", [], [
        Obj("Animation", None, [], [
            Ref("Arm"),
            Obj("AnimationKey", None, [0, 3, [rot_key(0, 0.0), rot_key(2400, 1.0), rot_key(4800, 0.0)]]),
            Obj("AnimationKey", None, [2, 2, [vec_key(0, [1, 0, 0]), vec_key(4800, [1, 0.5, 0])]]),
            Obj("AnimationOptions", None, [1, 0]),
        ]),
        Obj("Animation", "BodyTrack", [], [
            Ref("Body"),
            Obj("AnimationKey", None, [1, 2, [vec_key(0, [1, 1, 1]), vec_key(4800, [1.5, 1.5, 1.5])]]),
        ]),
    ])
    run = Obj("AnimationSet", "Run", [], [
        Obj("Animation", None, [], [
            Ref(guid="B2C3D4E5-0001-4000-8000-00000000A12A"),
            Obj("AnimationKey", None, [4, 2, [[0, [16, IDENTITY]], [960, [16, translation(0, 1, 0)]]]]),
        ]),
    ])
    return [
        Obj("Header", None, [1, 0, 1]),
        Obj("AnimTicksPerSecond", None, [4800]),
        Obj("Material", "RedStone", [[1.0, 0.0, 0.0, 1.0], 8.0, [f32(0.3), f32(0.3), f32(0.3)], [0.0, 0.0, 0.0]],
            [Obj("TextureFilename", None, ["textures/red_stone.bmp"])],
            guid="A1B2C3D4-0001-4000-8000-00000000C0DE"),
        Obj("Frame", "Scene_Root", [], [
            Obj("FrameTransformMatrix", None, [[IDENTITY]]),
            Obj("Frame", "Body", [], [
                Obj("FrameTransformMatrix", None, [[translation(0, 1.5, 0)]]),
                mesh,
                Obj("Frame", "Arm", [], [Obj("FrameTransformMatrix", None, [[translation(1, 0, 0)]])],
                    guid="B2C3D4E5-0001-4000-8000-00000000A12A"),
            ]),
        ]),
        walk,
        run,
    ]


def guid_bytes(text):
    parts = text.split("-")
    return (struct.pack("<IHH", int(parts[0], 16), int(parts[1], 16), int(parts[2], 16))
            + bytes.fromhex(parts[3] + parts[4]))


def format_float(x):
    """The shortest spelling that reads back as the same value."""
    return repr(float(x))


# ---- text encoding -------------------------------------------------------------------------

def text_template(t):
    name, guid, members, rule = t
    lines = ["template %s {" % name, " <%s>" % guid]
    for m in members:
        if len(m) == 3:
            lines.append(" array %s %s%s;" % (m[0], m[1], "".join("[%s]" % d for d in m[2])))
        else:
            lines.append(" %s %s;" % (m[0], m[1]))
    if rule == "...":
        lines.append(" [...]")
    elif rule:
        lines.append(" [%s]" % ", ".join("%s <%s>" % r for r in rule))
    lines.append("}")
    return "\n".join(lines) + "\n"


def text_scalar(typ, value):
    if typ == "STRING":
        return '"%s"' % value
    if typ in ("FLOAT", "DOUBLE"):
        return format_float(value)
    return str(int(value))


def text_values(template_name, values):
    """Members of one template instance, each ended by ';', array elements split by ','."""
    out = []
    for member, value in zip(TEMPLATE_BY_NAME[template_name][2], values):
        typ = member[0]
        if len(member) == 3:
            if typ in PRIMITIVES:
                out.append(",".join(text_scalar(typ, v) for v in value) + ";")
            else:
                out.append(",\n".join(text_values(typ, v) for v in value) + ";")
        elif typ in PRIMITIVES:
            out.append(text_scalar(typ, value) + ";")
        else:
            out.append(text_values(typ, value) + ";")
    return "".join(out)


def text_object(obj, indent=""):
    head = obj.template + (" " + obj.name if obj.name else "") + (" <%s>" % obj.guid if obj.guid else "")
    lines = [indent + head + " {"]
    body = text_values(obj.template, obj.values)
    if body:
        lines.append(indent + " " + body.replace("\n", "\n" + indent + " "))
    for child in obj.children:
        if isinstance(child, Ref):
            parts = [p for p in (child.name, "<%s>" % child.guid if child.guid else None) if p]
            lines.append(indent + " { %s }" % " ".join(parts))
        else:
            lines.append(text_object(child, indent + " "))
    lines.append(indent + "}")
    return "\n".join(lines)


def text_body(scene, templates=TEMPLATES):
    parts = ["// Generated by tools/make_xfiles.py\n"]
    parts += [text_template(t) for t in templates]
    parts += [text_object(o) + "\n" for o in scene]
    return "\n".join(parts).encode("ascii")


# ---- binary encoding -----------------------------------------------------------------------

TOK = {"NAME": 1, "STRING": 2, "INTEGER": 3, "GUID": 5, "INTEGER_LIST": 6, "FLOAT_LIST": 7,
       "OBRACE": 10, "CBRACE": 11, "OBRACKET": 14, "CBRACKET": 15, "DOT": 18, "COMMA": 19,
       "SEMICOLON": 20, "TEMPLATE": 31, "WORD": 40, "DWORD": 41, "FLOAT": 42, "DOUBLE": 43,
       "CHAR": 44, "UCHAR": 45, "SWORD": 46, "SDWORD": 47, "STRINGTYPE": 49, "ARRAY": 52}


def tok(name):
    return struct.pack("<H", TOK[name])


def b_name(text):
    data = text.encode("ascii")
    return tok("NAME") + struct.pack("<I", len(data)) + data


def b_guid(text):
    return tok("GUID") + guid_bytes(text)


def b_type(typ):
    if typ == "STRING":
        return tok("STRINGTYPE")
    if typ == "BYTE":
        return tok("UCHAR")
    if typ in PRIMITIVES:
        return tok(typ)
    return b_name(typ)


def binary_template(t):
    name, guid, members, rule = t
    out = tok("TEMPLATE") + b_name(name) + tok("OBRACE") + b_guid(guid)
    for m in members:
        if len(m) == 3:
            out += tok("ARRAY") + b_type(m[0]) + b_name(m[1])
            for d in m[2]:
                out += tok("OBRACKET")
                out += tok("INTEGER") + struct.pack("<I", int(d)) if d.isdigit() else b_name(d)
                out += tok("CBRACKET")
        else:
            out += b_type(m[0]) + b_name(m[1])
        out += tok("SEMICOLON")
    if rule == "...":
        out += tok("OBRACKET") + tok("DOT") * 3 + tok("CBRACKET")
    elif rule:
        out += tok("OBRACKET")
        for i, (rname, rguid) in enumerate(rule):
            if i:
                out += tok("COMMA")
            out += b_name(rname) + b_guid(rguid)
        out += tok("CBRACKET")
    return out + tok("CBRACE")


def flatten(template_name, values, out):
    """(kind, value) pairs in member order: kind 'i' integer, 'f' float, 's' string."""
    for member, value in zip(TEMPLATE_BY_NAME[template_name][2], values):
        typ = member[0]
        items = value if len(member) == 3 else [value]
        for item in items:
            if typ in INTEGERS:
                out.append(("i", int(item)))
            elif typ in ("FLOAT", "DOUBLE"):
                out.append(("f", item))
            elif typ == "STRING":
                out.append(("s", item))
            else:
                flatten(typ, item, out)


def binary_values(pairs, float_size, terminator_size=4):
    """Runs of integers and floats become lists; strings carry a semicolon terminator of
    terminator_size bytes (4, or 2 for readers that take it as a separate token)."""
    out = b""
    k = 0
    while k < len(pairs):
        kind = pairs[k][0]
        if kind == "s":
            data = pairs[k][1].encode("ascii")
            out += tok("STRING") + struct.pack("<I", len(data)) + data + struct.pack("<I" if terminator_size == 4 else "<H", TOK["SEMICOLON"])
            k += 1
            continue
        end = k
        while end < len(pairs) and pairs[end][0] == kind:
            end += 1
        run = [v for _, v in pairs[k:end]]
        if kind == "i":
            out += tok("INTEGER_LIST") + struct.pack("<I%dI" % len(run), len(run), *[v & 0xFFFFFFFF for v in run])
        else:
            code = "f" if float_size == 4 else "d"
            out += tok("FLOAT_LIST") + struct.pack("<I%d%s" % (len(run), code), len(run), *run)
        k = end
    return out


def binary_object(obj, float_size, terminator_size=4):
    out = b_name(obj.template)
    if obj.name:
        out += b_name(obj.name)
    if obj.guid:
        out += b_guid(obj.guid)
    out += tok("OBRACE")
    pairs = []
    flatten(obj.template, obj.values, pairs)
    out += binary_values(pairs, float_size, terminator_size)
    for child in obj.children:
        if isinstance(child, Ref):
            out += tok("OBRACE")
            if child.name:
                out += b_name(child.name)
            if child.guid:
                out += b_guid(child.guid)
            out += tok("CBRACE")
        else:
            out += binary_object(child, float_size, terminator_size)
    return out + tok("CBRACE")


def binary_body(scene, float_size, templates=TEMPLATES, terminator_size=4):
    return b"".join([binary_template(t) for t in templates] +
                    [binary_object(o, float_size, terminator_size) for o in scene])


# ---- compression ---------------------------------------------------------------------------

def compress_body(body):
    """The size of the expanded file (header included), then MSZIP blocks of up to 32 KiB, each a
    raw deflate stream whose dictionary is the previous 32 KiB of the body."""
    out = struct.pack("<I", len(body) + 16)
    for start in range(0, len(body), 32768):
        chunk = body[start:start + 32768]
        history = body[max(0, start - 32768):start]
        packer = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=history) if history else \
            zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = packer.compress(chunk) + packer.flush()
        out += struct.pack("<HH", len(chunk), len(packed) + 2) + b"CK" + packed
    return out


def write_all(outdir, base, grid):
    scene = build_scene(grid)
    text = text_body(scene)
    bin32 = binary_body(scene, 4)
    bin64 = binary_body(scene, 8)
    files = {
        "txt": b"xof 0303txt 0032" + text,
        "bin32": b"xof 0303bin 0032" + bin32,
        "bin64": b"xof 0302bin 0064" + bin64,
        "tzip": b"xof 0303tzip0032" + compress_body(text),
        "bzip": b"xof 0303bzip0032" + compress_body(bin32),
    }
    os.makedirs(outdir, exist_ok=True)
    for suffix, data in files.items():
        with open(os.path.join(outdir, "%s_%s.x" % (base, suffix)), "wb") as f:
            f.write(data)


# ---- sample models -------------------------------------------------------------------------

def material(name, rgba, power, specular, emissive, texture=None, effect=None):
    children = []
    if texture:
        children.append(Obj("TextureFilename", None, [texture]))
    if effect:
        children.append(effect)
    return Obj("Material", name, [[f32(c) for c in rgba], f32(power), [f32(c) for c in specular],
                                  [f32(c) for c in emissive]], children)


def box_mesh(name, size, materials_of_faces, material_children, colors=False):
    """A box of 24 vertices (4 per side, so every side has its own texture coordinates) whose
    corners are tied together by VertexDuplicationIndices; one normal per side."""
    h = size / 2.0
    sides = [  # normal, then the four corners counter-clockwise seen from outside (left-handed)
        ((0, 0, -1), [(-h, -h, -h), (-h, h, -h), (h, h, -h), (h, -h, -h)]),
        ((0, 0, 1), [(h, -h, h), (h, h, h), (-h, h, h), (-h, -h, h)]),
        ((-1, 0, 0), [(-h, -h, h), (-h, h, h), (-h, h, -h), (-h, -h, -h)]),
        ((1, 0, 0), [(h, -h, -h), (h, h, -h), (h, h, h), (h, -h, h)]),
        ((0, 1, 0), [(-h, h, -h), (-h, h, h), (h, h, h), (h, h, -h)]),
        ((0, -1, 0), [(-h, -h, h), (-h, -h, -h), (h, -h, -h), (h, -h, h)]),
    ]
    verts, uvs, faces, normals, face_normals = [], [], [], [], []
    for s, (normal, corners) in enumerate(sides):
        base = len(verts)
        for c in corners:
            verts.append([f32(v) for v in c])
        uvs += [[0.0, 1.0], [0.0, 0.0], [1.0, 0.0], [1.0, 1.0]]
        faces.append([4, [base, base + 1, base + 2, base + 3]])
        normals.append([float(v) for v in normal])
        face_normals.append([4, [s, s, s, s]])
    # Every corner position's first vertex is the original of the others at that position.
    first_at = {}
    originals = []
    for i, v in enumerate(verts):
        originals.append(first_at.setdefault(tuple(v), i))
    children = [
        Obj("MeshNormals", None, [len(normals), normals, len(face_normals), face_normals]),
        Obj("MeshTextureCoords", None, [len(uvs), uvs]),
        Obj("VertexDuplicationIndices", None, [len(verts), len(first_at), originals]),
        Obj("MeshMaterialList", None, [len(material_children), len(materials_of_faces), materials_of_faces],
            material_children),
    ]
    if colors:
        shades = [[i, [f32(0.25 + 0.125 * (i % 6)), f32(0.5), f32(1.0 - 0.0625 * (i % 12)), 1.0]]
                  for i in range(len(verts))]
        children.append(Obj("MeshVertexColors", None, [len(shades), shades]))
    return Obj("Mesh", name, [len(verts), verts, len(faces), faces], children)


def build_static_model():
    """A box with three materials: two textured (one with an effect instance), one plain."""
    effect = Obj("EffectInstance", None, ["shaders/glow.fx"], [
        Obj("EffectParamFloats", None, ["GlowColor", 4, [1.0, 0.5, 0.25, 1.0]]),
        Obj("EffectParamString", None, ["GlowTexture", "textures/glow.png"]),
    ])
    materials = [
        material("Brick", [0.8, 0.3, 0.2, 1.0], 10.0, [0.2, 0.2, 0.2], [0, 0, 0], "textures/brick.bmp"),
        material("Glass", [0.6, 0.8, 1.0, 0.5], 40.0, [1, 1, 1], [0, 0, 0.1], "textures/glass.png", effect),
        material("Metal", [0.5, 0.5, 0.55, 1.0], 80.0, [0.9, 0.9, 0.9], [0, 0, 0]),
    ]
    return [
        Obj("Header", None, [1, 0, 1]),
        Obj("Frame", "Box", [], [
            Obj("FrameTransformMatrix", None, [[IDENTITY]]),
            box_mesh("BoxMesh", 2.0, [0, 0, 1, 1, 2, 2], materials, colors=True),
        ]),
    ]


def build_hierarchy():
    """Nested frames: a base with two arms, each holding a box; one frame without a name; one
    material shared by reference."""
    shared = material("Paint", [0.2, 0.6, 0.2, 1.0], 5.0, [0.1, 0.1, 0.1], [0, 0, 0], "textures/paint.tga")

    def arm(name, x):
        return Obj("Frame", name, [], [
            Obj("FrameTransformMatrix", None, [[translation(x, 1.0, 0.0)]]),
            box_mesh(name + "Box", 0.5, [0] * 6, [Ref("Paint")]),
            Obj("Frame", None, [], [Obj("FrameTransformMatrix", None, [[translation(0.0, 0.5, 0.0)]])]),
        ])

    return [
        Obj("Header", None, [1, 0, 1]),
        shared,
        Obj("Frame", "Base", [], [
            Obj("FrameTransformMatrix", None, [[translation(0.0, 0.0, 2.0)]]),
            box_mesh("BaseBox", 1.0, [0, 0, 0, 0, 0, 0], [Ref("Paint")]),
            arm("LeftArm", -1.5),
            arm("RightArm", 1.5),
        ]),
        Obj("Frame", "Lamp", [], [Obj("FrameTransformMatrix", None, [[translation(0.0, 4.0, 0.0)]])]),
    ]


def column_mesh(name, rings, segments, height, bones):
    """A column of `rings` rings of `segments` vertices, skinned to `bones` bones stacked along y:
    each ring's weight moves linearly from one bone to the next."""
    verts, uvs, normals, faces, face_normals = [], [], [], [], []
    for r in range(rings):
        y = height * r / (rings - 1)
        for s in range(segments):
            a = 2.0 * math.pi * s / segments
            verts.append([f32(0.5 * math.cos(a)), f32(y), f32(0.5 * math.sin(a))])
            normals.append([f32(math.cos(a)), 0.0, f32(math.sin(a))])
            uvs.append([f32(s / segments), f32(1.0 - r / (rings - 1))])
    for r in range(rings - 1):
        for s in range(segments):
            a, b = r * segments + s, r * segments + (s + 1) % segments
            quad = [a, a + segments, b + segments, b]
            faces.append([4, quad])
            face_normals.append([4, quad])
    influences = [([], []) for _ in range(bones)]
    for r in range(rings):
        t = (bones - 1) * r / (rings - 1)
        lower = min(int(t), bones - 2) if bones > 1 else 0
        upper_weight = f32(t - lower) if bones > 1 else 0.0
        for s in range(segments):
            v = r * segments + s
            influences[lower][0].append(v)
            influences[lower][1].append(f32(1.0 - upper_weight))
            if bones > 1 and upper_weight > 0.0:
                influences[lower + 1][0].append(v)
                influences[lower + 1][1].append(upper_weight)
    children = [
        Obj("MeshNormals", None, [len(normals), normals, len(face_normals), face_normals]),
        Obj("MeshTextureCoords", None, [len(uvs), uvs]),
        Obj("MeshMaterialList", None, [2, len(faces), [(i // segments) % 2 for i in range(len(faces))]], [
            material("Skin", [0.9, 0.7, 0.6, 1.0], 12.0, [0.3, 0.3, 0.3], [0, 0, 0], "textures/skin.png"),
            material("Cloth", [0.2, 0.2, 0.7, 1.0], 2.0, [0, 0, 0], [0, 0, 0], "textures/cloth.jpg"),
        ]),
        Obj("XSkinMeshHeader", None, [2, 4, bones]),
    ]
    for b in range(bones):
        offset = translation(0.0, -height * b / max(1, bones - 1), 0.0)
        children.append(Obj("SkinWeights", None, ["Bone%d" % b, len(influences[b][0]), influences[b][0],
                                                  influences[b][1], [offset]]))
    return Obj("Mesh", name, [len(verts), verts, len(faces), faces], children)


def bone_frames(bones, height, mesh):
    """Frames Bone0 (holding the mesh frame beside it) > Bone1 > ... stacked along y."""
    inner = None
    for b in reversed(range(bones)):
        y = 0.0 if b == 0 else height / max(1, bones - 1)
        children = [Obj("FrameTransformMatrix", None, [[translation(0.0, y, 0.0)]])]
        if inner:
            children.append(inner)
        inner = Obj("Frame", "Bone%d" % b, [], children)
    return Obj("Frame", "Character", [], [
        Obj("FrameTransformMatrix", None, [[IDENTITY]]),
        Obj("Frame", "Body", [], [Obj("FrameTransformMatrix", None, [[IDENTITY]]), mesh]),
        inner,
    ])


def animation_set(name, bones, keys, length, swing, lift):
    """Rotation keys about z and position keys along y for every bone, `keys` keys each, evenly
    spaced over `length` ticks."""
    animations = []
    for b in range(bones):
        rot, pos = [], []
        for k in range(keys):
            t = int(round(length * k / max(1, keys - 1)))
            angle = swing * math.sin(2.0 * math.pi * k / max(1, keys - 1) + b)
            rot.append([t, [4, [f32(math.cos(angle / 2)), 0.0, 0.0, f32(math.sin(angle / 2))]]])
            y = (0.0 if b == 0 else 1.0) + lift * math.sin(math.pi * k / max(1, keys - 1))
            pos.append([t, [3, [0.0, f32(y), 0.0]]])
        animations.append(Obj("Animation", None, [], [
            Ref("Bone%d" % b),
            Obj("AnimationKey", None, [0, len(rot), rot]),
            Obj("AnimationKey", None, [2, len(pos), pos]),
        ]))
    return Obj("AnimationSet", name, [], animations)


def build_character():
    bones = 3
    mesh = column_mesh("BodyMesh", 9, 8, 2.0, bones)
    return [
        Obj("Header", None, [1, 0, 1]),
        Obj("AnimTicksPerSecond", None, [30]),
        bone_frames(bones, 2.0, mesh),
        animation_set("Idle", bones, 3, 60, 0.05, 0.0),
        animation_set("Walk", bones, 5, 30, 0.4, 0.05),
        animation_set("Run", bones, 5, 20, 0.8, 0.1),
    ]


def build_large_character(vertex_target, key_target):
    bones = 10
    segments = 320
    rings = max(2, vertex_target // segments)
    mesh = column_mesh("LargeBodyMesh", rings, segments, 20.0, bones)
    # Two sets, each with a rotation and a position key list per bone.
    keys = max(2, key_target // (2 * 2 * bones))
    return [
        Obj("Header", None, [1, 0, 1]),
        Obj("AnimTicksPerSecond", None, [4800]),
        bone_frames(bones, 20.0, mesh),
        animation_set("Walk", bones, keys, 4800 * 4, 0.4, 0.05),
        animation_set("Run", bones, keys, 4800 * 2, 0.8, 0.1),
    ]


def write_model(outdir, base, scene, peer_copies=False):
    """Text, binary and compressed binary encodings of one model, with the templates they use.
    peer_copies adds NAME_bin_peer.x and NAME_bzip_peer.x, the same data with 2-byte string
    terminators, for benchmark baselines whose binary reader takes the terminator as a token."""
    text = text_body(scene, ASSET_TEMPLATES)
    binary = binary_body(scene, 4, ASSET_TEMPLATES)
    files = {
        "txt": b"xof 0303txt 0032" + text,
        "bin": b"xof 0303bin 0032" + binary,
        "bzip": b"xof 0303bzip0032" + compress_body(binary),
    }
    if peer_copies:
        peer = binary_body(scene, 4, ASSET_TEMPLATES, terminator_size=2)
        files["bin_peer"] = b"xof 0303bin 0032" + peer
        files["bzip_peer"] = b"xof 0303bzip0032" + compress_body(peer)
    os.makedirs(outdir, exist_ok=True)
    for suffix, data in files.items():
        with open(os.path.join(outdir, "%s_%s.x" % (base, suffix)), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--grid", type=int, default=4)
    parser.add_argument("--name", default="scene")
    parser.add_argument("--assets", action="store_true", help="write the sample models")
    parser.add_argument("--large", action="store_true", help="write the large skinned model")
    parser.add_argument("--vertices", type=int, default=100000)
    parser.add_argument("--keys", type=int, default=20000)
    args = parser.parse_args()
    if args.assets:
        write_model(args.outdir, "static_model", build_static_model())
        write_model(args.outdir, "hierarchy", build_hierarchy())
        write_model(args.outdir, "character", build_character())
    elif args.large:
        write_model(args.outdir, "large_character", build_large_character(args.vertices, args.keys), True)
    else:
        write_all(args.outdir, args.name, max(1, args.grid))


if __name__ == "__main__":
    main()
