#include "GdalTestProducts.h"

namespace gdaltest {

namespace {

using ceoswriter::ProductSpec;

// Dummy widths that differ from file to file and from line to line, so that
// row assembly has real cuts to make.
void VaryDummyWidths(ProductSpec& spec) {
    spec.image.leftDummyWidth = [](int file, int line) { return 4 + (file + line) % 3; };
    spec.image.rightDummyWidth = [](int file, int line) { return 3 + (file * 2 + line) % 2; };
}

ProductSpec Prism1B1() {
    ProductSpec spec = ceoswriter::PrismProduct(1, 'N');
    spec.image.pixelsPerLine = 80;
    spec.image.lines = 24;
    VaryDummyWidths(spec);
    return spec;
}

ProductSpec Prism1AForward() {
    ProductSpec spec = ceoswriter::PrismProduct(0, 'F');
    spec.designators = {3, 4, 5, 6};
    spec.image.pixelsPerLine = 72;
    spec.image.lines = 18;
    VaryDummyWidths(spec);
    return spec;
}

// A geocoded PRISM Level 1B2 product oriented to grid north.
ProductSpec Prism1B2(char letter, const char* mapDirection) {
    ProductSpec spec = ceoswriter::PrismProduct(2, 'B');
    spec.image.pixelsPerLine = 96;
    spec.image.lines = 20;
    spec.leader.geocodingLetter = letter;
    spec.summary = ceoswriter::SummarySpec{};
    spec.summary->mapDirection = std::string(mapDirection);
    spec.leader.xPixelSize1B2 = 2.5;
    spec.leader.yPixelSize1B2 = 2.5;
    return spec;
}

ProductSpec Avnir21B1() {
    ProductSpec spec = ceoswriter::Avnir2Product(1);
    spec.image.pixelsPerLine = 72;
    spec.image.lines = 30;
    spec.leader.text373 = "+30.0";  // a de-stagger shift of 6 lines
    VaryDummyWidths(spec);
    return spec;
}

ProductSpec Avnir21B2() {
    ProductSpec spec = ceoswriter::Avnir2Product(2);
    spec.image.pixelsPerLine = 88;
    spec.image.lines = 26;
    spec.leader.geocodingLetter = 'G';
    spec.leader.xPixelSize1B2 = 10.0;
    spec.leader.yPixelSize1B2 = 12.5;
    return spec;
}

ProductSpec Avnir21B2South() {
    ProductSpec spec = Avnir21B2();
    spec.leader.hemisphereCode = 1;
    spec.leader.utmZoneNumber = 19;
    spec.leader.sceneCenterNorthing = 6123.25;
    spec.leader.sceneCenterEasting = 402.5;
    return spec;
}

ProductSpec Avnir21B2PolarStereographic() {
    ProductSpec spec = Avnir21B2();
    spec.leader.mapProjectionFlags = "NNNNYNNNNNNNNNNN";
    spec.leader.projectionCenterLatitude = 78.25;
    spec.leader.projectionCenterLongitude = 15.5;
    spec.leader.psSceneCenterEasting = 512.125;
    spec.leader.psSceneCenterNorthing = -1250.5;
    return spec;
}

struct Named {
    const char* name;
    ProductSpec (*make)();
};

const Named kProducts[] = {
    {"prism-1b1", Prism1B1},
    {"prism-1a-forward", Prism1AForward},
    {"prism-1b2", [] { return Prism1B2('G', "MapNorth"); }},
    {"prism-1b2-true-north", [] { return Prism1B2('G', "TrueNorth"); }},
    {"prism-1b2-georeferenced", [] { return Prism1B2('R', "MapNorth"); }},
    {"avnir2-1b1", Avnir21B1},
    {"avnir2-1b2", Avnir21B2},
    {"avnir2-1b2-south", Avnir21B2South},
    {"avnir2-1b2-ps", Avnir21B2PolarStereographic},
};

}  // namespace

const std::vector<std::string>& ProductNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Named& product : kProducts) all.push_back(product.name);
        return all;
    }();
    return names;
}

ProductSpec ProductByName(const std::string& name, bool* known) {
    for (const Named& product : kProducts)
        if (name == product.name) {
            if (known) *known = true;
            return product.make();
        }
    if (known) *known = false;
    return Prism1B1();
}

}  // namespace gdaltest
