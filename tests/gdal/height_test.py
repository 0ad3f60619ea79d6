"""Orthorectification over relief, end to end, as a user runs it.

    height_test.py --alosj <alosj> [-v]

alosj writes forward-view PRISM samples over the volcano and over the coastal
plain with the DEM of their terrain; the DEM carries the true places of the
survey targets painted on the summit and on the plain (dark discs).  Each
sample is orthorectified on the DEM by alosj and, through the GDAL driver's
RPC model, by gdalwarp; the targets must land within one output pixel of
their true places in both, while the height-blind warp misplaces them by
their parallax.

Real DEMs have edges, voids, fill values, scales, offsets and units, and
can fail to be read: a forward view over the summit is placed on variants of
its DEM as on the DEM itself, or refused with the real reason.
"""

import argparse
import functools
import http.server
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import threading
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


def alosj(*args, env=None):
    """Runs alosj without raising: the result, its exit status and its messages."""
    return subprocess.run([ALOSJ] + [str(a) for a in args], capture_output=True, text=True, timeout=300, env=env)


class HeaderThenStall(http.server.SimpleHTTPRequestHandler):
    """Serves the first `header` bytes of a file by byte range, then stalls on any range beyond."""

    header = 0
    released = None

    def log_message(self, *args):
        pass

    def send_head(self):
        path = self.translate_path(self.path)
        size = os.path.getsize(path)
        wanted = self.headers.get("Range", "")
        if self.command == "HEAD" or not wanted.startswith("bytes="):
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.send_header("Accept-Ranges", "bytes")
            self.end_headers()
            return None
        first, _, last = wanted[len("bytes="):].partition("-")
        first, last = int(first), min(int(last) if last else size - 1, size - 1)
        if last >= self.header:
            self.released.wait(120)
            return None
        self.send_response(206)
        self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(first)
            self.wfile.write(f.read(last - first + 1))
        return None


class RealDemTest(unittest.TestCase):
    """The forward view over the summit on its DEM's variants (UTM 54, 10 m, 349 x 465 pixels; the
    tiny scene lies in columns 151-242, rows 125-168, and its rays cross 1.9 km of ground
    between the summit's height and 0 m)."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ceosalosj-real-dems-")
        d = os.path.join(cls.dir, "fw")
        cls.dem = os.path.join(cls.dir, "dem.tif")
        run(ALOSJ, "-q", "sample", d, "--view", "forward", "--place", "volcano", "--size", "tiny", "--dem-out", cls.dem)
        cls.volume = next(os.path.join(d, n) for n in os.listdir(d) if n.startswith("VOL-"))
        source = gdal.Open(cls.dem)
        cls.heights = source.GetRasterBand(1).ReadAsArray().astype(numpy.float64)
        cls.geotransform, cls.projection = source.GetGeoTransform(), source.GetProjection()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def write(self, name, values, kind=gdal.GDT_Float32, nodata=None, scale=None, offset=None, unit=None,
              geotransform=None, projection=None):
        path = os.path.join(self.dir, name)
        ds = gdal.GetDriverByName("GTiff").Create(path, values.shape[1], values.shape[0], 1, kind)
        ds.SetGeoTransform(geotransform or self.geotransform)
        ds.SetProjection(projection or self.projection)
        band = ds.GetRasterBand(1)
        for value, setter in ((nodata, band.SetNoDataValue), (scale, band.SetScale), (offset, band.SetOffset),
                              (unit, band.SetUnitType)):
            if value is not None:
                setter(value)
        band.WriteArray(values)
        ds = None
        return path

    def locate(self, dem, pixel=(176, 40)):
        result = alosj("locate", self.volume, "--pixel", *pixel, "--dem", dem, "--json")
        self.assertEqual(0, result.returncode, result.stderr)
        return json.loads(result.stdout)

    def assert_same_place(self, expected, found, what):
        self.assertEqual("dem", found["height_source"], what)
        self.assertAlmostEqual(expected["height"], found["height"], delta=1.0, msg=what)
        for key in ("latitude", "longitude"):
            self.assertAlmostEqual(expected[key], found[key], delta=1e-5, msg=what)  # about a metre

    def test_edges_voids_fill_scales_and_units_place_as_the_whole_dem_does(self):
        whole = self.locate(self.dem)
        self.assertGreater(whole["height"], 3800)  # the summit
        ortho = os.path.join(self.dir, "whole-ortho.tif")
        run(ALOSJ, "-q", "export", self.volume, ortho, "--warp", "--dem", self.dem)
        whole_shown = numpy.count_nonzero(gdal.Open(ortho).ReadAsArray())
        h = self.heights
        # Values stored otherwise: GDAL's scale, offset and unit give the same metres.
        offset = self.write("offset.tif", numpy.round(h - 3000).astype(numpy.int16), gdal.GDT_Int16, offset=3000)
        decimetres = self.write("dm.tif", numpy.round(h * 10).astype(numpy.uint16), gdal.GDT_UInt16, scale=0.1)
        feet = self.write("ft.tif", h / 0.3048, unit="ft")
        for path in (offset, decimetres, feet):
            self.assert_same_place(whole, self.locate(path), path)

        # Edges, voids and fill away from the pixel's ground; a DEM resampled
        # nearest to 1 m (steps steeper than the view).
        west = os.path.join(self.dir, "west.tif")
        gdal.Translate(west, self.dem, srcWin=[0, 0, 197, 465])
        void = h.copy()
        void[120:137, 215:232] = -9999
        fill = numpy.round(h).astype(numpy.int16)
        fill[90:140, 200:300] = -32768
        nan = h.copy()
        nan[90:140, 200:300] = numpy.nan
        metre = os.path.join(self.dir, "1m.tif")
        gdal.Warp(metre, self.dem, xRes=1, yRes=1, resampleAlg="near", outputBounds=[292000, 3913000, 293700, 3916200])
        variants = {"west": west, "void": self.write("void.tif", void, nodata=-9999),
                    "fill": self.write("fill.tif", fill, gdal.GDT_Int16),
                    "nan": self.write("nan.tif", nan), "1m": metre}
        for name, path in variants.items():
            with self.subTest(name):
                self.assert_same_place(whole, self.locate(path), name)
                out = os.path.join(self.dir, name + "-ortho.tif")
                result = alosj("export", self.volume, out, "--warp", "--dem", path)
                self.assertEqual(0, result.returncode, result.stderr)
                # The scene shows (the west half alone: the rays of the east half meet the DEM's edge).
                shown = numpy.count_nonzero(gdal.Open(out).ReadAsArray())
                self.assertGreater(shown, (0.35 if name == "west" else 0.8) * whole_shown, name)
                # Every pixel of the raster's edge is placed, on the DEM or at the reference height.
                for pixel in ((350, 78), (350, 2), (2, 78), (2, 2)):
                    self.assertIn(self.locate(path, pixel)["height_source"], ("dem", "reference"))

    def test_unreadable_unplaceable_and_careless_choices_are_refused_with_the_reason(self):
        out = os.path.join(self.dir, "refused.tif")
        truncated = os.path.join(self.dir, "truncated.tif")
        with open(self.dem, "rb") as f, open(truncated, "wb") as t:
            t.write(f.read(os.path.getsize(self.dem) // 2))
        for command in (["locate", self.volume, "--pixel", 176, 40, "--json"], ["export", self.volume, out, "--warp"]):
            result = alosj(*command, "--dem", truncated)
            self.assertEqual(1, result.returncode, result.stdout + result.stderr)
            self.assertIn("cannot read", result.stderr)

        # A DEM over another place: nothing of the scene lies on it.
        gt = list(self.geotransform)
        gt[0] += 100000
        away = self.write("away.tif", self.heights, geotransform=gt)
        result = alosj("export", self.volume, out, "--warp", "--dem", away)
        self.assertEqual(1, result.returncode, result.stderr)
        self.assertIn("gives no height anywhere under the scene", result.stderr)
        self.assertFalse(os.path.exists(out))

        # A vertical datum whose grid is missing: the grid is named, not the geoid's.
        us = osr.SpatialReference()
        us.SetFromUserInput("EPSG:6318+5703")  # NAD83(2011) + NAVD88 height
        navd = self.write("navd88.tif", self.heights, geotransform=[-105, 0.0001, 0, 40, 0, -0.0001],
                          projection=us.ExportToWkt())
        result = alosj("locate", self.volume, "--pixel", 176, 40, "--dem", navd)
        self.assertEqual(1, result.returncode, result.stderr)
        self.assertNotIn("egm96", result.stderr)
        self.assertRegex(result.stderr, r"install the grid \S+\.(tif|gtx)")

        # One bound for --height; grids in metres only.
        for command in (["locate", self.volume, "--pixel", 1, 1], ["export", self.volume, out, "--warp"]):
            for height in ("600000", "-1e6"):
                result = alosj(*command, "--height", height)
                self.assertEqual(2, result.returncode, result.stderr)
                self.assertIn("from -100000 to 100000", result.stderr)
        self.assertEqual(0, alosj("locate", self.volume, "--pixel", 1, 1, "--height", "99999").returncode)
        result = alosj("export", self.volume, out, "--warp", "+proj=utm +zone=54 +units=km")
        self.assertEqual(2, result.returncode, result.stderr)
        self.assertIn("kilometre", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_a_dem_whose_server_stalls_after_its_header_fails(self):
        released = threading.Event()
        handler = type("Handler", (HeaderThenStall,), {"header": 16384, "released": released})
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(handler, directory=self.dir))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        self.addCleanup(released.set)  # runs first: the stalled handlers end before the server closes
        url = "/vsicurl/http://127.0.0.1:%d/dem.tif" % server.server_address[1]
        environment = dict(os.environ, GDAL_HTTP_TIMEOUT="2", GDAL_HTTP_MAX_RETRY="0",
                           CPL_VSIL_CURL_CHUNK_SIZE="16384", GDAL_DISABLE_READDIR_ON_OPEN="EMPTY_DIR")
        result = alosj("locate", self.volume, "--pixel", 176, 40, "--dem", url, "--json", env=environment)
        self.assertEqual(1, result.returncode, result.stdout + result.stderr)
        self.assertIn("cannot read", result.stderr)


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
