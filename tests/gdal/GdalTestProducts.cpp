#include "GdalTestProducts.h"

#include "tools/writer/SampleScene.h"

namespace gdaltest {

namespace {

using ceoswriter::ProductRecipe;

// Dummy widths that differ from file to file and from line to line, so that
// row assembly has real cuts to make.
void VaryDummyWidths(ProductRecipe& recipe) {
    recipe.image.leftDummyWidth = [](int file, int line) { return 4 + (file + line) % 3; };
    recipe.image.rightDummyWidth = [](int file, int line) { return 3 + (file * 2 + line) % 2; };
}

ProductRecipe Prism1B1() {
    ProductRecipe recipe = ceoswriter::PrismProduct(1, 'N');
    recipe.image.pixelsPerLine = 80;
    recipe.image.lines = 24;
    VaryDummyWidths(recipe);
    return recipe;
}

ProductRecipe Prism1AForward() {
    ProductRecipe recipe = ceoswriter::PrismProduct(0, 'F');
    recipe.designators = {3, 4, 5, 6};
    recipe.image.pixelsPerLine = 72;
    recipe.image.lines = 18;
    VaryDummyWidths(recipe);
    return recipe;
}

// A geocoded PRISM Level 1B2 product oriented to grid north.
ProductRecipe Prism1B2(char letter, const char* mapDirection) {
    ProductRecipe recipe = ceoswriter::PrismProduct(2, 'B');
    recipe.image.pixelsPerLine = 96;
    recipe.image.lines = 20;
    recipe.leader.geocodingLetter = letter;
    recipe.summary = ceoswriter::SummaryRecipe{};
    recipe.summary->mapDirection = std::string(mapDirection);
    recipe.leader.xPixelSize1B2 = 2.5;
    recipe.leader.yPixelSize1B2 = 2.5;
    return recipe;
}

ProductRecipe Avnir21B1() {
    ProductRecipe recipe = ceoswriter::Avnir2Product(1);
    recipe.image.pixelsPerLine = 72;
    recipe.image.lines = 30;
    recipe.leader.offNadirAngle = "+30.0";  // a de-stagger shift of 6 lines
    VaryDummyWidths(recipe);
    return recipe;
}

ProductRecipe Avnir21B2() {
    ProductRecipe recipe = ceoswriter::Avnir2Product(2);
    recipe.image.pixelsPerLine = 88;
    recipe.image.lines = 26;
    recipe.leader.geocodingLetter = 'G';
    recipe.leader.xPixelSize1B2 = 10.0;
    recipe.leader.yPixelSize1B2 = 12.5;
    return recipe;
}

ProductRecipe Avnir21B2South() {
    ProductRecipe recipe = Avnir21B2();
    recipe.leader.hemisphereCode = 1;
    recipe.leader.utmZoneNumber = 19;
    recipe.leader.sceneCenterNorthing = 6123.25;
    recipe.leader.sceneCenterEasting = 402.5;
    return recipe;
}

ProductRecipe Avnir21B2PolarStereographic() {
    ProductRecipe recipe = Avnir21B2();
    recipe.leader.mapProjectionFlags = "NNNNYNNNNNNNNNNN";
    recipe.leader.projectionCenterLatitude = 78.25;
    recipe.leader.projectionCenterLongitude = 15.5;
    recipe.leader.psSceneCenterEasting = 512.125;
    recipe.leader.psSceneCenterNorthing = -1250.5;
    return recipe;
}

ProductRecipe WithEllipsoid(ProductRecipe recipe, const char* ellipsoid) {
    recipe.leader.ellipsoidName = ellipsoid;
    return recipe;
}

// A corner no place on Earth has: the scene cannot be placed by its corners.
ProductRecipe Prism1B1ImpossibleCorners() {
    ProductRecipe recipe = Prism1B1();
    recipe.leader.lowerLeftLatitude = 123.0;
    return recipe;
}

// Digital numbers whose radiance real products' gains are known for (0.588 ×
// 112 = 65.856, 0.573 × 130 = 74.49, 0.502 × 40 = 20.08, 0.835 × 10 = 8.35,
// 0.541 × 66 = 35.706), with fill (DN 0) in the first line.
constexpr int kKnownDn[4] = {112, 130, 40, 10};
constexpr int kKnownPrismDn = 66;

ProductRecipe Avnir21B2KnownDn() {
    ProductRecipe recipe = Avnir21B2();
    recipe.image.pixel = [](int file, int line, int) { return static_cast<uint8_t>(line == 0 ? 0 : kKnownDn[file % 4]); };
    return recipe;
}

ProductRecipe Prism1B1KnownDn() {
    ProductRecipe recipe = Prism1B1();
    recipe.image.pixel = [](int, int line, int) { return static_cast<uint8_t>(line == 0 ? 0 : kKnownPrismDn); };
    return recipe;
}

// Offsets that differ from band to band: the (gain, offset) pairs lie band
// after band in the radiometric record.
ProductRecipe Avnir21B1Offsets() {
    ProductRecipe recipe = Avnir21B1();
    recipe.leader.avnir2Ancillary2.calibration = {0.588, 1.5, 0.573, -2.25, 0.502, 3.125, 0.8355, 0.75};
    return recipe;
}

ProductRecipe Avnir21A() {
    ProductRecipe recipe = ceoswriter::Avnir2Product(0);
    recipe.image.pixelsPerLine = 72;
    recipe.image.lines = 30;
    return recipe;
}

// The sample scene, small: its geolocation polynomials fit its geometry.
ProductRecipe Prism1B1WithPolynomials() {
    return ceoswriter::SampleScene({ceoswriter::Sensor::Prism, 1, ceoswriter::SampleSize::Tiny}).Product();
}

ProductRecipe Avnir21B1WithPolynomials() {
    return ceoswriter::SampleScene({ceoswriter::Sensor::Avnir2, 1, ceoswriter::SampleSize::Tiny}).Product();
}

struct Named {
    const char* name;
    ProductRecipe (*make)();
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
    {"avnir2-1b2-bessel", [] { return WithEllipsoid(Avnir21B2(), "BESSEL 1841"); }},
    {"prism-1b1-bessel", [] { return WithEllipsoid(Prism1B1(), "BESSEL"); }},
    {"avnir2-1b2-unknown-ellipsoid", [] { return WithEllipsoid(Avnir21B2(), "MARS2000"); }},
    {"prism-1b1-impossible-corners", Prism1B1ImpossibleCorners},
    {"avnir2-1b2-known-dn", Avnir21B2KnownDn},
    {"prism-1b1-known-dn", Prism1B1KnownDn},
    {"avnir2-1b1-offsets", Avnir21B1Offsets},
    {"avnir2-1a", Avnir21A},
    {"prism-1b1-polynomials", Prism1B1WithPolynomials},
    {"avnir2-1b1-polynomials", Avnir21B1WithPolynomials},
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

ProductRecipe ProductByName(const std::string& name, bool* known) {
    for (const Named& product : kProducts)
        if (name == product.name) {
            if (known) *known = true;
            return product.make();
        }
    if (known) *known = false;
    return Prism1B1();
}

}  // namespace gdaltest
