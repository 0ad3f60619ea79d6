// The plugin's entry point: GDAL calls GDALRegister_ALOSJ when it loads
// gdal_ALOSJ.so from GDAL_DRIVER_PATH or its plugin directory.
#include "AlosjGdalDataset.h"
#include "gdal_priv.h"
#include "tools/describe/VirtualFileSystems.h"

// The plugin's objects are hidden; only the entry point is seen by GDAL.
#if defined(_WIN32)
#define ALOSJ_PLUGIN_ENTRY __declspec(dllexport)
#else
#define ALOSJ_PLUGIN_ENTRY __attribute__((visibility("default")))
#endif

extern "C" ALOSJ_PLUGIN_ENTRY void GDALRegister_ALOSJ();

void GDALRegister_ALOSJ() {
    if (!GDAL_CHECK_VERSION("ALOSJ")) return;
    if (GDALGetDriverByName("ALOSJ") != nullptr) return;

    // Products inside archives, on web servers and in object stores open
    // through GDAL's virtual file systems.
    alosjdescribe::MountGdalVirtualFileSystems();

    auto* driver = new GDALDriver();
    driver->SetDescription("ALOSJ");
    driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
    driver->SetMetadataItem(GDAL_DMD_LONGNAME, "ALOS PRISM / AVNIR-2 Level 1 CEOS product (ceosalosj)");
    driver->SetMetadataItem(GDAL_DCAP_OPEN, "YES");
    driver->SetMetadataItem(
        GDAL_DMD_OPENOPTIONLIST,
        "<OpenOptionList>"
        "  <Option name='CCD' type='int' min='1' max='8' description='PRISM Level 1A and 1B1: "
        "open the image file of this CCD alone instead of the stitched scene'/>"
        "</OpenOptionList>");
    driver->pfnIdentify = alosjgdal::AlosjGdalDataset::Identify;
    driver->pfnOpen = alosjgdal::AlosjGdalDataset::Open;
    GetGDALDriverManager()->RegisterDriver(driver);
}
