"""The case report renders in a real browser, is valid HTML and stands on its own.

check_report.py PROGRAM SCRATCH: makes a stereo recording (a tone, a drifting 50 Hz hum, noise
and a few samples at full scale), processes it with a residue and hum tracking into a folder
whose name needs quoting, then
  - validates NAME.report.html with html5lib (no parse errors) and checks that it needs nothing
    from outside (no script, every src and href a data URI or a fragment);
  - has headless Chromium dump the DOM and checks the texts of the axes, the warnings and the
    verify command;
  - has it take a screenshot and checks that three spectrograms drew (bands of rows full of the
    colour map's colours) and that the plots drew (pixels of the input and output colours);
  - has it print the page and checks the PDF's pages are A4.
Exit status 0 when all hold, 1 otherwise. Needs /usr/bin/chromium, html5lib and PIL."""

import html as markup
import math
import os
import pathlib
import random
import re
import shutil
import struct
import subprocess
import sys
import wave

import html5lib
from PIL import Image

# The colour map's anchors (dark violet to yellow), as the program draws them.
VIRIDIS = [(68, 1, 84), (71, 45, 123), (59, 82, 139), (44, 114, 142), (33, 144, 140),
           (39, 173, 129), (93, 200, 99), (170, 220, 50), (253, 231, 37)]
INPUT_COLOUR = (0x2F, 0x6D, 0xB5)
OUTPUT_COLOUR = (0xD4, 0x56, 0x0E)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def write_recording(path, rate, seconds):
    rng = random.Random(7)
    frames = rate * seconds
    samples = []
    phase = 0.0
    for n in range(frames):
        hum_hz = 50.0 + 0.6 * n / frames  # drifts up by 0.6 Hz
        phase += 2 * math.pi * hum_hz / rate
        tone = 0.3 * math.sin(2 * math.pi * 1000 * n / rate) if (n // rate) % 4 < 2 else 0.0
        x = tone + 0.1 * math.sin(phase) + 0.1 * math.sin(3 * phase) + rng.gauss(0, 0.01)
        left = max(-32768, min(32767, int(x * 32767)))
        samples += [left, max(-32768, min(32767, int(0.8 * x * 32767)))]
    for k in range(5):  # five samples at full scale: a warning
        samples[2 * (rate * 3 + k)] = -32768
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def chromium(*args):
    profile = SCRATCH / "profile"
    command = ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
               "--disable-quic", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--hide-scrollbars",
               "--force-device-scale-factor=1", "--user-data-dir=" + str(profile), *args]
    return subprocess.run(command, capture_output=True, timeout=180)


def near(pixel, colour, tolerance):
    return sum((a - b) ** 2 for a, b in zip(pixel, colour)) <= tolerance ** 2


def viridis_like(pixel):
    # Within a few steps of the line between two neighbouring anchors.
    r, g, b = pixel[:3]
    for (r0, g0, b0), (r1, g1, b1) in zip(VIRIDIS, VIRIDIS[1:]):
        dr, dg, db = r1 - r0, g1 - g0, b1 - b0
        t = ((r - r0) * dr + (g - g0) * dg + (b - b0) * db) / float(dr * dr + dg * dg + db * db)
        t = min(1.0, max(0.0, t))
        if (r - r0 - t * dr) ** 2 + (g - g0 - t * dg) ** 2 + (b - b0 - t * db) ** 2 <= 64:
            return True
    return False


if len(sys.argv) != 3:
    sys.exit(__doc__)
PROGRAM = sys.argv[1]
SCRATCH = pathlib.Path(sys.argv[2])
if not os.path.exists("/usr/bin/chromium"):
    print("FAILED: /usr/bin/chromium is missing (scripts/setup.sh installs it)")
    sys.exit(1)
shutil.rmtree(SCRATCH, ignore_errors=True)
folder = SCRATCH / "case 12 & 'copy'"
folder.mkdir(parents=True)
recording = folder / "interview.wav"
write_recording(recording, 22050, 20)
case_id = '<K&9 "x">'
run = subprocess.run([PROGRAM, "process", str(recording), "-o", str(folder / "clean.wav"),
                      "--residue", str(folder / "removed.wav"), "--hum-filter", "on",
                      "--hum-auto-track", "on", "--hum-frequency", "50", "--random-noise", "on",
                      "--case", case_id, "--examiner", "AB", "--quiet"],
                     capture_output=True, text=True)
check(run.returncode == 0, "processing succeeds: " + run.stderr)
page = folder / "clean.report.html"
if not page.exists():
    print("FAILED: no case report")
    sys.exit(1)
html = page.read_text(encoding="utf-8")

parser = html5lib.HTMLParser(strict=False)
parser.parse(html)
check(not parser.errors, "no HTML parse errors: %r" % parser.errors[:5])
check("<script" not in html.lower(), "no script")
for reference in re.findall(r'(?:src|href)="([^"]*)"', html):
    check(reference.startswith("data:image/png;base64,") or reference.startswith("#"),
          "only embedded references: " + reference[:80])

dump = chromium("--dump-dom", page.as_uri())
dom = dump.stdout.decode("utf-8", "replace")
check(dump.returncode == 0 and "</html>" in dom, "Chromium dumps the DOM")
for text in ["frequency (kHz)", "time (m:ss)", ">0:10<", ">0:20<", "RMS level (dBFS)",
             "hum frequency (Hz)", 'id="spectrogram-input"', 'id="spectrogram-output"',
             'id="spectrogram-residue"', 'id="level"', 'id="waveform"', 'id="hum"',
             "Warnings (1)", "5 input samples are at or beyond full scale",
             case_id,
             "veltrano verify '" + str(folder / "clean.record.json").replace("'", "'\\''") + "'"]:
    check(text in dom or markup.escape(text, quote=False) in dom, "the DOM holds " + text)

shot_path = SCRATCH / "report.png"
shot = chromium("--window-size=1000,5200", "--screenshot=" + str(shot_path), page.as_uri())
check(shot.returncode == 0 and shot_path.exists(), "Chromium takes a screenshot")
if shot_path.exists():
    image = Image.open(shot_path).convert("RGB")
    width, height = image.size
    pixels = image.load()
    # Rows that are mostly colour map: the spectrograms (the colour bars are narrow).
    bands = []
    start = None
    for y in range(height):
        count = sum(1 for x in range(0, width, 4) if viridis_like(pixels[x, y]))
        full = count * 4 > width * 0.5
        if full and start is None:
            start = y
        if not full and start is not None:
            bands.append((start, y))
            start = None
    tall = [b for b in bands if b[1] - b[0] >= 120]
    check(len(tall) == 3, "three spectrograms drew: bands %r" % bands)
    colours = {INPUT_COLOUR: 0, OUTPUT_COLOUR: 0}
    for y in range(tall[-1][1] if tall else 0, height):
        for x in range(0, width, 3):
            for colour in colours:
                if near(pixels[x, y], colour, 20):
                    colours[colour] += 1
    check(colours[INPUT_COLOUR] > 300 and colours[OUTPUT_COLOUR] > 300,
          "level and waveform plots drew below the spectrograms: %r" % colours)

pdf_path = SCRATCH / "report.pdf"
printed = chromium("--no-pdf-header-footer", "--print-to-pdf=" + str(pdf_path), page.as_uri())
check(printed.returncode == 0 and pdf_path.exists(), "Chromium prints the page")
if pdf_path.exists():
    pdf = pdf_path.read_bytes()
    boxes = re.findall(rb"/MediaBox\s*\[\s*0\s+0\s+([\d.]+)\s+([\d.]+)\s*\]", pdf)
    check(len(boxes) >= 2, "the print has several pages: %d" % len(boxes))
    check(all(abs(float(w) - 595.3) < 2 and abs(float(h) - 841.9) < 2 for w, h in boxes),
          "every printed page is A4: %r" % boxes[:3])

print("report checks:", "all passed" if not failures else "%d failed" % len(failures))
sys.exit(1 if failures else 0)
