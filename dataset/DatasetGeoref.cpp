// Georeferencing queries: plain reads of the leader's scene header and
// ancillary record 1, and the upper-left corner derived from the scene
// centre, the pixel sizes and the raster size.
#include <cstring>

#include "dataset/DatasetState.h"

namespace {

// Answers for a product whose leader was never created: zeroed records.
const AlosjLeaderFileSceneHeader& SceneHeaderOf(const CeosAlosjDataset::State& s) {
    static const AlosjLeaderFileSceneHeader none{};
    return s.leaderFile ? s.leaderFile->SceneHeader() : none;
}

const AlosjLeaderFileAncillary1& Ancillary1Of(const CeosAlosjDataset::State& s) {
    static const AlosjLeaderFileAncillary1 none{};
    return s.leaderFile ? s.leaderFile->Ancillary1() : none;
}

}  // namespace

double CeosAlosjDataset::GetXPixelSize() const {
    const AlosjLeaderFileAncillary1& a = Ancillary1Of(*d);
    return d->IsLevel1B2() ? a.xPixelSize1B2 : a.xPixelSize;
}

double CeosAlosjDataset::GetYPixelSize() const {
    const AlosjLeaderFileAncillary1& a = Ancillary1Of(*d);
    return d->IsLevel1B2() ? a.yPixelSize1B2 : a.yPixelSize;
}

double CeosAlosjDataset::GetUpperLeftCornerNorthing() const {
    const AlosjLeaderFileAncillary1& a = Ancillary1Of(*d);
    double centre;
    if (d->mapProjection == "UTM")
        centre = a.sceneCenterNorthing;
    else if (d->mapProjection == "PS")
        centre = a.psSceneCenterNorthing;
    else
        return -1.0;
    const double size = GetYPixelSize();
    return (size * SceneHeaderOf(*d).numberOfLines) * 0.5 + centre * 1000;
}

double CeosAlosjDataset::GetUpperLeftCornerEasting() const {
    const AlosjLeaderFileAncillary1& a = Ancillary1Of(*d);
    double centre;
    if (d->mapProjection == "UTM")
        centre = a.sceneCenterEasting;
    else if (d->mapProjection == "PS")
        centre = a.psSceneCenterEasting;
    else
        return -1.0;
    const double size = GetXPixelSize();
    return centre * 1000 - (GetSceneWidth() * size) * 0.5;
}

long CeosAlosjDataset::GetUTMZoneNum() const { return Ancillary1Of(*d).utmZoneNumber; }

long CeosAlosjDataset::GetUTMHemishpere() const { return Ancillary1Of(*d).hemisphereCode == 0 ? 1 : -1; }

char* CeosAlosjDataset::GetMapProjection() const {
    return d->mapProjection.empty() ? nullptr : &d->mapProjection[0];
}

double CeosAlosjDataset::GetProjectionCenterLon() const { return Ancillary1Of(*d).projectionCenterLongitude; }
double CeosAlosjDataset::GetProjectionCenterLat() const { return Ancillary1Of(*d).projectionCenterLatitude; }
double CeosAlosjDataset::GetSceneCenterUTMX() const { return Ancillary1Of(*d).sceneCenterEasting * 1000; }
double CeosAlosjDataset::GetSceneCenterUTMY() const { return Ancillary1Of(*d).sceneCenterNorthing * 1000; }

char* CeosAlosjDataset::GetEllipsoidName() const {
    static char none[1] = {'\0'};
    return d->leaderFile ? const_cast<char*>(d->leaderFile->Ancillary1().ellipsoidName) : none;
}

void CeosAlosjDataset::GetULCornerLatLon(double* lat, double* lon) const {
    const AlosjLeaderFileSceneHeader& h = SceneHeaderOf(*d);
    if (lat) *lat = h.upperLeftLatitude;
    if (lon) *lon = h.upperLeftLongitude;
}

void CeosAlosjDataset::GetURCornerLatLon(double* lat, double* lon) const {
    const AlosjLeaderFileSceneHeader& h = SceneHeaderOf(*d);
    if (lat) *lat = h.upperRightLatitude;
    if (lon) *lon = h.upperRightLongitude;
}

void CeosAlosjDataset::GetLLCornerLatLon(double* lat, double* lon) const {
    const AlosjLeaderFileSceneHeader& h = SceneHeaderOf(*d);
    if (lat) *lat = h.lowerLeftLatitude;
    if (lon) *lon = h.lowerLeftLongitude;
}

void CeosAlosjDataset::GetLRCornerLatLon(double* lat, double* lon) const {
    const AlosjLeaderFileSceneHeader& h = SceneHeaderOf(*d);
    if (lat) *lat = h.lowerRightLatitude;
    if (lon) *lon = h.lowerRightLongitude;
}

CeosAlosjSummaryFile::MapDirection CeosAlosjDataset::GetMapDirection() const { return d->mapDirection; }

Tmsc_Boolean CeosAlosjDataset::IsGeocoded() const { return d->isGeocoded; }
