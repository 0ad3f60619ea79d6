// "summary.txt": the keyword file that may sit in a product directory.  Of
// it the library takes one fact, whether the product's map is oriented to
// true north (the key "Pds_MapDirection" with the value "TrueNorth").
#pragma once

#include <cstdint>
#include <string>

#include "ceosalosj_export.h"
#include "host/tkmd_KeywordValueFile.h"

class CEOSALOSJ_API CeosAlosjSummaryFile : public tkmd::KeywordValueFile {
public:
    enum MapDirection : int32_t {
        MAP_DIRECTION_OTHER = 0,       ///< no "Pds_MapDirection", or another value
        MAP_DIRECTION_TRUE_NORTH = 1,  ///< "Pds_MapDirection" is exactly "TrueNorth"
    };

    CeosAlosjSummaryFile();
    ~CeosAlosjSummaryFile() override;
    /// Copies carry the keys and the map direction (not the open file).
    CeosAlosjSummaryFile(const CeosAlosjSummaryFile& other);
    CeosAlosjSummaryFile& operator=(const CeosAlosjSummaryFile& other);

    /// Opens directory + "/summary.txt".  False when there is no such file
    /// (nothing is logged) or when opening it threw (logged once).  The one
    /// place in the library where exceptions are caught.
    bool FindAndOpen(std::string directory);

    /// Reads the opened file and sets the map direction from it; a file
    /// without "Pds_MapDirection" leaves the direction as it was.
    bool Read() override;

    MapDirection GetMapDirection() const { return mapDirection; }

private:
    MapDirection mapDirection;
};
