#!/usr/bin/env python3
"""tarvo-dap's figures: time from launch to the first stopped event, pause
latency while a program runs, and source-line steps (next) per second.

    bench/dap_figures.py BUILD_DIR

Drives BUILD_DIR/src/cli/tarvo-dap over its standard input and output as an
editor does, on a copy of the demo machine (BUILD_DIR/machine-template) with
a small counting loop that calls a routine."""
import json, os, select, shutil, statistics, subprocess, sys, tempfile, time

PROGRAM = """        org &H8000
start:  pre ss,&HFF00
        pre ix,counter
        ld $30,0
        ld $1,0
        ld $3,0
loop:   ad $1,1
        cal bump
        jp loop
bump:   ad $3,2
        st $1,(ix+$30)
        rtn
counter: db 0
"""
LOOP_LINE = 7


class Adapter:
    def __init__(self, exe):
        self.p = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buf = b""
        self.seq = 0

    def send(self, command, args=None):
        self.seq += 1
        m = {"seq": self.seq, "type": "request", "command": command}
        if args is not None:
            m["arguments"] = args
        body = json.dumps(m).encode()
        self.p.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.p.stdin.flush()
        return self.seq

    def next(self, timeout=30):
        end = time.monotonic() + timeout
        while True:
            i = self.buf.find(b"\r\n\r\n")
            if i >= 0:
                n = int(self.buf[:i].split(b":")[1])
                if len(self.buf) >= i + 4 + n:
                    body = self.buf[i + 4:i + 4 + n]
                    self.buf = self.buf[i + 4 + n:]
                    return json.loads(body)
            r, _, _ = select.select([self.p.stdout], [], [], max(0, end - time.monotonic()))
            if not r:
                raise TimeoutError
            data = os.read(self.p.stdout.fileno(), 65536)
            if not data:
                raise EOFError
            self.buf += data

    def until(self, pred):
        while True:
            m = self.next()
            if pred(m):
                return m

    def request(self, command, args=None):
        s = self.send(command, args)
        return self.until(lambda m: m.get("type") == "response" and m.get("request_seq") == s)

    def stopped(self):
        return self.until(lambda m: m.get("event") == "stopped")

    def close(self):
        self.request("disconnect")
        self.p.wait(10)


def session(exe, machine, source, stop_on_entry, breakpoint_line=None):
    a = Adapter(exe)
    a.request("initialize", {"adapterID": "tarvo"})
    t0 = time.monotonic()
    a.request("launch", {"machine": machine, "program": source, "stopOnEntry": stop_on_entry})
    if breakpoint_line:
        a.request("setBreakpoints", {"source": {"path": source},
                                     "breakpoints": [{"line": breakpoint_line}]})
    a.request("configurationDone")
    a.stopped()
    return a, time.monotonic() - t0


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    exe = os.path.join(build, "src/cli/tarvo-dap")
    work = tempfile.mkdtemp(prefix="tarvo-dap-bench-")
    try:
        machine = os.path.join(work, "machine")
        os.mkdir(machine)
        for name in ("charset.bin", "rom0.bin", "rom1.bin"):
            shutil.copy(os.path.join(build, "machine-template", name), machine)
        source = os.path.join(work, "count.s")
        with open(source, "w") as f:
            f.write(PROGRAM)

        entry = []
        first_break = []
        for _ in range(10):
            a, t = session(exe, machine, source, True)
            entry.append(t)
            a.close()
            a, t = session(exe, machine, source, False, LOOP_LINE)
            first_break.append(t)
            a.close()
        print("launch to first stopped (entry):      median %.1f ms, max %.1f ms"
              % (statistics.median(entry) * 1e3, max(entry) * 1e3))
        print("launch to first stopped (breakpoint): median %.1f ms, max %.1f ms"
              % (statistics.median(first_break) * 1e3, max(first_break) * 1e3))

        a, _ = session(exe, machine, source, True)
        pauses = []
        for _ in range(20):
            a.request("continue", {"threadId": 1})
            time.sleep(0.1)
            t0 = time.monotonic()
            a.send("pause", {"threadId": 1})
            a.stopped()
            pauses.append(time.monotonic() - t0)
        print("pause to stopped while running:       median %.2f ms, max %.2f ms (20 pauses)"
              % (statistics.median(pauses) * 1e3, max(pauses) * 1e3))

        n = 2000
        t0 = time.monotonic()
        for _ in range(n):
            a.request("next", {"threadId": 1})
            a.stopped()
        t = time.monotonic() - t0
        print("next (by source line, over the cal):  %d steps in %.2f s, %.0f steps/s"
              % (n, t, n / t))
        a.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
