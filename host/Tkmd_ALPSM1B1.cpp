#include "host/Tkmd_ALPSM1B1.h"

void Tkmd_ALPSM1B1_EPH_Release(Tkmd_ALPSM1B1_EPH* ephemeris) {
    if (!ephemeris) return;
    tmsc_HeapFree(ephemeris->startTime);
    AlosjTableFree(ephemeris->ephemeris);
    AlosjReferenceEntryFree(ephemeris->referenceEntry);
    AlosjTableFree(ephemeris->matrices);
    ephemeris->startTime = nullptr;
    ephemeris->ephemeris = nullptr;
    ephemeris->referenceEntry = nullptr;
    ephemeris->matrices = nullptr;
}

void Tkmd_ALPSM1B1_ATT_Release(Tkmd_ALPSM1B1_ATT* attitude) {
    if (!attitude) return;
    tmsc_HeapFree(attitude->startTime);
    AlosjTableFree(attitude->attitude);
    attitude->startTime = nullptr;
    attitude->attitude = nullptr;
}

void Tkmd_ALPSM1B1_IMG_Release(Tkmd_ALPSM1B1_IMG* scene) {
    if (!scene) return;
    tmsc_HeapFree(scene->viewName);
    tmsc_HeapFree(scene->sceneText);
    scene->viewName = nullptr;
    scene->sceneText = nullptr;
}
