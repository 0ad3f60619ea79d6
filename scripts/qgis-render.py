"""Renders an exported raster as QGIS shows it, with the style beside it,
without a desktop, so that it can be compared with the quicklook:

    QT_QPA_PLATFORM=offscreen /usr/bin/python3 scripts/qgis-render.py OUT.tif OUT-qgis.png [WIDTH]

Needs QGIS's Python bindings (Debian: apt-get install qgis python3-qgis).
"""

import sys

from qgis.core import QgsApplication, QgsMapRendererSequentialJob, QgsMapSettings, QgsRasterLayer
from qgis.PyQt.QtCore import QSize
from qgis.PyQt.QtGui import QColor


def render(raster, png, width):
    layer = QgsRasterLayer(raster, "export")
    if not layer.isValid():
        raise SystemExit(raster + ": QGIS cannot open it")
    # What QGIS does when it adds the raster: the .qml of the same name.
    message, loaded = layer.loadDefaultStyle()
    print(raster + ":", layer.renderer().type(), "(style beside it)" if loaded else "(no style: " + message + ")")
    settings = QgsMapSettings()
    settings.setLayers([layer])
    settings.setBackgroundColor(QColor("black"))
    extent = layer.extent()
    settings.setOutputSize(QSize(width, max(1, round(width * extent.height() / extent.width()))))
    settings.setExtent(extent)
    settings.setDestinationCrs(layer.crs())
    job = QgsMapRendererSequentialJob(settings)
    job.start()
    job.waitForFinished()
    if not job.renderedImage().save(png, "png"):
        raise SystemExit(png + ": cannot be written")


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    application = QgsApplication([], False)
    application.initQgis()
    render(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 1024)
    application.exitQgis()


if __name__ == "__main__":
    main()
