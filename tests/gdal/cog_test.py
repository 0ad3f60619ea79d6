"""alosj export --format COG: one pass over the rows gives a COG that GDAL's
validator accepts, whose full resolution is the GeoTIFF export's, whose
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
        for name, extra in (("prism-1b1", []), ("avnir2-1b2", ["--radiance"])):
            with self.subTest(product=name, extra=extra):
                tiff, cog, driver_cog = (self.out(name + suffix) for suffix in (".tif", "-cog.tif", "-gdal.tif"))
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
                self.assertEqual("DEFLATE", ours.GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"))
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
