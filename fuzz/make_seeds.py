#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Usage: make_seeds.py [MACHINE_TEMPLATE_DIR]

The seeds are committed; this script only documents where they come from
and makes them again. With a machine template (machine-template/ of a build
tree) the processor's seeds also get code of the demo firmware.
"""
import os
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")


def put(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def assembler():
    lines = [
        (0, False, "nop"), (0, False, "rtn nz"), (0, False, "trp"),
        (0, False, "jp &h1234"), (0, True, "jp &h1234"), (0, False, "jp $5"),
        (0, False, "jp ($5)"), (0, False, "cal c,100"), (0x100, False, "jr &h103"),
        (0x110, False, "jr &h103"), (0, False, "ld $1,$2"), (0, False, "ld $1,$sy"),
        (0, False, "ld $1,200"), (0, False, "ld $1,(ix-$3)"), (0, False, "ld $1,(iz+5)"),
        (0, False, "ld $1,($2)"), (0, False, "ld $1,$2,jr &h10"), (0, True, "ld $1,$2,jr &h10"),
        (0, True, "ld $1,$SY,jr &h10"), (0, False, "ldw $4,&hBEEF"), (0, False, "st 7,($sz)"),
        (0, False, "stw &h1234,($sx)"), (0, False, "ad (ix+$3),$5"),
        (0, False, "adw (iz-$sx),$1"), (0, False, "phsm $5,3"), (0, False, "adbm $1,5,2"),
        (0, False, "pre ix,&h1234"), (0, False, "pre ss,$2"), (0, False, "gst tm,$0"),
        (0, False, "pst ua,7"), (0, False, "db 1,2,3,4"), (0, False, "db 1,"),
        (0, False, "ldi$1,(ix+$2)"), (0, False, "  ; only a comment"),
        (0, False, "stm $1,(ix+$5),6"), (0, False, "bups 5"), (0, False, "ldm $3,$sx,4,jr 2"),
        (0x8000, False, "sbcw $7,$31"), (0, False, "psrm sy,$4,8"), (0, False, "gre ky,$2"),
    ]
    for i, (origin, word, text) in enumerate(lines):
        put("fuzz_assembler", "line%02d" % i, struct.pack("<HB", origin, 1 if word else 0) + text.encode())


def xasm():
    sources = [os.path.join(ROOT, "firmware", "demo", n) for n in sorted(os.listdir(os.path.join(ROOT, "firmware", "demo")))]
    sources.append(os.path.join(ROOT, "bench", "cpu_mix.s"))
    for path in sources:
        with open(path, "rb") as f:
            text = f.read()
        flags = 1 if path.endswith("rom0.s") else 0
        put("fuzz_xasm", os.path.basename(path), bytes([flags]) + text)
    put("fuzz_xasm", "small", b"\x06start: ld $1,lo(end)\n jr start\nend equ start+3\n db \"ab\",1\n dw -1\n ds 2,7\n")


def debug_info():
    put("fuzz_debug_info", "small",
        '{"version": 1, "word": false,\n "files": ["prog.s", "lib/io.s"],\n "lines": [\n'
        '  {"address":"2000","length":3,"file":0,"line":12},\n'
        '  {"address":"2003","length":1,"file":1,"line":4}],\n'
        ' "labels": [\n  {"name":"loop","address":"2003"}]}\n')
    put("fuzz_debug_info", "word",
        '{"version": 1, "word": true, "files": ["rom0.s"], "lines": '
        '[{"address":"0","length":2,"file":0,"line":1}], "labels": [], "extra": null}')


def disasm():
    seqs = [
        (0, 0x1000, "02 23 07"), (0, 0x1000, "02 E3 07 85"), (0, 0x2000, "B7 80"),
        (0, 0, "37 34 12"), (1, 0, "37 34 00 12"), (0, 0, "E0 61 A5"), (0, 0, "19 FF"),
        (0, 0xFFFE, "B7 05 00 00"), (0x40, 0x3FFE, "02 E3 07 85 F8 F8"),
        (1, 0x10, "E6 05 40 00 CA 01 25 00"),
    ]
    for i, (flags, offset, hexbytes) in enumerate(seqs):
        put("fuzz_disasm", "seq%02d" % i, struct.pack("<BH", flags, offset) + bytes.fromhex(hexbytes))
    rnd = random.Random(7)
    put("fuzz_disasm", "random", bytes([0, 0, 0x10]) + bytes(rnd.randrange(256) for _ in range(256)))


def cpu(template):
    rnd = random.Random(11)
    codes = []
    if template:
        with open(os.path.join(template, "rom1.bin"), "rb") as f:
            rom1 = f.read()
        codes.append(("demo_reset", rom1[0x1000:0x1600]))
        codes.append(("demo_later", rom1[0x1600:0x1C00]))
    codes.append(("random", bytes(rnd.randrange(256) for _ in range(512))))
    # The same instruction families in a row: transfers, LCD, port, stack.
    codes.append(("lcd", bytes.fromhex("1440 87 1240 20 1240 01 1440 86 D2 01 E0") * 8))
    codes.append(("port", bytes.fromhex("1600 38 5600 00 5620 00 D6 00 00 0C") * 8))
    for name, code in codes:
        # FuzzedDataProvider takes the registers and events from the end of
        # the input and the code from its front.
        tail = bytes(rnd.randrange(256) for _ in range(200))
        put("fuzz_cpu", name, code + tail)


def lcd():
    def seq(*parts):
        return bytes(b for p in parts for b in p)
    on_cmd = [0x00, 0x87]
    on_data = [0x00, 0x86]
    # Command nibbles are op 1 (0x20 | nibble); bytes are op 2 (0x40, byte).
    def nib(*ns):
        return [0x20 | n for n in ns]
    def byte(*bs):
        out = []
        for b in bs:
            out += [0x40, b]
        return out
    compose = [0x80]
    put("fuzz_lcd", "display_on_write", seq(on_cmd, [0x60], nib(4, 0, 1), [0x60], nib(2, 8, 0, 0, 0),
                                            on_data, [0x60], byte(0xFF, 0x81, 0x42), compose))
    put("fuzz_lcd", "characters", seq(on_cmd, [0x60], nib(4, 0, 1), [0x60], nib(8, 0, 2), [0x60], nib(3, 0, 0, 0, 0),
                                      on_data, [0xC0 | 16] + list(b"HELLO world 12345"), compose))
    put("fuzz_lcd", "cursor", seq(on_cmd, [0x60], nib(9, 0, 3), [0x60], nib(14, 1, 5, 9, 2), [0x60], nib(6, 0, 3),
                                  on_data, byte(0x3C, 0x42, 0x81), compose))
    put("fuzz_lcd", "user_glyph_pulse", seq(on_cmd, [0x60], nib(11, 0, 2), on_data, byte(1, 2, 3, 4, 5, 6, 7, 8),
                                            on_cmd, [0x60], nib(13, 0, 5), [0x00, 0x00], nib(1), compose, [0xE5]))


def ini():
    put("fuzz_ini", "defaults", "[Settings]\nOscFreq=910\nOptionCode=255\n[Floppy Disk Drive]\nAddress=\nPort=0\n")
    put("fuzz_ini", "drive", "\xEF\xBB\xBF; machine\r\n[settings]\r\n  oscfreq = 0x400\r\nOptionCode=341\r\n"
        "[Floppy Disk Drive]\r\nAddress=127.0.0.1\r\nPort=$1F90\r\n")
    put("fuzz_ini", "odd", "[Settings]\nOscFreq=-2147483648\nOscFreq=5\nOptionCode= +12 ; note\n"
        "[Floppy Disk Drive\nPort=99999999999\n=x\n#c\n")
    put("fuzz_ini", "integer", "0x7fffffff")


def images():
    rnd = random.Random(3)
    put("fuzz_images", "empty_region", bytes([0]))
    put("fuzz_images", "short_register", bytes([1]) + bytes(range(20)))
    put("fuzz_images", "register", bytes([1]) + bytes(rnd.randrange(256) for _ in range(36)))
    put("fuzz_images", "charset_short", bytes([2]) + bytes(range(100)))
    put("fuzz_images", "rom0_full", bytes([0]) + bytes(rnd.randrange(256) for _ in range(6144)))
    put("fuzz_images", "machine_start_close", bytes([0x81]) + bytes(rnd.randrange(256) for _ in range(100)))


def bmp(width, height, bits, pixels=None, palette=None, compression=0, bitfields=None):
    """A minimal Windows BMP with a BITMAPINFOHEADER."""
    row = ((width * bits + 31) // 32) * 4
    if pixels is None:
        rnd = random.Random(width * 1000 + height + bits)
        pixels = bytes(rnd.randrange(256) for _ in range(row * abs(height)))
    palette = palette or b""
    extra = bitfields or b""
    offset = 14 + 40 + len(extra) + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 2835, 2835,
                       len(palette) // 4, 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + extra + palette + pixels


def face():
    put("fuzz_face", "keys_24bit", bytes([0]) + bmp(16, 8, 24))
    put("fuzz_face", "overlay_full", bytes([1]) + bmp(432, 12, 24))
    put("fuzz_face", "face_8bit", bytes([2]) + bmp(20, 10, 8, palette=bytes(range(256)) * 4))
    put("fuzz_face", "keys_1bit", bytes([0]) + bmp(9, 5, 1, palette=b"\0\0\0\0\xff\xff\xff\0"))
    put("fuzz_face", "face_32bit_fields", bytes([2]) + bmp(4, 4, 32, compression=3,
                                                          bitfields=struct.pack("<III", 0xFF0000, 0xFF00, 0xFF)))
    rle = bytes([2, 5, 3, 7, 0, 0, 4, 1, 0, 1])
    put("fuzz_face", "face_rle8", bytes([2]) + bmp(8, 2, 8, pixels=rle, palette=bytes(range(256)) * 4,
                                                  compression=1))
    put("fuzz_face", "top_down", bytes([1]) + bmp(3, -3, 24))


def state(template):
    """State files of the demo machine, written by tarvo-run beside the template
    (booted, after typing, switched off), and a few cut or damaged copies."""
    if not template:
        return
    import shutil
    import subprocess
    import tempfile
    run = os.path.join(os.path.dirname(os.path.abspath(template)), "src", "cli", "tarvo-run")
    with tempfile.TemporaryDirectory() as d:
        for name in ("charset.bin", "rom0.bin", "rom1.bin"):
            shutil.copy(os.path.join(template, name), d)
        cases = {
            "booted": ["--ticks", "150"],
            "typed": ["--ticks", "400", "--type", "12*3{ENTER}7"],
            "switched_off": ["--ticks", "150", "--set", "powerOff=1"],
        }
        for name, args in cases.items():
            out = os.path.join(d, name + ".tst")
            subprocess.run([run, "--dir", d, "--state-out", out] + args, check=True,
                           stdout=subprocess.DEVNULL)
            with open(out, "rb") as f:
                data = f.read()
            put("fuzz_state", name, data)
        put("fuzz_state", "header_only", data[:44])
        put("fuzz_state", "cut_in_ram", data[:30000])
        put("fuzz_state", "not_a_state", b"GIF89a" + bytes(40))


def expression():
    state = struct.pack("<HHBBBB", 0x803A, 0x9000, 0x55, 0x80, 3, 0x0D)
    put("fuzz_expression", "condition", state + b"$3==&H0D && (IX)>&H10")
    put("fuzz_expression", "arith", state + b"[start+2]*3 - -1 << 2 >> 1 % 7 / 2 ^ ~0 | !NZ")
    put("fuzz_expression", "address", state + b"loop+1F")
    put("fuzz_expression", "symbols", state + b"start 8000\nloop 803A\nbad\n")
    put("fuzz_expression", "division", state + b"1/[PC-PC]")


def dap():
    def frame(*messages):
        out = b""
        for m in messages:
            body = m.encode()
            out += b"Content-Length: %d\r\n\r\n" % len(body) + body
        return out
    def req(seq, command, arguments="{}"):
        return '{"seq":%d,"type":"request","command":"%s","arguments":%s}' % (seq, command, arguments)
    put("fuzz_dap", "session", bytes([7]) + frame(
        req(2, "setBreakpoints", '{"source":{"path":"/tmp/p.s"},"breakpoints":[{"line":4,"hitCondition":"2"}]}'),
        req(3, "configurationDone"), req(4, "next"), req(5, "stepIn"), req(6, "stepOut"),
        req(7, "stackTrace"), req(8, "variables", '{"variablesReference":1}'),
        req(9, "evaluate", '{"expression":"(counter)+$1"}'), req(10, "continue"), req(11, "pause")))
    put("fuzz_dap", "memory", bytes([0]) + frame(
        req(2, "dataBreakpointInfo", '{"name":"counter"}'),
        req(3, "setDataBreakpoints", '{"breakpoints":[{"dataId":"0x18011","accessType":"readWrite"}]}'),
        req(4, "readMemory", '{"memoryReference":"counter","offset":-2,"count":9}'),
        req(5, "writeMemory", '{"memoryReference":"0x18000","data":"qrvM"}'),
        req(6, "disassemble", '{"memoryReference":"0x18004","instructionOffset":-3,"instructionCount":8}'),
        req(7, "setInstructionBreakpoints", '{"breakpoints":[{"instructionReference":"loop","offset":3}]}'),
        req(8, "setVariable", '{"variablesReference":2,"name":"Z","value":"1"}')))
    put("fuzz_dap", "malformed", bytes([3]) + b"Content-Length: x\r\n\r\n" + frame("{", "[]", req(2, "nope")))


def main():
    template = sys.argv[1] if len(sys.argv) > 1 else None
    assembler()
    xasm()
    debug_info()
    disasm()
    cpu(template)
    lcd()
    ini()
    images()
    face()
    state(template)
    expression()
    dap()


if __name__ == "__main__":
    main()
