// What the dataset makes of a product: sensor, level, layers, observation
// mode, CCDs, pixel type, projection, geocoding and the de-stagger shift.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

TEST(DatasetClassification, SensorLevelAndLayers) {
    struct Case {
        ProductRecipe product;
        long sensor, level, images, layers;
    };
    for (const Case& c : std::vector<Case>{{PrismProduct(0), 0, 0, 6, 1},
                                           {PrismProduct(1), 0, 1, 6, 1},
                                           {PrismProduct(2), 0, 2, 1, 1},
                                           {Avnir2Product(0), 1, 0, 4, 4},
                                           {Avnir2Product(2), 1, 2, 4, 4}}) {
        WrittenProduct p(c.product);
        auto dataset = OpenAndRead(p.files.volume);
        EXPECT_EQ(dataset->GetSensorType(), c.sensor);
        EXPECT_EQ(dataset->GetProductLevel(), c.level);
        EXPECT_EQ(dataset->GetImgFileCount(), c.images);
        ASSERT_EQ(dataset->GetNumOfLayers(), c.layers);
        char** names = dataset->GetLayerNames();
        for (long i = 0; i < c.layers; ++i)
            EXPECT_EQ(std::string(names[i]), "Layer_" + std::to_string(i + 1));
    }
}

TEST(DatasetClassification, OnlyTheVolumeDirectoryFilesOwnNameSaysTheSensor) {
    // An AVNIR-2 product kept in a directory whose name reads like a PRISM
    // volume directory file is still AVNIR-2.
    TempDir dir;
    const std::string folder = dir.File("VOL-ALPSMN038862710-O1B1__A.d");
    std::filesystem::create_directories(folder);
    const ProductFiles files = WriteProduct(folder, Avnir2Product(1));
    long opened = -2;
    auto dataset = OpenAndRead(files.volume, -1, &opened);
    EXPECT_GE(opened, 0);
    EXPECT_EQ(dataset->GetSensorType(), 1);
    EXPECT_EQ(dataset->GetNumOfLayers(), 4);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectoryName(files.volume.c_str()), 1);
    // A file of another name in such a directory is no volume directory file.
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectoryName((folder + "/LED-ALAV2A038862710-O1B1__A").c_str()), -1);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectoryName("vol-alpsmn03/x/y/Vol-Alpsm-1"), 0);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectoryName(nullptr), -1);

    // With its first bytes: the document identifier (bytes 17-28) must agree
    // with the name, in any case.
    std::ifstream in(files.volume, std::ios::binary);
    unsigned char header[28] = {};
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(header), sizeof header));
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory(files.volume.c_str(), header, 28), 1);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory(files.volume.c_str(), header, 27), -1);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory((folder + "/LED-ALAV2A038862710-O1B1__A").c_str(), header, 28), -1);
    std::memcpy(header + 16, "ceos-av2-cct", 12);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory(files.volume.c_str(), header, 28), 1);
    std::memcpy(header + 16, "CEOS-PSM-CCT", 12);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory(files.volume.c_str(), header, 28), -1);
    EXPECT_EQ(CeosAlosjSensorOfVolumeDirectory("x/VOL-ALPSM-1", header, 28), 0);
}

TEST(DatasetClassification, BandNumbersComeFromAPrefixTestOfLayerNames) {
    WrittenProduct p(Avnir2Product(1));
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_EQ(dataset->GetBandNum("Layer_3"), 2);
    EXPECT_EQ(dataset->GetBandNum("layer_3"), -1);
    EXPECT_EQ(dataset->GetBandNum("Layer_1x"), 0);
    EXPECT_EQ(dataset->GetBandNum("Layer_5"), -1);
    EXPECT_EQ(dataset->GetBandNum(nullptr), -1);
}

TEST(DatasetClassification, ObservationModeAndPixelsPerCcdFile) {
    struct Case {
        char letter;
        MissionType mode;
        long pixelsPerFile;
    };
    for (const Case& c : std::vector<Case>{{'N', MISSION_N, 4992},
                                           {'W', MISSION_W, 4992},
                                           {'F', MISSION_F, 4928},
                                           {'B', MISSION_B, 4928},
                                           {'Q', MISSION_OTHER, 4928}}) {
        WrittenProduct p(PrismProduct(1, c.letter));
        auto dataset = OpenAndRead(p.files.volume);
        EXPECT_EQ(dataset->GetObservationMode(), c.mode) << c.letter;
        EXPECT_EQ(dataset->GetPrismPixelPerFile(), c.pixelsPerFile) << c.letter;
    }
    // One CCD file, or Level 1B2: no pixels per file.
    WrittenProduct single(PrismProduct(1, 'F'));
    EXPECT_EQ(OpenAndRead(single.files.volume, 3)->GetPrismPixelPerFile(), 0);
    WrittenProduct avnir(Avnir2Product(1));
    EXPECT_EQ(OpenAndRead(avnir.files.volume)->GetObservationMode(), MISSION_A);
}

TEST(DatasetClassification, SmallestCcdNumberAmongImageFileNames) {
    ProductRecipe product = PrismProduct(1);
    product.designators = {5, 6, 7};
    WrittenProduct p(product);
    WriteFileBytes(p.dir.File("IMG-03-OTHER"), {'x'});
    WriteFileBytes(p.dir.File("img-04-OTHER"), {'x'});
    EXPECT_EQ(OpenAndRead(p.files.volume)->GetMinCcdNumber(), 3);

    ProductRecipe later = PrismProduct(1);
    later.designators = {4, 5};
    WrittenProduct q(later);
    WriteFileBytes(q.dir.File("IMG-09-X"), {'x'});  // no CCD 9
    EXPECT_EQ(OpenAndRead(q.files.volume)->GetMinCcdNumber(), 4);
}

TEST(DatasetClassification, PixelTypeAndBytesPerPixelFromTheFirstImageFile) {
    for (auto [bits, code, bytes, type] :
         std::vector<std::tuple<int, const char*, long, AlosjPixelType>>{
             {8, "IU8", 1, ALOSJ_PIXEL_INTEGER}, {12, "IU16", 1, ALOSJ_PIXEL_INTEGER},
             {16, "IU16", 2, ALOSJ_PIXEL_INTEGER}, {8, "C*8", 1, ALOSJ_PIXEL_OTHER}}) {
        ProductRecipe product = PrismProduct(2);
        product.image.bitsPerPixel = bits;
        product.image.formatTypeCode = code;
        WrittenProduct p(product);
        auto dataset = OpenAndRead(p.files.volume);
        EXPECT_EQ(dataset->GetNumOfBytesPerPixel(), bytes) << bits;
        EXPECT_EQ(dataset->GetPixelType(), type) << code;
    }
}

TEST(DatasetClassification, MapProjectionFromTheSceneHeaderFlags) {
    for (auto [flags, projection] : std::vector<std::pair<std::string, const char*>>{
             {"YNNNNNNNNNNNNNNN", "UTM"},
             {"NNNNYNNNNNNNNNNN", "PS"},
             {"NNNNNNNNNNNNNNNN", "Raw"},
             {"NNNNXNNNNNNNNNNN", nullptr},
             {"                ", nullptr}}) {
        ProductRecipe product = PrismProduct(2);
        product.leader.mapProjectionFlags = flags;
        WrittenProduct p(product);
        auto dataset = OpenAndRead(p.files.volume);
        if (projection)
            EXPECT_STREQ(dataset->GetMapProjection(), projection) << flags;
        else
            EXPECT_EQ(dataset->GetMapProjection(), nullptr) << flags;
    }
}

TEST(DatasetClassification, GeocodingLetterOfTheProductId) {
    for (auto [letter, geocoded] : std::vector<std::pair<char, Tmsc_Boolean>>{
             {'G', TMSC_TRUE}, {'R', TMSC_FALSE}, {'X', TMSC_FALSE}}) {
        ProductRecipe product = PrismProduct(2);
        product.leader.geocodingLetter = letter;
        WrittenProduct p(product);
        EXPECT_EQ(OpenAndRead(p.files.volume)->IsGeocoded(), geocoded) << letter;
    }
}

TEST(DatasetClassification, StaggerShiftFromThePointingAngle) {
    for (auto [text, shift] : std::vector<std::pair<std::string, long>>{
             {"-12.7", 5}, {"+30", 6}, {"44", 7}, {"45", 0}, {"23.9", 5}, {"-36", 7}}) {
        ProductRecipe product = Avnir2Product(1);
        product.leader.offNadirAngle = text;
        WrittenProduct p(product);
        EXPECT_EQ(OpenAndRead(p.files.volume)->GetStaggerPixelShift(), shift) << text;
    }
    // Not for PRISM nor for AVNIR-2 Level 1B2.
    for (ProductRecipe product : {PrismProduct(1), Avnir2Product(2)}) {
        product.leader.offNadirAngle = "+30";
        WrittenProduct p(product);
        EXPECT_EQ(OpenAndRead(p.files.volume)->GetStaggerPixelShift(), 0);
    }
}

TEST(DatasetClassification, OpenModeFollowsTheSensor) {
    WrittenProduct avnir(Avnir2Product(1));
    // A CCD number means nothing to AVNIR-2: all four bands, whole rows.
    auto dataset = OpenAndRead(avnir.files.volume, 3);
    EXPECT_EQ(dataset->GetImgFileCount(), 4);
    EXPECT_EQ(dataset->GetSceneWidth(), avnir.recipe.image.pixelsPerLine);
}
