"""Orthorectification over relief, end to end, as a user runs it.

    height_test.py --alosj <alosj> [-v]

alosj writes forward-view PRISM samples over the volcano and over the coastal
plain with the DEM of their terrain; the DEM carries the true places of the
survey targets painted on the summit and on the plain (dark discs).  Each
sample is orthorectified on the DEM by alosj and, through the GDAL driver's
RPC model, by gdalwarp; the targets must land within one output pixel of
their true places in both, while the height-blind warp misplaces them by
their parallax.
"""

import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy
from osgeo import gdal, osr

ALOSJ = None

gdal.UseExceptions()

# The targets are discs of DN 1; the darkest ground elsewhere is about 10.
TARGET_DARKEST = 6


def run(*args):
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, args))} failed ({result.returncode}):\n{result.stderr}")
    return result


def find_target(path):
    """Map position (x, y) of the one dark target in a warped image (a disc of
    about 8 pixels across; a stray dark pixel where cubic resampling meets the
    raster's edge is no target)."""
    ds = gdal.Open(path)
    values = ds.GetRasterBand(1).ReadAsArray()
    rows, columns = numpy.nonzero((values > 0) & (values < TARGET_DARKEST))
    near = (abs(rows - numpy.median(rows)) < 15) & (abs(columns - numpy.median(columns)) < 15)
    if numpy.count_nonzero(near) < 20:
        return None
    gt = ds.GetGeoTransform()
    column, row = columns[near].mean() + 0.5, rows[near].mean() + 0.5
    return gt[0] + column * gt[1] + row * gt[2], gt[3] + column * gt[4] + row * gt[5]


def true_place(dem, key, path):
    """The target's true place in the CRS of the image at path, and its ellipsoidal height."""
    latitude, longitude, height = map(float, gdal.Open(dem).GetMetadataItem(key).split())
    geographic = osr.SpatialReference()
    geographic.ImportFromEPSG(4326)
    geographic.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    target = osr.SpatialReference(wkt=gdal.Open(path).GetProjection())
    target.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    x, y, _ = osr.CoordinateTransformation(geographic, target).TransformPoint(longitude, latitude)
    return x, y, height


def grid_of(path):
    ds = gdal.Open(path)
    gt = ds.GetGeoTransform()
    return ["-t_srs", ds.GetProjection(), "-te", gt[0], gt[3] + ds.RasterYSize * gt[5],
            gt[0] + ds.RasterXSize * gt[1], gt[3], "-ts", ds.RasterXSize, ds.RasterYSize]


class OrthorectificationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ceosalosj-heights-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def check_target(self, place, key):
        d = os.path.join(self.dir, place)
        dem = os.path.join(self.dir, place + "-dem.tif")
        run(ALOSJ, "-q", "sample", d, "--view", "forward", "--place", place, "--dem-out", dem)
        volume = next(os.path.join(d, n) for n in os.listdir(d) if n.startswith("VOL-"))
        on_dem, blind, by_rpc = (os.path.join(self.dir, place + n) for n in ("-ortho.tif", "-blind.tif", "-rpc.tif"))
        run(ALOSJ, "-q", "export", "--warp", "--dem", dem, "--resampling", "cubic", volume, on_dem)
        run(ALOSJ, "-q", "export", "--warp", "--resampling", "cubic", volume, blind)
        run("gdalwarp", "-q", "-rpc", "-to", "RPC_DEM=" + dem, "-r", "cubic", "-dstnodata", "0",
            *grid_of(on_dem), volume, by_rpc)

        pixel = gdal.Open(on_dem).GetGeoTransform()[1]
        x, y, height = true_place(dem, key, on_dem)
        places = []
        for path in (on_dem, by_rpc):
            found = find_target(path)
            self.assertIsNotNone(found, f"{path}: no target")
            self.assertLess(math.hypot(found[0] - x, found[1] - y), pixel, f"{path}: {found} vs true {(x, y)}")
            places.append(found)
        # alosj's model and gdalwarp with the driver's RPCs agree.
        self.assertLess(math.hypot(places[0][0] - places[1][0], places[0][1] - places[1][1]), pixel)

        # Without heights the target lies where its ray meets the ellipsoid:
        # about tan(26 degrees) x its height away (23.8 degrees from the
        # satellite, a little more at the ground), along the track.
        found = find_target(blind)
        self.assertIsNotNone(found, f"{blind}: no target")
        parallax = math.hypot(found[0] - x, found[1] - y)
        self.assertGreater(parallax, 0.40 * height)
        self.assertLess(parallax, 0.56 * height)
        return height, parallax / pixel

    def test_targets_on_the_summit_and_the_plain_land_in_place_on_the_dem(self):
        summit, summit_shift = self.check_target("volcano", "TARGET_SUMMIT")
        plain, plain_shift = self.check_target("coast", "TARGET_PLAIN")
        self.assertGreater(summit, 3500)
        self.assertGreater(summit_shift, 500)  # pixels the height-blind warp is off
        self.assertGreater(plain_shift, 5)     # the geoid's 40 m alone move a forward view


def main():
    global ALOSJ
    parser = argparse.ArgumentParser()
    parser.add_argument("--alosj", required=True)
    args, rest = parser.parse_known_args()
    ALOSJ = args.alosj
    if gdal.GetDriverByName("ALOSJ") is None:
        sys.exit("the ALOSJ driver did not load from " + os.environ.get("GDAL_DRIVER_PATH", "(unset)"))
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
