#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets (the starting corpora before minimisation).

usage: fuzz/make_seeds.py OUTDIR    -> OUTDIR/<target>/seed-*

The input formats are described at the top of each fuzz/<target>_fuzzer.cpp."""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def head(channel, frame_type, dvr_type, data_len, group=0, wnd=0):
    # TFrameHead: 37 bytes, packed, little-endian.
    return struct.pack('<IIIIIIBBdBBB', channel, wnd, 0, 0, 0, data_len, frame_type, dvr_type, 0.0, group, 0, 2)


def zrv_stream_head(w, h, audio=False):
    b = bytearray(40)
    b[0:4] = b'ZRVS'
    struct.pack_into('<HHHHHHB', b, 4, 1, 40, w, h, 25, 8000 if audio else 0, 3 if audio else 1)
    return bytes(b)


def zrv_picture(w, h, seq, key=True):
    size = w * h + 2 * ((w // 2) * (h // 2))
    payload = bytes((i * 7 + seq) & 0xFF for i in range(size))
    return b'ZRVP' + struct.pack('<BBHHHIII', 1 if key else 2, 0, w, h, 0, len(payload), seq * 40, seq) + payload


def zrv_audio(seq, samples=80):
    payload = bytes(2 * samples)
    return b'ZRVP' + struct.pack('<BBHHHIII', 7, 0, 0, 0, 0, len(payload), seq * 40, seq) + payload


def mp4_units(name):
    stream = open(os.path.join(ROOT, 'samples', name + '.m4v'), 'rb').read()
    lines = open(os.path.join(ROOT, 'samples', name + '.idx')).read().split('\n')[1:]
    units = []
    for line in lines:
        parts = line.split()
        if len(parts) == 3:
            off, length = int(parts[1]), int(parts[2])
            units.append((parts[0], stream[off:off + length]))
    return units


def write(outdir, target, name, data):
    d = os.path.join(outdir, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'seed-' + name), 'wb') as f:
        f.write(data)


def mp4_seeds(outdir):
    kinds = {'H': 1, 'I': 2, 'P': 4, 'B': 3}
    for name in ('cif', 'cif_bframes', 'd1', 'odd353'):
        units = mp4_units(name)
        for count, flags in ((2, 0), (4, 0x40), (6, 0xC0)):
            out = bytearray()
            for i, (kind, data) in enumerate(units[:count]):
                k = kinds[kind] | (flags if i == count - 1 or (flags & 0x40 and i == 1) else 0)
                out += bytes([k]) + struct.pack('<I', len(data))[:3] + data
            if len(out) <= 200000:
                write(outdir, 'mp4', '%s-%d' % (name, count), bytes(out))


FRAME = 0x00           # operation bytes below 0x60 are frames
CTRL_CALLBACK = 0x60   # 0x60 % 20 = 16: the PlayM4 controls; see below for the exact ones


def frame_record(h, data, mode=1):
    return bytes([FRAME]) + h + bytes([0, mode]) + struct.pack('<H', len(data)) + data


def control(op, channel_byte, type_byte, extra=b''):
    return bytes([op, channel_byte, type_byte]) + extra


def control_op(case):
    # Control operations are op bytes >= 0x60, taken modulo 20.
    for op in range(0x60, 0x100):
        if op % 20 == case:
            return op
    raise ValueError(case)


def frames_seeds(outdir):
    types = {1: 0, 4: 4, 6: 7, 8: 8, 9: 9, 10: 10, 12: 11, 15: 16, 18: 18, 21: 20, 22: 21}
    mp4 = mp4_units('cif')
    for dvr, sel in types.items():
        w, h = 16, 12
        out = bytearray()
        fh = zrv_stream_head(w, h, audio=True)
        out += frame_record(head(0, 1, sel, len(fh)), fh)
        out += control(control_op(0), 0, sel)      # host decode callback
        out += control(control_op(2), 0, sel)      # sound
        for seq in range(3):
            pic = zrv_picture(w, h, seq, key=seq == 0)
            out += frame_record(head(0, 2 if seq == 0 else 4, sel, len(pic)), pic)
        a = zrv_audio(9)
        out += frame_record(head(0, 7, sel, len(a)), a)
        out += control(control_op(5), 0, sel)      # snapshot
        out += control(control_op(4), 0, sel)      # close
        write(outdir, 'frames', 'type%d' % dvr, bytes(out))
    # MPEG-4: file head and two frames on two channels, snapshot, a second file head.
    out = bytearray()
    for ch in (0, 1):
        out += frame_record(head(ch, 1, 13, len(mp4[0][1])), mp4[0][1])
        for kind, data in mp4[1:3]:
            out += frame_record(head(ch, 2 if kind == 'I' else 4, 13, len(data)), data)
    out += control(control_op(0), 0, 12)
    out += control(control_op(5), 0, 12)
    out += frame_record(head(0, 1, 0, 40), zrv_stream_head(16, 12))
    write(outdir, 'frames', 'mp4-two-channels', bytes(out))
    # PlayM4 family on port 2 (group 4).
    fh = zrv_stream_head(16, 12)
    pic = zrv_picture(16, 12, 0)
    out = bytearray()
    out += bytes([control_op(12), 4 | (2 << 3), 0, len(fh)]) + fh
    out += bytes([control_op(9), 4 | (2 << 3), 0, 1])
    out += bytes([control_op(10), 4 | (2 << 3), 0])
    out += bytes([control_op(11), 4 | (2 << 3), 0, 255]) + pic[:255]
    out += bytes([control_op(14), 4 | (2 << 3), 0])
    out += bytes([control_op(16), 4 | (2 << 3), 0])
    out += bytes([control_op(13), 4 | (2 << 3), 0, 1])
    write(outdir, 'frames', 'playm4', bytes(out))
    # Bad heads: null data, huge lengths, out-of-table channels, frame types 0 and 8.
    out = bytearray()
    out += bytes([FRAME]) + head(0, 2, 0, 0) + bytes([0, 0 | (2 << 3)]) + struct.pack('<H', 0)
    out += bytes([FRAME]) + head(7, 1, 0, 0, group=9) + bytes([0x80, 1]) + struct.pack('<H', 0)
    out += bytes([FRAME]) + head(0, 0, 0, 0) + bytes([0x40, 1]) + struct.pack('<H', 0)
    out += bytes([FRAME]) + head(0, 8, 0, 0) + bytes([0x40, 1]) + struct.pack('<H', 0)
    out += control(control_op(4), 0xFF, 0) + control(control_op(5), 0xFE, 0)
    write(outdir, 'frames', 'bad-heads', bytes(out))


def api_seeds(outdir):
    mp4 = mp4_units('cif')
    hdr, iframe = mp4[0][1], mp4[1][1]
    out = bytearray()
    out += bytes([0, 0])                                   # initialise with the test tree
    out += bytes([2, 0, 12, len(hdr)]) + hdr               # MPEG-4 file head on (0, 0)
    out += bytes([7, 0, 12])                               # callback
    out += bytes([3, 0, 12, 0, 255]) + iframe[:255]
    out += bytes([6, 0, 12])                               # snapshot
    out += bytes([5, 0, 12])                               # close
    out += bytes([1, 0])                                   # shut down
    out += bytes([2, 0, 12, 4]) + b'abcd'                  # after shut down
    write(outdir, 'api', 'mp4-life', bytes(out))
    fh = zrv_stream_head(16, 12)
    out = bytearray()
    out += bytes([0, 0, 2, 0, 0, len(fh)]) + fh
    out += bytes([1, 1, 0, 1]) + bytes([2, 8, 0, len(fh)]) + fh  # shut down with a stream open
    write(outdir, 'api', 'hik-shutdown-open', bytes(out))
    write(outdir, 'api', 'no-engine', bytes([5, 0, 0, 6, 0, 0, 7, 0, 0, 8, 0, 0, 9, 0, 0, 10, 0, 0, 0, 1, 11, 0, 0]))
    write(outdir, 'api', 'empty-dir', bytes([0, 1, 2, 0, 0, 4]) + b'ZRVS' + bytes([0, 2, 0, 13, 4]) + b'1234')


def yuv_seeds(outdir):
    sizes = [(0, 0), (1, 1), (2, 2), (3, 3), (2, 1), (17, 9), (352, 288), (353, 289), (4096, 2), (2, 4096), (64, 64)]
    for mode in range(5):
        for w, h in sizes:
            data = struct.pack('<HHB', w, h, mode) + bytes(range(16, 240, 3))
            write(outdir, 'yuv', 'm%d-%dx%d' % (mode, w, h), data)


if __name__ == '__main__':
    out = sys.argv[1]
    mp4_seeds(out)
    frames_seeds(out)
    api_seeds(out)
    yuv_seeds(out)
