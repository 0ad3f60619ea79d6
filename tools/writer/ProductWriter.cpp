#include "tools/writer/ProductWriter.h"

#include <cmath>
#include <stdexcept>

namespace ceoswriter {

namespace {

constexpr size_t kVolumeRecordLength = 360;
constexpr RecordType kVolumeDescriptorType = {0xC0, 0xC0, 0x12, 0x12};
constexpr RecordType kFilePointerType = {0xDB, 0xC0, 0x12, 0x12};
constexpr RecordType kTextType = {0x12, 0x3F, 0x12, 0x12};
constexpr RecordType kFileDescriptorType = {0x3F, 0xC0, 0x12, 0x12};

std::string SensorCode(const ProductRecipe& product) { return product.IsPrism() ? "PSM" : "AV2"; }

std::string Pad(std::string text, size_t length) {
    text.resize(length, ' ');
    return text;
}

struct ListedFile {
    std::string id;
    std::string fileClass;      // file class text of the pointer record
    std::string fileClassCode;  // and its code
};

std::vector<ListedFile> ListedFiles(const ProductRecipe& product, const ProductFiles& files) {
    std::vector<ListedFile> listed;
    size_t i = 0;
    listed.push_back({files.fileIds[i++], "LEADER FILE", "LEAD"});
    for (int k = 0; k < product.ImageCount(); ++k)
        listed.push_back({files.fileIds[i++], "IMAGERY FILE", "IMGY"});
    listed.push_back({files.fileIds[i++], "TRAILER FILE", "TRAI"});
    if (product.HasSupplemental()) listed.push_back({files.fileIds[i++], "SUPPLEMENTAL FILE", "SUPP"});
    for (; i < files.fileIds.size(); ++i) listed.push_back({files.fileIds[i], "OTHER FILE", "OTHR"});
    return listed;
}

}  // namespace

void ChangeOrbit(ProductRecipe& product, double later, const std::function<void(StateVector&)>& change) {
    product.leader.firstPointSecondOfDay += later;
    if (change)
        for (StateVector& v : product.leader.dataPoints) change(v);
    for (StateVectorBlockRecipe* block : {&product.supplemental.firstBlock, &product.supplemental.secondBlock})
        for (StateVectorLine& line : block->lines) {
            // hhmmss.fraction, within the day
            const double t = line.timeOfDay;
            const double second = std::floor(t / 10000) * 3600 + std::floor(std::fmod(t, 10000) / 100) * 60 +
                                  std::fmod(t, 100) + later;
            if (second < 0 || second >= 86400) throw std::invalid_argument("an orbit moved past its day");
            line.timeOfDay = std::floor(second / 3600) * 10000 + std::floor(std::fmod(second, 3600) / 60) * 100 +
                             std::fmod(second, 60);
            if (!change) continue;
            double* v = line.values;  // kilometres
            StateVector s = {v[0] * 1e3, v[1] * 1e3, v[2] * 1e3, v[3] * 1e3, v[4] * 1e3, v[5] * 1e3};
            change(s);
            const double metres[6] = {s.x, s.y, s.z, s.vx, s.vy, s.vz};
            for (int k = 0; k < 6; ++k) v[k] = metres[k] / 1e3;
        }
}

int ProductRecipe::ImageCount() const {
    if (IsPrism() && level == 2) return 1;
    return static_cast<int>(designators.size());
}

ProductRecipe PrismProduct(int level, char observationMode) {
    ProductRecipe product;
    product.sensor = Sensor::Prism;
    product.level = level;
    product.observationMode = observationMode;
    product.sceneId = std::string("ALPSM") + observationMode + "038862710";
    product.processingSuffix = level == 0 ? "O1A__A" : level == 1 ? "O1B1__A" : "O1B2R_UN";
    product.designators = {1, 2, 3, 4, 5, 6};
    if (level == 2) product.summary = SummaryRecipe{};
    return product;
}

ProductRecipe Avnir2Product(int level) {
    ProductRecipe product;
    product.sensor = Sensor::Avnir2;
    product.level = level;
    product.observationMode = 'A';
    product.sceneId = "ALAV2A038862710";
    product.processingSuffix = level == 0 ? "O1A__A" : level == 1 ? "O1B1__A" : "O1B2R_U";
    product.designators = {1, 2, 3, 4};
    return product;
}

std::string FileId(const ProductRecipe& product, char fileClass, int designator) {
    // e.g. "ALPSM_N1IMG-CCD3": sensor, '_', mode (6), level (7), class (8), designator (15).
    std::string id = "AL" + SensorCode(product) + "_";
    id += product.observationMode;
    id += static_cast<char>('0' + product.level);
    switch (fileClass) {
        case 'I':
            id += product.IsPrism() ? "IMG-CCD" : "IMG-BND";
            id += designator > 0 ? static_cast<char>('0' + designator % 10) : ' ';
            break;
        case 'L': id += "LED"; break;
        case 'T': id += "TRL"; break;
        case 'S': id += "SUP"; break;
        default: id += fileClass; break;
    }
    return Pad(id, 16);
}

ProductFiles ProductFileNames(const std::string& directory, const ProductRecipe& product) {
    ProductFiles files;
    files.directory = directory;
    const std::string dir = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    const std::string tail = product.sceneId + "-" + product.processingSuffix;
    files.volume = dir + "VOL-" + tail;
    files.leader = dir + "LED-" + tail;
    files.trailer = dir + "TRL-" + tail;
    files.fileIds.push_back(FileId(product, 'L'));
    if (product.IsPrism() && product.level == 2) {
        files.images.push_back(dir + "IMG-" + tail);
        files.fileIds.push_back(FileId(product, 'I', 0));
    } else {
        for (int d : product.designators) {
            files.images.push_back(dir + "IMG-0" + std::to_string(d) + "-" + tail);
            files.fileIds.push_back(FileId(product, 'I', d));
        }
    }
    files.fileIds.push_back(FileId(product, 'T'));
    if (product.HasSupplemental()) {
        files.supplemental = dir + "SUP-" + tail;
        files.fileIds.push_back(FileId(product, 'S'));
    }
    for (const std::string& extra : product.extraFileIds) files.fileIds.push_back(Pad(extra, 16));
    if (product.summary) files.summary = dir + "summary.txt";
    return files;
}

ProductFiles WriteProduct(const std::string& directory, const ProductRecipe& product) {
    ProductFiles files = ProductFileNames(directory, product);
    WriteVolumeDirectory(files.volume, product, files);
    WriteLeaderFile(files.leader, product, files.fileIds[0]);
    for (size_t i = 0; i < files.images.size(); ++i)
        WriteImageFile(files.images[i], product, static_cast<int>(i), files.fileIds[1 + i]);
    WriteTrailerFile(files.trailer, product, files.fileIds[1 + files.images.size()]);
    if (product.HasSupplemental())
        WriteSupplementalFile(files.supplemental, product, files.fileIds[2 + files.images.size()]);
    if (product.summary) WriteSummaryFile(files.summary, product);
    return files;
}

void WriteVolumeDirectory(const std::string& path, const ProductRecipe& product,
                          const ProductFiles& files) {
    const std::vector<ListedFile> listed = ListedFiles(product, files);
    const int pointerCount = static_cast<int>(listed.size());
    const int declared = product.declaredFilePointerCount.value_or(pointerCount);
    FileWriter out(path);
    int sequence = 1;

    Record descriptor(kVolumeRecordLength);
    descriptor.Header(sequence++, kVolumeDescriptorType)
        .Ascii(13, 2, "A")
        .Ascii(17, 12, product.documentId.value_or(product.IsPrism() ? "CEOS-PSM-CCT" : "CEOS-AV2-CCT"))
        .Ascii(29, 2, " A")
        .Ascii(31, 2, " A")
        .Ascii(33, 12, "ALOSJ 1.00")
        .Ascii(61, 16, product.sceneId.substr(0, 16))
        .Ascii(77, 16, "ALOS " + SensorCode(product) + " L1")
        .Int(99, 2, 1)
        .Int(101, 4, 1)
        .Int(105, 4, 1)
        .Ascii(113, 8, "20061130")
        .Ascii(121, 8, "12345600")
        .Ascii(129, 12, "JAPAN")
        .Ascii(141, 8, "JAXA")
        .Ascii(149, 12, "EOC")
        .Int(161, 4, declared)
        .Int(165, 4, pointerCount + 2);
    out.Write(0, descriptor);

    for (int i = 0; i < pointerCount; ++i) {
        Record pointer(kVolumeRecordLength);
        pointer.Header(sequence++, kFilePointerType)
            .Ascii(13, 2, "A")
            .Int(17, 4, i + 1)
            .Ascii(21, 16, listed[i].id)
            .Ascii(37, 28, listed[i].fileClass)
            .Ascii(65, 4, listed[i].fileClassCode)
            .Ascii(69, 28, i == 0 ? "MIXED BINARY AND ASCII" : "BINARY ONLY")
            .Ascii(97, 4, i == 0 ? "MBAA" : "BINO")
            .Int(101, 8, 1)
            .Int(109, 8, 720)
            .Int(117, 8, 720)
            .Ascii(125, 12, "FIXED LENGTH")
            .Ascii(137, 4, "FIXD")
            .Int(141, 2, 1)
            .Int(143, 2, 1)
            .Int(145, 8, 1);
        out.Write(kVolumeRecordLength * static_cast<uint64_t>(i + 1), pointer);
    }

    if (product.writeTextRecord) {
        Record text(kVolumeRecordLength);
        text.Header(sequence++, kTextType)
            .Ascii(13, 2, "A")
            .Ascii(17, 40, "PRODUCT:" + product.sceneId + "-" + product.processingSuffix)
            .Ascii(57, 60, "PROCESS:JAPAN-JAXA-EOC-ALOS-DPS  20061130 123456")
            .Ascii(117, 40, "CCT-ID:" + product.sceneId)
            .Ascii(157, 4, product.sceneId.substr(0, 4));
        out.Write(kVolumeRecordLength * static_cast<uint64_t>(pointerCount + 1), text);
    }
}

Record FileDescriptorRecord(size_t length, const ProductRecipe& product, int fileNumber,
                            const std::string& fileId) {
    Record record(length);
    record.Header(1, kFileDescriptorType)
        .Ascii(13, 2, "A")
        .Ascii(17, 12, product.IsPrism() ? "CEOS-PSM-CCT" : "CEOS-AV2-CCT")
        .Ascii(29, 2, " A")
        .Ascii(31, 2, " A")
        .Ascii(33, 12, "ALOSJ 1.00")
        .Int(45, 4, fileNumber)
        .Ascii(49, 16, fileId)
        .Ascii(65, 4, "FSEQ")
        .Int(69, 8, 1)
        .Int(77, 4, 4)
        .Ascii(81, 4, "FTYP")
        .Int(85, 8, 5)
        .Int(93, 4, 4)
        .Ascii(97, 4, "FLGT")
        .Int(101, 8, 9)
        .Int(109, 4, 4)
        .Ascii(113, 1, " ")
        .Ascii(114, 1, " ")
        .Ascii(115, 1, " ")
        .Ascii(116, 1, " ");
    return record;
}

}  // namespace ceoswriter
