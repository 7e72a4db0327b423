#!/usr/bin/python3
"""The window page in a real browser (headless Chromium through Selenium).

On a generated stack with two calibrations, a slice that carries the record
of the slice before it and a slice whose description holds a script, the
page written by slabtone-window is opened from file:// and driven as a
person would: windows typed into the fields and set by dragging a handle, a
crop rectangle drawn on a slice. Every previewed pixel, and every pixel of
the two planes across the slices (every 2nd slice, by a lowered limit), must
equal the pixel slabtone writes when the command the page shows is run; the
window panel must stay in view beside a whole view at 1366 x 768 and
1920 x 1080; the fractions must
equal the report's and the exact counts; nothing from a slice may run; the
browser's log must stay clean.

Usage: window_page_test.py --window SLABTONE_WINDOW --slabtone SLABTONE
                           [--screenshots FOLDER]
"""

import argparse
import base64
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from array import array

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

ARGS = None
WIDTH, HEIGHT = 1030, 520  # the long side needs a step of 2
SHORT_HEIGHT = 400  # slice 3: a crop must stay above its last row
HOSTILE = ('</script><script>window.pwned = 1</script>'
           '<img src=x onerror="window.pwned = 2"><b>bold</b>')
# Slice descriptions: two calibrations; slice 2 supplies two fields and
# slice 3 none, both keep slice 1's; slice 5's text converts no field.
DESCRIPTIONS = {
    1: "1\t0.5\t1000\t-0.5\t25\t3600\t515.5\t0.1",
    2: "2\t0.5",
    3: None,
    4: "4\t0.5\t800\t-0.25\t25\t3600\t515.5\t0.1",
    5: HOSTILE,
}
SHOWN = [1, 2, 4, 5]
# At most 3 slices in a plane: every 2nd of 1..5, so slices 1, 3 (the low
# one) and 5, with both calibrations.
PLANE_SLICES = [1, 3, 5]


# Reads a canvas's pixels through a copy made for reading back, so that the
# page's own canvases are never read (Chromium warns when one is, often).
READ_BACK = """
    function readBack(canvas) {
      const copy = document.createElement('canvas');
      copy.width = canvas.width;
      copy.height = canvas.height;
      const context = copy.getContext('2d', {willReadFrequently: true});
      context.drawImage(canvas, 0, 0);
      return context.getImageData(0, 0, copy.width, copy.height).data;
    }
"""


def float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def records():
    """The calibration each slice is converted with, carried as slabtone carries it."""
    scale, offset, out = None, None, {}
    for n in sorted(DESCRIPTIONS):
        text = DESCRIPTIONS[n]
        fields = text.split("\t") if text and text[0].isdigit() else []
        if len(fields) >= 3:
            scale = float(fields[2])
        if len(fields) >= 4:
            offset = float32(float(fields[3]))
        out[n] = (scale, offset)
    return out


def height_of(slice_number):
    return SHORT_HEIGHT if slice_number == 3 else HEIGHT


def write_tiff(path, samples, height, description, width=WIDTH):
    """An uncompressed 16-bit little-endian slice in one strip."""
    strip = samples.tobytes()
    text = description.encode("latin-1") + b"\0" if description is not None else None
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 16), (259, 3, 1, 1),
               (262, 3, 1, 1), (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, height),
               (279, 4, 1, len(strip))]
    data = strip
    if text is not None:
        entries.append((270, 2, len(text), 8 + len(data)))
        data += text + (b"\0" if len(text) % 2 else b"")
    entries.sort()
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        field = struct.pack("<HI", value, 0)[:4] if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + field
    ifd += struct.pack("<I", 0)
    with open(path, "wb") as out:
        out.write(b"II" + struct.pack("<HI", 42, 8 + len(data)) + data + ifd)


def phantom(slice_number, scale, offset):
    """Air, a plastic cylinder, a water tube and a bone-like rod, with noise."""
    rng = random.Random(slice_number)
    samples = array("H")
    for y in range(height_of(slice_number)):
        for x in range(WIDTH):
            r = math.hypot(x - WIDTH / 2, (y - HEIGHT / 2) * 2) / WIDTH
            lac = 0.0
            if r < 0.45:
                lac = 0.45
                if math.hypot(x - 0.35 * WIDTH, y - 0.55 * HEIGHT) < 0.1 * WIDTH:
                    lac = 0.77
                if math.hypot(x - 0.65 * WIDTH, y - 0.4 * HEIGHT) < 0.04 * WIDTH:
                    lac = 3.2
            value = round((lac + rng.gauss(0, 0.03) - offset) * scale)
            samples.append(min(max(value, 0), 65535))
    return samples


def read_ro(path):
    """The bytes of an 8-bit slice slabtone wrote: width, height, rows."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"II", "libtiff writes the machine's byte order"
    (ifd,) = struct.unpack_from("<I", data, 4)
    (count,) = struct.unpack_from("<H", data, ifd)
    tags = {}
    for k in range(count):
        tag, kind, n, value = struct.unpack_from("<HHII", data, ifd + 2 + 12 * k)
        size = {3: 2, 4: 4}.get(kind, 1)
        if n * size <= 4:
            raw = data[ifd + 2 + 12 * k + 8: ifd + 2 + 12 * k + 8 + n * size]
        else:
            raw = data[value: value + n * size]
        tags[tag] = struct.unpack("<%d%s" % (n, "H" if kind == 3 else "I" if kind == 4 else "B"),
                                  raw)
    width, height = tags[256][0], tags[257][0]
    rows = b"".join(data[o: o + c] for o, c in zip(tags[273], tags[279]))
    assert len(rows) == width * height
    return width, height, rows


def grey(v, scale, offset, lac_min, window_scale):
    """slabtone's conversion of one sample (scale is never 0 here)."""
    t = v / scale
    t = t + offset
    t = t - lac_min
    p = t * window_scale
    if not p < 2147483648.0:
        return 0 if p != p else 255
    if not p > -2147483649.0:
        return 0
    q = int(p)
    return 0 if q <= 0 else 255 if q > 255 else q


def chromium(folder):
    options = Options()
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1400,1000",
                     "--user-data-dir=" + os.path.join(folder, "profile")]:
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class PageHelpers:
    """What every test of a page does: wait for its frames, type a window, read its
    canvases."""

    def wait_applied(self, window):
        """Waits for the redraw that applies `window` ("LACMIN LACMAX"; None: any)."""
        for _ in range(200):
            applied = self.driver.execute_script("return document.body.dataset.applied || null")
            if applied and (window is None or applied == window):
                return applied
            time.sleep(0.02)
        raise AssertionError("the page did not apply %r (it shows %r)" % (window, applied))

    def frame(self):
        """The number of frames the page has painted, once no frame is pending."""
        for _ in range(200):
            frames = self.driver.execute_script("return slabtone.settledFrame()")
            if frames is not None:
                return frames
            time.sleep(0.02)
        raise AssertionError("the page never settled")

    def wait_frame_after(self, before):
        """Waits until the page has painted a frame after `before` (a frame() taken before an
        action) and has none pending, so that what is read next is the state the action
        left, not the state before it."""
        for _ in range(200):
            if self.frame() > before:
                return self.driver.execute_script("return document.body.dataset.applied")
            time.sleep(0.02)
        raise AssertionError("the page painted no frame after frame %d" % before)

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def type_window(self, lac_min, lac_max):
        for name, value in (("lacmin", lac_min), ("lacmax", lac_max)):
            field = self.driver.find_element(By.ID, name)
            # Select what stands there, type over it; the page applies the
            # value on change, when the field is left.
            field.send_keys(Keys.CONTROL, "a")
            field.send_keys(value, Keys.TAB)

    def canvas_pixels(self, selector):
        """A canvas's data attributes, size and grey bytes; every pixel must be opaque grey."""
        result = self.driver.execute_script(READ_BACK + """
            const canvas = document.querySelector(arguments[0]);
            const rgba = readBack(canvas);
            let grey = '', plain = true;
            for (let i = 0; i < rgba.length; i += 4) {
              grey += String.fromCharCode(rgba[i]);
              plain = plain && rgba[i + 1] === rgba[i] && rgba[i + 2] === rgba[i] && rgba[i + 3] === 255;
            }
            return [Object.assign({}, canvas.dataset), canvas.width, canvas.height, btoa(grey), plain];
        """, selector)
        attributes, columns, rows, grey_bytes, plain = result
        self.assertTrue(plain, "every pixel of %s is opaque grey" % selector)
        return attributes, columns, rows, base64.b64decode(grey_bytes)

    def preview_pixels(self, slice_number):
        """Canvas pixels of a preview: (step, columns, rows, grey bytes)."""
        attributes, columns, rows, grey = self.canvas_pixels(
            'canvas.preview[data-slice="%d"]' % slice_number)
        return int(attributes["step"]), columns, rows, grey

    def plane_pixels(self, kind):
        """Canvas pixels of a plane: (its data attributes, columns, rows, grey bytes)."""
        return self.canvas_pixels('canvas.ortho[data-plane="%s"]' % kind)


class WindowPageTest(PageHelpers, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="slabtone-page-")
        cls.samples = {}
        for n, (scale, offset) in records().items():
            cls.samples[n] = phantom(n, scale, offset)
            write_tiff(os.path.join(cls.folder, "rec%04d.tif" % n), cls.samples[n], height_of(n),
                       DESCRIPTIONS[n])
        started = time.monotonic()
        report = subprocess.run(
            [ARGS.window, "1", "5", "--html", "page.html", "--show", ",".join(map(str, SHOWN))],
            cwd=cls.folder, capture_output=True, text=True, check=True,
            env=dict(os.environ, SLABTONE_WINDOW_PLANE_SLICES="3"))
        cls.scan_seconds = time.monotonic() - started
        cls.report = report.stdout.splitlines()
        cls.driver = chromium(cls.folder)
        cls.driver.get("file://" + os.path.join(cls.folder, "page.html"))
        cls.wait_applied(cls, None)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def check_planes(self, label, crop, command):
        """Every pixel of both planes against the ro files of the command."""
        written = {n: read_ro(os.path.join(self.folder, "ro%04d.tif" % n)) for n in PLANE_SLICES}
        x1, y1, x2, y2 = crop or (0, 0, WIDTH - 1, HEIGHT - 1)
        compared = 0
        for kind in ("xz", "yz"):
            attributes, columns, rows, page = self.plane_pixels(kind)
            step = int(attributes["step"])
            slices = [int(n) for n in attributes["slices"].split(",")]
            self.assertEqual((step, slices), (2, PLANE_SLICES))
            if kind == "xz":
                # Row y = 200 (the middle of the 400-row slice 3) of each slice.
                self.assertEqual((attributes["y"], columns, rows), ("200", 515, 3))
                at = lambda i, j: (slices[j], i * step, 200)
            else:
                self.assertEqual((attributes["x"], columns, rows), ("515", 3, 200))
                at = lambda i, j: (slices[i], 515, j * step)
            for j in range(rows):
                for i in range(columns):
                    n, x, y = at(i, j)
                    if not (x1 <= x <= x2 and y1 <= y <= y2):
                        continue
                    width, _, samples = written[n]
                    expected = samples[(y - y1) * width + (x - x1)]
                    got = page[j * columns + i]
                    if got != expected:
                        self.fail("%s: plane %s pixel (%d, %d), slice %d at (%d, %d): page %d, "
                                  "slabtone %d (%s)" % (label, kind, i, j, n, x, y, got, expected,
                                                        command))
                    compared += 1
        return compared

    def check_against_slabtone(self, label):
        """Runs the command the page shows and compares every previewed pixel."""
        command = self.text("command")
        words = command.split()
        self.assertEqual(words[:3], ["slabtone", "1", "5"])
        for name in os.listdir(self.folder):
            if name.startswith("ro"):
                os.remove(os.path.join(self.folder, name))
        run = subprocess.run([ARGS.slabtone] + words[1:], cwd=self.folder, capture_output=True,
                             text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        crop = [int(w) for w in words[5:]] if len(words) == 9 else None
        compared = 0
        for n in SHOWN:
            step, columns, rows, page = self.preview_pixels(n)
            self.assertEqual((step, columns, rows), (2, 515, 260))
            width, height, written = read_ro(os.path.join(self.folder, "ro%04d.tif" % n))
            x1, y1, x2, y2 = crop or (0, 0, WIDTH - 1, HEIGHT - 1)
            self.assertEqual((width, height), (x2 - x1 + 1, y2 - y1 + 1))
            for j in range(rows):
                y = j * step
                if not y1 <= y <= y2:
                    continue
                for i in range(columns):
                    x = i * step
                    if x1 <= x <= x2:
                        expected = written[(y - y1) * width + (x - x1)]
                        got = page[j * columns + i]
                        if got != expected:
                            self.fail("%s: slice %d pixel (%d, %d): page %d, slabtone %d (%s)"
                                      % (label, n, x, y, got, expected, command))
                        compared += 1
        compared += self.check_planes(label, crop, command)
        self.assertGreater(compared, 0)
        return command, compared

    def screenshot(self, name):
        if ARGS.screenshots:
            os.makedirs(ARGS.screenshots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(ARGS.screenshots, name + ".png"))

    # ---- the tests

    def test_1_page_opens_with_the_report_window_and_fractions(self):
        self.assertEqual(self.text("command"), self.report[-1])
        to_zero = re.match(r"converted to 0: (\S+)% of samples", self.report[-3]).group(1)
        to_255 = re.match(r"converted to 255: (\S+)% of samples", self.report[-2]).group(1)
        self.assertEqual(self.text("to-zero"), to_zero + "%")
        self.assertEqual(self.text("to-255"), to_255 + "%")
        command, compared = self.check_against_slabtone("proposed window")
        print("proposed window: %s, %d pixels equal" % (command, compared))
        self.screenshot("proposed")

    def test_2_typed_windows_exactly_as_slabtone_reads_them(self):
        # 0.0078125 lies exactly halfway between 0.007812 and 0.007813: C
        # rounds the tie to even, toFixed would not.
        for lac_min, lac_max, applied in [("0.0078125", "2.5", "0.007812 2.500000"),
                                          ("3.1", "-0.05", "3.100000 -0.050000"),
                                          ("0.45", "0.45", "0.450000 0.450000")]:
            self.type_window(lac_min, lac_max)
            self.wait_applied(applied)
            command, compared = self.check_against_slabtone("typed %s %s" % (lac_min, lac_max))
            self.assertIn(applied, command)
            print("typed %s %s: %s, %d pixels equal" % (lac_min, lac_max, command, compared))
        self.screenshot("equal-window")

    def test_3_fractions_are_the_exact_counts(self):
        self.type_window("0.2", "1.1")
        self.wait_applied("0.200000 1.100000")
        lac_min, lac_max = 0.2, 1.1
        window_scale = 255.0 / (lac_max - lac_min)
        zero = full = total = 0
        for n, (scale, offset) in records().items():
            counts = {}
            for v in self.samples[n]:
                counts[v] = counts.get(v, 0) + 1
            for v, c in counts.items():
                g = grey(v, scale, offset, lac_min, window_scale)
                zero += c if g == 0 else 0
                full += c if g == 255 else 0
                total += c
        self.assertEqual(self.text("to-zero"), "%.3f%%" % (100.0 * zero / total))
        self.assertEqual(self.text("to-255"), "%.3f%%" % (100.0 * full / total))
        print("window 0.2 1.1: %d of %d samples to 0, %d to 255" % (zero, total, full))

    def test_4_dragging_a_handle_and_drawing_a_crop(self):
        self.type_window("-0.1", "1.2")
        self.wait_applied("-0.100000 1.200000")
        histogram = self.driver.find_element(By.ID, "histogram")
        box = histogram.rect
        handle = self.driver.execute_script("return slabtone.handlePosition('lacmax')")
        before = self.frame()
        ActionChains(self.driver).move_to_element_with_offset(
            histogram, int(handle["x"] - box["width"] / 2), int(handle["y"] - box["height"] / 2)
        ).click_and_hold().move_by_offset(-60, 0).move_by_offset(-40, 30).release().perform()
        applied = self.wait_frame_after(before)
        lac_max = float(applied.split()[1])
        self.assertLess(lac_max, 1.2, "the handle moved the window")
        self.assertEqual(self.driver.find_element(By.ID, "lacmax").get_attribute("value"),
                         applied.split()[1])

        canvas = self.driver.find_element(By.CSS_SELECTOR, 'canvas.preview[data-slice="4"]')
        size = canvas.rect
        before = self.frame()
        ActionChains(self.driver).move_to_element_with_offset(
            canvas, int(-0.4 * size["width"]), int(-0.3 * size["height"])
        ).click_and_hold().move_by_offset(int(0.5 * size["width"]), int(0.45 * size["height"])
                                          ).release().perform()
        self.wait_frame_after(before)
        crop = self.text("crop")
        self.assertRegex(crop, r"^\d+ \d+ \d+ \d+$")
        x1, y1, x2, y2 = map(int, crop.split())
        self.assertTrue(0 <= x1 < x2 < WIDTH and 0 <= y1 < y2 < HEIGHT, crop)
        self.assertEqual(self.text("crop-refusal"), "")
        command, compared = self.check_against_slabtone("dragged")
        self.assertTrue(command.endswith(crop))
        print("dragged: %s, %d pixels equal" % (command, compared))
        self.screenshot("dragged-and-cropped")
        before = self.frame()
        self.driver.find_element(By.ID, "clear-crop").click()
        self.wait_frame_after(before)
        self.assertEqual(len(self.text("command").split()), 5)

        # Below row 399 the rectangle leaves slice 3, the lowest: refused,
        # with the reason in view, and the command keeps no crop.
        before = self.frame()
        ActionChains(self.driver).move_to_element_with_offset(
            canvas, int(-0.3 * size["width"]), int(0.1 * size["height"])
        ).click_and_hold().move_by_offset(int(0.4 * size["width"]), int(0.35 * size["height"])
                                          ).release().perform()
        self.wait_frame_after(before)
        refusal = self.text("crop-refusal")
        self.assertIn("slice 3, which is 400 rows high", refusal)
        self.assertTrue(self.driver.find_element(By.ID, "crop-refusal").is_displayed())
        self.assertEqual(len(self.text("command").split()), 5)
        self.screenshot("crop-refused")
        self.driver.find_element(By.ID, "clear-crop").click()

    def test_5_text_from_a_slice_never_runs(self):
        self.assertIsNone(self.driver.execute_script("return window.pwned === undefined ? null : window.pwned"))
        self.assertEqual(self.driver.find_elements(By.TAG_NAME, "img"), [])
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "figcaption b"), [])
        captions = [c.text for c in self.driver.find_elements(By.TAG_NAME, "figcaption")]
        self.assertTrue(any("</script><script>window.pwned = 1</script>" in c for c in captions),
                        captions)
        # The command holds numbers only.
        self.assertRegex(self.text("command"),
                         r"^slabtone 1 5 -?\d+\.\d{6} -?\d+\.\d{6}( \d+ \d+ \d+ \d+)?$")

    def test_6_window_panel_stays_in_view_beside_a_whole_view(self):
        # At 1366 x 768 the histogram, both fields and one whole preview; at
        # 1920 x 1080 also one whole plane, each scrolled to as a person would.
        for width, height, views in [(1366, 768, ["canvas.preview"]),
                                     (1920, 1080, ["canvas.preview", 'canvas.ortho[data-plane="xz"]',
                                                   'canvas.ortho[data-plane="yz"]'])]:
            self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
            try:
                self.driver.execute_script("window.dispatchEvent(new Event('resize'))")
                for view in views:
                    element = self.driver.find_element(By.CSS_SELECTOR, view)
                    self.driver.execute_script(
                        "arguments[0].scrollIntoView({block: 'center'})", element)
                    time.sleep(0.1)
                    for name, selector in [("histogram", "#histogram"), ("lacmin", "#lacmin"),
                                           ("lacmax", "#lacmax"), (view, view)]:
                        box = self.driver.execute_script(
                            "const r = document.querySelector(arguments[0]).getBoundingClientRect();"
                            "return [r.left, r.top, r.right, r.bottom, innerWidth, innerHeight];",
                            selector)
                        left, top, right, bottom, inner_width, inner_height = box
                        self.assertTrue(
                            0 <= left and right <= inner_width and 0 <= top and
                            bottom <= inner_height,
                            "%s not wholly in view at %dx%d with %s scrolled to: %s"
                            % (name, width, height, view, box))
                    self.screenshot("in-view-%dx%d-%s" % (width, height,
                                                           re.sub(r"\W+", "-", view)))
            finally:
                self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
                self.driver.execute_script("window.dispatchEvent(new Event('resize'))")

    def test_7_clean_log_and_redraw_time(self):
        entries = self.driver.get_log("browser")
        self.assertEqual([e for e in entries if e["level"] in ("SEVERE", "WARNING")], [])
        stats = self.driver.execute_script("return slabtone.stats")
        size = os.path.getsize(os.path.join(self.folder, "page.html"))
        print("redraws %d, last %.1f ms, slowest %.1f ms (the first includes compiling); "
              "page %d bytes; scan and page %.2f s"
              % (stats["redraws"], stats["lastRedrawMs"], stats["maxRedrawMs"], size,
                 self.scan_seconds))


class LargeSlicesTest(unittest.TestCase):
    """Three slices of 1024 x 1024, shown sample for sample: at 1366 x 768
    the previews wrap onto a second line, at 1920 x 1080 they stand side by
    side, and at neither does the page scroll sideways."""

    SIZE = 1024

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="slabtone-page-large-")
        ramp = array("H", (((x * 37) ^ (x >> 3)) & 0xFFF for x in range(cls.SIZE * cls.SIZE)))
        for n in (1, 2, 3):
            write_tiff(os.path.join(cls.folder, "rec%04d.tif" % n), ramp, cls.SIZE,
                       "1\t0.5\t1000\t0", width=cls.SIZE)
        subprocess.run([ARGS.window, "1", "3", "--html", "page.html"], cwd=cls.folder,
                       capture_output=True, check=True)
        cls.driver = chromium(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_previews_wrap_to_the_width_without_a_sideways_scroll(self):
        for width, height, lines in [(1366, 768, 2), (1920, 1080, 1)]:
            self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
            try:
                self.driver.get("file://" + os.path.join(self.folder, "page.html"))
                scroll_width, inner_width, previews = self.driver.execute_script("""
                    return [document.documentElement.scrollWidth, innerWidth,
                            [...document.querySelectorAll('canvas.preview')].map(c => {
                              const r = c.getBoundingClientRect();
                              return [c.width, c.height, r.top, r.right];
                            })];""")
                self.assertLessEqual(scroll_width, inner_width, "%dx%d" % (width, height))
                self.assertEqual(len(previews), 3)
                for columns, rows, _, right in previews:
                    self.assertEqual((columns, rows), (self.SIZE, self.SIZE))  # every sample
                    self.assertLessEqual(right, inner_width)
                self.assertEqual(len({round(top) for _, _, top, _ in previews}), lines,
                                 "%dx%d: %s" % (width, height, previews))
                if ARGS.screenshots:
                    os.makedirs(ARGS.screenshots, exist_ok=True)
                    self.driver.save_screenshot(
                        os.path.join(ARGS.screenshots, "large-%dx%d.png" % (width, height)))
            finally:
                self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def write_float_tiff(path, values, width, height, description, kind="f"):
    """An uncompressed slice of 32-bit floats (SampleFormat 3), or with kind "h" of signed
    16-bit samples (SampleFormat 2), in one strip."""
    strip = struct.pack("<%d%s" % (len(values), kind), *values)
    text = description.encode("latin-1") + b"\0"
    bits, sample_format = (32, 3) if kind == "f" else (16, 2)
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, bits), (259, 3, 1, 1),
               (262, 3, 1, 1), (270, 2, len(text), 8 + len(strip)), (273, 4, 1, 8),
               (277, 3, 1, 1), (278, 4, 1, height), (279, 4, 1, len(strip)),
               (339, 3, 1, sample_format)]
    data = strip + text + (b"\0" if len(text) % 2 else b"")
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        field = struct.pack("<HI", value, 0)[:4] if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + field
    ifd += struct.pack("<I", 0)
    with open(path, "wb") as out:
        out.write(b"II" + struct.pack("<HI", 42, 8 + len(data)) + data + ifd)


class FloatStackPageTest(PageHelpers, unittest.TestCase):
    """A float32 stack as tomopy writes it (recon_00000.tiff, ..., a JSON
    description), NaN and infinities among its values: the page shows the
    report's window and command in the shortest form, its previews equal
    the files that command writes, and its shares are the report's for the
    proposed window and an estimate ("about") for any other."""

    WIDTH, HEIGHT = 300, 200

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="slabtone-page-float-")
        for n in (0, 1, 2):
            rng = random.Random(n)
            values = []
            for y in range(cls.HEIGHT):
                for x in range(cls.WIDTH):
                    r = math.hypot(x - cls.WIDTH / 2, y - cls.HEIGHT / 2) / cls.HEIGHT
                    values.append(float32((0.02 if r < 0.4 else 0.0) + rng.gauss(0, 0.004)))
            values[0:3] = [float("nan"), float("-inf"), float("inf")]
            write_float_tiff(os.path.join(cls.folder, "recon_%05d.tiff" % n), values, cls.WIDTH,
                             cls.HEIGHT, '{"shape": [%d, %d]}' % (cls.HEIGHT, cls.WIDTH))
        report = subprocess.run(
            [ARGS.window, "--input", "recon_%05d.tiff", "0", "2", "--html", "page.html"],
            cwd=cls.folder, capture_output=True, text=True, check=True)
        cls.report = report.stdout.splitlines()
        cls.driver = chromium(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_page_shows_the_exact_window_and_the_slices_as_written(self):
        command = self.report[-1]
        self.assertTrue(command.startswith("slabtone --input recon_%05d.tiff 0 2 "), command)
        self.assertEqual(self.report[2], "minimum LAC: -inf")
        self.driver.get("file://" + os.path.join(self.folder, "page.html"))
        lac_min, lac_max = command.split()[-2:]
        self.wait_applied("%s %s" % (lac_min, lac_max))
        self.assertEqual(self.driver.find_element(By.ID, "command").text, command)
        shares = [line.split(": ")[1].split("%")[0] + "%" for line in self.report
                  if line.startswith("converted to")]
        self.assertEqual([self.driver.find_element(By.ID, i).text for i in ("to-zero", "to-255")],
                         shares)
        subprocess.run(["/bin/sh", "-c", command.replace("slabtone", ARGS.slabtone, 1)],
                       cwd=self.folder, capture_output=True, check=True)
        for n in (0, 1, 2):
            _, columns, rows, page = self.canvas_pixels(
                'canvas.preview[data-slice="%d"]' % n)
            width, height, written = read_ro(os.path.join(self.folder, "ro%04d.tif" % n))
            self.assertEqual((columns, rows), (width, height))
            self.assertEqual(page, written, "slice %d" % n)
        # The planes across the slices: row y and column x of each slice.
        written = {n: read_ro(os.path.join(self.folder, "ro%04d.tif" % n))[2] for n in (0, 1, 2)}
        for kind in ("xz", "yz"):
            attributes, columns, rows, page = self.plane_pixels(kind)
            x, y = 150, 100  # the middle of the smallest slice
            self.assertEqual(attributes.get("y" if kind == "xz" else "x"),
                             str(y if kind == "xz" else x))
            self.assertEqual(attributes["slices"], "0,1,2")
            for j in range(rows):
                for i in range(columns):
                    n, at = (j, y * self.WIDTH + i) if kind == "xz" else (i, j * self.WIDTH + x)
                    self.assertEqual(page[j * columns + i], written[n][at], (kind, i, j))
        # The shortest form, as the report prints it.
        for text in self.report[2:7]:
            value = text.split(": ")[1]
            self.assertEqual(self.driver.execute_script(
                "return slabtone.shortestText(slabtone.parseC(arguments[0]))", value), value)
        # As std::to_chars writes them: the shorter notation, fixed on a tie.
        for value, text in [(1e-7, "1e-07"), (0.0001, "1e-04"), (0.001, "0.001"),
                            (1e22, "1e+22"), (100000.0, "1e+05"), (123456.0, "123456"),
                            (-0.0, "-0"), (float32(0.000412), "0.00041199999395757914")]:
            self.assertEqual(self.driver.execute_script(
                "return slabtone.shortestText(arguments[0])", value), text)
        self.type_window("0.001", "0.03")
        self.wait_applied("0.001 0.03")
        self.assertTrue(self.driver.find_element(By.ID, "to-zero").text.startswith("about "))
        if ARGS.screenshots:
            os.makedirs(ARGS.screenshots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(ARGS.screenshots, "float-stack.png"))


class SignedStackPageTest(PageHelpers, unittest.TestCase):
    """A lab scanner's signed 16-bit slices without a record, through
    --calibration: the page takes each sample with its sign."""

    def test_previews_and_readout_take_the_sign(self):
        folder = tempfile.mkdtemp(prefix="slabtone-page-signed-")
        driver = chromium(folder)
        try:
            width, height = 64, 48
            for n in (1, 2):
                values = [((x * 977 + y * 131 + n * 71) % 4001) - 2000
                          for y in range(height) for x in range(width)]
                values[0:2] = [-32768, 32767]
                write_float_tiff(os.path.join(folder, "lab%d.tif" % n), values, width, height,
                                 "scanner", kind="h")
            report = subprocess.run(
                [ARGS.window, "1", "2", "--input", "lab%d.tif", "--calibration", "1000", "0",
                 "--html", "page.html"], cwd=folder, capture_output=True, text=True, check=True)
            command = report.stdout.splitlines()[-1]
            self.assertTrue(command.startswith("slabtone --input lab%d.tif --calibration 1000 0 "
                                               "1 2 -1.9"), command)
            driver.get("file://" + os.path.join(folder, "page.html"))
            self.driver = driver
            self.wait_applied(" ".join(command.split()[-2:]))
            self.assertEqual(driver.find_element(By.ID, "command").text, command)
            subprocess.run(["/bin/sh", "-c", command.replace("slabtone", ARGS.slabtone, 1)],
                           cwd=folder, capture_output=True, check=True)
            for n in (1, 2):
                _, _, _, page = self.canvas_pixels(
                    'canvas.preview[data-slice="%d"]' % n)
                self.assertEqual(page, read_ro(os.path.join(folder, "ro%04d.tif" % n))[2])
        finally:
            driver.quit()
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--window", required=True)
    parser.add_argument("--slabtone", required=True)
    parser.add_argument("--screenshots")
    ARGS, rest = parser.parse_known_args()
    ARGS.window = os.path.abspath(ARGS.window)
    ARGS.slabtone = os.path.abspath(ARGS.slabtone)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
