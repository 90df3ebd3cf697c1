"""Every processing record the program writes is valid against docs/record.schema.json.

check_records.py PROGRAM SCHEMA SCRATCH: runs `PROGRAM demo` and `PROGRAM process` on a
handful of recordings made here (mono, stereo and six channels, an MP3 where ffmpeg can make
one, a rate outside the chain's table, float samples that are not numbers, a file name that is
not UTF-8, a case ID in UTF-8, a residue, the input's own format), validates
every NAME.record.json they leave, and checks that the schema rejects typical mistakes (an
upper-case hash, a missing field, an unknown key, a parameter too few).
Exit status: 0 all as expected, 1 otherwise, 77 when jsonschema is missing."""

import copy
import json
import math
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import wave

try:
    import jsonschema
except ImportError:
    print("no jsonschema for this python3: skipped")
    sys.exit(77)


def write_pcm(path, rate, channels, frames):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        samples = []
        for n in range(frames):
            x = 0.3 * math.sin(2 * math.pi * 300 * n / rate) + 0.05 * math.sin(
                2 * math.pi * 60 * n / rate)
            samples += [int(x * 32767)] * channels
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def write_float(path, rate, values):
    data = struct.pack("<%df" % len(values), *values)
    fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)  # IEEE float, mono
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    pathlib.Path(path).write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


def run(program, *args):
    done = subprocess.run([program, *args], capture_output=True, text=True)
    return done.returncode, done.stderr


def main():
    program, schema_path, scratch = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    shutil.rmtree(scratch, ignore_errors=True)
    (scratch / "in").mkdir(parents=True)
    schema = json.loads(pathlib.Path(schema_path).read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(
        schema, format_checker=jsonschema.FormatChecker())

    write_pcm(scratch / "in" / "stereo.wav", 44100, 2, 20000)
    write_pcm(scratch / "in" / "odd-rate.wav", 16000, 1, 8000)
    write_pcm(scratch / "in" / os.fsdecode(b"caf\xe9.wav"), 8000, 1, 800)  # not UTF-8
    nan = [0.1] * 4000
    nan[100] = float("nan")
    write_float(scratch / "in" / "nan.wav", 48000, nan)
    write_pcm(scratch / "in" / "six.wav", 48000, 6, 4800)  # each channel its own chain
    expected = 7
    if shutil.which("ffmpeg"):  # a file decoded through FFmpeg: the decoder's fields
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        "sine=frequency=300:duration=1", "-ac", "2",
                        str(scratch / "in" / "tone.mp3")], check=True)
        expected += 1
    runs = [
        ("demo", "-o", str(scratch / "demo")),
        ("process", str(scratch / "in"), "-o", str(scratch / "batch"), "--residue",
         str(scratch / "removed"), "--case", "Fall-ÄÖ/17", "--examiner", "AB", "--quiet",
         "--hum-filter", "--auto-gain", "--eq-preset", "low-cut"),
        ("process", str(scratch / "in" / "stereo.wav"), "-o", str(scratch / "own.wav"),
         "--format", "--quiet"),
    ]
    failures = 0
    for arguments in runs:
        status, err = run(program, *arguments)
        if status != 0:
            print("FAILED veltrano %s: status %d\n%s" % (" ".join(arguments), status, err))
            failures += 1

    records = sorted(scratch.rglob("*.record.json"))
    if len(records) < expected:
        print("FAILED only %d records written" % len(records))
        failures += 1
    for path in records:
        errors = list(validator.iter_errors(json.loads(path.read_bytes())))
        for error in errors:
            print("FAILED %r: %s at %s" % (path, error.message, list(error.absolute_path)))
        failures += 1 if errors else 0

    # Mistakes the schema must catch, each made in a valid record.
    good = json.loads(records[0].read_bytes())
    mistakes = {
        "upper-case hash": lambda r: r["output"].update(sha256=r["output"]["sha256"].upper()),
        "short hash": lambda r: r["input"].update(sha256=r["input"]["sha256"][:63]),
        "missing frames": lambda r: r.pop("frames"),
        "unknown key in input": lambda r: r["input"].update(sha265="x"),
        "unknown top-level key": lambda r: r.update(note="x"),
        "relative path": lambda r: r["output"].update(path="restored.wav"),
        "34 parameters": lambda r: r["parameters"].pop(),
        "switch with a unit": lambda r: r["parameters"][20].update(unit="dB"),
        "normalized beyond 1": lambda r: r["parameters"][0].update(normalized=1.5),
        "date not UTC": lambda r: r.update(date_utc="2026-01-01 10:00:00"),
    }
    for name, mistake in mistakes.items():
        record = copy.deepcopy(good)
        mistake(record)
        if validator.is_valid(record):
            print("FAILED the schema accepts a record with a %s" % name)
            failures += 1

    print("%d records checked, %d mistakes caught" % (len(records), len(mistakes)))
    if failures == 0:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
