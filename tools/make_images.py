#!/usr/bin/env python3
"""make_images.py: writes small valid image files of every kind the texture readers take (BMP, DIB,
TGA, DDS, PPM, PNG and JPEG in their bit depths, compressions, orientations and layouts), for seed
corpora and sample assets. Standard library only.

usage: tools/make_images.py OUTPUT_DIR [--width W] [--height H]
       tools/make_images.py OUTPUT_DIR --showcase   (the showcase's sprite pictures instead)
       tools/make_images.py OUTPUT_DIR --model-textures   (the textures the sample models name,
                                                           in OUTPUT_DIR/textures)
"""

import argparse
import math
import os
import struct
import zlib


def pattern(width, height):
    """A test picture: rows of (red, green, blue, alpha) with gradients and a checker in alpha."""
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            red = (x * 255) // max(width - 1, 1)
            green = (y * 255) // max(height - 1, 1)
            blue = ((x + y) * 37) & 0xFF
            alpha = 255 if (x // 2 + y // 2) % 2 == 0 else 96
            row.append((red, green, blue, alpha))
        pixels.append(row)
    return pixels


def grey_of(pixel):
    red, green, blue, _ = pixel
    return (red * 54 + green * 183 + blue * 19) >> 8


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


# ---- BMP and DIB ----

def bmp_palette(count):
    return b"".join(struct.pack("<BBBB", (i * 53) & 0xFF, (i * 97) & 0xFF, (i * 29) & 0xFF, 0) for i in range(count))


def info_header(width, height, bits, compression=0, colors_used=0, masks=None, size=40):
    header = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, 0, 2835, 2835, colors_used, 0)
    if masks is not None:
        header += struct.pack("<" + "I" * len(masks), *masks)
    return header + b"\0" * (size - len(header))


def with_file_header(dib, pixel_offset):
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + pixel_offset) + dib


def bmp_rows(width, height, bits, pixels, top_down=False):
    rows = []
    order = range(height) if top_down else range(height - 1, -1, -1)
    for y in order:
        row = bytearray()
        if bits == 24:
            for r, g, b, _ in pixels[y]:
                row += bytes((b, g, r))
        elif bits == 32:
            for r, g, b, a in pixels[y]:
                row += bytes((b, g, r, a))
        elif bits == 16:
            for r, g, b, _ in pixels[y]:
                row += struct.pack("<H", ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
        elif bits == 8:
            row += bytes((x * 7 + y * 3) & 0xFF for x in range(width))
        elif bits == 4:
            indices = [(x + y) & 0xF for x in range(width)] + [0]
            row += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, width, 2))
        elif bits == 1:
            value = 0
            for x in range(width):
                value = (value << 1) | ((x + y) & 1)
            pad = -width % 8
            value <<= pad
            row += value.to_bytes((width + pad) // 8, "big")
        rows.append(pad4(bytes(row)))
    return b"".join(rows)


def rle8_rows(width, height):
    data = bytearray()
    for y in range(height):
        x = 0
        while x < width:
            run = min(width - x, 3 + (y % 4))
            if (x // 3) % 2 == 0 or run < 3:
                data += bytes((run, (x + y) & 0xFF))
            else:
                literal = bytes(((x + i) * 5 + y) & 0xFF for i in range(run))
                data += bytes((0, run)) + literal + (b"\0" if run % 2 else b"")
            x += run
        data += b"\0\0"
    return bytes(data) + b"\0\1"


def rle4_rows(width, height):
    data = bytearray()
    for y in range(height):
        x = 0
        while x < width:
            run = min(width - x, 5)
            if (x // 5) % 2 == 0 or run < 3:
                data += bytes((run, ((y & 0xF) << 4) | ((x + 3) & 0xF)))
            else:
                nibbles = [((x + i) * 3) & 0xF for i in range(run)] + [0]
                packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, run, 2))
                data += bytes((0, run)) + packed + (b"\0" if len(packed) % 2 else b"")
            x += run
        data += b"\0\0"
    return bytes(data) + b"\0\1"


def bitmaps(width, height, pixels):
    files = {}
    for bits in (1, 4, 8):
        table = bmp_palette(1 << bits)
        dib = info_header(width, height, bits) + table + bmp_rows(width, height, bits, pixels)
        files["bmp%d.bmp" % bits] = with_file_header(dib, 40 + len(table))
    for bits in (16, 24, 32):
        dib = info_header(width, height, bits) + bmp_rows(width, height, bits, pixels)
        files["bmp%d.bmp" % bits] = with_file_header(dib, 40)
    dib = info_header(width, -height, 24) + bmp_rows(width, height, 24, pixels, top_down=True)
    files["bmp24-top-down.bmp"] = with_file_header(dib, 40)
    files["dib32.dib"] = info_header(width, height, 32) + bmp_rows(width, height, 32, pixels)
    core = struct.pack("<IhhHH", 12, width, height, 1, 8) + b"".join(
        struct.pack("<BBB", i, 255 - i, (i * 3) & 0xFF) for i in range(256))
    files["bmp8-core.bmp"] = with_file_header(core + bmp_rows(width, height, 8, pixels), len(core))
    table = bmp_palette(256)
    rle = rle8_rows(width, height)
    files["bmp-rle8.bmp"] = with_file_header(info_header(width, height, 8, 1, 256) + table + rle, 40 + len(table))
    table = bmp_palette(16)
    rle = rle4_rows(width, height)
    files["bmp-rle4.bmp"] = with_file_header(info_header(width, height, 4, 2, 16) + table + rle, 40 + len(table))
    masks = (0xF800, 0x7E0, 0x1F, 0)
    dib = info_header(width, height, 16, 3, masks=masks, size=56) + bmp_rows(width, height, 16, pixels)
    files["bmp565-fields.bmp"] = with_file_header(dib, 56)
    masks = (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    dib = info_header(width, height, 32, 3, masks=masks, size=56) + bmp_rows(width, height, 32, pixels)
    files["bmp8888-fields.bmp"] = with_file_header(dib, 56)
    return files


# ---- TGA ----

def tga_header(image_type, width, height, bits, descriptor, map_type=0, map_first=0, map_length=0, map_bits=0, ident=b""):
    return struct.pack("<BBBHHBHHHHBB", len(ident), map_type, image_type, map_first, map_length, map_bits, 0, 0,
                       width, height, bits, descriptor) + ident


def tga_pixel(pixel, bits):
    r, g, b, a = pixel
    if bits == 32:
        return bytes((b, g, r, a))
    if bits == 24:
        return bytes((b, g, r))
    if bits in (15, 16):
        value = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3) | (0x8000 if a >= 128 and bits == 16 else 0)
        return struct.pack("<H", value)
    return bytes((grey_of(pixel),))


def tga_rle(values):
    """Run-length packets over a list of byte strings (one per pixel); runs may cross rows."""
    out = bytearray()
    i = 0
    while i < len(values):
        run = 1
        while i + run < len(values) and run < 128 and values[i + run] == values[i]:
            run += 1
        if run > 1:
            out += bytes((0x80 | (run - 1),)) + values[i]
            i += run
            continue
        raw = 1
        while i + raw < len(values) and raw < 128 and values[i + raw] != values[i + raw - 1]:
            raw += 1
        out += bytes((raw - 1,)) + b"".join(values[i:i + raw])
        i += raw
    return bytes(out)


def targas(width, height, pixels):
    files = {}
    for bits in (16, 24, 32):
        for name, descriptor, rows, columns in (("top-left", 0x20, range(height), False),
                                                 ("bottom-left", 0x00, range(height - 1, -1, -1), False),
                                                 ("top-right", 0x30, range(height), True)):
            values = []
            for y in rows:
                row = list(pixels[y])
                if columns:
                    row.reverse()
                values += [tga_pixel(p, bits) for p in row]
            alpha = 8 if bits == 32 else (1 if bits == 16 else 0)
            header = tga_header(2, width, height, bits, descriptor | alpha, ident=b"quillmere")
            files["tga%d-%s.tga" % (bits, name)] = header + b"".join(values)
            if name == "bottom-left":
                files["tga%d-rle.tga" % bits] = tga_header(10, width, height, bits, descriptor | alpha) + tga_rle(values)
    grey = [tga_pixel(p, 8) for y in range(height) for p in pixels[y]]
    files["tga-grey.tga"] = tga_header(3, width, height, 8, 0x20) + b"".join(grey)
    files["tga-grey-rle.tga"] = tga_header(11, width, height, 8, 0x20) + tga_rle(grey)
    for map_bits in (15, 16, 24, 32):
        colours = [(i * 40 % 256, i * 90 % 256, i * 20 % 256, 255 if i % 3 else 0) for i in range(8)]
        colour_map = b"".join(tga_pixel(c, map_bits) for c in colours)
        indices = [bytes((4 + (x + y) % 8,)) for y in range(height) for x in range(width)]
        header = tga_header(1, width, height, 8, 0x20, 1, 4, 8, map_bits)
        files["tga-mapped%d.tga" % map_bits] = header + colour_map + b"".join(indices)
    header = tga_header(9, width, height, 8, 0x00, 1, 0, 8, 24)
    colour_map = b"".join(bytes((i * 30, i * 20, i * 10)) for i in range(8))
    indices = [bytes(((x // 3 + y) % 8,)) for y in range(height) for x in range(width)]
    files["tga-mapped-rle.tga"] = header + colour_map + tga_rle(indices)
    return files


# ---- DDS ----

def dds(width, height, pixel_format, payload, mips=1, depth=0, caps2=0, flags=0x1007):
    header = struct.pack("<4sIIIIIII", b"DDS ", 124, flags | (0x20000 if mips > 1 else 0) | (0x800000 if depth else 0),
                         height, width, 0, depth, mips)
    header += b"\0" * 44
    header += pixel_format
    header += struct.pack("<IIIII", 0x1000 | (0x400008 if mips > 1 else 0), caps2, 0, 0, 0)
    assert len(header) == 128
    return header + payload


def pixel_format(flags, code=b"\0\0\0\0", bits=0, masks=(0, 0, 0, 0)):
    return struct.pack("<II4sIIIII", 32, flags, code, bits, *masks)


def mip_sizes(width, height, count):
    sizes = []
    for _ in range(count):
        sizes.append((width, height))
        width, height = max(width // 2, 1), max(height // 2, 1)
    return sizes


def dxt1_block(colour0, colour1, indices):
    return struct.pack("<HHI", colour0, colour1, indices)


def dds_files(width, height, pixels):
    files = {}
    argb = pixel_format(0x41, bits=32, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))

    def argb_level(w, h):
        return b"".join(bytes((pixels[y % height][x % width][2], pixels[y % height][x % width][1],
                               pixels[y % height][x % width][0], pixels[y % height][x % width][3]))
                        for y in range(h) for x in range(w))

    levels = int(math.log2(max(width, height))) + 1
    files["dds-argb-mips.dds"] = dds(width, height, argb,
                                     b"".join(argb_level(w, h) for w, h in mip_sizes(width, height, levels)), levels)
    rgb565 = pixel_format(0x40, bits=16, masks=(0xF800, 0x7E0, 0x1F, 0))
    files["dds-565.dds"] = dds(width, height, rgb565, b"".join(
        struct.pack("<H", ((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3)) for row in pixels for p in row))
    luminance = pixel_format(0x20000, bits=8, masks=(0xFF, 0, 0, 0))
    files["dds-l8.dds"] = dds(width, height, luminance, bytes(grey_of(p) for row in pixels for p in row))
    palette = b"".join(bytes((i, 255 - i, (i * 7) & 0xFF, 255)) for i in range(256))
    files["dds-p8.dds"] = dds(width, height, pixel_format(0x20, bits=8),
                              palette + bytes((x * 9 + y) & 0xFF for y in range(height) for x in range(width)))
    for code, block_bytes in ((b"DXT1", 8), (b"DXT3", 16), (b"DXT5", 16)):
        payload = b""
        for w, h in mip_sizes(width, height, levels):
            blocks = ((w + 3) // 4) * ((h + 3) // 4)
            for i in range(blocks):
                colour = dxt1_block(0xF800 | i, 0x001F, 0xE4E4E4E4 ^ i)
                if block_bytes == 16 and code == b"DXT3":
                    payload += struct.pack("<Q", 0xFEDCBA9876543210) + colour
                elif block_bytes == 16:
                    payload += bytes((255, 0)) + (0x0123456789AB).to_bytes(6, "little") + colour
                else:
                    payload += colour
        files["dds-%s.dds" % code.decode().lower()] = dds(width, height, pixel_format(0x4, code), payload, levels)
    yuy2 = bytes((0x80, 0x40, 0xA0, 0xC0)) * (((width + 1) // 2) * height)
    files["dds-yuy2.dds"] = dds(width, height, pixel_format(0x4, b"YUY2"), yuy2)
    face = argb_level(width, width)
    files["dds-cube.dds"] = dds(width, width, argb, face * 6, caps2=0xFE00)
    depth = 4
    volume = b""
    w, h, d = width, height, depth
    for _ in range(2):
        volume += argb_level(w, h) * d
        w, h, d = max(w // 2, 1), max(h // 2, 1), max(d // 2, 1)
    files["dds-volume.dds"] = dds(width, height, argb, volume, mips=2, depth=depth)
    floats = b"".join(struct.pack("<ffff", p[0] / 255, p[1] / 255, p[2] / 255, p[3] / 255) for row in pixels for p in row)
    files["dds-float.dds"] = dds(width, height, pixel_format(0x4, struct.pack("<I", 116)), floats)
    return files


# ---- PPM ----

def portable_pixmaps(width, height, pixels):
    text = "P3\n# quillmere sample\n%d %d\n255\n" % (width, height)
    text += "\n".join(" ".join("%d %d %d" % p[:3] for p in row) for row in pixels) + "\n"
    binary = b"P6\n%d %d\n255\n" % (width, height) + bytes(c for row in pixels for p in row for c in p[:3])
    scaled = b"P6 %d %d 15\r\n" % (width, height) + bytes(c >> 4 for row in pixels for p in row for c in p[:3])
    return {"ppm-p3.ppm": text.encode(), "ppm-p6.ppm": binary, "ppm-p6-max15.ppm": scaled}


# ---- PNG ----

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def pack_samples(values, bit_depth):
    if bit_depth == 16:
        return b"".join(struct.pack(">H", v) for v in values)
    if bit_depth == 8:
        return bytes(values)
    out = bytearray()
    per_byte = 8 // bit_depth
    for i in range(0, len(values), per_byte):
        group = values[i:i + per_byte] + [0] * (per_byte - len(values[i:i + per_byte]))
        byte = 0
        for v in group:
            byte = (byte << bit_depth) | v
        out.append(byte)
    return bytes(out)


ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def png(width, height, bit_depth, colour_type, sample_rows, extra=b"", interlaced=False):
    """sample_rows: per row, the list of sample values (channels interleaved)."""
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    raw = bytearray()
    if interlaced:
        for x0, y0, dx, dy in ADAM7:
            columns = list(range(x0, width, dx))
            if not columns:
                continue
            for y in range(y0, height, dy):
                row = sample_rows[y]
                values = [v for x in columns for v in row[x * channels:(x + 1) * channels]]
                raw += b"\0" + pack_samples(values, bit_depth)
    else:
        for row in sample_rows:
            raw += b"\0" + pack_samples(row, bit_depth)
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + extra + png_chunk(b"IDAT", zlib.compress(bytes(raw)))
            + png_chunk(b"IEND", b""))


def pngs(width, height, pixels):
    files = {}
    rgb = [[c for p in row for c in p[:3]] for row in pixels]
    rgba = [[c for p in row for c in p] for row in pixels]
    grey = [[grey_of(p) for p in row] for row in pixels]
    files["png-rgb.png"] = png(width, height, 8, 2, rgb)
    files["png-rgba.png"] = png(width, height, 8, 6, rgba)
    files["png-rgba-interlaced.png"] = png(width, height, 8, 6, rgba, interlaced=True)
    files["png-grey.png"] = png(width, height, 8, 0, grey)
    files["png-grey-alpha.png"] = png(width, height, 8, 4, [[c for p in row for c in (grey_of(p), p[3])] for row in pixels])
    files["png-grey1.png"] = png(width, height, 1, 0, [[v >> 7 for v in row] for row in grey])
    files["png-grey4-trns.png"] = png(width, height, 4, 0, [[v >> 4 for v in row] for row in grey],
                                      png_chunk(b"tRNS", struct.pack(">H", 0)))
    files["png-rgb16.png"] = png(width, height, 16, 2, [[c * 257 for c in row] for row in rgb])
    files["png-rgb16-trns.png"] = png(width, height, 16, 2, [[c * 257 for c in row] for row in rgb],
                                      png_chunk(b"tRNS", struct.pack(">HHH", 0, 0, 0)))
    files["png-grey16.png"] = png(width, height, 16, 0, [[v * 257 for v in row] for row in grey])
    files["png-rgba16.png"] = png(width, height, 16, 6, [[c * 257 for c in row] for row in rgba])
    files["png-rgb-gamma.png"] = png(width, height, 8, 2, rgb, png_chunk(b"gAMA", struct.pack(">I", 100000)))
    files["png-rgb-srgb.png"] = png(width, height, 8, 2, rgb, png_chunk(b"sRGB", b"\0"))
    palette = b"".join(bytes((i * 16, 255 - i * 16, (i * 48) & 0xFF)) for i in range(16))
    indices = [[(x + y) % 16 for x in range(width)] for y in range(height)]
    plte = png_chunk(b"PLTE", palette)
    files["png-palette4.png"] = png(width, height, 4, 3, indices, plte + png_chunk(b"tRNS", bytes((0, 128, 200))))
    files["png-palette8-gamma.png"] = png(width, height, 8, 3, indices,
                                          png_chunk(b"gAMA", struct.pack(">I", 50000)) + plte)
    return files


# ---- JPEG (baseline, 8x8 DCT, no subsampling) ----

ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14,
          21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53,
          60, 61, 54, 47, 55, 62, 63]

# Huffman tables with every symbol at one code length: 4 bits for the 12 DC categories, 8 bits for the
# 162 AC symbols (end of block, 16 zeros, and run 0-15 with size 1-10). Valid, if not the shortest.
DC_SYMBOLS = list(range(12))
AC_SYMBOLS = [0x00, 0xF0] + [(run << 4) | size for run in range(16) for size in range(1, 11)]


def huffman_table(symbols, length):
    bits = [0] * 16
    bits[length - 1] = len(symbols)
    codes = {symbol: (index, length) for index, symbol in enumerate(symbols)}
    return bytes(bits) + bytes(symbols), codes


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.value = 0
        self.count = 0

    def write(self, value, length):
        for i in range(length - 1, -1, -1):
            self.value = (self.value << 1) | ((value >> i) & 1)
            self.count += 1
            if self.count == 8:
                self.out.append(self.value)
                if self.value == 0xFF:
                    self.out.append(0)
                self.value = 0
                self.count = 0

    def flush(self):
        while self.count:
            self.write(1, 1)
        return bytes(self.out)


def magnitude(value):
    size = abs(value).bit_length()
    bits = value if value >= 0 else value + (1 << size) - 1
    return size, bits


def forward_dct(block):
    out = []
    for v in range(8):
        for u in range(8):
            total = 0.0
            for y in range(8):
                for x in range(8):
                    total += block[y * 8 + x] * math.cos((2 * x + 1) * u * math.pi / 16) * math.cos((2 * y + 1) * v * math.pi / 16)
            cu = math.sqrt(0.5) if u == 0 else 1.0
            cv = math.sqrt(0.5) if v == 0 else 1.0
            out.append(0.25 * cu * cv * total)
    return out


def jpeg(width, height, planes, quality_step):
    """planes: one or three lists of rows of sample values (Y, or Y Cb Cr)."""
    components = len(planes)
    quant = [quality_step] * 64
    dc_table, dc_codes = huffman_table(DC_SYMBOLS, 4)
    ac_table, ac_codes = huffman_table(AC_SYMBOLS, 8)
    out = b"\xFF\xD8"
    out += b"\xFF\xE0" + struct.pack(">H5sBBBHHBB", 16, b"JFIF\0", 1, 1, 0, 1, 1, 0, 0)
    out += b"\xFF\xDB" + struct.pack(">HB", 67, 0) + bytes(quant[ZIGZAG[i]] for i in range(64))
    frame = struct.pack(">HBHHB", 8 + 3 * components, 8, height, width, components)
    for c in range(components):
        frame += bytes((c + 1, 0x11, 0))
    out += b"\xFF\xC0" + frame
    out += b"\xFF\xC4" + struct.pack(">HB", 3 + len(dc_table), 0x00) + dc_table
    out += b"\xFF\xC4" + struct.pack(">HB", 3 + len(ac_table), 0x10) + ac_table
    scan = struct.pack(">HB", 6 + 2 * components, components)
    for c in range(components):
        scan += bytes((c + 1, 0x00))
    out += b"\xFF\xDA" + scan + bytes((0, 63, 0))
    writer = BitWriter()
    previous = [0] * components
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            for c in range(components):
                block = [planes[c][min(by + y, height - 1)][min(bx + x, width - 1)] - 128 for y in range(8) for x in range(8)]
                coefficients = forward_dct(block)
                q = [int(round(coefficients[ZIGZAG[i]] / quant[ZIGZAG[i]])) for i in range(64)]
                size, bits = magnitude(q[0] - previous[c])
                previous[c] = q[0]
                writer.write(*dc_codes[size])
                writer.write(bits, size)
                run = 0
                for value in q[1:]:
                    if value == 0:
                        run += 1
                        continue
                    while run > 15:
                        writer.write(*ac_codes[0xF0])
                        run -= 16
                    size, bits = magnitude(value)
                    writer.write(*ac_codes[(run << 4) | size])
                    writer.write(bits, size)
                    run = 0
                if run:
                    writer.write(*ac_codes[0x00])
    out += writer.flush() + b"\xFF\xD9"
    return out


def ycc_planes(pixels):
    """The Y, Cb and Cr planes (JFIF equations) of rows of (red, green, blue, alpha)."""
    ycc = [[], [], []]
    for row in pixels:
        rows = ([], [], [])
        for r, g, b, _ in row:
            rows[0].append(min(255, max(0, round(0.299 * r + 0.587 * g + 0.114 * b))))
            rows[1].append(min(255, max(0, round(128 - 0.168736 * r - 0.331264 * g + 0.5 * b))))
            rows[2].append(min(255, max(0, round(128 + 0.5 * r - 0.418688 * g - 0.081312 * b))))
        for c in range(3):
            ycc[c].append(rows[c])
    return ycc


def jpegs(width, height, pixels):
    grey = [[grey_of(p) for p in row] for row in pixels]
    ycc = ycc_planes(pixels)
    return {"jpeg-grey.jpg": jpeg(width, height, [grey], 2), "jpeg-colour.jpg": jpeg(width, height, ycc, 4)}


# ---- Showcase pictures ----

SHOWCASE_SIDE = 64


def showcase_picture(kind, side):
    """Pictures for the showcase's sprites, as rows of (red, green, blue, alpha)."""
    rows = []
    centre = (side - 1) / 2
    for y in range(side):
        row = []
        for x in range(side):
            dx, dy = x - centre, y - centre
            distance = math.sqrt(dx * dx + dy * dy) / (side / 2)
            if kind == "disc":  # a lit ball whose edge fades out
                shade = max(0.0, 1.0 - distance)
                alpha = 255 if distance < 0.8 else max(0, int(255 * (1.0 - distance) / 0.2))
                row.append((int(80 + 175 * shade), int(40 + 120 * shade), int(200 * shade), alpha))
            elif kind == "sunset":  # sky over a sea, with a sun
                if y < side * 0.6:
                    t = y / (side * 0.6)
                    sky = (int(40 + 215 * t), int(60 + 90 * t), int(150 - 100 * t))
                    sun = math.sqrt((x - side * 0.5) ** 2 + (y - side * 0.55) ** 2) < side * 0.15
                    row.append((255, 220, 120, 255) if sun else sky + (255,))
                else:
                    wave = 20 if (x // 4 + y // 2) % 5 == 0 else 0
                    row.append((20 + wave, 40 + wave, 90 + wave, 255))
            elif kind == "checker":  # a board with an arrow pointing right, to show mirroring
                light = (x // 8 + y // 8) % 2 == 0
                arrow = abs(y - centre) < (side * 0.85 - x) * 0.5 and x > side * 0.2
                if arrow:
                    row.append((230, 40, 40, 255))
                else:
                    row.append((220, 220, 200, 255) if light else (60, 90, 60, 255))
            elif kind == "stripes":  # diagonal stripes, every other one half transparent
                on = ((x + y) // 8) % 2 == 0
                row.append((250, 200, 40, 255) if on else (40, 160, 230, 128))
            else:  # "rings": concentric rings
                ring = int(distance * 8) % 2 == 0
                row.append((240, 240, 255, 255) if ring else (120, 40, 160, 255))
        rows.append(row)
    return rows


def showcase_files():
    side = SHOWCASE_SIDE
    files = {}
    disc = showcase_picture("disc", side)
    files["showcase-disc.png"] = png(side, side, 8, 6, [[c for p in row for c in p] for row in disc])
    files["showcase-sunset.jpg"] = jpeg(side, side, ycc_planes(showcase_picture("sunset", side)), 3)
    checker = showcase_picture("checker", side)
    files["showcase-checker.bmp"] = with_file_header(info_header(side, side, 24) + bmp_rows(side, side, 24, checker), 40)
    stripes = showcase_picture("stripes", side)
    files["showcase-stripes.tga"] = tga_header(2, side, side, 32, 0x28) + b"".join(
        tga_pixel(p, 32) for row in stripes for p in row)
    rings = showcase_picture("rings", side)
    argb = pixel_format(0x41, bits=32, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))
    levels = []
    for w, h in mip_sizes(side, side, 3):
        step = side // w
        levels.append(b"".join(bytes((p[2], p[1], p[0], p[3])) for row in rings[::step] for p in row[::step]))
    files["showcase-rings.dds"] = dds(side, side, argb, b"".join(levels), 3)
    return files


def model_texture_files():
    """The material textures named by tools/make_xfiles.py --assets, relative to the models' folder."""
    side = SHOWCASE_SIDE
    files = {}
    skin = showcase_picture("disc", side)
    files["textures/skin.png"] = png(side, side, 8, 2, [[c for p in row for c in p[:3]] for row in skin])
    files["textures/cloth.jpg"] = jpeg(side, side, ycc_planes(showcase_picture("stripes", side)), 3)
    brick = showcase_picture("checker", side)
    files["textures/brick.bmp"] = with_file_header(info_header(side, side, 24) + bmp_rows(side, side, 24, brick), 40)
    paint = showcase_picture("sunset", side)
    files["textures/paint.tga"] = tga_header(2, side, side, 32, 0x28) + b"".join(
        tga_pixel(p, 32) for row in paint for p in row)
    glass = [[(r, g, b, 160) for r, g, b, _ in row] for row in showcase_picture("rings", side)]
    files["textures/glass.png"] = png(side, side, 8, 6, [[c for p in row for c in p] for row in glass])
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--width", type=int, default=7)
    parser.add_argument("--height", type=int, default=5)
    parser.add_argument("--showcase", action="store_true", help="write the showcase's sprite pictures")
    parser.add_argument("--model-textures", action="store_true", help="write the sample models' textures")
    arguments = parser.parse_args()
    width, height = arguments.width, arguments.height
    os.makedirs(arguments.output, exist_ok=True)
    files = {}
    if arguments.showcase:
        files = showcase_files()
    elif arguments.model_textures:
        files = model_texture_files()
    else:
        pixels = pattern(width, height)
        for make in (bitmaps, targas, dds_files, portable_pixmaps, pngs, jpegs):
            files.update(make(width, height, pixels))
    for name, data in sorted(files.items()):
        path = os.path.join(arguments.output, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
    print("%d files written to %s" % (len(files), arguments.output))


if __name__ == "__main__":
    main()
