"""alosj export --format COG: one pass over the rows (or over the warped
raster's) gives a COG that GDAL's validator accepts, whose full resolution is the GeoTIFF export's, whose
overviews are those GDAL's COG driver reduces from that GeoTIFF, and whose
metadata are the GeoTIFF export's; a write cut short leaves nothing behind.

    cog_test.py --alosj <alosj> [-v]

Products are written by `alosj sample` (the product writer).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import numpy
from osgeo import gdal

ALOSJ = None

gdal.UseExceptions()


def run(*args, timeout=300):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=timeout)


def described(path):
    """Everything gdalinfo tells of a raster but its file, layout and overviews."""
    info = gdal.Info(path, format="json", listMDD=True, showMetadata=True)
    for key in ("description", "files"):
        info.pop(key, None)
    info["metadata"].pop("IMAGE_STRUCTURE", None)
    info["metadata"].pop("DERIVED_SUBDATASETS", None)
    info["metadata"]["metadataDomains"] = [d for d in info["metadata"]["metadataDomains"]
                                           if d not in ("IMAGE_STRUCTURE", "DERIVED_SUBDATASETS")]
    for band in info["bands"]:
        for key in ("overviews", "block"):
            band.pop(key, None)
    return info


def inserts_room(directory):
    """Whether the file system of `directory` inserts room into a file (fallocate INSERT_RANGE)."""
    import ctypes
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_long, ctypes.c_long]
    block = os.statvfs(directory).f_bsize
    with tempfile.TemporaryFile(dir=directory) as f:
        f.write(bytes(3 * block))
        f.flush()
        return libc.fallocate(f.fileno(), 0x20, 0, block) == 0  # FALLOC_FL_INSERT_RANGE


class CogExport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ceosalosj-cog-")
        cls.products = {}
        for name, sensor, level in (("prism-1b1", "prism", "1B1"), ("avnir2-1b2", "avnir2", "1B2")):
            result = run(ALOSJ, "-q", "sample", os.path.join(cls.dir, name), "--sensor", sensor, "--level", level)
            if result.returncode != 0:
                raise RuntimeError(result.stderr)
            cls.products[name] = next(os.path.join(cls.dir, name, f) for f in os.listdir(os.path.join(cls.dir, name))
                                      if f.startswith("VOL-"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def out(self, name):
        directory = os.path.join(self.dir, "out-" + self.id().rsplit(".", 1)[-1])
        os.makedirs(directory, exist_ok=True)
        return os.path.join(directory, name)

    def test_cog_is_valid_and_equals_the_geotiff_and_gdals_overviews(self):
        # DEFLATE tiles are compressed by alosj (bytes of one band and of
        # four side by side, radiance), the others by GDAL (ZSTD).
        for name, extra in (("prism-1b1", []), ("avnir2-1b2", []), ("avnir2-1b2", ["--radiance"]),
                            ("prism-1b1", ["--warp"]), ("avnir2-1b2", ["--radiance", "--compress", "ZSTD"])):
            with self.subTest(product=name, extra=extra):
                tiff, cog, driver_cog = (self.out(name + "".join(extra) + suffix)
                                         for suffix in (".tif", "-cog.tif", "-gdal.tif"))
                for path, form in ((tiff, "GTiff"), (cog, "COG")):
                    result = run(ALOSJ, "-q", "export", self.products[name], path, "--format", form, *extra)
                    self.assertEqual(0, result.returncode, result.stderr)
                result = run("/usr/bin/python3", "-m", "osgeo_utils.samples.validate_cloud_optimized_geotiff", cog)
                self.assertEqual(0, result.returncode, result.stdout + result.stderr)
                self.assertIn("is a valid cloud optimized GeoTIFF", result.stdout)
                # What GDAL's COG driver makes of the GeoTIFF export with the same options.
                gdal.GetDriverByName("COG").CreateCopy(
                    driver_cog, gdal.Open(tiff),
                    options=["COMPRESS=DEFLATE", "LEVEL=1", "PREDICTOR=YES", "BLOCKSIZE=512", "RESAMPLING=AVERAGE",
                             "NUM_THREADS=ALL_CPUS"])
                ours, theirs, plain = gdal.Open(cog), gdal.Open(driver_cog), gdal.Open(tiff)
                self.assertEqual("COG", ours.GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"))
                self.assertEqual("ZSTD" if "ZSTD" in extra else "DEFLATE",
                                 ours.GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"))
                self.assertEqual([512, 512], ours.GetRasterBand(1).GetBlockSize())
                for k in range(1, plain.RasterCount + 1):
                    band, reference = ours.GetRasterBand(k), theirs.GetRasterBand(k)
                    full = band.ReadAsArray()
                    numpy.testing.assert_array_equal(plain.GetRasterBand(k).ReadAsArray(), full)
                    self.assertGreater(numpy.count_nonzero(full > 0), full.size // 4)
                    self.assertGreaterEqual(reference.GetOverviewCount(), 1)
                    self.assertEqual(reference.GetOverviewCount(), band.GetOverviewCount())
                    for i in range(band.GetOverviewCount()):
                        numpy.testing.assert_array_equal(reference.GetOverview(i).ReadAsArray(),
                                                         band.GetOverview(i).ReadAsArray(),
                                                         err_msg=f"band {k}, overview {i}")
                # Placement, RPCs, metadata of every domain, nodata, scale,
                # offset, descriptions, colours: the GeoTIFF export's.
                self.assertEqual(described(tiff), described(cog))
                self.assertTrue(ours.GetGCPCount() > 4 or ours.GetSpatialRef() is not None)
                self.assertIn("ALOSJ", ours.GetMetadataDomainList())
                with open(tiff[:-4] + ".qml") as a, open(cog[:-4] + ".qml") as b:
                    self.assertEqual(a.read(), b.read())
                # No temporaries left, no side file.
                self.assertEqual([], [f for f in os.listdir(os.path.dirname(cog))
                                      if ".alosj-" in f or f.endswith(".aux.xml")])

    def test_the_full_resolution_stays_in_place_where_the_file_system_lets_it(self):
        # Where the file system can insert room at the start of a file, the
        # full resolution's tiles are not copied: the COG is the file they
        # were written to, the header and overviews padded to its block.
        # Elsewhere (tmpfs) they are copied behind the overviews.  Both are
        # the same COG byte for byte, but for that padding.
        if not inserts_room(self.dir):
            self.skipTest(self.dir + ": its file system cannot insert room into a file")
        if not os.path.isdir("/dev/shm") or inserts_room("/dev/shm"):
            self.skipTest("no tmpfs at /dev/shm")
        product = self.products["avnir2-1b2"]
        in_place = self.out("in-place.tif")
        copied_dir = tempfile.mkdtemp(prefix="ceosalosj-cog-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, copied_dir)
        copied = os.path.join(copied_dir, "copied.tif")
        for path in (in_place, copied):
            result = run(ALOSJ, "-q", "export", product, path, "--format", "COG")
            self.assertEqual(0, result.returncode, result.stderr)
            result = run("/usr/bin/python3", "-m", "osgeo_utils.samples.validate_cloud_optimized_geotiff",
                         "--full-check=yes", path)
            self.assertIn("is a valid cloud optimized GeoTIFF", result.stdout, result.stdout + result.stderr)
            self.assertEqual("COG", gdal.Open(path).GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"))
            self.assertEqual([], [f for f in os.listdir(os.path.dirname(path)) if ".alosj-" in f])
        with open(in_place, "rb") as f:
            a = f.read()
        with open(copied, "rb") as f:
            b = f.read()
        block = os.statvfs(os.path.dirname(in_place)).f_bsize
        padding = len(a) - len(b)
        self.assertTrue(0 < padding < block, f"{len(a)} bytes in place, {len(b)} copied")
        # The first full-resolution tile starts on a block in place; the
        # tiles of every level are the copied COG's, byte for byte.
        ours, theirs = gdal.Open(in_place), gdal.Open(copied)
        start = int(ours.GetRasterBand(1).GetMetadataItem("BLOCK_OFFSET_0_0", "TIFF")) - 4  # its size before it
        self.assertEqual(0, start % block)
        self.assertEqual(bytes(padding), a[start - padding:start])
        self.assertTrue(a[start:] == b[start - padding:], "full resolution tiles differ")
        smallest = ours.GetRasterBand(1).GetOverview(ours.GetRasterBand(1).GetOverviewCount() - 1)
        first = int(smallest.GetMetadataItem("BLOCK_OFFSET_0_0", "TIFF")) - 4
        self.assertEqual(str(first + 4), theirs.GetRasterBand(1).GetOverview(
            theirs.GetRasterBand(1).GetOverviewCount() - 1).GetMetadataItem("BLOCK_OFFSET_0_0", "TIFF"))
        self.assertTrue(a[first:start - padding] == b[first:start - padding], "overview tiles differ")
        for k in range(1, ours.RasterCount + 1):
            numpy.testing.assert_array_equal(theirs.GetRasterBand(k).ReadAsArray(),
                                             ours.GetRasterBand(k).ReadAsArray())

    def test_a_warp_is_the_same_whatever_the_number_of_workers(self):
        # Strips of the grid are warped by as many workers as GDAL_NUM_THREADS
        # says and written in order: one worker or three, the same raster.
        outputs = []
        for threads in ("1", "3"):
            path = self.out(f"warp-{threads}.tif")
            result = subprocess.run([ALOSJ, "-q", "export", self.products["prism-1b1"], path, "--warp"],
                                    capture_output=True, text=True, timeout=300,
                                    env=dict(os.environ, GDAL_NUM_THREADS=threads))
            self.assertEqual(0, result.returncode, result.stderr)
            warped = gdal.Open(path)
            outputs.append(warped.GetRasterBand(1).ReadAsArray())
        self.assertGreater(numpy.count_nonzero(outputs[0]), outputs[0].size // 4)
        numpy.testing.assert_array_equal(outputs[0], outputs[1])

    def test_a_cog_cut_short_leaves_neither_output_nor_temporaries(self):
        cog = self.out("cut.tif")
        directory = os.path.dirname(cog)
        process = subprocess.Popen([ALOSJ, "-q", "export", self.products["avnir2-1b2"], cog, "--format", "COG"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Stopped once its temporaries (full resolution and overviews) exist.
        deadline = time.monotonic() + 120
        while len([f for f in os.listdir(directory) if ".alosj-" in f]) < 3:
            self.assertIsNone(process.poll(), "the export ended before it could be stopped")
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.001)
        process.send_signal(signal.SIGSTOP)
        self.assertFalse(os.path.exists(cog))
        process.send_signal(signal.SIGTERM)
        process.send_signal(signal.SIGCONT)
        self.assertNotEqual(0, process.wait(timeout=60))
        self.assertEqual([], os.listdir(directory))


def main():
    global ALOSJ
    parser = argparse.ArgumentParser()
    parser.add_argument("--alosj", required=True)
    args, rest = parser.parse_known_args()
    ALOSJ = args.alosj
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
