"""Renders the archive's page in Debian's headless Chromium and checks what a
service manager would see: every store's trend and sparkline drawn (its
line's colour on the screen inside the chart), nothing wider than a phone's
screen, and not one request beyond the page's own file.

Usage: archive_page_check.py OUTDIR PAGE.html STORES
Writes OUTDIR/<page>.png (1200 wide) and <page>-narrow.png (390 wide).
Prints one line per finding; exit status 1 when anything failed. The browser
is started as report_page_check.py starts it.
"""
import os
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from report_page_check import BLUE, NARROW, WIDE, close, requests, with_driver  # noqa: E402

TREND = "Mean and maximum access time per run"
# Of the mean's colour, the legends hidden: a store of one run has a dot.
MIN_TREND_PIXELS = 20
MIN_SPARK_PIXELS = 8

failures = []


def fail(msg):
    failures.append(msg)
    print("FAIL: " + msg)


def charts(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('svg')).map(function (s) {"
        " var r = s.getBoundingClientRect();"
        " var lines = Array.from(s.querySelectorAll('path')).filter(function (p) {"
        "   return (p.getAttribute('d') || '').length > 4; }).length;"
        " return [s.getAttribute('aria-label') || s.getAttribute('class'), r.left + window.scrollX,"
        "         r.top + window.scrollY, r.width, r.height, lines];"
        "});")


def check(driver, path, stores, outdir):
    name = os.path.splitext(os.path.basename(path))[0]
    url = "file://" + os.path.abspath(path)
    for width, mobile in ((WIDE, False), (NARROW, True)):
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": 900, "deviceScaleFactor": 1, "mobile": mobile})
        requests(driver)
        driver.get(url)
        wide = driver.execute_script("return document.documentElement.scrollWidth")
        if wide > width:
            fail("%s: %d px wide on a %d px screen" % (name, wide, width))
        height = driver.execute_script("return document.documentElement.scrollHeight")
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": min(height, 16000), "deviceScaleFactor": 1,
                                "mobile": mobile})
        boxes = charts(driver)
        driver.save_screenshot(os.path.join(outdir, name + ("" if width == WIDE else "-narrow") + ".png"))
        # The pixels are counted without the legends' swatches.
        driver.execute_script(
            "var s = document.createElement('style');"
            "s.textContent = 'svg .legend { visibility: hidden }';"
            "document.head.appendChild(s);")
        png = os.path.join(outdir, name + ".series.png")
        driver.save_screenshot(png)
        trends = [b for b in boxes if b[0] == TREND]
        sparks = [b for b in boxes if b[0] == "spark"]
        if len(trends) != stores or len(sparks) != stores or len(boxes) != 2 * stores:
            fail("%s at %d: %d trends, %d sparklines, %d svg for %d stores" %
                 (name, width, len(trends), len(sparks), len(boxes), stores))
        image = Image.open(png).convert("RGB")
        os.remove(png)
        for label, x, y, w, h, lines in boxes:
            least = MIN_TREND_PIXELS if label == TREND else MIN_SPARK_PIXELS
            if lines == 0:
                fail("%s at %d: a %s without a path" % (name, width, label))
                continue
            if label == TREND and (x < 0 or x + w > width + 0.5):
                fail("%s at %d: a %s reaches out of the screen (%d to %d)" % (name, width, label, x, x + w))
            if label == TREND and w < width * 0.8:
                fail("%s at %d: a trend drawn %d px wide" % (name, width, w))
            if width == NARROW and label != TREND:
                continue  # in the fleet's table, scrolled away on a phone
            if y + h > image.size[1]:
                continue  # below what was taken
            box = image.crop((int(x), int(y), int(x + w), int(y + h)))
            n = sum(1 for p in box.getdata() if close(p, BLUE))
            if n < (least if width == WIDE else least // 3):
                fail("%s at %d: a %s shows %d pixels of its mean" % (name, width, label, n))
        for u in requests(driver):
            if u != url:
                fail("%s: the page asked for %s" % (name, u))
        print("checked: %s at %d px (%d charts, %d px high)" % (name, width, len(boxes), height))


def main():
    outdir, path, stores = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with_driver("archive", lambda driver: check(driver, path, stores, outdir))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
