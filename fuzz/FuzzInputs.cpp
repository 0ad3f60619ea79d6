#include "fuzz/FuzzInputs.h"

#include <cstring>

namespace fuzzinputs {

std::vector<std::string> SplitMembers(const uint8_t* data, size_t size, size_t maxMembers) {
    std::vector<std::string> members;
    if (maxMembers == 0) return members;
    const char* text = reinterpret_cast<const char*>(data);
    size_t begin = 0;
    while (members.size() + 1 < maxMembers) {
        const char* found = nullptr;
        for (size_t at = begin; at + kMemberSeparatorLength <= size; ++at) {
            if (std::memcmp(text + at, kMemberSeparator, kMemberSeparatorLength) == 0) {
                found = text + at;
                break;
            }
        }
        if (!found) break;
        const size_t end = static_cast<size_t>(found - text);
        members.emplace_back(text + begin, end - begin);
        begin = end + kMemberSeparatorLength;
    }
    members.emplace_back(size > begin ? std::string(text + begin, size - begin) : std::string());
    return members;
}

std::string JoinMembers(const std::vector<std::string>& members) {
    std::string joined;
    for (size_t i = 0; i < members.size(); ++i) {
        if (i) joined.append(kMemberSeparator, kMemberSeparatorLength);
        joined += members[i];
    }
    return joined;
}

const char* VolumeFileName(uint8_t control) {
    switch (control % kVolumeNameCount) {
        case kVolumePrism:
            return "VOL-ALPSMN038862710-O1B1__A";
        case kVolumeAvnir2:
            return "VOL-ALAV2A038862710-O1B1__A";
        case kVolumeLowerCase:
            return "vol-alpsmn038862710-o1b1__a";
        default:
            return "VOL-OTHER038862710-O1B1__A";
    }
}

ceoswriter::ProductRecipe ProductOfKind(uint8_t kind) {
    switch (kind % kProductKindCount) {
        case kPrism1A:
            return ceoswriter::PrismProduct(0);
        case kPrism1B1:
            return ceoswriter::PrismProduct(1);
        case kPrism1B2:
            return ceoswriter::PrismProduct(2);
        case kAvnir2_1A:
            return ceoswriter::Avnir2Product(0);
        case kAvnir2_1B1:
            return ceoswriter::Avnir2Product(1);
        default:
            return ceoswriter::Avnir2Product(2);
    }
}

std::vector<std::string> ProductMemberPaths(const ceoswriter::ProductFiles& files) {
    std::vector<std::string> paths = {files.volume, files.leader};
    paths.insert(paths.end(), files.images.begin(), files.images.end());
    paths.push_back(files.trailer);
    if (!files.supplemental.empty()) paths.push_back(files.supplemental);
    if (!files.summary.empty()) paths.push_back(files.summary);
    return paths;
}

}  // namespace fuzzinputs
