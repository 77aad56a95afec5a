"""The Python module against the programs: render against the files vorlanx-gen writes, plan against
--info --json, analyze of an array against analyze of the file, the GIL released, and bad arguments
raising instead of crashing."""

import json
import os
import signal
import struct
import subprocess
import threading
import time

import numpy as np
import pytest

import vorlanx

GEN = os.environ["VORLANX_GEN"]


def options(settings):
    """The command line's options for `settings`, from its own repr-free properties."""
    names = ["duration", "sample_rate", "fundamental", "mother_amplitude", "carrier1", "daughter_amplitude1",
             "carrier2", "daughter_amplitude2", "nyquist_factor", "format", "fade_in", "fade_out"]
    result = []
    for name in names:
        value = getattr(settings, name)
        result += ["--" + name.replace("_", "-"), repr(value) if isinstance(value, float) else str(value)]
    return result


def file_samples(path):
    """The data chunk of a WAV file vorlanx-gen wrote, decoded by numpy: (frames, 2)."""
    data = open(path, "rb").read()
    at = 12
    while data[at:at + 4] != b"data":
        at += 8 + struct.unpack_from("<I", data, at + 4)[0]
    tag = struct.unpack_from("<H", data, 20)[0]
    bits = struct.unpack_from("<H", data, 34)[0]
    payload = data[at + 8:]
    if bits == 24:
        raw = np.frombuffer(payload, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
        values = raw[:, 0] | raw[:, 1] << 8 | raw[:, 2] << 16
        return np.where(values >= 1 << 23, values - (1 << 24), values).reshape(-1, 2)
    dtype = np.float32 if bits == 32 and tag in (3, 0xFFFE) else np.int16
    return np.frombuffer(payload, dtype=dtype).reshape(-1, 2)


TABLE = [
    dict(),
    dict(duration=0.7, format="s24", fade_in=0.1, fade_out=0.2, daughter_amplitude1=0.3),
    dict(duration=0.5, format="f32", mother_amplitude=2.5, carrier2=-700.0, daughter_amplitude2=0.4),
    dict(duration=2.2, sample_rate=8000, fundamental=55.5, nyquist_factor=1.0, mother_amplitude=1.7),
    dict(duration=0.0),
]


@pytest.mark.parametrize("keywords", TABLE)
def test_render_is_the_files_samples(tmp_path, keywords):
    settings = vorlanx.Settings(**keywords)
    path = tmp_path / "file.wav"
    subprocess.run([GEN, "-q", "-o", str(path)] + options(settings), check=True)
    expected = file_samples(path)
    rendered = vorlanx.render(settings)
    assert rendered.dtype == {"s16": np.int16, "s24": np.int32, "f32": np.float32}[settings.format]
    assert rendered.shape == expected.shape
    assert np.array_equal(rendered.view(np.uint8), np.ascontiguousarray(expected, rendered.dtype).view(np.uint8))


def test_slices_across_rounds_are_the_whole_renders_frames():
    settings = vorlanx.Settings(duration=4.0, fade_out=1.0, daughter_amplitude1=0.25)
    whole = vorlanx.render(settings)
    for start, frames in [(0, 1), (65530, 20), (131071, 3), (65536 * 2, 65536), (176390, None), (176399, 5)]:
        part = vorlanx.render(settings, start=start, frames=frames)
        end = len(whole) if frames is None else min(start + frames, len(whole))
        assert np.array_equal(part, whole[start:end]), (start, frames)
    assert vorlanx.render(settings, start=10**15).shape == (0, 2)
    assert vorlanx.render(settings, start=5, frames=10**30).shape == (len(whole) - 5, 2)
    assert whole.base is not None and not whole.flags["OWNDATA"], "the rendered memory itself"


def test_plan_is_info_json():
    for keywords in TABLE[:4] + [dict(fundamental=0.0)]:
        settings = vorlanx.Settings(**keywords)
        run = subprocess.run([GEN, "--info", "--json"] + options(settings), capture_output=True, text=True)
        assert vorlanx.plan(settings) == json.loads(run.stdout)


def test_analyze_of_an_array_is_analyze_of_its_file(tmp_path):
    for keywords, scale in [(dict(duration=3.0), None), (dict(duration=3.0, format="s24"), 8388607)]:
        settings = vorlanx.Settings(**keywords)
        path = tmp_path / "stimulus.wav"
        vorlanx.write(path, settings)
        of_file = vorlanx.analyze(path, settings)
        of_array = vorlanx.analyze(vorlanx.render(settings), settings, sample_rate=44100, full_scale=scale)
        for key in of_file:
            if key not in ("recording", "format"):
                assert of_file[key] == of_array[key], key
        # The stimulus itself: every tone at 0 dB, as its own formula says.
        assert all(abs(tone["gain_db"]) < 1e-3 for tone in of_file["tones"])
        # A non-contiguous view of the same samples measures the same.
        wide = np.repeat(vorlanx.render(settings), 2, axis=1)[:, ::2]
        assert vorlanx.analyze(wide, settings, sample_rate=44100, full_scale=scale)["tones"] == of_array["tones"]


def test_long_calls_release_the_gil():
    settings = vorlanx.Settings(duration=60.0, sample_rate=96000)
    spans = []

    def work():
        begin = time.perf_counter()
        vorlanx.render(settings)
        spans.append((begin, time.perf_counter()))

    threads = [threading.Thread(target=work) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    (a0, a1), (b0, b1) = spans
    assert a0 < b1 and b0 < a1, "the two renders ran at the same time"


def test_settings_say_what_the_programs_say():
    with pytest.raises(ValueError) as error:
        vorlanx.Settings(duration=-1)
    run = subprocess.run([GEN, "--info", "--duration", "-1"], capture_output=True, text=True)
    assert run.stderr.splitlines()[0] == "vorlanx-gen: --" + str(error.value)
    for keywords, kind in [(dict(sample_rate=44100.5), ValueError), (dict(nyquist_factor=float("nan")), ValueError),
                           (dict(format="s8"), ValueError), (dict(fundamental="277"), TypeError),
                           (dict(sample_rate=True), TypeError), (dict(unknown=1), TypeError),
                           (dict(sample_rate=10**40), ValueError)]:
        with pytest.raises(kind):
            vorlanx.Settings(**keywords)
    settings = vorlanx.Settings(fundamental=440, format="f32")
    assert settings.fundamental == 440.0 and settings.format == "f32" and settings.sample_rate == 44100
    assert settings == vorlanx.Settings(format="f32", fundamental=440.0)


def test_bad_arguments_raise(tmp_path):
    settings = vorlanx.Settings(duration=0.5)
    for call, kind in [
        (lambda: vorlanx.render(settings, frames=-1), ValueError),
        (lambda: vorlanx.render(settings, start=-3), ValueError),
        (lambda: vorlanx.render(settings, frames="10"), TypeError),
        (lambda: vorlanx.render("settings"), TypeError),
        (lambda: vorlanx.render(vorlanx.Settings(fundamental=0)), ValueError),
        (lambda: vorlanx.analyze(123, settings), TypeError),
        (lambda: vorlanx.analyze(np.zeros((10, 2, 2)), settings, sample_rate=44100), ValueError),
        (lambda: vorlanx.analyze(np.array([["a", "b"]]), settings, sample_rate=44100), ValueError),
        (lambda: vorlanx.analyze(np.zeros((0, 2)), settings, sample_rate=44100), ValueError),
        (lambda: vorlanx.analyze(np.zeros((100, 2)), settings), ValueError),
        (lambda: vorlanx.analyze(np.zeros((100, 2)), settings, sample_rate=-5), ValueError),
        (lambda: vorlanx.write(tmp_path, settings, progress=3), TypeError),
    ]:
        with pytest.raises(kind):
            call()
    (tmp_path / "text.wav").write_text("not audio")
    with pytest.raises(ValueError, match="text.wav"):
        vorlanx.analyze(tmp_path / "text.wav", settings)


def test_file_problems_are_os_errors_and_interrupts_leave_the_file(tmp_path):
    settings = vorlanx.Settings(duration=5.0)
    with pytest.raises(FileNotFoundError) as missing:
        vorlanx.write(tmp_path / "no" / "such.wav", settings)
    assert missing.value.errno == 2 and missing.value.filename == str(tmp_path / "no" / "such.wav")
    with pytest.raises(FileNotFoundError):
        vorlanx.analyze(tmp_path / "absent.wav", settings)

    target = tmp_path / "kept.wav"
    target.write_bytes(b"old")
    seen = []

    def interrupt(fraction):
        seen.append(fraction)
        if fraction > 0.1:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vorlanx.write(target, settings, progress=interrupt)
    assert target.read_bytes() == b"old" and sorted(os.listdir(tmp_path)) == ["kept.wav"]
    result = vorlanx.write(target, settings, progress=seen.append)
    assert seen[-1] == 1.0 and result["bytes"] == target.stat().st_size == 44 + 4 * 220500
    clipped = vorlanx.write(target, vorlanx.Settings(duration=0.1, mother_amplitude=3))
    assert clipped["clipping_warning"].startswith("Warning! Clipped samples detected")


def test_analyze_takes_the_part_and_the_channels(tmp_path):
    settings = vorlanx.Settings(duration=3.0, format="f32")
    stereo = vorlanx.render(settings)
    noise = np.random.default_rng(1).normal(0.0, 0.1, len(stereo)).astype(np.float32)
    # Three channels, the reference in the middle: refused with this module's own advice, then
    # measured as the stereo file once the channels are named.
    three = np.stack([stereo[:, 0], stereo[:, 1], noise], axis=1)
    with pytest.raises(ValueError, match=r"3 channels: choose the left and the reference with left=N and right=N"):
        vorlanx.analyze(three, settings, sample_rate=44100)
    chosen = vorlanx.analyze(three, settings, sample_rate=44100, left=1, right=2)
    whole = vorlanx.analyze(stereo, settings, sample_rate=44100)
    assert chosen["tones"] == whole["tones"] and chosen["left_channel"] == 1 and chosen["reference_channel"] == 2
    swapped = np.stack([noise, stereo[:, 1], stereo[:, 0]], axis=1)
    assert vorlanx.analyze(swapped, settings, sample_rate=44100, left=3, right=2)["tones"] == whole["tones"]
    # right=0: no reference, as a mono recording.
    assert vorlanx.analyze(stereo, settings, sample_rate=44100, right=0)["reference_channel"] is None
    # skip and length choose the frames: 1 s after 0.5 s, in whole segments.
    part = vorlanx.analyze(stereo, settings, sample_rate=44100, skip=0.5, length=1.0)
    assert part["skip_s"] == 0.5 and part["frames_analyzed"] <= 44100 < part["frames_analyzed"] + part["segment_frames"]
    for keywords in [dict(skip=-1.0), dict(length=0.0), dict(left=0), dict(right=-1), dict(left=4)]:
        with pytest.raises(ValueError):
            vorlanx.analyze(three, settings, sample_rate=44100, **keywords)


def test_measure_and_play_through_alsas_file_plugin(tmp_path):
    """measure() and play() on ALSA PCMs that write what is played to a file and record a file's bytes;
    run in a child interpreter, whose HOME holds the .asoundrc."""
    settings = vorlanx.Settings(duration=1.0, format="f32")
    # The device gives back the stimulus itself, then a second of silence: every tone at 0 dB.
    recorded = np.concatenate([vorlanx.render(settings), np.zeros((44100, 2), np.float32)])
    (tmp_path / "in.raw").write_bytes(recorded.tobytes())
    (tmp_path / ".asoundrc").write_text(
        f'pcm.test_out {{ type file slave.pcm "null" file "{tmp_path}/played.raw" format "raw" }}\n'
        f'pcm.test_in {{ type file slave.pcm "null" file "/dev/null" infile "{tmp_path}/in.raw" format "raw" }}\n')
    script = """
import json, os, vorlanx
s = vorlanx.Settings(duration=1.0, format="f32")
out = {"play": vorlanx.play(s, device="test_out")}
os.rename("played.raw", "played_once.raw")
m = vorlanx.measure(s, output="test_out", input="test_in")
out["gains"] = [t["gain_db"] for t in m["tones"]]
out["devices"] = [m["output_device"], m["input_device"]]
vorlanx.report(m, "live.html")
try:
    vorlanx.measure(s, output="no-such-device", input="test_in")
except RuntimeError as error:
    out["unknown"] = str(error)
open("in.raw", "wb").write(bytes(8 * 44100 * 3))
try:
    vorlanx.measure(s, output="test_out", input="test_in")
except RuntimeError as error:
    out["silent"] = str(error)
print(json.dumps(out))
"""
    env = dict(os.environ, HOME=str(tmp_path))
    run = subprocess.run([os.sys.executable, "-c", script], cwd=tmp_path, env=env, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout.strip().splitlines()[-1])
    assert out["play"]["frames"] == 44100 and out["play"]["device"].startswith("test_out")
    # The device plays silence of its own before the stimulus: align on the first sound.
    played = np.frombuffer((tmp_path / "played_once.raw").read_bytes(), np.float32).reshape(-1, 2)
    stimulus = vorlanx.render(settings)
    start = np.flatnonzero(played[:, 0])[0] - np.flatnonzero(stimulus[:, 0])[0]
    assert np.array_equal(played[start:start + len(stimulus)], stimulus) and not played[start + len(stimulus):].any()
    assert len(out["gains"]) == 37 and max(abs(g) for g in out["gains"]) < 0.01
    assert [d.split(" ")[0] for d in out["devices"]] == ["test_out", "test_in"]
    page = (tmp_path / "live.html").read_text()
    assert f"<td>Devices</td><td>output {out['devices'][0]}, input {out['devices'][1]}</td>" in page
    assert "<td>Latency</td><td>" in page
    assert "<td>Underruns, overruns</td><td>0 underruns, 0 overruns</td>" in page
    assert "no-such-device" in out["unknown"]
    assert "recorded silence" in out["silent"]


def test_continuous_measurement_is_an_iterator_that_releases_the_device(tmp_path):
    """measure(continuous=True) through ALSA's file plugin, paced by a thread of the child interpreter
    that feeds the input's FIFO with the stimulus's one-second period at about four times real time;
    breaking out of the loop releases the device for the next measurement."""
    (tmp_path / ".asoundrc").write_text(
        'pcm.test_out { type file slave.pcm "null" file "/dev/null" format "raw" }\n'
        f'pcm.test_in {{ type file slave.pcm "null" file "/dev/null" infile "{tmp_path}/in.fifo" format "raw" }}\n')
    os.mkfifo(tmp_path / "in.fifo")
    script = """
import json, os, threading, time, vorlanx
s = vorlanx.Settings(duration=1.0, format="f32")
period = vorlanx.render(s).tobytes()
stop = threading.Event()
def feed():
    fd = os.open("in.fifo", os.O_RDWR | os.O_NONBLOCK)
    at = 0
    while not stop.is_set():
        chunk = (period + period)[at:at + 4096]  # whole frames, written whole or not at all
        try:
            os.write(fd, chunk)
            at = (at + 4096) % len(period)
        except BlockingIOError:
            pass
        time.sleep(0.003)
threading.Thread(target=feed, daemon=True).start()
out = {"updates": []}
for result in vorlanx.measure(s, output="test_out", input="test_in", continuous=True, average=2):
    out["updates"].append([result["update"], result["averaged"], result["refusal"],
                           max(abs(t["gain_db"]) for t in result["tones"])])
    if len(out["updates"]) == 3:
        break
with vorlanx.measure(s, output="test_out", input="test_in", continuous=True, count=1) as again:
    out["again"] = [r["update"] for r in again]
for bad in [dict(average=0), dict(update=-1.0), dict(count=0), dict(save_recording="x.wav")]:
    try:
        vorlanx.measure(s, output="test_out", input="test_in", continuous=True, **bad)
    except ValueError as error:
        out.setdefault("refused", []).append(str(error))
stop.set()
print(json.dumps(out))
"""
    env = dict(os.environ, HOME=str(tmp_path))
    run = subprocess.run([os.sys.executable, "-c", script], cwd=tmp_path, env=env, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout.strip().splitlines()[-1])
    assert [u[:3] for u in out["updates"]] == [[1, 1, None], [2, 2, None], [3, 2, None]]
    assert max(u[3] for u in out["updates"]) < 0.001
    assert out["again"] == [1]
    assert len(out["refused"]) == 4


def test_sweep_of_a_folder_returns_the_table_as_arrays(tmp_path):
    """A level sweep of recordings made here: the stimulus at each level through a hard clipper at half of
    full scale, saved as 16-bit WAV. The steps whose peak passes 0.5 clip and no others; a step without
    its recording is NaN in the arrays, None in steps, and says why in problems."""
    import wave
    settings = vorlanx.Settings(duration=2.0, format="f32")
    peak = np.abs(vorlanx.render(settings)[:, 0]).max()
    for level in (-12, -6, 0):
        scaled = vorlanx.Settings(duration=2.0, format="f32", mother_amplitude=10 ** (level / 20))
        samples = vorlanx.render(scaled).astype(np.float64)
        samples[:, 0] = np.clip(samples[:, 0], -0.5, 0.5)
        with wave.open(str(tmp_path / f"step_{level}dB.wav"), "wb") as out:
            out.setnchannels(2)
            out.setsampwidth(2)
            out.setframerate(44100)
            out.writeframes(np.round(samples * 32767).astype("<i2").tobytes())
    result = vorlanx.sweep(settings, level=(-12, 0, 3), folder=tmp_path, limit_db=-60.0)
    assert result["kind"] == "level" and list(result["step_value"]) == [-12, -9, -6, -3, 0]
    dn = result["distortion_noise_db"]
    assert np.isnan(dn[1]) and np.isnan(dn[3]) and result["steps"][1] is None
    assert "no recording for the step -9" in result["problems"][1]
    clips = [peak * 10 ** (level / 20) > 0.5 for level in result["step_value"]]
    for i in (0, 2, 4):
        assert (dn[i] > -60) == clips[i], (result["step_value"][i], dn[i])
        assert result["steps"][i]["distortion_noise_db"] == pytest.approx(dn[i])
    first = next(v for v, c, d in zip(result["step_value"], clips, dn) if c and not np.isnan(d))
    assert result["limit_level_db"] == first
    with pytest.raises(ValueError, match="either level"):
        vorlanx.sweep(settings, folder=tmp_path)
    with pytest.raises(ValueError, match="STEP other than 0"):
        vorlanx.sweep(settings, level=(0, -6, 3), folder=tmp_path)


def test_paths_numbers_and_comparisons_follow_pythons_rules(tmp_path):
    # Paths: str, bytes and os.PathLike as open() takes them; a NUL is a ValueError before any work; a
    # name that is not UTF-8 is written, analysed and returned as the bytes or str it was given.
    settings = vorlanx.Settings(duration=1.0)
    with pytest.raises(ValueError, match="NUL"):
        vorlanx.analyze(str(tmp_path / "x.wav") + "\0junk", settings)
    with pytest.raises(ValueError, match="NUL"):
        vorlanx.write(str(tmp_path / "y.wav") + "\0", settings)
    assert os.listdir(tmp_path) == []
    odd = os.path.join(os.fsencode(tmp_path), b"bad\xff.wav")
    assert vorlanx.write(odd, settings)["path"] == odd
    assert os.path.getsize(odd) == 44 + 4 * 44100
    assert vorlanx.analyze(odd, settings)["fundamental_hz"] == pytest.approx(277.0)
    assert vorlanx.analyze(os.fsdecode(odd), settings)["fundamental_hz"] == pytest.approx(277.0)
    # Numbers: numpy's scalars as Python's; wrong types are TypeError, never RuntimeError.
    assert vorlanx.Settings(sample_rate=np.int64(48000)).sample_rate == 48000
    assert vorlanx.Settings(fundamental=np.float32(100.5)).fundamental == 100.5
    for call in [lambda: vorlanx.Settings(sample_rate="x"), lambda: vorlanx.Settings(duration=object()),
                 lambda: vorlanx.Settings(duration=True),
                 lambda: vorlanx.analyze(np.zeros((100, 2)), settings, sample_rate="x"),
                 lambda: vorlanx.analyze(3.5, settings)]:
        with pytest.raises(TypeError):
            call()
    assert (vorlanx.Settings() == 5) is False and vorlanx.Settings() != "x"
    assert vorlanx.Settings() == vorlanx.Settings()


def test_a_fifo_without_a_writer_does_not_hold_the_interpreter(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    ticks = []

    def tick():
        for _ in range(10):
            ticks.append(time.perf_counter())
            time.sleep(0.02)

    thread = threading.Thread(target=tick)
    thread.start()
    with pytest.raises(ValueError, match="fifo"):
        vorlanx.analyze(fifo, vorlanx.Settings())
    thread.join()
    assert len(ticks) == 10


def test_reaching_a_far_start_stops_on_ctrl_c():
    # Stepping 4e10 frames would take minutes: Ctrl-C ends it within a round, as KeyboardInterrupt.
    main = threading.main_thread().ident
    timer = threading.Timer(0.3, lambda: signal.pthread_kill(main, signal.SIGINT))
    timer.start()
    begin = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        vorlanx.render(vorlanx.Settings(duration=1e6), start=4 * 10**10, frames=10)
    timer.join()
    assert time.perf_counter() - begin < 5.0


def test_a_start_beyond_a_stepping_round_gives_the_whole_renders_frames():
    settings = vorlanx.Settings(duration=30.0, daughter_amplitude1=0.25, carrier2=-700.0, daughter_amplitude2=0.1)
    whole = vorlanx.render(settings)
    for start in [(1 << 20) - 1, 1 << 20, (1 << 20) + 12345]:
        assert np.array_equal(vorlanx.render(settings, start=start, frames=500), whole[start:start + 500]), start


def test_analyze_gives_the_verdict_of_limits_as_a_file_or_a_dict(tmp_path):
    settings = vorlanx.Settings(duration=2.0, format="f32")
    stimulus = vorlanx.render(settings)
    halved = stimulus.copy()
    halved[:, 0] *= 0.5  # a device at -6.02 dB
    dictionary = {"distortion_noise_db": {"max": -80.0}, "reference": {"thd_n_db": {"max": -60.0}},
                  "mask": [{"figure": "gain_db", "upper": [[20.0, 0.5], [20000.0, 0.5]],
                            "lower": [[20.0, -0.5], [20000.0, -0.5]]}]}
    (tmp_path / "limits.toml").write_text(
        'distortion_noise_db = { max = -80.0 }\n[reference]\nthd_n_db = { max = -60.0 }\n'
        '[[mask]]\nfigure = "gain_db"\nupper = [[20.0, 0.5], [20000.0, 0.5]]\nlower = [[20.0, -0.5], [20000.0, -0.5]]\n')
    for limits in [dictionary, tmp_path / "limits.toml"]:
        good = vorlanx.analyze(stimulus, settings, sample_rate=44100, limits=limits)["verdict"]
        assert good["pass"] and len(good["limits"]) == 3
        bad = vorlanx.analyze(halved, settings, sample_rate=44100, limits=limits)["verdict"]
        mask = [each for each in bad["limits"] if each["name"] == "mask gain_db"][0]
        assert not bad["pass"] and not mask["pass"]
        assert mask["margin"] == pytest.approx(0.5 - 20 * np.log10(2), abs=1e-3)
    with pytest.raises(ValueError, match="no figure is named"):
        vorlanx.analyze(stimulus, settings, sample_rate=44100, limits={"loudness": {"max": 1.0}})
    assert "verdict" not in vorlanx.analyze(stimulus, settings, sample_rate=44100)


def test_report_writes_the_page_of_the_measurement_behind_a_result(tmp_path):
    import copy
    import hashlib
    import pickle
    settings = vorlanx.Settings(duration=2.0)
    path = tmp_path / "halved.wav"
    vorlanx.write(str(tmp_path / "stimulus.wav"), settings)
    subprocess.run(["sox", str(tmp_path / "stimulus.wav"), str(path), "remix", "1v0.5", "2"], check=True)
    limits = {"mask": [{"figure": "gain_db", "upper": [[20.0, 0.5], [20000.0, 0.5]],
                        "lower": [[20.0, -0.5], [20000.0, -0.5]]}]}
    result = vorlanx.analyze(path, settings, limits=limits)
    assert isinstance(result, dict) and json.loads(json.dumps(result)) == dict(result)
    vorlanx.report(copy.deepcopy(result), tmp_path / "page.html")
    page = (tmp_path / "page.html").read_text()
    assert 'id="verdict">FAIL' in page and page.count('<svg class="plot"') == 2
    assert "<td>MD5</td><td>" + hashlib.md5(path.read_bytes()).hexdigest() + "</td>" in page
    plain = vorlanx.analyze(path, settings)
    vorlanx.report(plain, tmp_path / "plain.html")
    assert 'id="verdict"' not in (tmp_path / "plain.html").read_text()

    with pytest.raises(TypeError, match="analyze"):
        vorlanx.report(dict(result), tmp_path / "x.html")
    with pytest.raises(ValueError, match="pickled"):
        vorlanx.report(pickle.loads(pickle.dumps(result)), tmp_path / "x.html")
    with pytest.raises(OSError) as error:
        vorlanx.report(result, tmp_path / "no" / "x.html")
    assert error.value.errno == 2 and not (tmp_path / "x.html").exists()
