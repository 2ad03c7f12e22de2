"""The rvo Python module against numpy arrays and the rvo tool (ctest sets
PYTHONPATH to the built module and RVO_TOOL to the tool)."""
import json
import os
import random
import subprocess

import numpy as np
import pytest

import rvo

TOOL = os.environ.get("RVO_TOOL", os.path.join(os.path.dirname(__file__), "../../build/rvo"))
W, H, N = 96, 64, 6
MODES = ["jpeg", "raw", "packed"]


def clip(n=N, w=W, h=H):
    """Smooth colour (the JPEG codec's domain) and an alpha that varies, BGRA."""
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    frames = []
    for k in range(n):
        b = 128 + 100 * np.sin(x / 11 + k / 3)
        g = 128 + 100 * np.cos(y / 7 - k / 5)
        r = (x + y + 9 * k) % 256
        a = 128 + 120 * np.sin(x / 9 + y / 13 + k)
        frames.append(np.dstack([b, g, r, a]).astype(np.uint8))
    return np.stack(frames)


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return 99.0 if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def same(mode, got, want):
    if mode == "jpeg":
        return psnr(got, want) > 30
    return np.array_equal(got, want)


def write(path, frames, mode, order="BGRA"):
    with rvo.create(str(path), mode=mode, size=(frames.shape[2], frames.shape[1]), frames=len(frames)) as w:
        for f in frames:
            w.append(f, order=order)


@pytest.fixture(scope="module")
def frames():
    return clip()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("order", ["BGRA", "RGBA"])
def test_round_trip(tmp_path, frames, mode, order):
    given = frames[..., [2, 1, 0, 3]].copy() if order == "RGBA" else frames
    path = tmp_path / f"clip-{mode}.rvo"
    write(path, given, mode, order)
    with rvo.open(str(path)) as m:
        assert (m.mode, m.width, m.height, len(m), m.shape) == (mode, W, H, N, (N, H, W, 4))
        assert m.duration == 2.0 * (N - 1)
        assert len(m.entries) == (N if mode == "jpeg" else 0)
        assert m[0].shape == (H, W, 4) and m[0].dtype == np.uint8
        assert same(mode, np.stack([m.read(k, order=order) for k in range(N)]), given)
        assert same(mode, np.stack(list(m)), frames)
        assert np.array_equal(m[1:5:2], np.stack([m[1], m[3]])) and np.array_equal(m[-1], m[N - 1])
        # The same frame into the same memory again is decoded again.
        out = np.zeros((H, W, 4), np.uint8)
        m.read(2, out=out)
        out[:] = 0
        assert m.read(2, out=out) is out and same(mode, out, frames[2])
    info = rvo.info(str(path))
    assert (info["magic"], info["frameCount"], info["width"]) == ("QARVOV10", N, W)


@pytest.mark.parametrize("mode", MODES)
def test_same_bytes_as_the_tool(tmp_path, frames, mode):
    mine, theirs = tmp_path / "python.rvo", tmp_path / "tool.rvo"
    write(mine, frames, mode)
    subprocess.run([TOOL, "encode", "--mode", mode, "--size", f"{W}x{H}", "-o", str(theirs), "-"],
                   input=frames.tobytes(), check=True, capture_output=True)
    assert mine.read_bytes() == theirs.read_bytes()
    decoded = subprocess.run([TOOL, "decode", str(theirs), "-o", "-"], check=True, capture_output=True).stdout
    assert rvo.read_frames(str(mine)).tobytes() == decoded
    listed = subprocess.run([TOOL, "info", "--json", str(theirs)], check=True, capture_output=True).stdout
    assert rvo.info(str(mine)) == json.loads(listed)


@pytest.mark.parametrize("mode", MODES)
def test_threads_give_the_same_frames_and_files(tmp_path, frames, mode):
    files = []
    for threads in (1, 3):
        files.append(tmp_path / f"t{threads}.rvo")
        assert rvo.write_frames(str(files[-1]), frames, mode=mode, threads=threads) == N
    assert files[0].read_bytes() == files[1].read_bytes()
    one = rvo.read_frames(str(files[0]), threads=1)
    assert np.array_equal(one, rvo.read_frames(str(files[0]), threads=3))
    out = np.zeros((2, H, W, 4), np.uint8)
    assert rvo.read_frames(str(files[0]), threads=2, start=2, stop=4, out=out) is out
    assert np.array_equal(one[2:4], out)
    assert np.array_equal(one[..., [2, 1, 0, 3]], rvo.read_frames(str(files[0]), order="RGBA"))
    with rvo.open(str(files[0])) as m:
        assert np.array_equal(np.concatenate([m.read_frames(threads=3, stop=2), m.read_frames(threads=2, start=2)]), one)


@pytest.mark.parametrize("time, frame", [(0, 0), (0.5, 0), (4.5, 2), (4.502, 2), (5.6, 3), (1e9, N - 1)])
def test_frame_at_follows_the_host_time_rules(tmp_path, frames, time, frame):
    write(tmp_path / "t.rvo", frames, "packed")
    with rvo.open(str(tmp_path / "t.rvo")) as m:
        assert m.index_at(time) == frame
        assert np.array_equal(m.frame_at(time), frames[frame])


def damage(path, how):
    data = bytearray(path.read_bytes())
    if how == "truncated":
        data = data[: len(data) * 2 // 3]
    elif how == "no magic":
        data[0:8] = b"XXXXXXXX"
    elif how == "short":
        data = data[:100]
    elif how == "record header":
        data[512:528] = b"\xff" * 16
    path.write_bytes(bytes(data))


@pytest.mark.parametrize("mode, how", [("raw", "truncated"), ("packed", "truncated"), ("jpeg", "truncated"),
                                       ("packed", "no magic"), ("raw", "short"), ("packed", "record header")])
def test_damaged_files_raise_rvo_error(tmp_path, frames, mode, how):
    path = tmp_path / "d.rvo"
    write(path, frames, mode)
    damage(path, how)
    with pytest.raises(rvo.DamagedFileError):
        with rvo.open(str(path)) as m:
            list(m)
    report = rvo.verify(str(path))
    assert not report.ok and str(path) in report.message


def test_verify_names_a_damaged_copy_of_a_picture(tmp_path, frames):
    path = tmp_path / "c.rvo"
    write(path, frames, "jpeg")
    at = rvo.info(str(path))["entries"][2]["blobOffset"] + 40
    whole = path.read_bytes()
    data = bytearray(whole)
    data[at:at + 64] = b"\x55" * 64
    path.write_bytes(bytes(data))
    report = rvo.verify(str(path))
    assert not report.ok and report.bad_frame is None
    assert len(report.damaged_copies) == 1 and "frame 2: " in report.message
    assert report.damaged_copies[0].startswith("frame 2: the frame-area copy of its picture is damaged")
    # recover mends it from the index copy, as rvo recover does, into the file as written.
    r = rvo.recover(str(path))
    assert (r["path"], r["repaired"], r["damaged"]) == (str(tmp_path / "c-recovered.rvo"), [2], [])
    assert (tmp_path / "c-recovered.rvo").read_bytes() == whole


def four_then_stop(frames):
    yield from frames[:4]
    raise KeyError("stopped")


def append_then_stop(path, frames, mode):
    with rvo.create(path, mode=mode, size=(W, H), frames=N) as w:
        for f in four_then_stop(frames):
            w.append(f)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("stop", [append_then_stop,
                                  lambda path, frames, mode: rvo.write_frames(path, four_then_stop(frames),
                                                                              mode=mode, threads=2)])
def test_an_exception_leaves_the_file_recoverable(tmp_path, frames, mode, stop):
    path = tmp_path / "cut.rvo"
    with pytest.raises(KeyError):
        stop(str(path), frames, mode)
    with pytest.raises(rvo.DamagedFileError, match="unfinished"):
        rvo.open(str(path))
    r = rvo.recover(str(path))
    assert (r["frames"], r["damaged"], r["path"]) == (4, [], str(tmp_path / "cut-recovered.rvo"))
    assert same(mode, rvo.read_frames(r["path"]), frames[:4])
    with pytest.raises(rvo.DamagedFileError, match="unfinished"):
        rvo.open(str(path))   # the input is only read
    with pytest.raises(rvo.Error, match="exists"):
        rvo.recover(str(path))
    assert rvo.recover(str(path), in_place=True)["frames"] == 4
    assert same(mode, rvo.read_frames(str(path)), frames[:4])
    assert (tmp_path / "cut.rvo.bak").exists()


def test_sharing_violation(tmp_path, frames):
    write(tmp_path / "s.rvo", frames, "raw")
    with rvo.open(str(tmp_path / "s.rvo")):
        with pytest.raises(rvo.SharingViolationError):
            rvo.create(str(tmp_path / "s.rvo"), mode="raw", size=(W, H))


@pytest.mark.parametrize("call, error", [
    (lambda w: w.append(np.zeros((H, W, 4), np.float32)), TypeError),
    (lambda w: w.append([[0]]), TypeError),
    (lambda w: w.append(np.zeros((H, W, 3), np.uint8)), ValueError),
    (lambda w: w.append(np.zeros((H, 2 * W, 4), np.uint8)[:, ::2]), ValueError),
    (lambda w: w.append(np.zeros((H, W, 4), np.uint8), order="ARGB"), ValueError),
    (lambda w: rvo.create("x.rvo", mode="gif", size=(W, H)), ValueError),
    (lambda w: rvo.create("x.rvo", mode="raw", size=(0, H)), ValueError),
    (lambda w: rvo.read_frames("x.rvo", threads=-1), ValueError),
])
def test_bad_arguments(tmp_path, call, error):
    with rvo.create(str(tmp_path / "w.rvo"), mode="raw", size=(W, H)) as w:
        with pytest.raises(error):
            call(w)
        w.append(np.zeros((H, W, 4), np.uint8))


def test_randomly_damaged_files_never_crash(tmp_path):
    """Several hundred files with bytes changed, cut or cut short: every one
    reads, or fails with rvo.Error."""
    rng = random.Random(22)
    small = clip(n=3, w=32, h=32)
    originals = []
    for mode in MODES:
        write(tmp_path / f"o-{mode}.rvo", small, mode)
        originals.append((tmp_path / f"o-{mode}.rvo").read_bytes())
    path = tmp_path / "fuzz.rvo"
    for i in range(300):
        data = bytearray(rng.choice(originals))
        for _ in range(rng.randint(1, 8)):
            at = rng.randrange(len(data))
            data[at] = rng.randrange(256) if rng.random() < 0.7 else data[at] ^ 0x80
        if rng.random() < 0.2:
            data = data[: rng.randrange(len(data))]
        path.write_bytes(bytes(data))
        try:
            with rvo.open(str(path)) as m:
                for k in range(min(len(m), 4)):
                    m[k]
        except rvo.Error:
            pass
        rvo.verify(str(path), threads=2)
