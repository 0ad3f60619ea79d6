// GDAL's virtual file systems as the library's file access: once mounted,
// names that begin with "/vsi" (/vsizip/, /vsitar/, /vsigzip/, /vsicurl/,
// /vsis3/, /vsimem/, ...) open through GDAL, so a product inside an archive,
// on a web server or in an object store reads like a local one.  Other names
// stay with the operating system.
#pragma once

#include <string>

namespace alosjdescribe {

/// Mounts GDAL's virtual file systems on "/vsi" (once; later calls do
/// nothing), and keeps GDAL from saving an index beside a .gz file it reads
/// (CPL_VSIL_GZIP_WRITE_PROPERTIES=NO, unless set otherwise).
void MountGdalVirtualFileSystems();

/// For a program of its own (alosj), not a driver inside someone else's:
/// a web server or object store that stops answering is given up after
/// seconds rather than waited on for ever, and one that fails for a moment
/// is asked again (GDAL_HTTP_CONNECTTIMEOUT 10, GDAL_HTTP_LOW_SPEED_TIME 10
/// with GDAL_HTTP_LOW_SPEED_LIMIT 1, GDAL_HTTP_MAX_RETRY 2,
/// GDAL_HTTP_RETRY_DELAY 1), each unless the user set it.  These options are
/// process-wide, so the GDAL driver leaves them to its host.
void SetRemoteReadDefaults();

/// The name under which GDAL reads an archive file as a directory:
/// "/vsizip/PATH" for .zip, "/vsitar/PATH" for .tar, .tar.gz and .tgz;
/// empty for other names.
std::string ArchiveDirectoryName(const std::string& path);

}  // namespace alosjdescribe
