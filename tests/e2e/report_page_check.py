"""Renders report pages in Debian's headless Chromium and checks what a
technician would see: every chart drawn (its area holds enough pixels of
each of its series' colours), the page wider than no narrow screen, and not
one request beyond the page's own file.

Usage: report_page_check.py OUTDIR PAGE.html:hist=N,climate=N,trend=N ...
Writes OUTDIR/<page>.png (full page, 1200 wide) and <page>-narrow.png (390
wide). Prints one line per finding; exit status 1 when anything failed.
Run it with Debian's /usr/bin/python3 (python3-selenium, python3-pil).
"""
import json
import os
import sys
import tempfile
import shutil

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

# The series colours of the page (report/PageParts.h) and the charts that
# carry them, by the chart's aria-label.
BLUE, ORANGE, RED, GREEN = (0x1F, 0x5F, 0xA8), (0xE0, 0x8A, 0x00), (0xC6, 0x28, 0x28), (0x2E, 0x7D, 0x32)
CHARTS = {
    "hist": ("Histogram of the handling times", {"Ready": BLUE, "PlateReady": ORANGE}),
    "climate": ("Climate readings: temperature, humidity and CO2 over the run",
                {"temperature": RED, "humidity": BLUE, "CO2": GREEN}),
    "trend": ("Mean and maximum access time per run", {"mean": BLUE, "maximum": RED}),
}
MIN_SERIES_PIXELS = 150   # of one series' colour inside its chart: a line a few hundred pixels long
MIN_INK_SHARE = 0.02      # of the chart's area not white: not a blank box
WIDE, NARROW = 1200, 390

failures = []


def fail(msg):
    failures.append(msg)
    print("FAIL: " + msg)


def driver_for(profile):
    opts = Options()
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-default-apps", "--disable-extensions", "--hide-scrollbars",
                "--user-data-dir=" + profile, "--window-size=%d,900" % WIDE]:
        opts.add_argument(arg)
    opts.binary_location = "/usr/bin/chromium"
    opts.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


def with_driver(name, use):
    """Runs use(driver) with a headless Chromium of a fresh profile, which
    is removed again however use ends."""
    profile = tempfile.mkdtemp(prefix=name + "-chromium-")
    driver = None
    try:
        driver = driver_for(profile)
        use(driver)
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


def requests(driver):
    """Every URL the page asked the network layer for since the last call."""
    urls = []
    for entry in driver.get_log("performance"):
        msg = json.loads(entry["message"])["message"]
        method = msg.get("method", "")
        if method == "Network.requestWillBeSent":
            urls.append(msg["params"]["request"]["url"])
        elif method in ("Network.webSocketCreated", "Network.webTransportCreated"):
            urls.append(msg["params"].get("url", method))
    return urls


def close(c, want, tol=40):
    return all(abs(a - b) <= tol for a, b in zip(c, want))


def check_page(driver, path, expect, outdir):
    name = os.path.splitext(os.path.basename(path))[0]
    url = "file://" + os.path.abspath(path)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": WIDE, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    requests(driver)  # drop what came before
    driver.get(url)
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": WIDE, "height": height, "deviceScaleFactor": 1, "mobile": False})
    boxes = driver.execute_script(
        "return Array.from(document.querySelectorAll('svg')).map(function (s) {"
        " var r = s.getBoundingClientRect();"
        " return [s.getAttribute('aria-label'), r.left + window.scrollX, r.top + window.scrollY, r.width, r.height];"
        "});")
    png = os.path.join(outdir, name + ".png")
    driver.save_screenshot(png)
    # The pixels are counted without the legends' swatches and the panels'
    # coloured titles, so that only the series themselves can pass.
    driver.execute_script(
        "var s = document.createElement('style');"
        "s.textContent = 'svg .legend, svg .ptitle { visibility: hidden }';"
        "document.head.appendChild(s);")
    counted = os.path.join(outdir, name + ".series.png")
    driver.save_screenshot(counted)

    # The chart count by kind, then the pixels of each chart.
    for kind, (label, _) in CHARTS.items():
        n = sum(1 for b in boxes if b[0] == label)
        if n != expect.get(kind, 0):
            fail("%s: %d %s chart(s), expected %d" % (name, n, kind, expect.get(kind, 0)))
    if len(boxes) != sum(expect.values()):
        fail("%s: %d <svg> elements, expected %d" % (name, len(boxes), sum(expect.values())))
    image = Image.open(counted).convert("RGB")
    os.remove(counted)
    for label, x, y, w, h in boxes:
        series = next((s for l, s in CHARTS.values() if l == label), None)
        if series is None:
            fail("%s: a chart nobody expects: %r" % (name, label))
            continue
        if w < 300 or h < 100:
            fail("%s: %s drawn %dx%d" % (name, label, w, h))
            continue
        box = image.crop((int(x), int(y), int(x + w), int(y + h)))
        pixels = list(box.getdata())
        ink = sum(1 for p in pixels if min(p) < 235) / float(len(pixels))
        if ink < MIN_INK_SHARE:
            fail("%s: %s is blank (%.1f %% ink)" % (name, label, 100 * ink))
        for what, colour in series.items():
            n = sum(1 for p in pixels if close(p, colour))
            if n < MIN_SERIES_PIXELS:
                fail("%s: %s shows %d pixels of its %s series" % (name, label, n, what))
            else:
                print("ok: %s: %s: %s %d px" % (name, label, what, n))

    # A phone held upright: nothing but the wide tables' own scroll boxes may
    # be wider than the screen.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": NARROW, "height": 800, "deviceScaleFactor": 1, "mobile": True})
    driver.get(url)
    wide = driver.execute_script("return document.documentElement.scrollWidth")
    if wide > NARROW:
        fail("%s: %d px wide on a %d px screen" % (name, wide, NARROW))
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": NARROW, "height": min(height, 6000), "deviceScaleFactor": 1,
                            "mobile": True})
    driver.save_screenshot(os.path.join(outdir, name + "-narrow.png"))

    for u in requests(driver):
        if u != url:
            fail("%s: the page asked for %s" % (name, u))
    print("checked: %s (%d charts, %d px high)" % (name, len(boxes), image.size[1]))


def main():
    outdir = sys.argv[1]
    pages = []
    for arg in sys.argv[2:]:
        path, _, wanted = arg.partition(":")
        expect = {}
        for item in filter(None, wanted.split(",")):
            k, _, v = item.partition("=")
            expect[k] = int(v)
        pages.append((path, expect))
    with_driver("report", lambda driver: [check_page(driver, path, expect, outdir) for path, expect in pages])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
