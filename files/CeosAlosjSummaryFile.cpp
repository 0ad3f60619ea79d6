#include "files/CeosAlosjSummaryFile.h"

#include <exception>

#include "host/TerrException.h"
#include "host/tfio.h"
#include "host/tfpu.h"
#include "host/tmsc.h"
#include "host/tstr.h"

namespace {

const char* const kMapDirectionKey = "Pds_MapDirection";
const int kLogSeverity = 58;

}  // namespace

CeosAlosjSummaryFile::CeosAlosjSummaryFile() : mapDirection(MAP_DIRECTION_OTHER) {}

CeosAlosjSummaryFile::~CeosAlosjSummaryFile() = default;

CeosAlosjSummaryFile::CeosAlosjSummaryFile(const CeosAlosjSummaryFile& other)
    : tkmd::KeywordValueFile(other), mapDirection(other.mapDirection) {}

CeosAlosjSummaryFile& CeosAlosjSummaryFile::operator=(const CeosAlosjSummaryFile& other) {
    tkmd::KeywordValueFile::operator=(other);
    mapDirection = other.mapDirection;
    return *this;
}

bool CeosAlosjSummaryFile::FindAndOpen(std::string directory) {
    std::string path = directory + "/summary.txt";
    TerrException logger(".\\CeosAlosjSummaryFile", "CeosAlosjSummaryFile::FindAndOpen");
    try {
        char* expanded = tstr_PathExpand(path.c_str());
        if (expanded) {
            path = expanded;
            tmsc_HeapFree(expanded);
        }
        if (!tfio_FileExists(path.c_str(), logger.GetErrorReport(1))) return false;
        Open(path);
        return true;
    } catch (const TeskarLog::Exception& exception) {
        tfpu_Reset();
        logger.Log(kLogSeverity, exception);
    } catch (const std::exception& exception) {
        tfpu_Reset();
        logger.Log(kLogSeverity, exception.what());
    } catch (...) {
        tfpu_Reset();
        logger.Log(kLogSeverity);
    }
    return false;
}

bool CeosAlosjSummaryFile::Read() {
    const bool read = tkmd::KeywordValueFile::Read();
    if (!HaveKey(kMapDirectionKey)) return read;
    mapDirection = GetStringValue(kMapDirectionKey) == "TrueNorth" ? MAP_DIRECTION_TRUE_NORTH
                                                                   : MAP_DIRECTION_OTHER;
    return read;
}
