// The PRISM Level 1B1 sensor-model exports into the host's structures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

// The storage a host supplies behind a scene structure's pointers, with
// every member first set to a recognisable value.
struct HostScene {
    Tkmd_ALPSM1B1_IMG scene;
    AlosjDateTime start{}, centre{};
    double arrays[8][40] = {};

    HostScene() {
        std::memset(&scene, 0, sizeof scene);
        for (auto& corner : scene.cornerGeo) corner[2] = 777.0;
        scene.hostLeading[0] = 11;
        scene.hostMiddle[1] = 22;
        scene.sceneStartTime = &start;
        scene.sceneCenterDateTime = &centre;
        for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = arrays[k];
    }
    ~HostScene() { Tkmd_ALPSM1B1_IMG_Release(&scene); }
    // It points into itself and owns the exported strings.
    HostScene(const HostScene&) = delete;
    HostScene& operator=(const HostScene&) = delete;
};

std::unique_ptr<HostScene> SceneOf(const ProductRecipe& product) {
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    auto host = std::make_unique<HostScene>();
    dataset->GetALPSM1B1SceneData(&host->scene);
    return host;
}

}  // namespace

TEST(SceneExport, ViewNameAndCcdCountFollowTheObservationMode) {
    for (auto [mode, view] : std::vector<std::pair<char, std::string>>{
             {'N', "Nadir Normal View"}, {'F', "Forward View"}, {'B', "Backward View"},
             {'W', "Nadir 70km View"}, {'A', "Nadir 70km View"}, {'Q', "Nadir 70km View"}}) {
        ProductRecipe product = PrismProduct(1, mode);
        product.leader.pixelsPerLine = 100;
        product.leader.sceneCenterPixel = 10;
        WrittenProduct p(product);
        auto dataset = OpenAndRead(p.files.volume);
        HostScene host;
        dataset->GetALPSM1B1SceneData(&host.scene);
        EXPECT_EQ(std::string(host.scene.viewName), view);
        const double ccds = mode == 'N' ? 6 : 8;
        const double width = dataset->GetSceneWidth();
        EXPECT_DOUBLE_EQ(host.scene.centerPixel, (ccds * 100 - 1) * 0.5 - 10 - 1 + (width - 1) * 0.5)
            << mode;
    }
}

TEST(SceneExport, TimesFromTheSceneHeaderAndTheFirstLine) {
    ProductRecipe product = PrismProduct(1);
    product.leader.sceneCenterTime = "20061013021530123456";
    product.leader.sceneDate = "13Oct06";
    product.image.startMilliseconds = 7384500;  // 02:03:04.5
    std::unique_ptr<HostScene> scene = SceneOf(product);
    const HostScene& host = *scene;
    EXPECT_EQ(host.centre.year, 2006);
    EXPECT_EQ(host.centre.month, 10);
    EXPECT_EQ(host.centre.day, 13);
    EXPECT_EQ(host.centre.hour, 2);
    EXPECT_EQ(host.centre.minute, 15);
    EXPECT_NEAR(host.centre.seconds, 30.123456, 1e-9);
    EXPECT_EQ(host.start.year, 2006);
    EXPECT_EQ(host.start.month, 10);
    EXPECT_EQ(host.start.day, 13);
    EXPECT_EQ(host.start.hour, 2);
    EXPECT_EQ(host.start.minute, 3);
    EXPECT_NEAR(host.start.seconds, 4.5, 1e-9);

    for (auto [date, month] : std::vector<std::pair<std::string, int>>{
             {"13oct06", 10}, {"13Okt06", 0}, {"01Jan08", 1}, {"31Dec07", 12}}) {
        product.leader.sceneDate = date;
        EXPECT_EQ(SceneOf(product)->start.month, month) << date;
    }
}

TEST(SceneExport, SizesCornersAndReferenceNumbers) {
    ProductRecipe product = PrismProduct(1);
    product.designators = {1};
    product.image.pixelsPerLine = 5002;
    product.image.lines = 2;
    product.leader.numberOfLines = 16000;
    product.leader.sunAngles = "RSP   388  271";
    product.leader.sceneCenterLine = 8000.5;
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    HostScene host;
    dataset->GetALPSM1B1SceneData(&host.scene);
    EXPECT_EQ(host.scene.numPixels, 4992);
    EXPECT_EQ(host.scene.numLines, 16000);
    const double image[4][2] = {{0, 0}, {4991, 0}, {4991, 15999}, {0, 15999}};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(host.scene.cornerImage[c][0], image[c][0]);
        EXPECT_EQ(host.scene.cornerImage[c][1], image[c][1]);
        EXPECT_EQ(host.scene.cornerGeo[c][2], 777.0);  // the host's own
    }
    const LeaderRecipe& l = product.leader;
    EXPECT_DOUBLE_EQ(host.scene.cornerGeo[0][0], l.upperLeftLongitude);
    EXPECT_DOUBLE_EQ(host.scene.cornerGeo[0][1], l.upperLeftLatitude);
    EXPECT_DOUBLE_EQ(host.scene.cornerGeo[1][0], l.upperRightLongitude);
    EXPECT_DOUBLE_EQ(host.scene.cornerGeo[2][1], l.lowerRightLatitude);
    EXPECT_DOUBLE_EQ(host.scene.cornerGeo[3][0], l.lowerLeftLongitude);
    EXPECT_DOUBLE_EQ(host.scene.centerLat, l.sceneCenterLatitude);
    EXPECT_DOUBLE_EQ(host.scene.centerLine, 7999.5);
    EXPECT_EQ(host.scene.referenceNumber1, 388);
    EXPECT_EQ(host.scene.referenceNumber2, 271);
    EXPECT_DOUBLE_EQ(host.scene.fixedParameter, 0.00037);
    EXPECT_EQ(host.scene.hostLeading[0], 11);
    EXPECT_EQ(host.scene.hostMiddle[1], 22);
    EXPECT_EQ(std::strlen(host.scene.sceneText), 16u);
}

TEST(SceneExport, BitsPerSampleAndCoefficientArrays) {
    for (auto [bits, expected] : std::vector<std::pair<int, int>>{{8, 8}, {12, 8}, {16, 16}}) {
        ProductRecipe product = PrismProduct(1);
        product.image.bitsPerPixel = bits;
        EXPECT_EQ(SceneOf(product)->scene.bitsPerSample, expected) << bits;
    }
    ProductRecipe product = PrismProduct(1);
    std::unique_ptr<HostScene> host = SceneOf(product);
    for (int k = 0; k < 8; ++k)
        for (int m = 0; m < 4; ++m)
            for (int n = 0; n < 10; ++n)
                EXPECT_DOUBLE_EQ(host->arrays[k][10 * m + n], product.leader.coefficientSets[4 * k + m][n])
                    << k << " " << m << " " << n;
}

TEST(OrbitExport, StateVectorsInMetresWithTheReferenceAndMatrices) {
    ProductRecipe product = PrismProduct(1);
    product.supplemental.secondBlock.lines[0].values[0] = 7000.0;
    product.supplemental.secondBlock.lines[0].values[5] = -1.5;
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    Tkmd_ALPSM1B1_EPH eph;
    std::memset(&eph, 0, sizeof eph);
    eph.hostLeading = 5;
    dataset->GetALPSM1B1EphemerisData(&eph);
    const StateVectorBlockRecipe& block = product.supplemental.secondBlock;
    ASSERT_EQ(eph.ephemerisCount, static_cast<int32_t>(block.lines.size()));
    ASSERT_NE(eph.ephemeris, nullptr);
    EXPECT_EQ(eph.ephemeris->count, eph.ephemerisCount);
    EXPECT_DOUBLE_EQ(eph.ephemeris->entries[0].stateVector[0], 7000000.0);
    EXPECT_DOUBLE_EQ(eph.ephemeris->entries[0].stateVector[5], -1500.0);
    for (size_t i = 0; i < block.lines.size(); ++i)
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(eph.ephemeris->entries[i].stateVector[k], block.lines[i].values[k] * 1000.0, 1e-3);
    EXPECT_EQ(eph.ephemerisInterval, 60.0);
    EXPECT_EQ(eph.hostLeading, 5);
    // The start time is its own block, equal to the first entry's time.
    ASSERT_NE(eph.startTime, nullptr);
    EXPECT_NE(eph.startTime, eph.ephemeris->entries[0].time);
    EXPECT_EQ(std::memcmp(eph.startTime, eph.ephemeris->entries[0].time, sizeof(AlosjDateTime)), 0);
    EXPECT_EQ(eph.startTime->year, 2006);

    // Reference entry and matrices arrive as the reader decoded them.
    ASSERT_NE(eph.referenceEntry, nullptr);
    EXPECT_DOUBLE_EQ(eph.referenceEntry->referenceValue1, product.supplemental.referenceValue1);
    EXPECT_DOUBLE_EQ(eph.referenceEntry->referenceValue2, product.supplemental.referenceValue2);
    ASSERT_NE(eph.matrices, nullptr);
    ASSERT_EQ(eph.matrices->count, 3);
    // The writer writes matrices by text row; they arrive transposed.
    for (int i = 0; i < 3; ++i)
        for (int m = 0; m < 3; ++m)
            for (int n = 0; n < 3; ++n) {
                EXPECT_NEAR(eph.matrices->entries[i].firstMatrix[m][n],
                            product.supplemental.matrices[i].firstMatrix[n][m], 1e-12);
                EXPECT_NEAR(eph.matrices->entries[i].secondMatrix[m][n],
                            product.supplemental.matrices[i].secondMatrix[n][m], 1e-12);
            }
    Tkmd_ALPSM1B1_EPH_Release(&eph);
    EXPECT_EQ(eph.ephemeris, nullptr);
}

TEST(OrbitExport, AnEmptySecondBlockStillGivesTheMatrices) {
    ProductRecipe product = PrismProduct(1);
    product.supplemental.secondBlock.lines.clear();
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    AlosjDateTime hostTime{};
    Tkmd_ALPSM1B1_EPH eph;
    std::memset(&eph, 0, sizeof eph);
    eph.startTime = &hostTime;
    dataset->GetALPSM1B1EphemerisData(&eph);
    EXPECT_EQ(eph.ephemerisCount, 0);
    EXPECT_EQ(eph.ephemerisInterval, 60.0);
    EXPECT_EQ(eph.startTime, &hostTime);
    ASSERT_NE(eph.matrices, nullptr);
    EXPECT_EQ(eph.matrices->count, 3);
    ASSERT_NE(eph.referenceEntry, nullptr);
    EXPECT_DOUBLE_EQ(eph.referenceEntry->referenceValue1, product.supplemental.referenceValue1);
    eph.startTime = nullptr;  // the host's own
    Tkmd_ALPSM1B1_EPH_Release(&eph);
}

TEST(OrbitExport, TwoCallsGiveIndependentBlocks) {
    WrittenProduct p(PrismProduct(1));
    auto dataset = OpenAndRead(p.files.volume);
    Tkmd_ALPSM1B1_EPH first, second;
    std::memset(&first, 0, sizeof first);
    std::memset(&second, 0, sizeof second);
    dataset->GetALPSM1B1EphemerisData(&first);
    const double original = first.ephemeris->entries[1].stateVector[2];
    first.ephemeris->entries[1].stateVector[2] = 42.0;
    first.startTime->year = 1900;
    dataset->GetALPSM1B1EphemerisData(&second);
    EXPECT_EQ(second.ephemeris->entries[1].stateVector[2], original);
    EXPECT_EQ(second.startTime->year, 2006);
    EXPECT_NE(first.matrices, second.matrices);
    Tkmd_ALPSM1B1_EPH_Release(&first);
    Tkmd_ALPSM1B1_EPH_Release(&second);
}

TEST(AttitudeExport, SamplesAndTheSinglePrecisionInterval) {
    ProductRecipe product = PrismProduct(1);
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    Tkmd_ALPSM1B1_ATT att;
    std::memset(&att, 0, sizeof att);
    dataset->GetALPSM1B1AttitudeData(&att);
    const auto& samples = product.supplemental.attitude;
    ASSERT_EQ(att.attitudeCount, static_cast<int32_t>(samples.size()));
    EXPECT_EQ(att.attitudeInterval, 0.1f);
    for (size_t i = 0; i < samples.size(); ++i) {
        for (int k = 0; k < 4; ++k)
            EXPECT_DOUBLE_EQ(att.attitude->entries[i].quaternion[k], samples[i].quaternion[k]);
        for (int k = 0; k < 3; ++k)
            EXPECT_DOUBLE_EQ(att.attitude->entries[i].auxValue[k], samples[i].auxValues[k]);
        EXPECT_EQ(att.attitude->entries[i].time->minute, samples[i].minute);
    }
    ASSERT_NE(att.startTime, nullptr);
    EXPECT_NEAR(att.startTime->seconds, samples[0].seconds, 1e-9);
    Tkmd_ALPSM1B1_ATT_Release(&att);
}

TEST(AttitudeExport, AnEmptyTableLeavesStartTimeAndIntervalAlone) {
    ProductRecipe product = PrismProduct(1);
    product.supplemental.attitude.clear();
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    AlosjDateTime hostTime{};
    Tkmd_ALPSM1B1_ATT att;
    std::memset(&att, 0, sizeof att);
    att.startTime = &hostTime;
    att.attitudeInterval = 9.5f;
    dataset->GetALPSM1B1AttitudeData(&att);
    EXPECT_EQ(att.attitudeCount, 0);
    ASSERT_NE(att.attitude, nullptr);
    EXPECT_EQ(att.attitude->count, 0);
    EXPECT_EQ(att.startTime, &hostTime);
    EXPECT_EQ(att.attitudeInterval, 9.5f);
    att.startTime = nullptr;  // the host's own
    Tkmd_ALPSM1B1_ATT_Release(&att);
}

TEST(SensorExport, AlignmentMatrixRowAfterRowAndTheConstants) {
    ProductRecipe product = PrismProduct(1);
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    double matrix[9] = {};
    Tkmd_ALPSM1B1_SEN sen;
    std::memset(&sen, 0, sizeof sen);
    sen.sensorMatrix = matrix;
    sen.hostSlot = 3;
    dataset->GetALPSM1B1SensorData(&sen);
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(matrix[k], product.supplemental.sensorMatrix[k / 3][k % 3], 1e-15) << k;
    EXPECT_NEAR(matrix[5], product.supplemental.sensorMatrix[1][2], 1e-15);  // an23
    EXPECT_EQ(sen.focalLength, 1939.0);
    EXPECT_EQ(sen.detectorPitch, 0.007);
    EXPECT_EQ(sen.hostSlot, 3);
}

TEST(SensorModelExports, ProductsWithoutTablesExportEmptyTablesAndNoCrash) {
    // Level 1B2 has no supplemental file; AVNIR-2's is never read; a
    // truncated one fails its records; a dataset never read has nothing.
    std::vector<ProductRecipe> products = {PrismProduct(2), Avnir2Product(1), PrismProduct(1)};
    for (size_t i = 0; i < products.size() + 1; ++i) {
        WrittenProduct p(i < products.size() ? products[i] : PrismProduct(1));
        if (i == 2) TruncateFile(p.files.supplemental, 5000);
        ReportCapture quiet;
        std::unique_ptr<CeosAlosjDataset> dataset;
        if (i < products.size()) {
            dataset = OpenAndRead(p.files.volume);
        } else {
            dataset = std::make_unique<CeosAlosjDataset>(p.files.volume.c_str());
        }
        Tkmd_ALPSM1B1_EPH eph;
        std::memset(&eph, 0, sizeof eph);
        dataset->GetALPSM1B1EphemerisData(&eph);
        EXPECT_EQ(eph.ephemerisCount, 0) << i;
        ASSERT_NE(eph.ephemeris, nullptr);
        EXPECT_EQ(eph.ephemeris->count, 0);
        EXPECT_EQ(eph.startTime, nullptr);
        EXPECT_EQ(eph.referenceEntry, nullptr);
        Tkmd_ALPSM1B1_EPH_Release(&eph);

        Tkmd_ALPSM1B1_ATT att;
        std::memset(&att, 0, sizeof att);
        dataset->GetALPSM1B1AttitudeData(&att);
        EXPECT_EQ(att.attitudeCount, 0);
        Tkmd_ALPSM1B1_ATT_Release(&att);

        double matrix[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        Tkmd_ALPSM1B1_SEN sen;
        std::memset(&sen, 0, sizeof sen);
        sen.sensorMatrix = matrix;
        dataset->GetALPSM1B1SensorData(&sen);
        EXPECT_EQ(sen.focalLength, 1939.0);
        if (i < 2) {
            EXPECT_EQ(matrix[4], 5.0) << i;  // no matrix was read: the host's stays
        }

        HostScene host;
        dataset->GetALPSM1B1SceneData(&host.scene);
        dataset->GetALPSM1B1SceneData(nullptr);
    }
}
