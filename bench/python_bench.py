#!/usr/bin/env python3
"""Frames per second reading and writing 1080p movies through the rvo Python
module against rvo encode / rvo decode, in the same run, with 1 thread and
with one per core, for every writable mode.

    /usr/bin/python3 bench/python_bench.py              # after make (build/rvo, build/python)
    /usr/bin/python3 bench/python_bench.py --frames 96 --repeat 5

The tool reads raw BGRA frames from a file on stdin (encode) and writes them
to /dev/null (decode); Python writes numpy arrays (rvo.write_frames; four distinct frames over and
over, as a program hands in frames it has just made) and
reads with movie.read_frames into one array of as many frames as the tool
keeps in flight (1 on one thread, 2 a thread on more). Each figure is
the best of --repeat runs (the tool's and Python's in turns), the tool's including its start-up. A ratio is
Python's frames/s over the tool's (1.00: the same speed); the processor
time per frame (user and system, every thread) and its ratio (the tool's
over Python's) say the same where other programs share the cores."""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "build", "python"))

import numpy as np  # noqa: E402

import rvo  # noqa: E402


def frames_1080p(n, w=1920, h=1080):
    """Smooth moving colour and alpha (what the JPEG codec is for), BGRA."""
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    out = np.empty((n, h, w, 4), np.uint8)
    for k in range(n):
        out[k, ..., 0] = 128 + 100 * np.sin(x / 97 + k / 7)
        out[k, ..., 1] = 128 + 100 * np.cos(y / 61 - k / 11)
        out[k, ..., 2] = (x / 8 + y / 5 + 3 * k) % 256
        out[k, ..., 3] = 128 + 120 * np.sin(x / 53 + y / 89 + k / 5)
    return out


def cpu_seconds(who):
    r = resource.getrusage(who)
    return r.ru_utime + r.ru_stime


def best_of_both(repeat, run_a, run_b):
    """The best elapsed and processor times of two runs taken in turns, so a
    load that comes and goes on the machine falls on both. run_a runs a
    child process (its processor time is the children's), run_b runs here."""
    wall, cpu = ([], []), ([], [])
    for _ in range(repeat):
        for i, run, who in ((0, run_a, resource.RUSAGE_CHILDREN), (1, run_b, resource.RUSAGE_SELF)):
            c, t = cpu_seconds(who), time.perf_counter()
            run()
            wall[i].append(time.perf_counter() - t)
            cpu[i].append(cpu_seconds(who) - c)
    return min(wall[0]), min(wall[1]), min(cpu[0]), min(cpu[1])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", default=os.path.join(HERE, "..", "build", "rvo"))
    ap.add_argument("--frames", type=int, default=48)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--modes", default="jpeg,raw,packed")
    ap.add_argument("--dir", default=None, help="scratch folder (default: a temporary one)")
    a = ap.parse_args()

    cores = os.cpu_count() or 1
    # Four distinct frames, over and over: Python hands in frames it has just
    # made (in the cache), as the tool reads each into a buffer it reuses.
    distinct = frames_1080p(4)
    n = a.frames
    frames = [distinct[k % len(distinct)] for k in range(n)]
    print(f"rvo {rvo.__version__}: {n} frames of 1920x1080, best of {a.repeat}, {cores} cores; "
          f"Python {sys.version.split()[0]} ({sys.executable})")
    print(f"{'mode':7} {'op':6} {'threads':>7} {'tool f/s':>9} {'python f/s':>10} {'ratio':>6} "
          f"{'tool cpu ms/f':>13} {'python cpu ms/f':>15} {'cpu ratio':>9}")
    with tempfile.TemporaryDirectory(dir=a.dir) as tmp:
        raw = os.path.join(tmp, "frames.bgra")
        with open(raw, "wb") as f:
            for frame in frames:
                f.write(frame.tobytes())
        for mode in a.modes.split(","):
            tool_file, py_file = os.path.join(tmp, f"tool-{mode}.rvo"), os.path.join(tmp, f"py-{mode}.rvo")
            for threads in sorted({1, cores}):
                def tool_encode():
                    with open(raw, "rb") as stdin:
                        subprocess.run([a.tool, "encode", "--mode", mode, "--size", "1920x1080", "--threads",
                                        str(threads), "-o", tool_file, "-"], stdin=stdin,
                                       stdout=subprocess.DEVNULL, check=True)

                def py_encode():
                    rvo.write_frames(py_file, frames, mode=mode, threads=threads)

                def tool_decode():
                    with open(os.devnull, "wb") as null:
                        subprocess.run([a.tool, "decode", tool_file, "--threads", str(threads), "-o", "-"],
                                       stdout=null, check=True)

                # Frames read a few at a time into one array, as a reader that
                # works on each frame and lets it go does: as many as the tool
                # keeps in buffers that it reuses (one on one thread, two a
                # thread on more), so both write to memory the cache holds.
                chunk = 1 if threads == 1 else 2 * threads
                out = np.empty((chunk,) + distinct.shape[1:], np.uint8)

                def py_decode():
                    with rvo.open(py_file) as movie:
                        for start in range(0, n, chunk):
                            stop = min(n, start + chunk)
                            movie.read_frames(threads=threads, start=start, stop=stop, out=out[:stop - start])

                for op, tool_run, py_run in (("write", tool_encode, py_encode), ("read", tool_decode, py_decode)):
                    t_tool, t_py, c_tool, c_py = best_of_both(a.repeat, tool_run, py_run)
                    print(f"{mode:7} {op:6} {threads:7d} {n / t_tool:9.1f} {n / t_py:10.1f} {t_tool / t_py:6.2f} "
                          f"{1000 * c_tool / n:13.2f} {1000 * c_py / n:15.2f} {c_tool / c_py:9.2f}", flush=True)
            if open(tool_file, "rb").read() != open(py_file, "rb").read():
                print(f"{mode}: the files differ", file=sys.stderr)
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
