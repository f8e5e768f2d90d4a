#!/usr/bin/env python3
# Writes the template file fixtures from the file layout alone (little-endian
# step count, six 48-byte step records, four counted UTF-16LE texts), so the
# tests compare the program's encoder with an independent one.
#   flow_pca.p8t              Flow, PCA + bolus, three empty slots; zero padding
#   flow_pca_padded_tail.p8t  the same with junk padding and a trailing tail
import struct


def step(t, vol, unit, rate, tol, h, m, pad=0):
    return (struct.pack('<i', t) + struct.pack('<I', pad) + struct.pack('<d', vol) +
            struct.pack('<i', unit) + struct.pack('<I', pad) + struct.pack('<d', rate) +
            struct.pack('<iii', tol, h, m) + struct.pack('<I', pad))


def text(s):
    u = s.encode('utf-16-le')
    return struct.pack('<i', len(u) // 2 + 1) + u + b'\0\0'


def build(pad=0, tail=b''):
    b = struct.pack('<i', 3)
    b += step(1, 10.5, 5, 25.25, 5, 1, 30, pad)
    b += step(3, 20.0, 5, 2.0, 10, 0, 45, pad)
    b += step(5, 1.5, 5, 0.0, 0, 0, 0, pad)
    for _ in range(3):
        b += step(0, 0.0, 1, 0.0, 0, 0, 0, pad)
    b += text('Infusion-1') + text('Ward 3 \u2013 ICU') + text('') + text('PX12345')
    return b + tail


open('flow_pca.p8t', 'wb').write(build())
open('flow_pca_padded_tail.p8t', 'wb').write(
    build(0xDEADBEEF, b'\x07\x00\x00\x00OLD TAIL OF A LONGER FILE'))
