#!/usr/bin/env bash
# The README's picture of alosj dsm: the shaded relief of the DSM of the
# small volcano triplet (three views, heights above EGM96, black where it
# has no height) beside the shaded relief of the terrain the views were
# rendered from, on the DSM's grid, both shaded alike by gdaldem's
# hillshade, every 4th cell.
#
# Usage: bash scripts/dsm-picture.sh OUTPUT.png [BUILD_DIRECTORY]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
output=${1:?usage: bash scripts/dsm-picture.sh OUTPUT.png [BUILD_DIRECTORY]}
build=${2:-$repo/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/alosj" -q sample "$work/scene" --triplet --place volcano --dem-out "$work/truth.tif" >/dev/null
"$build/tools/alosj" -q dsm "$work/scene/nadir" "$work/scene/forward" "$work/scene/backward" --geoid \
  -o "$work/dsm.tif" >/dev/null
/usr/bin/python3 - "$work/dsm.tif" "$work/truth.tif" "$work/picture.png" <<'PY'
import sys
import numpy
from osgeo import gdal
gdal.UseExceptions()
dsm_path, truth_path, output = sys.argv[1:4]
dsm = gdal.Open(dsm_path)
gt = dsm.GetGeoTransform()
width, height = dsm.RasterXSize, dsm.RasterYSize
truth = gdal.Warp("", truth_path, format="MEM", width=width, height=height, resampleAlg="cubic",
                  outputBounds=(gt[0], gt[3] + height * gt[5], gt[0] + width * gt[1], gt[3]))
heights = gdal.Translate("", dsm, format="MEM", bandList=[1])

def shaded(dataset):
    relief = gdal.DEMProcessing("", dataset, "hillshade", format="MEM", computeEdges=True)
    return relief.GetRasterBand(1).ReadAsArray()

missing = dsm.GetRasterBand(1).ReadAsArray() == dsm.GetRasterBand(1).GetNoDataValue()
left, right = numpy.where(missing, 0, shaded(heights)), shaded(truth)
rows, columns = numpy.nonzero(~missing)
window = numpy.s_[rows.min():rows.max() + 1:4, columns.min():columns.max() + 1:4]
left, right = left[window], right[window]
picture = numpy.hstack([left, numpy.full((left.shape[0], 8), 255), right]).astype(numpy.uint8)
memory = gdal.GetDriverByName("MEM").Create("", picture.shape[1], picture.shape[0], 1, gdal.GDT_Byte)
memory.GetRasterBand(1).WriteArray(picture)
gdal.GetDriverByName("PNG").CreateCopy(output, memory, options=["ZLEVEL=9"])
PY
mv "$work/picture.png" "$output"
