#!/usr/bin/env python3
"""Writes the seed inputs of frame_loaders_fuzz and non_finite_repair_fuzz
into fuzz/corpus/; the same files on every run. Run from anywhere."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SEPARATOR = b"\n@@\n"  # frame_loaders_fuzz.cpp: kSeparator
NAN, INF = math.nan, math.inf

# Layer load order of frame_paths.h.
PRIMARY, SECONDARY, TEXCOLOR, NORMALS, POSITIONS, TEXCOORD, REST = range(7)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as file:
        file.write(data)


def layer(width, height, value):
    """An .imagef4 file; value(x, y, channel) gives each float."""
    floats = [value(x, y, c) for y in range(height) for x in range(width) for c in range(4)]
    return struct.pack("<ii", width, height) + struct.pack("<%df" % len(floats), *floats)


def plain_layers(width, height):
    def light(scale):
        return lambda x, y, c: scale * (1 + x + 2 * y + c) if c < 3 else 1.0

    normals = lambda x, y, c: [0.0, 0.6, 0.8, 0.0][c] * (-1 if (x + y) % 2 else 1)
    positions = lambda x, y, c: [x * 0.5, y * 0.5, 3.0 + x, 1.0][c]
    return [
        layer(width, height, light(0.25)),
        layer(width, height, light(0.5)),
        layer(width, height, light(0.125)),
        layer(width, height, normals),
        layer(width, height, positions),
        layer(width, height, lambda x, y, c: 0.5 * x),
        layer(width, height, light(0.0625)),
    ]


def with_values(data, changes):
    """An .imagef4 file with the floats at (x, y, channel) replaced."""
    width, height = struct.unpack_from("<ii", data)
    values = bytearray(data)
    for (x, y, c), value in changes.items():
        struct.pack_into("<f", values, 8 + 16 * (y * width + x) + 4 * c, value)
    return bytes(values)


def frame(layers, camera=b"0.5 1 -2\n", settings=b"1 1 1 1 0.4 12\n"):
    parts = list(layers) + [camera, settings]
    while parts and parts[-1] is None:
        parts.pop()
    for part in parts:
        assert SEPARATOR not in part
    return SEPARATOR.join(parts)


def frame_seeds():
    def changed(width, height, which, value):
        layers = plain_layers(width, height)
        layers[which] = layer(width, height, value)
        return layers

    layers = plain_layers(2, 2)
    layers[SECONDARY] = with_values(layers[SECONDARY], {(1, 0, 1): NAN})
    yield "nan_secondary_2x2", frame(layers)
    layers = plain_layers(3, 2)
    layers[TEXCOLOR] = with_values(layers[TEXCOLOR], {(0, 1, 0): INF, (2, 0, 2): -INF})
    yield "inf_texcolor_3x2", frame(layers)
    yield "plain_2x2", frame(plain_layers(2, 2))
    yield "plain_1x1", frame(plain_layers(1, 1))
    yield "all_nan_normals_2x2", frame(changed(2, 2, NORMALS, lambda x, y, c: NAN))
    yield "all_inf_primary_2x2", frame(changed(2, 2, PRIMARY, lambda x, y, c: INF))
    yield "nan_texcoord_2x1", frame(changed(2, 1, TEXCOORD, lambda x, y, c: NAN))
    yield "huge_positions_2x2", frame(changed(2, 2, POSITIONS, lambda x, y, c: 3e38 * (x - y)))
    layers = plain_layers(2, 2)
    layers[REST] = layer(1, 2, lambda x, y, c: 1.0)
    yield "sizes_differ", frame(layers)
    layers = plain_layers(2, 2)
    layers[NORMALS] = struct.pack("<ii", 0, 0)
    yield "empty_normals", frame(layers)
    yield "no_settings_2x2", frame(plain_layers(2, 2), settings=None)
    yield "nan_settings_2x2", frame(plain_layers(2, 2), settings=b"nan 1 inf 1 nan -inf\n")


# non_finite_repair_fuzz.cpp: one code byte per value.
def nan(k=0):
    return bytes([k & 0x1F])


INF_CODE, NEG_INF_CODE = bytes([0x28]), bytes([0x29])


def finite(value):
    """A multiple of 0.25 in [-24, 23.75]."""
    return bytes([0xA0 + int(round(value * 4))])


def raw(value):
    return bytes([0x30]) + struct.pack("<f", value)


def shape(rows, cols):
    return bytes([(rows - 1) | (cols - 1) << 4])


def repair_seeds():
    # Bytes 0 and 1: shape, then channels - 1 | view 4 | frame 8.
    grid = [finite(0.25 * (i % 9)) for i in range(16)]
    grid[5] = nan(3)
    yield "nan_inside_4x4", shape(4, 4) + bytes([0]) + b"".join(grid)
    values = [finite(1.0 + (i % 5)) for i in range(16 * 16 * 3)]
    for y in range(2, 14):
        for x in range(3, 15):
            values[3 * (16 * y + x) + 1] = nan(y)
    yield "hole_16x16", shape(16, 16) + bytes([2]) + b"".join(values)
    values = [finite(-2.0 + 0.5 * i) for i in range(3 * 5 * 2)]
    values[0], values[9] = INF_CODE, NEG_INF_CODE
    yield "view_3x5", shape(3, 5) + bytes([1 | 4]) + b"".join(values)
    pixel = finite(1.0) + finite(2.0) + nan(7) + raw(3.0e38)
    yield "nan_channel_2x3", shape(2, 3) + bytes([3]) + pixel * 6
    extremes = bytes(range(0x38, 0x40)) + bytes([0x20, 0x27])
    yield "extremes_1x10", shape(1, 10) + bytes([0]) + extremes

    def frame_layers(rows, cols, layers):
        data = b""
        for index in range(7):
            if layers[index] is not None:
                data += b"".join(layers[index](i) for i in range(rows * cols * 3))
        present = sum(1 << i for i in range(7) if layers[i] is not None)
        return shape(rows, cols) + bytes([8, present]) + data

    plain = lambda i: finite(0.5 * (i % 7))
    mixed = lambda i: nan(i) if i % 5 == 0 else plain(i)
    yield "frame_mixed_2x2", frame_layers(2, 2, [plain, mixed, plain, mixed, plain, mixed, plain])
    yield "frame_no_primary_3x2", frame_layers(
        3, 2, [lambda i: INF_CODE, plain, plain, plain, plain, None, plain])
    yield "frame_no_normals_2x3", frame_layers(
        2, 3, [plain, plain, plain, lambda i: nan(i), mixed, None, None])


for name, data in frame_seeds():
    write("frame_loaders", name, data)
for name, data in repair_seeds():
    write("non_finite_repair", name, data)
