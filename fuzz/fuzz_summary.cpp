// The summary.txt reader fed an arbitrary file.
//
// Input: the file's bytes.  The reader finds the file in the scratch
// directory, reads it, and its map direction must follow the key it parsed;
// copies carry the same keys and direction.
#include <cstdint>
#include <map>
#include <string>

#include "files/CeosAlosjSummaryFile.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::ScratchFile file("summary.txt", data, size);

    CeosAlosjSummaryFile summary;
    Check(summary.FindAndOpen(fuzzsupport::ScratchDirectory()), "summary.txt is found");
    summary.Read();
    const bool trueNorth = summary.HaveKey("Pds_MapDirection") &&
                           summary.GetStringValue("Pds_MapDirection") == "TrueNorth";
    Check(summary.GetMapDirection() == (trueNorth ? CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH
                                                  : CeosAlosjSummaryFile::MAP_DIRECTION_OTHER),
          "the map direction is TrueNorth exactly when the key says so");
    for (const auto& entry : summary.Values())
        Check(summary.HaveKey(entry.first) && summary.GetStringValue(entry.first) == entry.second,
              "every parsed key answers with its value");

    CeosAlosjSummaryFile copy(summary);
    Check(copy.Values() == summary.Values() && copy.GetMapDirection() == summary.GetMapDirection(),
          "a copy carries the keys and the map direction");
    CeosAlosjSummaryFile assigned;
    assigned = copy;
    const CeosAlosjSummaryFile& same = assigned;
    assigned = same;
    Check(assigned.Values() == summary.Values(), "assignment, also to itself, keeps the keys");

    // The parser on its own, over the same text.
    std::map<std::string, std::string> parsed;
    tkmd::KeywordValueFile::Parse(std::string(reinterpret_cast<const char*>(data), size), &parsed);
    Check(parsed == summary.Values(), "the reader holds what the parser makes of its text");
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
