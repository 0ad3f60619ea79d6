// The processing library as the commands see it: its names in alosj's own
// namespace (a command calls Dem, SightGrid or CogTiles as before), its
// errors mapped to exit codes by ExitStatusOf (Cli.h).
#pragma once

#include "tools/processing/Error.h"
#include "tools/processing/Gdal.h"
#include "tools/processing/Threads.h"
#include "tools/processing/cog/CogLayout.h"
#include "tools/processing/cog/Overview.h"
#include "tools/processing/geometry/Footprint.h"
#include "tools/processing/geometry/Heights.h"
#include "tools/processing/geometry/LocalMapFit.h"
#include "tools/processing/geometry/SightGrid.h"
#include "tools/processing/geometry/Utm.h"

namespace alosj {

using namespace processing;

}  // namespace alosj
