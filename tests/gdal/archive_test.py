"""Whole archives: alosj batch over directories, zip and tar files; products
read over HTTP through GDAL's virtual file systems; the Dask entry point.

Run by ctest with GDAL_DRIVER_PATH set to the build tree's plugin directory:

    archive_test.py --alosj <alosj> [--dask-entry <alosj_dask.py>] [-v]

Products are written by `alosj sample` (the product writer).
"""

import argparse
import copy
import functools
import hashlib
import http.server
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import unittest
import zipfile

import numpy
from osgeo import gdal

import stac_schemas

ALOSJ = None
DASK_ENTRY = None

gdal.UseExceptions()


def run(*args, timeout=300):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=timeout)


def tree_state(root):
    """Every file and directory under root with its size, time and content digest."""
    state = {}
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(directory, name)
            info = os.stat(path)
            digest = None
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    digest = hashlib.sha1(f.read()).hexdigest()
            state[os.path.relpath(path, root)] = (info.st_size, info.st_mtime_ns, digest)
    return state


def expected_stretch(histograms):
    """Each band's black and white from histograms of its digital numbers:
    the 2nd and 98th percentiles of the pixels neither 0 nor 255, white no
    higher than three middle halves above black; below 1 % unsaturated, from
    the least value to 255; then one span common to the bands."""
    def percentile(counts, fraction):
        return int(numpy.argmax(numpy.cumsum(counts) >= fraction * counts.sum()))

    lows, highs = [], []
    for histogram in histograms:
        recorded = histogram[1:].sum()
        if recorded - histogram[255] < 0.01 * recorded:
            lows.append(min(int(numpy.flatnonzero(histogram[1:])[0]) + 1, 254))
            highs.append(255.0)
            continue
        counted = histogram.copy()
        counted[0] = counted[255] = 0
        low = percentile(counted, 0.02)
        middle = percentile(counted, 0.75) - percentile(counted, 0.25) + 1
        lows.append(low)
        highs.append(max(min(percentile(counted, 0.98), low + middle / (1.0 / 3.0)), low + 1))
    span = max(high - low for low, high in zip(lows, highs))
    return lows, [min(low + span, 255.0) for low in lows]


def expected_quicklook(volume, size):
    """The quicklook of a product as GDAL's driver reads it, reduced and
    stretched here: the mean of the non-zero pixels each preview pixel
    covers, stretched by expected_stretch of the scene's pixels (a scene
    larger than size × size, whose blocks do not overlap)."""
    dataset = gdal.Open(volume)
    colours = {dataset.GetRasterBand(b).GetColorInterpretation(): b for b in range(1, dataset.RasterCount + 1)}
    shown = [colours[c] for c in (gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand) if c in colours]
    shown = shown if len(shown) == 3 else [1]
    width, height = dataset.RasterXSize, dataset.RasterYSize
    out_width, out_height = (max(1, int(numpy.floor(n * size / max(width, height) + 0.5))) for n in (width, height))
    columns = [int(i * width / out_width) for i in range(out_width)]
    rows = [int(j * height / out_height) for j in range(out_height)]
    planes, histograms = [], []
    for band in shown:
        pixels = dataset.GetRasterBand(band).ReadAsArray()
        histograms.append(numpy.bincount(pixels.ravel(), minlength=256))
        pixels = pixels.astype(numpy.float64)
        sums = numpy.add.reduceat(numpy.add.reduceat(pixels, rows, axis=0), columns, axis=1)
        counts = numpy.add.reduceat(numpy.add.reduceat((pixels > 0).astype(numpy.int64), rows, axis=0), columns, axis=1)
        means = numpy.clip(numpy.floor(sums / numpy.maximum(counts, 1) + 0.5), 1, 255)
        planes.append(numpy.where(counts > 0, means, 0))
    lows, highs = expected_stretch(histograms)
    return numpy.array([numpy.where(p > 0, numpy.floor(1.0 + 254.0 * numpy.clip((p - low) / (high - low), 0, 1) + 0.5), 0)
                        for p, low, high in zip(planes, lows, highs)], dtype=numpy.uint8)


class Archive:
    """A mixed archive: a product deep in directories, one in a zip, one in a
    tar, and a damaged one (an image file cut short) in a tar.gz."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="ceosalosj-archive-")
        self.sources = os.path.join(self.dir, "archive")
        staging = os.path.join(self.dir, "staging")
        os.makedirs(os.path.join(self.sources, "2006", "10"))
        for name, sensor, level in (("prism-1b1", "prism", "1B1"), ("avnir2-1b2", "avnir2", "1B2"),
                                    ("prism-1a", "prism", "1A"), ("avnir2-1b1", "avnir2", "1B1")):
            result = run(ALOSJ, "-q", "sample", os.path.join(staging, name), "--sensor", sensor, "--level", level)
            if result.returncode != 0:
                raise RuntimeError(result.stderr)
        shutil.move(os.path.join(staging, "prism-1b1"), os.path.join(self.sources, "2006", "10", "prism-1b1"))
        with zipfile.ZipFile(os.path.join(self.sources, "avnir2-1b2.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            for name in sorted(os.listdir(os.path.join(staging, "avnir2-1b2"))):
                z.write(os.path.join(staging, "avnir2-1b2", name), "avnir2-1b2/" + name)
        with tarfile.open(os.path.join(self.sources, "2006", "prism-1a.tar"), "w") as t:
            t.add(os.path.join(staging, "prism-1a"), "prism-1a")
        damaged = os.path.join(staging, "avnir2-1b1")
        image = sorted(n for n in os.listdir(damaged) if n.startswith("IMG-02"))[0]
        with open(os.path.join(damaged, image), "r+b") as f:
            f.truncate(5000)
        with tarfile.open(os.path.join(self.sources, "damaged.tar.gz"), "w:gz") as t:
            t.add(damaged, "avnir2-1b1")
        shutil.rmtree(staging)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class ArchiveTestCase(unittest.TestCase):
    """One archive for the class (no test changes it); an output directory per test."""

    @classmethod
    def setUpClass(cls):
        if ALOSJ is None:
            raise unittest.SkipTest("alosj is not built")
        cls.archive = Archive()

    @classmethod
    def tearDownClass(cls):
        cls.archive.close()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="ceosalosj-archive-out-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.out = os.path.join(self.work, "out")

    def lines(self, text):
        return sorted((json.loads(line) for line in text.splitlines()), key=lambda l: l["source"])

    def assert_converted_archive(self, lines):
        """Three products converted into a Collection that validates; the damaged one named with its error."""
        self.assertEqual(4, len(lines), lines)
        failed = [l for l in lines if l["status"] == "failed"]
        self.assertEqual(1, len(failed), lines)
        self.assertIn("damaged.tar.gz", failed[0]["source"])
        self.assertIn("IMG-02", failed[0]["error"])
        self.assertEqual([], failed[0]["outputs"])

        with open(os.path.join(self.out, "collection.json")) as f:
            collection = json.load(f)
        self.assertEqual([], stac_schemas.errors(collection, stac_schemas.core_schema("collection")))
        item_links = sorted(l["href"] for l in collection["links"] if l["rel"] == "item")
        ids = sorted(l["id"] for l in lines if l["status"] != "failed")
        self.assertEqual(["./%s/%s.json" % (i, i) for i in ids], item_links)
        west, south, east, north = collection["extent"]["spatial"]["bbox"][0]
        start, end = collection["extent"]["temporal"]["interval"][0]

        for line in lines:
            if line["status"] == "failed":
                continue
            self.assertGreater(line["peak_memory_mb"], 0)
            item_path = os.path.join(self.out, line["id"], line["id"] + ".json")
            self.assertEqual(item_path, line["outputs"][-1])
            with open(item_path) as f:
                item = json.load(f)
            self.assertEqual([], stac_schemas.errors(item, stac_schemas.core_schema("item")), line["id"])
            links = {l["rel"]: l["href"] for l in item["links"]}
            self.assertEqual("../collection.json", links["parent"])
            self.assertEqual("../collection.json", links["root"])
            self.assertEqual(collection["id"], item["collection"])
            # Every asset is there, relative to the Item, and the image is a COG GDAL reads.
            for asset in item["assets"].values():
                self.assertTrue(os.path.isfile(os.path.join(os.path.dirname(item_path), asset["href"])), asset)
            image = gdal.Open(os.path.join(os.path.dirname(item_path), item["assets"]["image"]["href"]))
            self.assertEqual("COG", image.GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"))
            self.assertEqual(item["assets"]["image"]["proj:shape"], [image.RasterYSize, image.RasterXSize])
            self.assertGreater(image.GetRasterBand(1).Checksum(), 0)
            self.assertEqual("sensor-model" in item["assets"], line["id"].endswith("O1B1__A") and "ALPSM" in line["id"])
            w, s, e, n = item["bbox"]
            self.assertTrue(west <= w and s >= south and e <= east and n <= north)
            self.assertTrue(start <= item["properties"]["datetime"] <= end)
        return collection


class BatchTest(ArchiveTestCase):
    def test_a_mixed_archive_converts_resumes_and_names_the_damaged_product(self):
        before = tree_state(self.archive.sources)
        result = run(ALOSJ, "batch", self.archive.sources, "--out", self.out, "--jobs", "2")
        self.assertEqual(1, result.returncode, result.stderr)
        lines = self.lines(result.stdout)
        self.assertEqual({"converted": 3, "failed": 1}, {s: sum(l["status"] == s for l in lines)
                                                          for s in ("converted", "failed")})
        self.assert_converted_archive(lines)
        self.assertIn("3 converted, 0 skipped, 1 failed", result.stderr)
        self.assertEqual(before, tree_state(self.archive.sources), "nothing is written inside the sources")
        # No temporary file is left anywhere in the output.
        self.assertEqual([], [n for _, _, files in os.walk(self.out) for n in files if ".alosj-" in n])

        # A second run skips what is complete and leaves it untouched.
        done = tree_state(self.out)
        result = run(ALOSJ, "batch", self.archive.sources, "--out", self.out, "--jobs", "2")
        self.assertEqual(1, result.returncode, result.stderr)
        self.assertEqual(["failed", "skipped", "skipped", "skipped"],
                         sorted(l["status"] for l in self.lines(result.stdout)))
        after = tree_state(self.out)
        for name in ("collection.json", "items.json"):
            del done[name], after[name]
        self.assertEqual(done, after)

        # A stopped run (an Item not written yet) is resumed: that product
        # alone is converted again; --overwrite redoes all.
        stopped = sorted(l["id"] for l in lines if l["status"] == "converted")[0]
        os.remove(os.path.join(self.out, stopped, stopped + ".json"))
        result = run(ALOSJ, "batch", self.archive.sources, "--out", self.out, "--jobs", "1")
        statuses = {l["id"]: l["status"] for l in self.lines(result.stdout) if l["status"] != "failed"}
        self.assertEqual("converted", statuses.pop(stopped))
        self.assertEqual({"skipped"}, set(statuses.values()))
        self.assert_converted_archive(self.lines(result.stdout))
        result = run(ALOSJ, "batch", self.archive.sources, "--out", self.out, "--overwrite")
        self.assertEqual(["converted"] * 3 + ["failed"], sorted(l["status"] for l in self.lines(result.stdout)))

        # Writing into a source is refused before anything is done.
        inside = os.path.join(self.archive.sources, "2006", "out")
        result = run(ALOSJ, "batch", self.archive.sources, "--out", inside)
        self.assertEqual(2, result.returncode)
        self.assertFalse(os.path.exists(inside))

    def test_the_schemas_refuse_a_broken_item_and_collection(self):
        # The validation above would pass anything if the schemas were not applied.
        result = run(ALOSJ, "-q", "convert", os.path.join(self.archive.sources, "avnir2-1b2.zip"), "--out", self.out)
        self.assertEqual(0, result.returncode, result.stderr)
        line = json.loads(result.stdout)
        self.assertEqual("converted", line["status"])
        self.assertEqual(0, run(ALOSJ, "catalog", self.out).returncode)
        with open(line["outputs"][-1]) as f:
            item = json.load(f)
        with open(os.path.join(self.out, "collection.json")) as f:
            collection = json.load(f)
        self.assertEqual([], stac_schemas.errors(item, stac_schemas.core_schema("item")))
        def without_datetime(i):
            del i["properties"]["datetime"]

        def off_nadir_beyond_the_horizon(i):
            i["properties"]["view:off_nadir"] = 200

        def unknown_data_type(i):
            i["assets"]["image"]["raster:bands"][0]["data_type"] = "byte"

        for breaking in (without_datetime, off_nadir_beyond_the_horizon, unknown_data_type):
            broken = copy.deepcopy(item)
            breaking(broken)
            self.assertNotEqual([], stac_schemas.errors(broken, stac_schemas.core_schema("item")), breaking.__name__)
        broken = copy.deepcopy(collection)
        broken["extent"]["temporal"]["interval"] = {"from": "to"}
        self.assertNotEqual([], stac_schemas.errors(broken, stac_schemas.core_schema("collection")))

    def assert_same_raster(self, expected, made, what):
        """The same size, bands, pixels, metadata and overviews."""
        a, b = gdal.Open(expected), gdal.Open(made)
        self.assertEqual((a.RasterXSize, a.RasterYSize, a.RasterCount), (b.RasterXSize, b.RasterYSize, b.RasterCount),
                         what)
        self.assertEqual(a.ReadRaster(), b.ReadRaster(), what)
        self.assertEqual(a.GetMetadata(), b.GetMetadata(), what)
        for n in range(1, a.RasterCount + 1):
            levels = [[band.GetOverview(i) for i in range(band.GetOverviewCount())] for band in
                      (a.GetRasterBand(n), b.GetRasterBand(n))]
            for x, y in zip(*levels, strict=True):
                self.assertEqual((x.XSize, x.YSize, x.ReadRaster()), (y.XSize, y.YSize, y.ReadRaster()), what)

    def test_a_conversion_opens_the_product_once_and_makes_what_the_commands_make(self):
        # The product is opened once per conversion, and once per product in
        # a batch; its outputs are what export, quicklook and stac make.
        # A warp's workers each read through a handle of their own.
        counting = dict(os.environ, ALOSJ_REPORT_OPENS="1", GDAL_NUM_THREADS="2")
        products = {"prism": os.path.join(self.archive.sources, "2006", "10", "prism-1b1"),
                    "avnir2": os.path.join(self.archive.sources, "avnir2-1b2.zip")}
        for name, product in products.items():
            for options in ([], ["--warp"]):
                out = os.path.join(self.work, name + "".join(options))
                result = subprocess.run([ALOSJ, "-q", "convert", product, "--out", out, *options],
                                        capture_output=True, text=True, timeout=300, env=counting)
                self.assertEqual(0, result.returncode, result.stderr)
                handles = ["alosj: handles on them opened by worker threads: 2"] if options else []
                self.assertEqual(["alosj: products opened: 1"] + handles, result.stderr.splitlines(), (name, options))
                line = json.loads(result.stdout)
                self.assertEqual("converted", line["status"])
                image, quicklook = line["outputs"][:2]
                alone = os.path.join(self.work, "alone-" + name + "".join(options))
                os.makedirs(alone)
                exported = os.path.join(alone, "export.tif")
                result = run(ALOSJ, "-q", "export", product, exported, "--format", "COG", *options)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assert_same_raster(exported, image, (name, options))
                with open(exported[:-4] + ".qml") as a, open(image[:-4] + ".qml") as b:
                    self.assertEqual(a.read(), b.read())
                result = run(ALOSJ, "-q", "quicklook", product, os.path.join(alone, "quicklook.png"))
                self.assertEqual(0, result.returncode, result.stderr)
                self.assert_same_raster(os.path.join(alone, "quicklook.png"), quicklook, (name, options))
                # Which is the reduction and stretch of the pixels GDAL's driver reads.
                small = os.path.join(alone, "small.png")
                self.assertEqual(0, run(ALOSJ, "-q", "quicklook", product, small, "--size", "150").returncode)
                made = gdal.Open(small).ReadAsArray()
                numpy.testing.assert_array_equal(expected_quicklook(line["source"], 150), made.reshape(-1, *made.shape[-2:]))

                # The Item is alosj stac's of the same assets, with what
                # convert adds: its processing, the Collection, relative hrefs.
                with open(line["outputs"][-1]) as f:
                    item = json.load(f)
                assets = [p for p in line["outputs"] if p.endswith((".tif", ".png", ".json"))][:-1]
                result = run(ALOSJ, "-q", "stac", product, *[a for p in assets for a in ("--asset", p)])
                self.assertEqual(0, result.returncode, result.stderr)
                stac = json.loads(result.stdout)
                self.assertEqual(3 if name == "prism" else 2, len(item["assets"]))
                for key in ("processing:lineage", "processing:expression"):
                    self.assertIn(key, item["properties"])
                    del item["properties"][key]
                del item["collection"], item["links"], stac["links"]
                for asset in item["assets"].values():
                    asset["href"] = os.path.normpath(os.path.join(os.path.dirname(line["outputs"][-1]), asset["href"]))
                self.assertEqual(stac, item, (name, options))

        # A batch opens nothing itself; each conversion, its product once
        # (the damaged one once more, to name it in its line).
        result = subprocess.run([ALOSJ, "-q", "batch", self.archive.sources, "--out", self.out, "--jobs", "2"],
                                capture_output=True, text=True, timeout=300, env=counting)
        self.assertEqual(1, result.returncode, result.stderr)
        opens = [l for l in result.stderr.splitlines() if "opened" in l]
        self.assertEqual(["alosj: products opened: %d" % n for n in (0, 1, 1, 1, 2)], sorted(opens))


TEMPORARY = re.compile(r"\.alosj-([0-9a-f]{16}|lock)")


def temporaries(root):
    """Every file under root named as alosj names what it is writing."""
    return sorted(os.path.join(d, n) for d, _, files in os.walk(root) for n in files if TEMPORARY.search(n))


def children_of(pid):
    """The processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rpartition(")")[2].split()
            except OSError:
                continue
            if int(fields[1]) == pid:
                found.append(int(entry))
    return found


def gone(pid):
    """Whether the process has ended (a zombie nobody reaps counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rpartition(")")[2].split()[0] in ("Z", "X")
    except OSError:
        return True


def wait_until(condition, what, limit=180):
    """Waits for condition; the limit only keeps a broken build from hanging the suite."""
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("still not " + what)
        time.sleep(0.01)


class RobustBatchTest(ArchiveTestCase):
    """Odd names, damaged sources, products sharing an id, changed options,
    interrupted runs: each is reported, none stops the others or mixes outputs."""

    def setUp(self):
        super().setUp()
        unpacked = os.path.join(self.work, "unpacked")
        with zipfile.ZipFile(os.path.join(self.archive.sources, "avnir2-1b2.zip")) as z:
            z.extractall(unpacked)
        self.product = os.path.join(unpacked, "avnir2-1b2")
        self.volume = [n for n in os.listdir(self.product) if n.startswith("VOL-")][0]
        info = json.loads(run(ALOSJ, "-q", "info", "--json", self.product).stdout)["acquisition"]
        self.scene_id = info["sceneId"]
        self.id = "%s-%s" % (info["sceneId"], info["productId"])

    def copy_product(self, *parts):
        path = os.path.join(self.work, *parts)
        shutil.copytree(self.product, path)
        return path

    def test_odd_names_unreadable_sources_and_a_full_log_are_each_reported(self):
        # A directory named with a Latin-1 byte, a scene ID with one, a zip
        # cut short (given, and inside a directory), a product reached by a
        # link, a link to nothing, an empty directory, a damaged product.
        latin_dir = self.copy_product("src", os.fsdecode(b"caf\xe9"), "avnir2")
        latin_scene = self.copy_product("scene", "avnir2")
        leader = os.path.join(latin_scene, "LED" + self.volume[3:])
        with open(leader, "rb") as f:
            data = f.read()
        with open(leader, "wb") as f:
            f.write(data.replace(self.scene_id.encode(), self.scene_id[:-1].encode() + b"\xe9"))
        with open(os.path.join(self.archive.sources, "avnir2-1b2.zip"), "rb") as f:
            zipped = f.read()
        cut = os.path.join(self.work, "cut.zip")
        os.makedirs(os.path.join(self.work, "nested"))
        for path in (cut, os.path.join(self.work, "nested", "cut.zip")):
            with open(path, "wb") as f:
                f.write(zipped[:len(zipped) // 2])
        links = os.path.join(self.work, "links")
        os.makedirs(links)
        os.symlink(os.path.join(self.archive.sources, "2006", "10", "prism-1b1"), os.path.join(links, "product"))
        os.symlink(os.path.join(self.work, "nowhere"), os.path.join(links, "gone"))
        empty = os.path.join(self.work, "empty")
        os.makedirs(empty)
        damaged = os.path.join(self.archive.sources, "damaged.tar.gz")
        sources = [os.path.join(self.work, "src"), latin_scene, cut, os.path.join(self.work, "nested"), links, empty,
                   damaged]

        log = os.path.join(self.work, "batch.log")
        result = run(ALOSJ, "-q", "batch", *sources, "--out", self.out, "--jobs", "2", "--log", log)
        with open(log, encoding="utf-8") as f:  # strict UTF-8
            lines = [json.loads(line) for line in f]
        self.assertEqual(1, result.returncode, result.stderr)
        self.assertIn("3 converted, 0 skipped, 5 failed", result.stderr, lines)
        by_status = {}
        for line in lines:
            by_status.setdefault(line["status"], []).append(line)
        converted = sorted(l["source"] for l in by_status["converted"])
        self.assertTrue(any("caf\ufffd" in s for s in converted), converted)
        self.assertTrue(any(s.startswith(os.path.join(links, "product")) for s in converted), converted)
        ids = {l["id"] for l in by_status["converted"]}
        latin_id = self.id.replace(self.scene_id, self.scene_id[:-1] + "_")
        self.assertIn(latin_id, ids)
        self.assertTrue(os.path.isfile(os.path.join(self.out, latin_id, latin_id + ".json")))
        failures = {l["source"]: l for l in by_status["failed"]}
        self.assertIn("not a readable archive", failures[cut]["error"])
        self.assertIn("not a readable archive", failures[os.path.join(self.work, "nested", "cut.zip")]["error"])
        self.assertIn("symbolic link to nothing", failures[os.path.join(links, "gone")]["error"])
        self.assertIn("holds no product", failures[empty]["error"])
        damaged_line = [l for s, l in failures.items() if "damaged.tar.gz" in s][0]
        self.assertTrue(damaged_line["id"].startswith("ALAV2A"), damaged_line)
        with open(os.path.join(self.out, "collection.json"), encoding="utf-8") as f:
            self.assertEqual(3, sum(l["rel"] == "item" for l in json.load(f)["links"]))

        # info --json and stac print valid JSON for the scene ID's byte.
        for command, key, expected in ((("info", "--json"), "acquisition", "\ufffd"), (("stac",), "id", latin_id)):
            printed = subprocess.run([ALOSJ, "-q", *command, latin_scene], capture_output=True)
            self.assertEqual(0, printed.returncode, printed.stderr)
            self.assertIn(expected, str(json.loads(printed.stdout.decode("utf-8"))[key]))

        # A log that cannot be written is exit 1 with a message; the rest is done.
        result = run(ALOSJ, "-q", "batch", *sources, "--out", self.out, "--log", "/dev/full")
        self.assertEqual(1, result.returncode)
        self.assertIn("/dev/full: cannot be written", result.stderr)
        self.assertIn("0 converted, 3 skipped, 5 failed", result.stderr)

        # --list needs no --out; -0 lists a name with a line break.
        odd = self.copy_product("listing", "line\nbreak", "avnir2")
        listing = os.path.join(self.work, "listing")
        result = run(ALOSJ, "batch", listing, "--list", "-0")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual([os.path.join(odd, self.volume)], result.stdout.split("\0")[:-1])
        result = run(ALOSJ, "batch", listing, "--list")
        self.assertEqual(1, result.returncode)
        self.assertIn("-0", result.stderr)

    def test_one_id_from_two_sources_options_stacit_and_outputs_inside_a_source(self):
        first = self.copy_product("a", "avnir2")
        second = self.copy_product("b", "avnir2")
        image = os.path.join(second, "IMG-01" + self.volume[3:])
        with open(image, "r+b") as f:
            record = struct.unpack(">I", f.read(12)[8:12])[0]
            f.seek(record * 500 + 100)
            f.write(bytes([250]) * 200)
        result = run(ALOSJ, "-q", "batch", first, second, "--out", self.out, "--jobs", "2")
        self.assertEqual(1, result.returncode, result.stderr)
        lines = {l["status"]: l for l in self.lines(result.stdout)}
        self.assertEqual({"converted", "failed"}, set(lines))
        winner, loser = lines["converted"], lines["failed"]
        self.assertEqual(self.id, loser["id"])
        self.assertIn(winner["source"], loser["error"])
        self.assertIn(loser["source"], loser["error"])
        with open(winner["outputs"][-1]) as f:
            item = json.load(f)
        self.assertEqual(winner["source"], item["properties"]["processing:expression"]["expression"]["source"])
        cog = gdal.Open(winner["outputs"][0])
        product = gdal.Open(os.path.dirname(winner["source"]))
        checksums = [gdal.Open(p) for p in (first, second)]
        self.assertNotEqual(*[d.GetRasterBand(1).Checksum() for d in checksums])
        self.assertEqual(product.GetRasterBand(1).Checksum(), cog.GetRasterBand(1).Checksum())
        result = run(ALOSJ, "-q", "batch", first, second, "--out", self.out, "--jobs", "1")
        self.assertEqual(1, result.returncode)
        self.assertEqual(["failed", "skipped"], sorted(l["status"] for l in self.lines(result.stdout)))

        # Other options redo a product; the same ones skip it.
        source = os.path.dirname(winner["source"])
        for options, status in ((["--warp"], "converted"), (["--warp"], "skipped"), ([], "converted")):
            line = json.loads(run(ALOSJ, "-q", "convert", source, "--out", self.out, *options).stdout)
            self.assertEqual(status, line["status"], (options, line))
            self.assertEqual(status == "converted", "redone" in line, line)
            with open(line["outputs"][-1]) as f:
                recipe = json.load(f)["properties"]["processing:expression"]["expression"]
            self.assertEqual(bool(options), recipe["warp"])
        self.assertEqual(0, run(ALOSJ, "-q", "batch", source, "--out", self.out, "--warp").returncode)

        # GDAL's STACIT driver opens the Items as one mosaic.
        mosaic = gdal.Open('STACIT:"%s"' % os.path.join(self.out, "items.json"))
        self.assertIn(winner["outputs"][0], mosaic.GetFileList())
        cog = gdal.Open(winner["outputs"][0])
        self.assertEqual((cog.RasterXSize, cog.RasterYSize), (mosaic.RasterXSize, mosaic.RasterYSize))
        self.assertEqual(cog.GetRasterBand(1).Checksum(), mosaic.GetRasterBand(1).Checksum())

        # Nothing is written inside a product, however it is named.
        for command in (("convert", first), ("convert", os.path.join(first, self.volume)),
                        ("batch", os.path.join(first, self.volume))):
            inside = os.path.join(first, "out")
            result = run(ALOSJ, "-q", *command, "--out", inside)
            self.assertEqual(2, result.returncode, (command, result.stdout, result.stderr))
            self.assertFalse(os.path.exists(inside), command)

    def catch_conversion(self, process, pids):
        """Stops the conversions pids() gives while one is writing; the
        directories of the temporaries it was writing."""
        while process.poll() is None:
            if temporaries(self.out):
                stopped = pids()
                for pid in stopped:
                    os.kill(pid, signal.SIGSTOP)
                writing = [t for t in temporaries(self.out) if "lock" not in os.path.basename(t)]
                if writing:
                    return stopped, sorted({os.path.dirname(t) for t in writing})
                for pid in stopped:
                    os.kill(pid, signal.SIGCONT)
            time.sleep(0.005)
        self.fail("no conversion was caught writing")

    def test_interrupted_runs_leave_no_temporaries_and_conversions_end_with_the_batch(self):
        # A batch killed outright: its conversion ends too, removing what it was writing.
        batch = subprocess.Popen([ALOSJ, "-q", "batch", self.archive.sources, "--out", self.out, "--jobs", "1",
                                  "--warp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        children, directories = self.catch_conversion(batch, lambda: children_of(batch.pid))
        batch.kill()
        batch.wait()
        for pid in children:
            os.kill(pid, signal.SIGCONT)
        for pid in children:
            wait_until(lambda: gone(pid), "ended")
        self.assertEqual([], temporaries(self.out))
        for directory in directories:
            name = os.path.basename(directory)
            self.assertFalse(os.path.exists(os.path.join(directory, name + ".json")), "the conversion went on")

        # Ctrl-C on one conversion removes what it was writing.
        convert = subprocess.Popen([ALOSJ, "-q", "convert", self.product, "--out", self.out, "--warp",
                                    "--overwrite"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.catch_conversion(convert, lambda: [convert.pid])
        os.kill(convert.pid, signal.SIGINT)
        os.kill(convert.pid, signal.SIGCONT)
        self.assertEqual(-signal.SIGINT, convert.wait())
        self.assertEqual([], temporaries(self.out))

        # What a killed run (SIGKILL) left is removed by the next.
        stale = [os.path.join(self.out, self.id, self.id + ".tif.alosj-0123456789abcdef.tif"),
                 os.path.join(self.out, self.id, self.id + ".tif.alosj-0123456789abcdef.tif.ovr.tmp"),
                 os.path.join(self.out, "collection.json.alosj-fedcba9876543210.json"),
                 os.path.join(self.out, self.id + ".alosj-lock"), os.path.join(self.out, "NOT-CONVERTED.alosj-lock")]
        for path in stale:
            with open(path, "wb") as f:
                f.write(b"left by a killed run")
        result = run(ALOSJ, "-q", "batch", self.archive.sources, "--out", self.out, "--warp")
        self.assertEqual(["converted"] * 3 + ["failed"], sorted(l["status"] for l in self.lines(result.stdout)))
        self.assertEqual([], temporaries(self.out))


class RangeHandler(http.server.SimpleHTTPRequestHandler):
    """Python's file server, quiet and answering byte ranges as web servers and object stores do."""

    def log_message(self, *args):
        pass

    def send_head(self):
        wanted = self.headers.get("Range", "")
        path = self.translate_path(self.path)
        if not wanted.startswith("bytes=") or not os.path.isfile(path):
            return super().send_head()
        size = os.path.getsize(path)
        first, _, last = wanted[len("bytes="):].partition("-")
        first, last = int(first), min(int(last) if last else size - 1, size - 1)
        f = open(path, "rb")
        f.seek(first)
        self.send_response(206)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        self.range_left = last - first + 1
        return f

    def copyfile(self, source, outputfile):
        left = getattr(self, "range_left", None)
        if left is None:
            return super().copyfile(source, outputfile)
        outputfile.write(source.read(left))


class HttpTest(ArchiveTestCase):
    def test_products_open_over_http_and_in_archives_as_from_disk(self):
        with zipfile.ZipFile(os.path.join(self.archive.sources, "avnir2-1b2.zip")) as z:
            z.extractall(self.work)
        local = os.path.join(self.work, "avnir2-1b2")
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(RangeHandler, directory=self.work))
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = "/vsicurl/http://127.0.0.1:%d/avnir2-1b2" % server.server_address[1]
        volume = [n for n in os.listdir(local) if n.startswith("VOL-")][0]

        expected = gdal.Open(local).ReadAsArray()
        expected_info = json.loads(run(ALOSJ, "-q", "info", "--json", local).stdout)
        self.assertGreater(int(expected.sum()), 0)
        zipped = "/vsizip/" + os.path.join(self.archive.sources, "avnir2-1b2.zip") + "/avnir2-1b2"
        tarred = "/vsitar/" + os.path.join(self.archive.sources, "2006", "prism-1a.tar") + "/prism-1a"
        for name, path in (("http", url + "/" + volume), ("zip", zipped)):
            with self.subTest(name):
                dataset = gdal.Open(path)
                self.assertEqual("ALOSJ", dataset.GetDriver().ShortName)
                numpy.testing.assert_array_equal(expected, dataset.ReadAsArray())
                result = run(ALOSJ, "-q", "info", "--json", path)
                self.assertEqual(0, result.returncode, result.stderr)
                info = json.loads(result.stdout)
                for key in ("width", "height", "corners", "acquisition"):
                    self.assertEqual(expected_info.get(key), info.get(key), key)
        tar_raster = gdal.Open(tarred)
        local_1a = os.path.join(self.work, "prism-1a")
        with tarfile.open(os.path.join(self.archive.sources, "2006", "prism-1a.tar")) as t:
            t.extractall(self.work)
        numpy.testing.assert_array_equal(gdal.Open(local_1a).ReadAsArray(), tar_raster.ReadAsArray())


class FailingServerTest(unittest.TestCase):
    """A server that stops answering, or answers an error, fails the read with that reason, in good time."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="alosj-failing-server-")
        self.addCleanup(shutil.rmtree, self.work)
        result = run(ALOSJ, "sample", os.path.join(self.work, "p"), "--sensor", "avnir2", "--level", "1B2")
        self.assertEqual(0, result.returncode, result.stderr)
        self.volume = [n for n in os.listdir(os.path.join(self.work, "p")) if n.startswith("VOL-")][0]

    def serve(self, handler):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(handler, directory=self.work))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        return "/vsicurl/http://127.0.0.1:%d/p/%s" % (server.server_address[1], self.volume)

    def test_a_stalled_server_is_given_up_by_default(self):
        released = threading.Event()

        class Stalling(RangeHandler):
            def send_head(self):
                released.wait(300)
                return None

        path = self.serve(Stalling)
        self.addCleanup(released.set)  # runs first: the stalled handlers end before the server closes
        # The defaults give up a silent server after seconds; without them
        # the command would wait for ever (here: until the run's timeout).
        result = run(ALOSJ, "info", path, timeout=120)
        self.assertEqual(1, result.returncode, result.stderr)
        self.assertIn("cannot be reached", result.stderr)

    def test_an_http_error_reads_as_that(self):
        for code in (500, 404):
            class Failing(RangeHandler):
                def send_head(self):
                    if os.path.basename(self.path).startswith("IMG-") and self.command == "GET":
                        self.send_error(code)
                        return None
                    return super().send_head()

            with self.subTest(code):
                # GDAL's own option wins over alosj's default retries.
                environment = dict(os.environ, GDAL_HTTP_MAX_RETRY="0")
                result = subprocess.run([ALOSJ, "info", self.serve(Failing)], capture_output=True, text=True,
                                        timeout=120, env=environment)
                self.assertEqual(1, result.returncode, result.stderr)
                self.assertIn("HTTP error code: %d" % code, result.stderr)
                self.assertNotIn("short read", result.stderr)


class DaskTest(ArchiveTestCase):
    def test_two_workers_convert_the_archive_and_a_rerun_skips(self):
        try:
            import distributed  # noqa: F401
        except ImportError:
            self.skipTest("python3-distributed is not installed")
        command = [sys.executable, DASK_ENTRY, self.archive.sources, "--out", self.out, "--workers", "2",
                   "--alosj", ALOSJ]
        result = run(*command)
        self.assertEqual(1, result.returncode, result.stderr)
        lines = self.lines(result.stdout)
        self.assert_converted_archive(lines)
        self.assertEqual(3, sum(l["status"] == "converted" for l in lines))
        result = run(*command)
        self.assertEqual(["failed", "skipped", "skipped", "skipped"],
                         sorted(l["status"] for l in self.lines(result.stdout)))


def main():
    global ALOSJ, DASK_ENTRY
    parser = argparse.ArgumentParser()
    parser.add_argument("--alosj")
    parser.add_argument("--dask-entry")
    args, rest = parser.parse_known_args()
    ALOSJ = args.alosj
    DASK_ENTRY = args.dask_entry
    if gdal.GetDriverByName("ALOSJ") is None:
        sys.exit("the ALOSJ driver did not load from " + os.environ.get("GDAL_DRIVER_PATH", "(unset)"))
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
