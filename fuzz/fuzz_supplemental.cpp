// The supplemental file reader fed arbitrary records, the ancillary 13
// keyword block included.
//
// Input: one control byte, then up to six members separated by the member
// separator: the descriptor (file offset 0), ancillary record 8 from its
// start and from its second block, ancillary records 10 and 12 from their
// starts, and the ancillary 13 block from its text (record position 25).  They are placed at their
// offsets in a sparse file; the control byte chooses where the file ends: after the ancillary 13
// block, right after the last member, in the middle of ancillary 12, or after the descriptor.  The
// reader expects the file ID the descriptor records.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/CeosAlosjSupplementalFile.h"
#include "fuzz/FuzzInputs.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;
using fuzzsupport::CheckTexts;

namespace {

constexpr int64_t kMemberOffsets[] = {
    0,
    AlosjSupplementalFileAncillary8::kOffset,
    AlosjSupplementalFileAncillary8::kOffset + AlosjStateVectorBlock::kSecondBlockShift,
    AlosjSupplementalFileAncillary10::kOffset,
    AlosjSupplementalFileAncillary12::kOffset,
    AlosjSupplementalFileAncillary13::kOffset,
};
constexpr size_t kMembers = sizeof kMemberOffsets / sizeof kMemberOffsets[0];
constexpr int64_t kFullSize =
    AlosjSupplementalFileAncillary13::kOffset + AlosjSupplementalFileAncillary13::kSize;

void TouchTime(const AlosjDateTime* time) {
    Check(time != nullptr, "every entry has its time record");
    volatile double sum = time->seconds;
    for (int32_t field : {time->year, time->month, time->day, time->hour, time->minute})
        sum = sum + field;
}

template <typename Entry>
void TouchTable(const AlosjTable<Entry>* table, long recordSize, long entrySize) {
    if (!table) return;
    Check(table->count >= 0 && table->count <= recordSize / entrySize,
          "a table holds no more entries than its record has room for");
    Check(table->count == 0 || table->entries != nullptr, "a table's entries exist");
    for (int32_t i = 0; i < table->count; ++i) TouchTime(table->entries[i].time);
}

void TouchBlock(const AlosjStateVectorBlock& block) {
    CheckTexts(block.title, block.textLine1, block.textLine2, block.textLine3, block.textLine4,
               block.textLine5);
    TouchTable(block.samples, AlosjSupplementalFileAncillary8::kSize,
               AlosjStateVectorBlock::kLineLength);
}

void TouchRecords(const CeosAlosjSupplementalFile& supplemental) {
    const AlosjSupplementalFileFileDescriptor& d = supplemental.Descriptor();
    CheckTexts(d.asciiFlag, d.documentId, d.recordedFileId, d.sequenceFlag, d.codeFlag,
               d.lengthFlag);
    TouchBlock(supplemental.Ancillary8().firstBlock);
    TouchBlock(supplemental.Ancillary8().secondBlock);
    const AlosjSupplementalFileAncillary10& a10 = supplemental.Ancillary10();
    CheckTexts(a10.title, a10.textLine1, a10.textLine2, a10.textLine3, a10.textLine4);
    if (a10.referenceEntry) TouchTime(a10.referenceEntry->time);
    TouchTable(a10.matrices, AlosjSupplementalFileAncillary10::kSize,
               AlosjSupplementalFileAncillary10::kEntryLength);
    const AlosjSupplementalFileAncillary12& a12 = supplemental.Ancillary12();
    CheckTexts(a12.title);
    TouchTable(a12.samples, AlosjSupplementalFileAncillary12::kSize,
               AlosjSupplementalFileAncillary12::kSampleLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::InputBytes input(data, size);
    const uint8_t control = input.Byte();
    const uint8_t ending = control % 4;
    const bool readTwice = (control & 4) != 0;  // costly: every record is big
    const std::vector<std::string> members =
        fuzzinputs::SplitMembers(input.rest(), input.restSize(), kMembers);

    const std::string& descriptor = members[0];
    const std::string fileId = fuzzsupport::RecordedFileId(
        reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size(), "ALPSM_N1SUP     ");
    CeosAlosjSupplementalFile supplemental(fuzzsupport::VolumePath().c_str(), fileId.c_str());
    const std::string name = fuzzsupport::ScratchName(supplemental.FileName());
    std::optional<fuzzsupport::ScratchFile> file;
    if (!name.empty()) {
        file.emplace(name, descriptor.data(), descriptor.size());
        int64_t end = static_cast<int64_t>(descriptor.size());
        for (size_t i = 1; i < members.size(); ++i) {
            if (members[i].empty()) continue;
            file->WriteAt(static_cast<uint64_t>(kMemberOffsets[i]), members[i].data(),
                          members[i].size());
            end = kMemberOffsets[i] + static_cast<int64_t>(members[i].size());
        }
        switch (ending) {
            case 0:
                end = std::max(end, kFullSize);
                break;
            case 1:
                break;
            case 2:
                end = AlosjSupplementalFileAncillary12::kOffset +
                      AlosjSupplementalFileAncillary12::kSize / 2;
                break;
            default:
                end = static_cast<int64_t>(descriptor.size());
                break;
        }
        file->Resize(static_cast<uint64_t>(end));
    }

    const long identified = supplemental.SetFd();
    Check((identified == 0) == supplemental.IsOpen(),
          "SetFd leaves the file open exactly when it succeeds");
    Check(supplemental.Read() == 0, "Read always gives 0");
    fuzzsupport::CheckNoTemporaryFilesLeft();
    TouchRecords(supplemental);
    if (supplemental.IsOpen() && readTwice) {
        // A second read rebuilds every table; the first ones must be released.
        Check(supplemental.Read() == 0, "a second Read gives 0");
        fuzzsupport::CheckNoTemporaryFilesLeft();
        TouchRecords(supplemental);
    }
    if (supplemental.IsOpen()) Check(supplemental.Close() == 0, "an open file closes");
    return 0;
}
