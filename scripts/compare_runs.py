#!/usr/bin/env python3
# Runs two builds of tarvo-run (an old and a new one) on the same random
# arguments over copies of one machine directory and compares exit status,
# standard output, standard error and every file of the directory after the
# run. Fields that only the new build prints ("stateDigest", "stopReason",
# "stopAddress") are left out of the comparison, and the new build types at
# the old fixed pace (--type-pace) when it has that option and the old build
# does not (an old build without it typed at that pace).
#
# Usage: compare_runs.py OLD_TARVO_RUN NEW_TARVO_RUN MACHINE_DIR RUNS [SEED]
import random, subprocess, sys, shutil, os, re, tempfile
old, new, template, n = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
seed = int(sys.argv[5]) if len(sys.argv) > 5 else 1
rng = random.Random(seed)
regs8 = "SX SY SZ UA IA IB IE PE PD TM F segmentLatch inService".split()
regs16 = "PC SS US IX IY IZ KY".split()
chars = "0123456789+-*/.=()ABCDQWERTY ;:,"
keys = ["{ENTER}", "{BS}", "{ESC}", "{UP}", "{LEFT}", "{DEL}", "{INS}"]
def args():
    a = []
    r = rng.random()
    if r < 0.6:
        a += ["--ticks", str(rng.randint(0, 600))]
        if rng.random() < 0.7:
            t = "".join(rng.choice(chars) if rng.random() < 0.85 else rng.choice(keys) for _ in range(rng.randint(1, 12)))
            a += ["--type", t]
    elif r < 0.9:
        a += ["--steps", str(rng.randint(0, 20000))]
    for _ in range(rng.randint(0, 3)):
        addr = rng.choice([0x10000, 0x12000, 0x28000, 0x2F000, 0x1F000])
        a += ["--poke", "%X=%s" % (addr + rng.randint(0, 0xF00), "".join("%02X" % rng.randint(0, 255) for _ in range(rng.randint(1, 8))))]
    for _ in range(rng.randint(0, 3)):
        if rng.random() < 0.5:
            a += ["--set", "%s=%X" % (rng.choice(regs8), rng.randint(0, 255))]
        elif rng.random() < 0.5:
            a += ["--set", "%s=%X" % (rng.choice(regs16), rng.randint(0, 0xFFFF))]
        else:
            a += ["--set", "R%d=%X" % (rng.randint(0, 31), rng.randint(0, 255))]
    if rng.random() < 0.3: a += ["--set", "clockShift=%X" % rng.choice([0, 4, 15, 16])]
    if rng.random() < 0.2: a += ["--set", "powerOff=%X" % rng.choice([0, 1, 2])]
    if rng.random() < 0.5: a += ["--peek", "%X:%d" % (rng.choice([0x10000, 0x28000, 0xC00, 0]), rng.randint(0, 64))]
    if rng.random() < 0.5: a += ["--lcd-chars"]
    if rng.random() < 0.3: a += ["--lcd-text"]
    if rng.random() < 0.8: a += ["--dump"]
    if rng.random() < 0.3: a += ["--save"]
    return a
def run(binary, a):
    d = tempfile.mkdtemp()
    m = os.path.join(d, "m"); shutil.copytree(template, m)
    if rng_files:
        for name, data in rng_files: open(os.path.join(m, name), "wb").write(data)
    extra = ["--type-pace"] if (binary == new and paced and "--type" in a) else []
    p = subprocess.run([binary, "--dir", m] + a + extra, capture_output=True, timeout=120)
    files = {f: open(os.path.join(m, f), "rb").read() for f in sorted(os.listdir(m))}
    shutil.rmtree(d)
    out = re.sub(rb',"stateDigest":"[0-9a-f]{16}"(,"stopReason":"[a-z]+","stopAddress":"[0-9A-F]+")?', b"", p.stdout)
    return p.returncode, out, p.stderr, files
def hasPace(binary):
    return b"--type-pace" in subprocess.run([binary, "--help"], capture_output=True).stdout
paced = hasPace(new) and not hasPace(old)
diff = 0
for i in range(n):
    a = args()
    rng_files = []
    if rng.random() < 0.3:
        rng_files.append(("tarvo.ini", ("[Settings]\nOscFreq=%d\n" % rng.choice([1, 20, 455, 910, 1820, 0, -5])).encode()))
    if run(old, a) != run(new, a):
        diff += 1
        print("DIFFERENT:", " ".join(a))
print("%d runs, %d different" % (n, diff))
