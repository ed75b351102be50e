// The music analyser (global `sounds`): band levels from the attached source,
// falling peaks, and beats in five sections. Beats in sections 2 to 4 make
// the scene jump (palette, background, wells, camera).
#pragma once

#include <cstdint>
#include <vector>

#include "soundsSource.h"

class SoundSection {
public:
    int index;
    int indexStart;
    int indexEnd;
    int count;
    int indexTotal;
    float* levels;
    float total;
    int history;
    float* average;
    float peak;
    int beatCounter;
    int numBeats;
    int32_t lastBeatTimer;
    int32_t currentTimer;
    float timerGap;

    static constexpr float PEAK_DECAY = 0.99f;

    SoundSection(int indexSent, int indexStartSent, int indexEndSent);
    ~SoundSection();
    SoundSection(const SoundSection&) = delete;
    SoundSection& operator=(const SoundSection&) = delete;

    void exist();
    void getLevels();
};

class Sounds {
public:
    static const int numBands = 256;
    static constexpr float DEFAULT_MULTI = 0.5f;
    static const int sectionIndex[6];

    float multi;
    int numAnalyzed;
    int numSections;
    float* levels;
    float* peaks;
    bool* maxed;
    int totalMaxed;
    float volume, volumeOld, beatVolume, beatOld;
    bool live;
    int totalSections;
    std::vector<SoundSection*> soundSections;
    SoundsSource* mSoundsSource;

    Sounds();
    ~Sounds();
    Sounds(const Sounds&) = delete;
    Sounds& operator=(const Sounds&) = delete;

    void setSource(SoundsSource* source) { mSoundsSource = source; }
    void exist();
    void populateData();
    void useData();
    void checkSoundSections();
    void trigger(int sentIndex);
    float getLevel(int sentIndex) const { return levels[sentIndex] * multi; }
    float getPeak(int sentIndex) const { return peaks[sentIndex]; }
};
