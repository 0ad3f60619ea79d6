"""The ALOSJ GDAL driver through GDAL's command-line tools and Python.

Run by ctest with GDAL_DRIVER_PATH set to the build tree's plugin directory:

    gdal_driver_test.py --fixture <ceosalosj_gdal_fixture> [--alosj <alosj>] [-v]

The fixture tool writes the test products and tells, through the library
alone, what each product holds (its description and every row); the tests
check that gdalinfo, gdal_translate, osgeo.gdal and rasterio see the same.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy
import rasterio
from osgeo import gdal

import stac_schemas

FIXTURE = None
ALOSJ = None

gdal.UseExceptions()


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)


class Product:
    """A test product in its own temporary directory."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix="ceosalosj-gdal-")
        result = run(FIXTURE, "product", name, self.dir)
        if result.returncode != 0:
            raise RuntimeError(result.stderr)
        self.volume = result.stdout.strip()

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def describe(self):
        result = run(FIXTURE, "describe", self.volume)
        if result.returncode != 0:
            raise RuntimeError(result.stderr)
        return json.loads(result.stdout)

    def library_pixels(self, ccd=None):
        """Every band's rows as the library's GetRow gives them: (bands, rows, columns)."""
        description = self.describe()
        path = os.path.join(self.dir, "rows.raw")
        args = [FIXTURE, "rows", self.volume, path] + ([ccd] if ccd else [])
        result = run(*args)
        if result.returncode != 0:
            raise RuntimeError(result.stderr)
        data = numpy.fromfile(path, dtype=numpy.uint8)
        os.remove(path)
        return data.reshape(description["layers"], description["height"], -1)


class ProductTestCase(unittest.TestCase):
    def product(self, name):
        product = Product(name)
        self.addCleanup(product.close)
        return product

    def output(self, name):
        """A path for an output, outside every product directory."""
        if not hasattr(self, "_outputs"):
            self._outputs = tempfile.mkdtemp(prefix="ceosalosj-gdal-out-")
            self.addCleanup(shutil.rmtree, self._outputs, True)
        return os.path.join(self._outputs, name)

    def gdalinfo_json(self, path, *options):
        result = run("gdalinfo", "-json", *options, path)
        self.assertEqual(0, result.returncode, result.stderr)
        return json.loads(result.stdout)


class GdalinfoTest(ProductTestCase):
    def test_prism_1b1_gives_stitched_size_one_band_and_corner_gcps(self):
        product = self.product("prism-1b1")
        expected = product.describe()
        info = self.gdalinfo_json(product.volume)
        self.assertEqual("ALOSJ", info["driverShortName"])
        self.assertEqual([expected["width"], expected["height"]], info["size"])
        self.assertEqual(1, len(info["bands"]))
        band = info["bands"][0]
        self.assertEqual("Byte", band["type"])
        self.assertEqual("Panchromatic (0.52-0.77 um)", band["description"])
        self.assertEqual("Layer_1", band["metadata"][""]["LAYER"])
        self.assertEqual(0, band["noDataValue"])
        self.assertNotIn("geoTransform", info)
        gcps = {g["id"]: g for g in info["gcps"]["gcpList"]}
        self.assertEqual({"UL", "UR", "LR", "LL"}, set(gcps))
        for corner, (lat, lon) in expected["corners"].items():
            self.assertAlmostEqual(lon, gcps[corner]["x"], places=9)
            self.assertAlmostEqual(lat, gcps[corner]["y"], places=9)
        self.assertAlmostEqual(expected["width"] - 0.5, gcps["LR"]["pixel"])
        self.assertAlmostEqual(expected["height"] - 0.5, gcps["LR"]["line"])
        self.assertIn('ID["EPSG",4326]', info["gcps"]["coordinateSystem"]["wkt"])
        metadata = info["metadata"][""]
        self.assertEqual("PRISM", metadata["SENSOR"])
        self.assertEqual("1B1", metadata["PRODUCT_LEVEL"])
        self.assertEqual("N", metadata["OBSERVATION_MODE"])

    def test_avnir2_1b2_gives_four_bands_utm_crs_and_north_up_geotransform(self):
        product = self.product("avnir2-1b2")
        expected = product.describe()
        info = self.gdalinfo_json(product.volume)
        self.assertEqual([expected["width"], expected["height"]], info["size"])
        self.assertEqual(["Blue", "Green", "Red", "Undefined"],
                         [band["colorInterpretation"] for band in info["bands"]])
        self.assertEqual(
            [expected["upperLeftEasting"], expected["xPixelSize"], 0.0,
             expected["upperLeftNorthing"], 0.0, -expected["yPixelSize"]],
            info["geoTransform"])
        self.assertIn('ID["EPSG",%d]' % (32600 + expected["utmZone"]),
                      info["coordinateSystem"]["wkt"])
        self.assertNotIn("gcps", info)
        self.assertEqual("YES", info["metadata"][""]["GEOCODED"])

    def test_every_domain_is_listed_and_the_sensor_model_is_json(self):
        product = self.product("prism-1b1")
        info = self.gdalinfo_json(product.volume, "-mdd", "all")
        metadata = info["metadata"]
        self.assertEqual(str(product.describe()["width"]), metadata["ALOSJ"]["GetSceneWidth"])
        model = metadata["json:ALOSJ_SENSOR_MODEL"]
        self.assertEqual(["alosjSensorModelVersion", "volumeDirectoryFile", "scene", "ephemeris", "attitude",
                          "sensor"], list(model))
        self.assertEqual(model["ephemeris"]["count"], len(model["ephemeris"]["stateVectors"]))
        self.assertEqual(1939.0, model["sensor"]["focalLength"])
        if ALOSJ is not None:
            result = run(ALOSJ, "sensor-model", "--json", product.volume)
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertEqual(json.loads(result.stdout), model)

    def test_product_directory_opens_like_its_volume_file(self):
        product = self.product("avnir2-1b1")
        by_directory = self.gdalinfo_json(product.dir)
        by_volume = self.gdalinfo_json(product.volume)
        self.assertEqual(by_volume["size"], by_directory["size"])
        self.assertEqual(by_volume["metadata"][""], by_directory["metadata"][""])


class TranslateTest(ProductTestCase):
    def translate(self, product, *options):
        output = self.output("out.tif")
        result = run("gdal_translate", *options, product.volume, output)
        self.assertEqual(0, result.returncode, result.stderr)
        return output

    def test_geotiff_holds_every_pixel_of_the_library_rows(self):
        for name in ("prism-1b1", "avnir2-1b1", "avnir2-1b2", "prism-1b2"):
            with self.subTest(name):
                product = self.product(name)
                tiff = gdal.Open(self.translate(product))
                self.assertEqual("GTiff", tiff.GetDriver().ShortName)
                expected = product.library_pixels()
                numpy.testing.assert_array_equal(expected, tiff.ReadAsArray().reshape(expected.shape))

    def test_single_ccd_option_reaches_the_driver(self):
        product = self.product("prism-1b1")
        tiff = gdal.Open(self.translate(product, "-oo", "CCD=4"))
        expected = product.library_pixels(ccd=4)
        numpy.testing.assert_array_equal(expected[0], tiff.ReadAsArray())


class FileListTest(ProductTestCase):
    """GDAL's copy, rename and delete take every file of a product."""

    def test_copy_rename_and_delete_take_the_whole_product(self):
        driver = gdal.GetDriverByName("ALOSJ")
        for name in ("prism-1b1", "prism-1b2", "avnir2-1b1"):
            with self.subTest(name):
                product = self.product(name)
                files = sorted(os.listdir(product.dir))
                if name == "prism-1b2":
                    self.assertIn("summary.txt", files)
                pixels = product.library_pixels()
                listed = gdal.Open(product.volume).GetFileList()
                self.assertEqual(product.volume, listed[0])
                self.assertEqual(files, sorted(os.path.basename(f) for f in listed))
                # Opened by its directory, the list is the same.
                self.assertEqual(sorted(listed), sorted(gdal.Open(product.dir).GetFileList()))

                volume_name = os.path.basename(product.volume)
                copy_dir = self.output(name + "-copy")
                os.mkdir(copy_dir)
                copy = os.path.join(copy_dir, volume_name)
                driver.CopyFiles(copy, product.volume)
                self.assertEqual(files, sorted(os.listdir(copy_dir)))
                numpy.testing.assert_array_equal(pixels, gdal.Open(copy).ReadAsArray().reshape(pixels.shape))

                moved_dir = self.output(name + "-moved")
                os.mkdir(moved_dir)
                moved = os.path.join(moved_dir, volume_name)
                driver.Rename(moved, copy)
                self.assertEqual([], os.listdir(copy_dir))
                self.assertEqual(files, sorted(os.listdir(moved_dir)))
                numpy.testing.assert_array_equal(pixels, gdal.Open(moved).ReadAsArray().reshape(pixels.shape))

                driver.Delete(moved)
                self.assertEqual([], os.listdir(moved_dir))
                self.assertEqual(files, sorted(os.listdir(product.dir)))


class ParityTest(ProductTestCase):
    """alosj export and gdal_translate on the driver describe a product alike."""

    @staticmethod
    def gcps(dataset):
        return [(g.Id, g.GCPPixel, g.GCPLine, g.GCPX, g.GCPY) for g in dataset.GetGCPs()]

    @staticmethod
    def same_crs(a, b):
        if a is None or b is None:
            return a is None and b is None
        return bool(a.IsSame(b))

    def test_every_product_kind_gets_the_same_placement_metadata_and_bands(self):
        if ALOSJ is None:
            self.skipTest("alosj is not built")
        names = run(FIXTURE, "names").stdout.split()
        for kind in ("bessel", "unknown-ellipsoid", "ps", "south", "impossible-corners"):
            self.assertTrue(any(kind in name for name in names), kind)
        for name in names:
            with self.subTest(name):
                product = self.product(name)
                exported_path = self.output(name + "-export.tif")
                result = run(ALOSJ, "export", "-q", product.volume, exported_path)
                self.assertEqual(0, result.returncode, result.stderr)
                translated_path = self.output(name + "-translate.tif")
                result = run("gdal_translate", "-q", product.volume, translated_path)
                self.assertEqual(0, result.returncode, result.stderr)
                exported = gdal.Open(exported_path)
                translated = gdal.Open(translated_path)
                source = gdal.Open(product.volume)

                numpy.testing.assert_array_equal(exported.ReadAsArray(), translated.ReadAsArray())
                self.assertEqual(translated.GetGeoTransform(can_return_null=True),
                                 exported.GetGeoTransform(can_return_null=True))
                self.assertTrue(self.same_crs(translated.GetSpatialRef(), exported.GetSpatialRef()))
                self.assertEqual(self.gcps(translated), self.gcps(exported))
                self.assertTrue(self.same_crs(translated.GetGCPSpatialRef(), exported.GetGCPSpatialRef()))
                self.assertEqual(translated.GetMetadata(), exported.GetMetadata())
                self.assertEqual(source.GetMetadata("ALOSJ"), exported.GetMetadata("ALOSJ"))
                for b in range(1, exported.RasterCount + 1):
                    ours, theirs = exported.GetRasterBand(b), translated.GetRasterBand(b)
                    self.assertEqual(theirs.GetDescription(), ours.GetDescription())
                    self.assertEqual(theirs.GetColorInterpretation(), ours.GetColorInterpretation())
                    self.assertEqual(theirs.GetNoDataValue(), ours.GetNoDataValue())
                    self.assertEqual(theirs.GetMetadata(), ours.GetMetadata())
                    self.assertEqual(source.GetRasterBand(b).GetDescription(), ours.GetDescription())

                # What alosj info says of the placement is what both files hold.
                info = json.loads(run(ALOSJ, "info", "--json", "-q", product.volume).stdout)
                placement = info["georeferencing"]
                method = ("geotransform" if exported.GetGeoTransform(can_return_null=True) else
                          "gcps" if exported.GetGCPCount() else "none")
                self.assertEqual(method, placement["method"])
                self.assertEqual(placement["warning"], exported.GetMetadataItem("GEOREFERENCING_WARNING"))
                crs = exported.GetSpatialRef() or exported.GetGCPSpatialRef()
                if "bessel" in name:
                    self.assertAlmostEqual(6377397.155, crs.GetSemiMajor(), places=3)
                if "unknown-ellipsoid" in name:
                    self.assertIn("taken as WGS 84", placement["warning"])
                    self.assertAlmostEqual(6378137.0, crs.GetSemiMajor(), places=3)
                if "impossible-corners" in name:
                    self.assertEqual("none", method)
                    self.assertIsNone(exported.GetSpatialRef())
                if name.endswith("-ps"):
                    self.assertEqual("Polar_Stereographic", crs.GetAttrValue("PROJECTION"))
                if name.endswith("-south"):
                    self.assertEqual("327", crs.GetAuthorityCode(None)[:3])


class CalibrationTest(ProductTestCase):
    """Radiance = gain x DN + offset, read back through GDAL and rasterio."""

    # Known pairs of real products: DN, gain and radiance, band by band.
    AVNIR2 = [(112, 0.588, 65.856), (130, 0.573, 74.49), (40, 0.502, 20.08), (10, 0.835, 8.35)]
    PRISM = [(66, 0.541, 35.706)]

    def export(self, product, *options):
        name = os.path.basename(product.volume)
        path = self.output("%s.tif" % "-".join([name] + [o.strip("-") for o in options]))
        result = run(ALOSJ, "export", "-q", product.volume, path, *options)
        return result, path

    def test_known_digital_numbers_give_the_known_radiance_and_fill_gives_none(self):
        if ALOSJ is None:
            self.skipTest("alosj is not built")
        for name, pairs in (("avnir2-1b2-known-dn", self.AVNIR2), ("prism-1b1-known-dn", self.PRISM)):
            with self.subTest(name):
                product = self.product(name)
                source = gdal.Open(product.volume)
                result, radiance_path = self.export(product, "--radiance")
                self.assertEqual(0, result.returncode, result.stderr)
                result, dn_path = self.export(product)
                self.assertEqual(0, result.returncode, result.stderr)
                radiance = gdal.Open(radiance_path)
                unscaled = gdal.Translate(self.output(name + "-unscaled.tif"), dn_path, unscale=True,
                                          outputType=gdal.GDT_Float32)
                with rasterio.open(dn_path) as dn:
                    scales, offsets = dn.scales, dn.offsets
                    dn_values = dn.read()
                for b, (value, gain, expected) in enumerate(pairs, start=1):
                    band = source.GetRasterBand(b)
                    # The driver: scale and offset of the digital numbers, and the unit.
                    self.assertAlmostEqual(gain, band.GetScale(), places=9)
                    self.assertEqual(0.0, band.GetOffset())
                    self.assertEqual("W m-2 sr-1 um-1", band.GetUnitType())
                    self.assertAlmostEqual(expected, value * band.GetScale() + band.GetOffset(), places=9)
                    # rasterio's scales and offsets of the DN export.
                    self.assertAlmostEqual(expected, value * scales[b - 1] + offsets[b - 1], places=9)
                    # The Float32 radiance export and gdal_translate -unscale of the DN export.
                    pixels = radiance.GetRasterBand(b).ReadAsArray()
                    filled = dn_values[b - 1] != 0
                    self.assertTrue(filled.any() and (~filled).any())
                    numpy.testing.assert_allclose(pixels[filled], expected, rtol=1e-6)
                    self.assertTrue(numpy.isnan(pixels[~filled]).all())
                    self.assertTrue(numpy.isnan(radiance.GetRasterBand(b).GetNoDataValue()))
                    self.assertEqual("W m-2 sr-1 um-1", radiance.GetRasterBand(b).GetUnitType())
                    numpy.testing.assert_allclose(unscaled.GetRasterBand(b).ReadAsArray()[filled], expected, rtol=1e-6)

    def test_gain_and_offset_pairs_lie_band_after_band(self):
        product = self.product("avnir2-1b1-offsets")
        source = gdal.Open(product.volume)
        pairs = [(0.588, 1.5), (0.573, -2.25), (0.502, 3.125), (0.8355, 0.75)]
        for b, (gain, offset) in enumerate(pairs, start=1):
            band = source.GetRasterBand(b)
            self.assertAlmostEqual(gain, band.GetScale(), places=9)
            self.assertAlmostEqual(offset, band.GetOffset(), places=9)
            self.assertAlmostEqual(gain, float(band.GetMetadataItem("CALIBRATION_GAIN")), places=9)
            self.assertAlmostEqual(offset, float(band.GetMetadataItem("CALIBRATION_OFFSET")), places=9)

    def test_level_1a_has_coefficients_but_no_radiance(self):
        product = self.product("avnir2-1a")
        source = gdal.Open(product.volume)
        for b, (_, gain, _) in enumerate(self.AVNIR2, start=1):
            band = source.GetRasterBand(b)
            self.assertIn(band.GetScale(), (None, 1.0))
            self.assertIn(band.GetOffset(), (None, 0.0))
            self.assertEqual("", band.GetUnitType())
            self.assertAlmostEqual(gain, float(band.GetMetadataItem("CALIBRATION_GAIN")), places=9)
        self.assertEqual("NO", source.GetMetadataItem("RADIOMETRIC_CORRECTION"))
        if ALOSJ is None:
            return
        result, path = self.export(product, "--radiance")
        self.assertEqual(2, result.returncode)
        self.assertIn("not radiometrically corrected", result.stderr)
        self.assertFalse(os.path.exists(path))
        result, path = self.export(product)
        self.assertEqual(0, result.returncode, result.stderr)
        exported = gdal.Open(path)  # kept while its band is used
        self.assertEqual("", exported.GetRasterBand(1).GetUnitType())

    def test_imagery_domain_names_satellite_time_and_wavelengths(self):
        product = self.product("avnir2-1b2-known-dn")
        source = gdal.Open(product.volume)
        imagery = source.GetMetadata("IMAGERY")
        self.assertEqual("ALOS", imagery["SATELLITEID"])
        self.assertEqual(source.GetMetadataItem("SCENE_CENTER_TIME"), imagery["ACQUISITIONDATETIME"])
        centres = [float(source.GetRasterBand(b).GetMetadataItem("CENTRAL_WAVELENGTH_UM", "IMAGERY"))
                   for b in range(1, 5)]
        widths = [float(source.GetRasterBand(b).GetMetadataItem("FWHM_UM", "IMAGERY")) for b in range(1, 5)]
        self.assertEqual([0.46, 0.56, 0.65, 0.825], centres)
        self.assertEqual([0.08, 0.08, 0.08, 0.13], widths)
        if ALOSJ is not None:
            result, path = self.export(product)
            self.assertEqual(0, result.returncode, result.stderr)
            exported = gdal.Open(path)
            self.assertEqual(imagery, exported.GetMetadata("IMAGERY"))
            for b in range(1, 5):
                self.assertEqual(source.GetRasterBand(b).GetMetadata("IMAGERY"),
                                 exported.GetRasterBand(b).GetMetadata("IMAGERY"))


class StacTest(ProductTestCase):
    """alosj stac writes Items that validate offline against STAC 1.0.0 and its extensions."""

    def validate(self, document, schema_id):
        errors = sorted(stac_schemas.validator_for(schema_id).iter_errors(document), key=str)
        self.assertEqual([], [e.message for e in errors], schema_id)

    def test_items_of_mapped_and_gcp_placed_products_validate_and_say_what_the_files_hold(self):
        if ALOSJ is None:
            self.skipTest("alosj is not built")
        for name in ("prism-1b1-polynomials", "avnir2-1b2-known-dn"):
            with self.subTest(name):
                product = self.product(name)
                cog, png, model, item_path = (self.output(name + suffix)
                                              for suffix in (".tif", ".png", ".json", "-item.json"))
                for args in (("export", product.volume, cog, "--format", "COG"),
                             ("quicklook", product.volume, png)):
                    result = run(ALOSJ, "-q", *args)
                    self.assertEqual(0, result.returncode, result.stderr)
                assets = ["--asset", cog, "--asset", png]
                if name.startswith("prism"):
                    result = run(ALOSJ, "-q", "sensor-model", "--json", product.volume)
                    with open(model, "w") as f:
                        f.write(result.stdout)
                    assets += ["--asset", model]
                result = run(ALOSJ, "-q", "stac", product.volume, *assets, "-o", item_path)
                self.assertEqual(0, result.returncode, result.stderr)
                with open(item_path) as f:
                    item = json.load(f)
                self.validate(item, stac_schemas.core_schema("item"))
                for extension in item["stac_extensions"]:
                    self.validate(item, extension)

                source = gdal.Open(product.volume)
                exported = gdal.Open(cog)
                properties = item["properties"]
                self.assertEqual(source.GetMetadataItem("SCENE_CENTER_TIME"), properties["datetime"])
                # One scene at two levels makes two Items.
                self.assertEqual(source.GetMetadataItem("SCENE_ID") + "-" + source.GetMetadataItem("PRODUCT_ID"),
                                 item["id"])
                self.assertEqual(int(source.GetMetadataItem("ORBIT_NUMBER")), properties["sat:absolute_orbit"])
                self.assertEqual(float(source.GetMetadataItem("SUN_ELEVATION")), properties["view:sun_elevation"])
                image = item["assets"]["image"]
                self.assertIn("profile=cloud-optimized", image["type"])
                self.assertEqual([exported.RasterYSize, exported.RasterXSize], image["proj:shape"])
                transform = exported.GetGeoTransform(can_return_null=True)
                if transform:
                    a, b, c, d, e, f = image["proj:transform"]
                    self.assertEqual(list(transform), [c, a, b, f, d, e])  # GDAL order from affine order
                    self.assertEqual(int(exported.GetSpatialRef().GetAuthorityCode(None)), image["proj:epsg"])
                else:
                    self.assertIsNone(image["proj:epsg"])
                    self.assertNotIn("proj:transform", image)
                bands = image["raster:bands"]
                self.assertEqual(exported.RasterCount, len(bands))
                self.assertEqual(exported.GetRasterBand(1).GetScale(), bands[0]["scale"])
                self.assertEqual(0, bands[0]["nodata"])
                self.assertEqual(["pan"] if name.startswith("prism") else ["blue", "green", "red", "nir"],
                                 [band["common_name"] for band in image["eo:bands"]])
                self.assertEqual(["thumbnail"], item["assets"]["thumbnail"]["roles"])
                # The footprint holds every corner of the scene.
                ring = item["geometry"]["coordinates"][0]
                self.assertEqual(ring[0], ring[-1])
                west, south, east, north = item["bbox"]
                for corner in ("GetULCornerLatLon", "GetLRCornerLatLon"):
                    lat, lon = map(float, source.GetMetadataItem(corner, "ALOSJ").split(","))
                    self.assertTrue(west - 1e-6 <= lon <= east + 1e-6 and south - 1e-6 <= lat <= north + 1e-6)

    def test_assets_of_another_product_or_a_second_of_a_kind_are_refused(self):
        if ALOSJ is None:
            self.skipTest("alosj is not built")
        made = {}
        for name in ("prism-1b1-polynomials", "avnir2-1b2-known-dn", "prism-1b2"):
            product = self.product(name)
            cog, png, model = (self.output(name + suffix) for suffix in (".tif", ".png", "-model.json"))
            for args in (("export", product.volume, cog, "--format", "COG"), ("quicklook", product.volume, png)):
                result = run(ALOSJ, "-q", *args)
                self.assertEqual(0, result.returncode, result.stderr)
            with open(model, "w") as f:
                f.write(run(ALOSJ, "-q", "sensor-model", "--json", product.volume).stdout)
            made[name] = (product.volume, cog, png, model)
        prism, prism_tif, prism_png, prism_model = made["prism-1b1-polynomials"]
        avnir, avnir_tif, avnir_png, _ = made["avnir2-1b2-known-dn"]
        _, level_1b2_tif, _, _ = made["prism-1b2"]
        # A raster that names no product.
        foreign = self.output("foreign.tif")
        dataset = gdal.GetDriverByName("GTiff").Create(foreign, 8, 8, 1)
        dataset.GetRasterBand(1).Fill(7)
        dataset = None
        second_png = self.output("second.PNG")
        shutil.copy(prism_png, second_png)
        # The quicklook of the same product under a second name, its ending
        # in capitals, is still its own.
        result = run(ALOSJ, "-q", "stac", prism, "--asset", prism_tif, "--asset", second_png, "--asset", prism_model)
        self.assertEqual(0, result.returncode, result.stderr)
        refused = [
            (prism, [avnir_tif], avnir_tif),            # 4 bands of AVNIR-2 for a PRISM product
            (avnir, [prism_tif], prism_tif),
            (prism, [level_1b2_tif], level_1b2_tif),    # the same sensor, another level
            (prism, [foreign], foreign),
            (prism, [avnir_png], avnir_png),
            (avnir, [prism_png], prism_png),
            (avnir, [prism_model], prism_model),        # AVNIR-2 has no sensor model
            (prism, [prism_png, second_png], second_png),   # two thumbnails
            (prism, [prism_tif, prism_tif], prism_tif),     # two images
        ]
        for volume, assets, named in refused:
            with self.subTest(assets=[os.path.basename(a) for a in assets]):
                item_path = self.output("refused-item.json")
                args = [a for path in assets for a in ("--asset", path)]
                result = run(ALOSJ, "-q", "stac", volume, *args, "-o", item_path)
                self.assertEqual(2, result.returncode, result.stderr)
                self.assertIn("--asset " + named + ":", result.stderr)
                self.assertFalse(os.path.exists(item_path))
                self.assertEqual("", result.stdout)


class PythonBindingsTest(ProductTestCase):
    def test_osgeo_gdal_reads_the_product_as_an_array(self):
        product = self.product("avnir2-1b2")
        dataset = gdal.Open(product.volume)
        self.assertEqual("ALOSJ", dataset.GetDriver().ShortName)
        numpy.testing.assert_array_equal(product.library_pixels(), dataset.ReadAsArray())
        self.assertEqual("AVNIR-2", dataset.GetMetadataItem("SENSOR"))
        self.assertEqual(str(product.describe()["utmZone"]), dataset.GetMetadataItem("GetUTMZoneNum", "ALOSJ"))

    def test_open_option_is_passed_through_open_ex(self):
        product = self.product("prism-1a-forward")
        dataset = gdal.OpenEx(product.volume, gdal.OF_RASTER, open_options=["CCD=5"])
        numpy.testing.assert_array_equal(product.library_pixels(ccd=5)[0], dataset.ReadAsArray())

    def test_rasterio_reads_a_window(self):
        try:
            import rasterio
            from rasterio.windows import Window
        except ImportError:
            self.skipTest("rasterio is not installed")
        product = self.product("avnir2-1b1")
        expected = product.library_pixels()
        with rasterio.open(product.volume) as dataset:
            self.assertEqual("ALOSJ", dataset.driver)
            self.assertEqual((4, expected.shape[1], expected.shape[2]),
                             (dataset.count, dataset.height, dataset.width))
            window = dataset.read(window=Window(col_off=7, row_off=3, width=20, height=11))
        numpy.testing.assert_array_equal(expected[:, 3:14, 7:27], window)


class RpcTest(ProductTestCase):
    """RPC models fitted to the line-of-sight model, as GDAL uses them."""

    HEIGHTS = (-200.0, 1500.0, 6000.0)

    def library_points(self, product, band, height, positions):
        """[latitude, longitude] of raster positions (0, 0 the top-left corner) at a height."""
        words = [str(v) for position in positions for v in position]
        result = run(FIXTURE, "locate", product.volume, band, height, *words)
        self.assertEqual(0, result.returncode, result.stderr)
        return json.loads(result.stdout)

    def assert_gdal_finds(self, path, product, band=1):
        """gdaltransform -rpc takes the model's ground points back to their positions."""
        dataset = gdal.Open(path)
        width, height = dataset.RasterXSize, dataset.RasterYSize
        positions = [(0.5, 0.5), (width * 0.3, height * 0.6), (width - 0.5, height - 0.5)]
        for h in self.HEIGHTS:
            points = self.library_points(product, band, h, positions)
            result = subprocess.run(["gdaltransform", "-rpc", "-to", "RPC_HEIGHT=%r" % h, "-i", path],
                                    input="".join("%r %r\n" % (lon, lat) for lat, lon in points),
                                    capture_output=True, text=True, timeout=120)
            self.assertEqual(0, result.returncode, result.stderr)
            found = [tuple(map(float, line.split()[:2])) for line in result.stdout.splitlines()]
            self.assertEqual(len(positions), len(found), result.stdout)
            for (x, y), (gx, gy) in zip(positions, found):
                self.assertLess(abs(gx - x), 0.05, (path, h, x, y, gx, gy))
                self.assertLess(abs(gy - y), 0.05, (path, h, x, y, gx, gy))

    def assert_same_model(self, expected, got):
        """The same model; the ground box (MIN_LONG …) is optional, GeoTIFF's RPC tag has no place for it."""
        expected = {k: v for k, v in expected.items() if not k.startswith(("MIN_", "MAX_"))}
        got = {k: v for k, v in got.items() if not k.startswith(("MIN_", "MAX_"))}
        self.assertEqual(sorted(expected), sorted(got))
        for key, value in expected.items():
            numpy.testing.assert_allclose([float(v) for v in got[key].split()],
                                          [float(v) for v in value.split()], rtol=1e-14, err_msg=key)

    def test_raw_product_exports_and_side_files_carry_the_model_gdal_and_rasterio_use(self):
        product = self.product("prism-1b1-polynomials")
        raw = gdal.Open(product.volume)
        rpc = raw.GetMetadata("RPC")
        self.assertEqual("-1", rpc["ERR_BIAS"])
        self.assertEqual(20, len(rpc["LINE_NUM_COEFF"].split()))
        self.assertIn("RPC", raw.GetMetadataDomainList())
        self.assertLess(float(raw.GetMetadataItem("RPC_RESIDUAL_MAX_PIXELS")), 0.05)
        self.assertLess(float(raw.GetMetadataItem("RPC_RESIDUAL_RMS_PIXELS")), 0.01)
        self.assert_gdal_finds(product.volume, product)

        with rasterio.open(product.volume) as dataset:
            rpcs = dataset.rpcs
        self.assertIsNotNone(rpcs)
        self.assertEqual(float(rpc["LINE_OFF"]), rpcs.line_off)
        self.assertEqual(float(rpc["HEIGHT_SCALE"]), rpcs.height_scale)
        self.assertEqual([float(v) for v in rpc["SAMP_NUM_COEFF"].split()], list(rpcs.samp_num_coeff))

        # gdalwarp orthorectifies the raw product by them at a height.
        warped = self.output("warped.tif")
        result = run("gdalwarp", "-q", "-rpc", "-to", "RPC_HEIGHT=1000", "-t_srs", "EPSG:4326", product.volume, warped)
        self.assertEqual(0, result.returncode, result.stderr)
        info = self.gdalinfo_json(warped)
        (west, north), (east, south) = info["cornerCoordinates"]["upperLeft"], info["cornerCoordinates"]["lowerRight"]
        self.assertLess(abs(west - float(rpc["MIN_LONG"])), 0.01)
        self.assertLess(abs(east - float(rpc["MAX_LONG"])), 0.01)
        self.assertLess(abs(north - float(rpc["MAX_LAT"])), 0.01)
        self.assertLess(abs(south - float(rpc["MIN_LAT"])), 0.01)

        # The exports, GeoTIFF and COG, carry it in the file beside their GCPs.
        if ALOSJ:
            for form in ("GTiff", "COG"):
                path = self.output("export-%s.tif" % form)
                result = run(ALOSJ, "export", product.volume, path, "--format", form)
                self.assertEqual(0, result.returncode, result.stderr)
                exported = gdal.Open(path)
                self.assertEqual([path], exported.GetFileList()[:1])
                self.assertGreater(exported.GetGCPCount(), 4)
                self.assert_same_model(rpc, exported.GetMetadata("RPC"))
                self.assertEqual(raw.GetMetadataItem("RPC_CHECK_POINTS"), exported.GetMetadataItem("RPC_CHECK_POINTS"))
            self.assert_gdal_finds(self.output("export-GTiff.tif"), product)

            # alosj rpc's files, beside a raster of the product's size, are read as the same model.
            for side in ("copy_RPC.TXT", "copy.RPB"):
                for leftover in os.listdir(self.output("")):
                    if leftover.startswith("copy"):
                        os.remove(self.output(leftover))
                gdal.GetDriverByName("GTiff").Create(self.output("copy.tif"), raw.RasterXSize, raw.RasterYSize, 1)
                result = run(ALOSJ, "rpc", product.volume, "-o", self.output(side))
                self.assertEqual(0, result.returncode, result.stderr)
                copy = gdal.Open(self.output("copy.tif"))
                self.assertIn(self.output(side), copy.GetFileList())
                self.assert_same_model(rpc, copy.GetMetadata("RPC"))

    def test_avnir2_bands_carry_their_own_model(self):
        product = self.product("avnir2-1b1-polynomials")
        dataset = gdal.Open(product.volume)
        self.assertEqual(dataset.GetMetadata("RPC"), dataset.GetRasterBand(1).GetMetadata("RPC"))
        band = dataset.GetRasterBand(3)
        self.assertIn("RPC", band.GetMetadataDomainList())
        self.assertIsNotNone(band.GetMetadataItem("RPC_RESIDUAL_MAX_PIXELS"))
        # Band 3's model, made a raster's own, takes band 3's ground points home.
        own = gdal.GetDriverByName("MEM").Create("", dataset.RasterXSize, dataset.RasterYSize)
        own.SetMetadata(band.GetMetadata("RPC"), "RPC")
        positions = [(2.5, 3.5), (dataset.RasterXSize - 4.25, dataset.RasterYSize - 6.75)]
        for h in self.HEIGHTS:
            transformer = gdal.Transformer(own, None, ["METHOD=RPC", "RPC_HEIGHT=%r" % h])
            for (x, y), (lat, lon) in zip(positions, self.library_points(product, 3, h, positions)):
                ok, (gx, gy, _) = transformer.TransformPoint(1, lon, lat, 0)
                self.assertTrue(ok)
                self.assertLess(abs(gx - x), 0.05, (h, x, y, gx, gy))
                self.assertLess(abs(gy - y), 0.05, (h, x, y, gx, gy))
        # The raw product without polynomials has no model, and says nothing of it.
        plain = gdal.Open(self.product("avnir2-1b1").volume)
        gdal.ErrorReset()
        self.assertIsNone(plain.GetMetadata("RPC") or None)
        self.assertEqual("", gdal.GetLastErrorMsg())


class FailureTest(ProductTestCase):
    def assertGdalError(self, result):
        # A GDAL error: the tool fails by its exit code, not by a signal.
        self.assertGreater(result.returncode, 0, result.stdout)
        self.assertIn("ERROR", result.stderr)

    def test_foreign_file_with_a_volume_name_is_a_gdal_error(self):
        directory = tempfile.mkdtemp(prefix="ceosalosj-gdal-")
        self.addCleanup(shutil.rmtree, directory, True)
        path = os.path.join(directory, "VOL-ALPSMN038862710-O1B1__A")
        with open(path, "wb") as f:
            f.write(b"this is no CEOS volume directory" * 40)
        result = run("gdalinfo", path)
        self.assertGdalError(result)
        self.assertIn("not recognized as a supported file format", result.stderr)

    def test_missing_file_is_a_gdal_error(self):
        result = run("gdalinfo", "/nonexistent/VOL-ALAV2A038862710-O1B2R_U")
        self.assertGdalError(result)

    def test_truncated_product_is_a_gdal_error_naming_what_failed(self):
        product = self.product("avnir2-1b2")
        leader = [f for f in os.listdir(product.dir) if f.startswith("LED-")][0]
        os.truncate(os.path.join(product.dir, leader), 5000)
        result = run("gdalinfo", product.volume)
        self.assertGdalError(result)
        self.assertIn("ALOSJ: ", result.stderr)
        self.assertIn("AlosjLeaderFileAncillary1::Read: tfio_ReadDirect failure", result.stderr)
        self.assertIn("the product is incomplete or damaged", result.stderr)
        self.assertNotIn("ceosalosj: error:", result.stderr)  # not printed by the library itself

    def test_truncated_image_file_fails_gdal_translate(self):
        product = self.product("prism-1b2")
        image = [f for f in os.listdir(product.dir) if f.startswith("IMG-")][0]
        os.truncate(os.path.join(product.dir, image), 3000)
        result = run("gdal_translate", product.volume, os.path.join(product.dir, "out.tif"))
        self.assertGdalError(result)
        self.assertIn("tfio_ReadDirect", result.stderr)

    def test_python_open_of_a_damaged_product_raises(self):
        product = self.product("prism-1b1")
        os.remove(os.path.join(product.dir, [f for f in os.listdir(product.dir) if f.startswith("TRL-")][0]))
        with self.assertRaises(RuntimeError) as raised:
            gdal.Open(product.volume)
        self.assertIn("the product is incomplete or damaged", str(raised.exception))

    def test_bare_image_file_still_opens_in_gdals_ceos_driver(self):
        product = self.product("prism-1b1")
        image = sorted(f for f in os.listdir(product.dir) if f.startswith("IMG-"))[0]
        info = self.gdalinfo_json(os.path.join(product.dir, image))
        self.assertIn(info["driverShortName"], ("SAR_CEOS", "CEOS"))
        ceos = gdal.OpenEx(os.path.join(product.dir, image), allowed_drivers=["CEOS"])
        self.assertEqual("CEOS", ceos.GetDriver().ShortName)


def main():
    global FIXTURE, ALOSJ
    parser = argparse.ArgumentParser()
    parser.add_argument("--fixture", required=True)
    parser.add_argument("--alosj")
    args, rest = parser.parse_known_args()
    FIXTURE = args.fixture
    ALOSJ = args.alosj
    if not os.environ.get("GDAL_DRIVER_PATH"):
        sys.exit("GDAL_DRIVER_PATH must name the directory of gdal_ALOSJ.so")
    if gdal.GetDriverByName("ALOSJ") is None:
        sys.exit("the ALOSJ driver did not load from " + os.environ["GDAL_DRIVER_PATH"])
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
