// The leader file reader, on leader files the product writer makes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "TestSupport.h"
#include "files/CeosAlosjLeaderFile.h"

using namespace ceoswriter;
using testing_support::PatchFile;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

constexpr long kSceneHeader = 4680;
constexpr long kAncillary1 = 9360;
constexpr long kAncillary2 = 14040;
constexpr long kAncillary3 = 18720;

// File offset of a 1-based position within the record at recordOffset.
long At(long recordOffset, int position) { return recordOffset + position - 1; }

std::string BigEndianDouble(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    std::string bytes(8, '\0');
    for (int i = 7; i >= 0; --i, bits >>= 8) bytes[i] = static_cast<char>(bits & 0xFF);
    return bytes;
}

std::unique_ptr<CeosAlosjLeaderFile> OpenLeader(const ProductFiles& files,
                                                const std::string& fileId = "") {
    auto leader = std::make_unique<CeosAlosjLeaderFile>(
        files.volume.c_str(), (fileId.empty() ? files.fileIds[0] : fileId).c_str());
    EXPECT_EQ(leader->SetFd(), 0);
    return leader;
}

void ExpectRelativelyNear(double actual, double expected) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-12 + 1e-12);
}

}  // namespace

TEST(LeaderFileRead, DescriptorDecodesTheCommonPartAndItsLocators) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    auto leader = OpenLeader(files);
    ReportCapture capture;
    EXPECT_EQ(leader->Read(), 0);
    EXPECT_TRUE(capture.reports().empty());

    const AlosjLeaderFileFileDescriptor& d = leader->FileDescriptor();
    EXPECT_EQ(std::string(d.recordedFileId), files.fileIds[0]);
    EXPECT_EQ(d.recordSequenceNumber, 1);
    EXPECT_EQ(d.recordLength, 4680);
    EXPECT_EQ(d.recordType, 300);  // code byte 0xC0
    EXPECT_EQ(d.value181, 1);
    EXPECT_EQ(d.value187, 4680);
    EXPECT_EQ(d.value193, 1);
    EXPECT_EQ(d.value199, 4680);
    // The writer numbers its groups 0-10 from 217 on: locator i is group i
    // for i < 9, and locator 9 is group 10 at 377 (group 9 at 361 is skipped).
    for (int i = 0; i < 10; ++i) {
        const int group = i < 9 ? i : 10;
        EXPECT_EQ(d.locators[i].part1, 21 + 16 * group) << i;
        EXPECT_EQ(d.locators[i].part2, 16 + group) << i;
        EXPECT_EQ(d.locators[i].part3, group + 1) << i;
        EXPECT_STREQ(d.locators[i].part4, group % 2 ? "N" : "A") << i;
    }
}

TEST(LeaderFileRead, SceneHeaderFieldsComeFromTheirPositions) {
    TempDir dir;
    ProductRecipe product = PrismProduct(2);
    product.leader.geocodingLetter = 'G';
    product.leader.offNadirAngle = "-12.7";
    product.leader.sceneCenterTime = "20070228235959999001";
    product.leader.sceneDate = "28Feb07";
    product.leader.sunAngles = "RSP   123  456";
    product.leader.pixelsPerLine = 14000;
    product.leader.numberOfLines = 16000;
    product.leader.mapProjectionFlags = "NNNNY";
    product.leader.upperLeftLatitude = 35.75;
    product.leader.lowerRightLongitude = 139.0625;
    ProductFiles files = WriteProduct(dir.path(), product);
    auto leader = OpenLeader(files);
    leader->Read();

    const AlosjLeaderFileSceneHeader& h = leader->SceneHeader();
    EXPECT_EQ(h.recordSequenceNumber, 2);
    EXPECT_EQ(h.recordLength, 4680);
    EXPECT_EQ(h.recordType, 12);  // code byte 0x0A
    // ASCII members keep their blanks and end right after the field.
    EXPECT_EQ(std::string(h.productId), "O1B2G_UN        ");
    EXPECT_EQ(h.productId[16], '\0');
    EXPECT_EQ(std::string(h.text373), "-12.7           ");
    EXPECT_EQ(std::string(h.sceneCenterTime), "20070228235959999001" + std::string(12, ' '));
    EXPECT_EQ(std::string(h.sceneDate), "28Feb07 ");
    EXPECT_EQ(std::string(h.text453), "RSP   123  456");
    EXPECT_EQ(std::string(h.mapProjectionFlags), "NNNNY           ");
    EXPECT_EQ(std::string(h.text491), "ALOS PRISM      ");
    EXPECT_EQ(h.pixelsPerLine, 14000);
    EXPECT_EQ(h.numberOfLines, 16000);
    EXPECT_NEAR(h.sceneCenterLatitude, 35.3606, 1e-9);
    EXPECT_NEAR(h.sceneCenterLongitude, 138.7274, 1e-9);
    EXPECT_NEAR(h.sceneCenterLine, 8000.5, 1e-9);
    EXPECT_NEAR(h.sceneCenterPixel, 7000.5, 1e-9);
    EXPECT_NEAR(h.upperLeftLatitude, 35.75, 1e-9);
    EXPECT_NEAR(h.upperLeftLongitude, 138.5374, 1e-9);
    EXPECT_NEAR(h.upperRightLatitude, 35.5306, 1e-9);
    EXPECT_NEAR(h.upperRightLongitude, 138.9174, 1e-9);
    EXPECT_NEAR(h.lowerLeftLatitude, 35.1906, 1e-9);
    EXPECT_NEAR(h.lowerLeftLongitude, 138.5374, 1e-9);
    EXPECT_NEAR(h.lowerRightLatitude, 35.2006, 1e-9);
    EXPECT_NEAR(h.lowerRightLongitude, 139.0625, 1e-9);
    EXPECT_EQ(h.int1861, 1);
    EXPECT_EQ(h.int1867, 2);
    EXPECT_EQ(h.int1876, 10);  // 1873-1875 are skipped
}

TEST(LeaderFileRead, Ancillary1HoldsProjectionValuesAndPixelSizes) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(2);
    product.leader.xPixelSize1B2 = 12.5;
    product.leader.hemisphereCode = 1;
    product.leader.utmZoneNumber = 53;
    product.leader.sceneCenterNorthing = 3950.0;
    product.leader.sceneCenterEasting = 500.0;
    product.leader.psSceneCenterEasting = -250.5;
    product.leader.ellipsoidName = "WGS84";
    ProductFiles files = WriteProduct(dir.path(), product);
    auto leader = OpenLeader(files);
    leader->Read();

    const AlosjLeaderFileAncillary1& a = leader->Ancillary1();
    EXPECT_EQ(a.recordSequenceNumber, 3);
    EXPECT_NEAR(a.xPixelSize, 10.0, 1e-12);
    EXPECT_NEAR(a.yPixelSize, 10.0, 1e-12);
    EXPECT_NEAR(a.xPixelSize1B2, 12.5, 1e-12);
    EXPECT_NEAR(a.yPixelSize1B2, 10.0, 1e-12);
    EXPECT_EQ(a.hemisphereCode, 1);
    EXPECT_EQ(a.utmZoneNumber, 53);
    EXPECT_NEAR(a.sceneCenterNorthing, 3950.0, 1e-9);
    EXPECT_NEAR(a.sceneCenterEasting, 500.0, 1e-9);
    EXPECT_NEAR(a.projectionCenterLatitude, 35.3606, 1e-9);
    EXPECT_NEAR(a.projectionCenterLongitude, 138.7274, 1e-9);
    EXPECT_NEAR(a.psSceneCenterEasting, -250.5, 1e-9);
    EXPECT_NEAR(a.psSceneCenterNorthing, -4321.765, 1e-9);
    EXPECT_EQ(std::string(a.ellipsoidName), "WGS84           ");
    for (int j = 0; j < 32; ++j)
        for (int n = 0; n < 10; ++n)
            EXPECT_EQ(a.coefficientSets[j][n], product.leader.coefficientSets[j][n]) << j << "," << n;
}

TEST(LeaderFileAncillary1, CoefficientTermsLandWhereTheTableFixesThem) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    PatchFile(files.leader, At(kAncillary1, 1965), BigEndianDouble(-1.5e-7));
    PatchFile(files.leader, At(kAncillary1, 2045), BigEndianDouble(2.75));
    PatchFile(files.leader, At(kAncillary1, 4517), BigEndianDouble(6378137.0));
    auto leader = OpenLeader(files);
    leader->Read();
    const AlosjLeaderFileAncillary1& a = leader->Ancillary1();
    EXPECT_EQ(a.coefficientSets[0][0], -1.5e-7);
    EXPECT_EQ(a.coefficientSets[1][0], 2.75);
    EXPECT_EQ(a.coefficientSets[31][9], 6378137.0);
    // Their neighbours keep what the writer put there.
    const CoefficientSets defaults = DefaultCoefficientSets();
    EXPECT_EQ(a.coefficientSets[0][1], defaults[0][1]);
    EXPECT_EQ(a.coefficientSets[0][9], defaults[0][9]);
    EXPECT_EQ(a.coefficientSets[31][8], defaults[31][8]);
}

TEST(LeaderFileAncillary2, LayoutFollowsTheSensorOfTheFileId) {
    TempDir prismDir, avnirDir;
    ProductRecipe prism = PrismProduct(1);
    prism.leader.prismAncillary2.correctedLevelLower = 6;
    prism.leader.prismAncillary2.correctedLevelUpper = 4992;
    prism.leader.prismAncillary2.compressionMode = "Q";
    prism.leader.prismAncillary2.temperatures = {-1.5, 2.25};
    prism.leader.prismAncillary2.calibration = {3.125, -4.0};
    ProductRecipe avnir = Avnir2Product(1);
    avnir.leader.avnir2Ancillary2.correctedLevelUpper = 7100;
    avnir.leader.avnir2Ancillary2.sensorGains = "BAND-4";
    avnir.leader.avnir2Ancillary2.temperatures[0] = 0.5;
    avnir.leader.avnir2Ancillary2.calibration[0] = 10.5;
    avnir.leader.avnir2Ancillary2.exposureCoefficients = {11, -22, 33, 44444};
    avnir.leader.avnir2Ancillary2.temperatures[8] = -99.875;
    avnir.leader.avnir2Ancillary2.calibration[7] = 123.5;

    auto prismLeader = OpenLeader(WriteProduct(prismDir.path(), prism));
    auto avnirLeader = OpenLeader(WriteProduct(avnirDir.path(), avnir));
    ReportCapture capture;
    prismLeader->Read();
    avnirLeader->Read();
    EXPECT_TRUE(capture.reports().empty());

    const AlosjPrismLeaderFileAncillary2* p = prismLeader->PrismAncillary2();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(prismLeader->Avnir2Ancillary2(), nullptr);
    EXPECT_EQ(prismLeader->Ancillary2(), p);
    EXPECT_EQ(p->recordSequenceNumber, 4);
    EXPECT_EQ(std::string(p->sensorOperationMode), "PSM ");
    EXPECT_EQ(p->correctedLevelLower, 6);
    EXPECT_EQ(p->correctedLevelUpper, 4992);
    EXPECT_EQ(std::string(p->text57), "CCD-6 ");
    EXPECT_STREQ(p->compressionMode, "Q");
    EXPECT_DOUBLE_EQ(p->temperatures[0], -1.5);
    EXPECT_DOUBLE_EQ(p->temperatures[1], 2.25);
    EXPECT_DOUBLE_EQ(p->calibration[0], 3.125);
    EXPECT_DOUBLE_EQ(p->calibration[1], -4.0);

    const AlosjAvnir2LeaderFileAncillary2* v = avnirLeader->Avnir2Ancillary2();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(avnirLeader->PrismAncillary2(), nullptr);
    EXPECT_EQ(std::string(v->sensorOperationMode), "AV2 ");
    EXPECT_EQ(v->correctedLevelUpper, 7100);
    EXPECT_EQ(v->exposureCoefficients[0], 11);
    EXPECT_EQ(v->exposureCoefficients[1], -22);
    EXPECT_EQ(v->exposureCoefficients[3], 44444);
    EXPECT_EQ(std::string(v->sensorGains), "BAND-4");
    EXPECT_DOUBLE_EQ(v->temperatures[0], 0.5);
    EXPECT_DOUBLE_EQ(v->temperatures[8], -99.875);
    EXPECT_DOUBLE_EQ(v->calibration[0], 10.5);
    EXPECT_DOUBLE_EQ(v->calibration[7], 123.5);
}

TEST(LeaderFileAncillary3, TwentyEightPointsFillEveryStateVector) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    // Point 27's Z velocity is the last of the 28 × 6 values: 4061-4082.
    PatchFile(files.leader, At(kAncillary3, 4061), "-7.654321000000000E+03");
    auto leader = OpenLeader(files);
    leader->Read();

    const AlosjLeaderFileAncillary3& a = leader->Ancillary3();
    const LeaderRecipe recipe;
    EXPECT_EQ(a.recordSequenceNumber, 5);
    EXPECT_EQ(std::string(a.orbitalElementsDesignator).substr(0, 12), "PRELIMINARY ");
    EXPECT_NEAR(a.orbitalElements[2], 98.16, 1e-9);
    EXPECT_EQ(a.numberOfDataPoints, 28);
    EXPECT_EQ(a.StoredDataPoints(), 28);
    EXPECT_EQ(a.firstPointYear, 2006);
    EXPECT_EQ(a.firstPointDayOfYear, 286);
    EXPECT_DOUBLE_EQ(a.firstPointSecondOfDay, 7290.0);
    EXPECT_DOUBLE_EQ(a.dataPointInterval, 60.0);
    EXPECT_EQ(std::string(a.referenceCoordinateSystem).substr(0, 4), "ECR ");
    EXPECT_DOUBLE_EQ(a.greenwichMeanHourAngle, 123.456789);
    EXPECT_NEAR(a.positionVelocityErrors[5], 0.0125, 1e-12);
    for (int c = 0; c < 28; ++c) {
        const StateVector& v = recipe.dataPoints[c];
        ExpectRelativelyNear(a.positionX[c], v.x);
        ExpectRelativelyNear(a.positionY[c], v.y);
        ExpectRelativelyNear(a.positionZ[c], v.z);
        ExpectRelativelyNear(a.velocityX[c], v.vx);
        ExpectRelativelyNear(a.velocityY[c], v.vy);
        if (c < 27) ExpectRelativelyNear(a.velocityZ[c], v.vz);
    }
    EXPECT_DOUBLE_EQ(a.velocityZ[27], -7654.321);
    EXPECT_EQ(a.leapSecondFlag, 0);
}

TEST(LeaderFileAncillary3, CountsOutsideTheRecordsRoomStoreWhatFits) {
    struct Case {
        int declared;
        int stored;
    };
    for (Case c : {Case{0, 0}, Case{-3, 0}, Case{5, 5}, Case{40, 28}, Case{9999, 28}}) {
        TempDir dir;
        ProductRecipe product = PrismProduct(1);
        product.leader.declaredDataPoints = c.declared;
        product.leader.leapSecondFlag = 1;
        auto leader = OpenLeader(WriteProduct(dir.path(), product));
        leader->Read();
        const AlosjLeaderFileAncillary3& a = leader->Ancillary3();
        EXPECT_EQ(a.numberOfDataPoints, c.declared);
        EXPECT_EQ(a.StoredDataPoints(), c.stored) << c.declared;
        for (int k = 0; k < 28; ++k) {
            if (k < c.stored) {
                ExpectRelativelyNear(a.positionX[k], product.leader.dataPoints[k].x);
                ExpectRelativelyNear(a.velocityZ[k], product.leader.dataPoints[k].vz);
            } else {
                EXPECT_EQ(a.positionX[k], 0.0) << c.declared << " point " << k;
                EXPECT_EQ(a.velocityZ[k], 0.0) << c.declared << " point " << k;
            }
        }
        // The flag after the points is decoded whatever the count.
        EXPECT_EQ(a.leapSecondFlag, 1) << c.declared;
    }
}

TEST(LeaderFileRead, TruncatedInsideRecord4ReportsRecords4And5Only) {
    for (ProductRecipe product : {PrismProduct(1), Avnir2Product(0)}) {
        TempDir dir;
        ProductFiles files = WriteProduct(dir.path(), product);
        testing_support::TruncateFile(files.leader, kAncillary2 + 100);
        auto leader = OpenLeader(files);
        ReportCapture capture;
        EXPECT_EQ(leader->Read(), 0);
        const std::string ancillary2 = product.IsPrism() ? "AlosjPrismLeaderFileAncillary2::Read"
                                                         : "AlosjAvnir2LeaderFileAncillary2::Read";
        EXPECT_EQ(capture.Summary(),
                  (std::vector<std::string>{ancillary2 + ": tfio_ReadDirect failure",
                                            "AlosjLeaderFileAncillary3::Read: tfio_ReadDirect failure"}));
        for (const auto& report : capture.reports()) {
            ASSERT_EQ(report.size(), 2u);  // wraps the host's report of the short read
            EXPECT_EQ(report[1].operation, "tfio_ReadDirect");
        }
        // Records 1 to 3 are usable, records 4 and 5 stay as created.
        EXPECT_EQ(std::string(leader->FileDescriptor().recordedFileId), files.fileIds[0]);
        EXPECT_EQ(leader->SceneHeader().numberOfLines, product.image.lines);
        EXPECT_EQ(leader->Ancillary1().utmZoneNumber, 54);
        EXPECT_EQ(leader->Ancillary1().coefficientSets[31][9], product.leader.coefficientSets[31][9]);
        ASSERT_NE(leader->Ancillary2(), nullptr);
        EXPECT_EQ(leader->Ancillary2()->recordLength, 0);
        EXPECT_STREQ(leader->Ancillary2()->sensorOperationMode, "");
        EXPECT_EQ(leader->Ancillary3().numberOfDataPoints, 0);
        EXPECT_EQ(leader->Ancillary3().positionX[0], 0.0);
    }
}

TEST(LeaderFileRead, EveryUnreadableRecordIsReportedUnderItsOwnName) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    // 150 bytes still hold the file ID that identification compares.
    testing_support::TruncateFile(files.leader, 150);
    auto leader = OpenLeader(files);
    ReportCapture capture;
    EXPECT_EQ(leader->Read(), 0);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"CeosAlosjFileDescriptor::Read: tfio_ReadDirect failure",
                                        "AlosjLeaderFileFileDescriptor::Read: tfio_ReadDirect failure",
                                        "AlosjLeaderFileSceneHeader::Read: tfio_ReadDirect failure",
                                        "AlosjLeaderFileAncillary1::Read: tfio_ReadDirect failure",
                                        "AlosjPrismLeaderFileAncillary2::Read: tfio_ReadDirect failure",
                                        "AlosjLeaderFileAncillary3::Read: tfio_ReadDirect failure"}));
    EXPECT_STREQ(leader->FileDescriptor().recordedFileId, "");

    // The common part alone: the leader's own part still fails on its own.
    TempDir dir2;
    ProductFiles files2 = WriteProduct(dir2.path(), PrismProduct(1));
    testing_support::TruncateFile(files2.leader, 300);
    auto leader2 = OpenLeader(files2);
    capture.Clear();
    leader2->Read();
    ASSERT_EQ(capture.reports().size(), 5u);
    EXPECT_EQ(capture.Summary()[0], "AlosjLeaderFileFileDescriptor::Read: tfio_ReadDirect failure");
    EXPECT_EQ(std::string(leader2->FileDescriptor().recordedFileId), files2.fileIds[0]);
    EXPECT_EQ(leader2->FileDescriptor().value181, 0);
}

TEST(LeaderFileRead, RecordsAreFoundByOffsetWhateverTheirLengthsSay) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    PatchFile(files.leader, 180, "999999000001999999000001");          // descriptor counts and lengths
    PatchFile(files.leader, At(kSceneHeader, 9), std::string(4, '\0'));  // scene header length 0
    PatchFile(files.leader, At(kAncillary1, 9), "\x7F\xFF\xFF\xFF");   // ancillary 1 length huge
    auto leader = OpenLeader(files);
    ReportCapture capture;
    leader->Read();
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(leader->FileDescriptor().value181, 999999);
    EXPECT_EQ(leader->SceneHeader().recordLength, 0);
    EXPECT_EQ(std::string(leader->SceneHeader().productId), "O1B1__A         ");
    EXPECT_EQ(leader->Ancillary1().recordLength, INT32_MAX);
    EXPECT_NEAR(leader->Ancillary1().xPixelSize, 2.5, 1e-12);
    EXPECT_EQ(leader->Ancillary3().numberOfDataPoints, 28);
}

TEST(LeaderFileRead, FileIdOfNoKnownSensorSkipsAncillaryRecord2WithAReport) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    const std::string otherId = "ALXXX_N1LED     ";
    PatchFile(files.leader, 48, otherId);
    auto leader = OpenLeader(files, otherId);
    EXPECT_EQ(leader->Ancillary2(), nullptr);
    ReportCapture capture;
    EXPECT_EQ(leader->Read(), 0);
    EXPECT_EQ(capture.Summary(), (std::vector<std::string>{
                                     "CeosAlosjLeaderFile::Read: Unknown sensor: ancillary record 2 not read"}));
    EXPECT_EQ(leader->PrismAncillary2(), nullptr);
    EXPECT_EQ(leader->Avnir2Ancillary2(), nullptr);
    EXPECT_EQ(leader->Ancillary3().numberOfDataPoints, 28);
}

TEST(LeaderWriter, FieldsSitAtTheirTablePositionsInTheFile) {
    TempDir dir;
    ProductRecipe product = PrismProduct(2);
    product.leader.offNadirAngle = "+30";
    product.leader.dataPoints[27].vz = -7654.321;
    ProductFiles files = WriteProduct(dir.path(), product);
    const std::vector<unsigned char> bytes = testing_support::ReadFileBytes(files.leader);
    ASSERT_EQ(bytes.size(), 5u * 4680u);
    auto text = [&](long recordOffset, int position, int length) {
        return std::string(bytes.begin() + At(recordOffset, position),
                           bytes.begin() + At(recordOffset, position) + length);
    };
    // Record headers: sequence numbers 1-5 and length 4680 (0x1248) each.
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(text(4680 * r, 1, 4), std::string("\0\0\0", 3) + static_cast<char>(r + 1));
        EXPECT_EQ(text(4680 * r, 9, 4), std::string("\0\0\x12\x48", 4));
    }
    EXPECT_EQ(text(kSceneHeader, 21, 16), "O1B2R_UN        ");
    EXPECT_EQ(text(kSceneHeader, 373, 16), "+30             ");
    EXPECT_EQ(text(kSceneHeader, 1557, 16), "YNNNNNNNNNNNNNNN");
    EXPECT_EQ(text(kAncillary1, 93, 4), "   0");
    EXPECT_EQ(text(kAncillary1, 97, 12), "          54");
    EXPECT_EQ(text(kAncillary1, 765, 16), "GRS80           ");
    EXPECT_EQ(text(kAncillary1, 1965, 8), BigEndianDouble(product.leader.coefficientSets[0][0]));
    EXPECT_EQ(text(kAncillary1, 4517, 8), BigEndianDouble(product.leader.coefficientSets[31][9]));
    EXPECT_EQ(text(kAncillary3, 141, 4), "  28");
    EXPECT_EQ(text(kAncillary3, 4061, 22), "-7.654321000000000E+03");
    EXPECT_EQ(text(kAncillary3, 4101, 1), "0");
}
