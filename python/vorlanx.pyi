"""The Ombrel test signal: its plan, its exact samples, the generator's file, and the analyser."""

import os
from typing import Any, Callable, Literal, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str

class Settings:
    """The signal's settings, as vorlanx-gen's options name them (with '_' for '-').

    A value out of range, or not a number where one is due, raises ValueError with the programs'
    own message; a value of the wrong type raises TypeError.
    """

    duration: float
    sample_rate: int
    fundamental: float
    mother_amplitude: float
    carrier1: float
    daughter_amplitude1: float
    carrier2: float
    daughter_amplitude2: float
    nyquist_factor: float
    format: Literal["s16", "s24", "f32"]
    container: Literal["auto", "wav", "rf64", "flac"]
    fade_in: float
    fade_out: float

    def __init__(
        self,
        *,
        duration: float = ...,
        sample_rate: int = ...,
        fundamental: float = ...,
        mother_amplitude: float = ...,
        carrier1: float = ...,
        daughter_amplitude1: float = ...,
        carrier2: float = ...,
        daughter_amplitude2: float = ...,
        nyquist_factor: float = ...,
        format: Literal["s16", "s24", "f32"] = ...,
        container: Literal["auto", "wav", "rf64", "flac"] = ...,
        fade_in: float = ...,
        fade_out: float = ...,
    ) -> None: ...
    def __eq__(self, other: object) -> bool: ...

def plan(settings: Settings) -> dict[str, Any]:
    """What the settings will produce, as `vorlanx-gen --info --json` gives it (its keys and values)."""

def render(
    settings: Settings, start: int = 0, frames: Optional[int] = None
) -> Union[npt.NDArray[np.int16], npt.NDArray[np.int32], npt.NDArray[np.float32]]:
    """The exact samples the file holds from frame `start` on, shape (frames, 2).

    int16 for s16, int32 holding the 24-bit values for s24, float32 for f32. `frames` None means to the
    end; like a slice it stops at the file's end. Releases the GIL while it renders.
    """

def write(
    path: Union[str, os.PathLike[str]], settings: Settings, progress: Optional[Callable[[float], Any]] = None
) -> dict[str, Any]:
    """Writes the file as vorlanx-gen does, replacing `path` only once complete.

    Returns {path, frames, bytes, peak, clipping_warning}. KeyboardInterrupt (or an exception raised by
    `progress`) stops it and leaves `path` as it was; ValueError for refused settings; OSError with
    errno and path when the file cannot be opened or written, or has no room.
    """

class Result(dict[str, Any]):
    """The report's keys, as a dict; report() writes the page of the measurement behind it."""

def analyze(
    recording: Union[str, os.PathLike[str], npt.NDArray[Any]],
    settings: Settings,
    sample_rate: Optional[float] = None,
    full_scale: Optional[float] = None,
    skip: float = 0.1,
    length: Optional[float] = None,
    left: Optional[int] = None,
    right: Optional[int] = None,
    limits: Union[None, str, os.PathLike[str], dict[str, Any]] = None,
) -> Result:
    """Measures a recording (a path, or an array of shape (frames,) or (frames, channels) with its
    sample_rate) against the stimulus `settings` describe: the keys of `vorlanx-analyze --json`.

    An array's samples are taken against `full_scale`, by default their type's (1.0 for floats, 32767
    for int16, 2147483647 for int32; render's s24 arrays need 8388607). `skip` seconds are left out at
    the start, then at most `length` seconds analysed; `left` and `right` are 1-based channel numbers
    (right=0: no reference). `limits`, a limits file's path or a dict of the same shape, adds the verdict
    under "verdict" as `vorlanx-analyze --limits --json` gives it. ValueError for a recording that cannot
    be analysed or limits that do not parse, KeyboardInterrupt on Ctrl-C."""

def measure(
    settings: Settings,
    output: str = "",
    input: str = "",
    save_recording: str = "",
    skip: float = 0.1,
    length: Optional[float] = None,
    progress: Optional[Callable[[float], Any]] = None,
    continuous: bool = False,
    update: float = 1.0,
    average: int = 1,
    count: Optional[int] = None,
) -> Any:
    """Plays the stimulus on `output`, records `input` (device names or parts of them; empty: the
    default) and analyses the answer from the latency on, as `vorlanx-analyze --measure` does.

    Returns the report's keys and underruns, overruns, output_device, input_device. RuntimeError for a
    device that fails or a recording that is silent or clips, ValueError for refused settings or
    recordings, OSError when the recording cannot be written, KeyboardInterrupt on Ctrl-C.

    With continuous=True it returns a ContinuousMeasurement instead: the stimulus loops and each item
    is the Result of the newest `update` seconds (the coherent average of the newest `average` blocks),
    as `vorlanx-analyze --continuous --json` gives it, until `count` updates, close(), a break or
    Ctrl-C; the devices are released when it stops."""

def sweep(
    settings: Settings,
    *,
    level: Optional[tuple[float, float, float]] = None,
    fundamental: Optional[list[float]] = None,
    folder: Union[None, str, os.PathLike[str]] = None,
    output: str = "",
    input: str = "",
    skip: float = 0.1,
    length: Optional[float] = None,
    gain_at: Optional[float] = None,
    limit_db: float = -40.0,
) -> dict[str, Any]:
    """One measurement per level (dB against the settings' amplitudes) or per fundamental, live or from
    `folder` (recordings named by step: step_-40dB.wav, 277Hz.wav), as `vorlanx-analyze --sweep`.

    Returns kind, step_value and distortion_noise_db, even_order_db, odd_order_db, gain_db,
    noise_floor_dbfs as numpy arrays (NaN where a step was not measured), steps (Results or None),
    problems, and limit_db, best_level_db, limit_level_db (levels) or merged_response (fundamentals:
    arrays frequency_hz, gain_db, phase_deg, from_fundamental_hz)."""

class ContinuousMeasurement:
    """The updates of measure(continuous=True); an iterator and a context manager."""

    def __iter__(self) -> "ContinuousMeasurement": ...
    def __next__(self) -> Result: ...
    def close(self) -> None: ...
    def __enter__(self) -> "ContinuousMeasurement": ...
    def __exit__(self, *args: Any) -> None: ...

def play(settings: Settings, device: str = "", loop: bool = False) -> dict[str, Any]:
    """Plays the stimulus on an output device to its end, or with loop=True until Ctrl-C.

    Returns {device, frames, underruns}; RuntimeError for a device that fails."""

def report(result: Result, path: Union[str, os.PathLike[str]]) -> None:
    """Writes the measurement behind `result` (what analyze() or measure() returned) as one
    self-contained HTML page, as `vorlanx-analyze --report` does, replacing `path` only once complete.
    TypeError for anything but such a result, ValueError for one that was pickled (its spectrum does
    not travel), OSError when the page cannot be written."""
