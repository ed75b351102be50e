#include "sounds.h"

#include "lumenvortexApplet.h"

const int Sounds::sectionIndex[6] = {0, 12, 28, 60, 124, 255};

Sounds::Sounds()
    : multi(DEFAULT_MULTI),
      numAnalyzed(0),
      numSections(0),
      levels(new float[numBands]()),
      peaks(new float[numBands]()),
      maxed(new bool[numBands]()),
      totalMaxed(0),
      volume(0),
      volumeOld(0),
      beatVolume(0),
      beatOld(0),
      live(true),
      totalSections(6),
      // A new analyser listens to nothing until a source is attached.
      mSoundsSource(nullptr) {
    for (int i = 0; i < totalSections - 1; i++)
        soundSections.push_back(new SoundSection(i, sectionIndex[i], sectionIndex[i + 1]));
}

Sounds::~Sounds() {
    delete[] levels;
    delete[] peaks;
    delete[] maxed;
    for (SoundSection* section : soundSections) delete section;
}

void Sounds::exist() {
    populateData();
    useData();
    checkSoundSections();
}

void Sounds::populateData() {
    if (!mSoundsSource) {
        // Nothing attached: hear silence rather than read through a null source.
        for (int i = 0; i < numBands; i++) levels[i] = 0;
        return;
    }
    mSoundsSource->update();
    const unsigned char* L = mSoundsSource->getLeftSpectrumData();
    const unsigned char* R = mSoundsSource->getRightSpectrumData();
    // Bin 255 stands for the noise floor and is taken off every band.
    float floor = (R[255] + L[255]) * 0.5f;
    for (int i = 0; i < numBands; i++) levels[i] = (R[i] + L[i]) * 0.5f - floor;
}

void Sounds::useData() {
    totalMaxed = 0;
    for (int i = 0; i < numBands; i++) {
        // Tilt toward the treble, whose bins come out of the analysis weaker.
        levels[i] *= (float)i * 0.00390625f / 3.0f + 0.7f;
        float g = levels[i] * multi;
        maxed[i] = g >= 127.0f;
        if (maxed[i]) totalMaxed += 1;
    }
    for (int i = 0; i < numBands; i++) {
        float g = levels[i] * multi;
        if (g > peaks[i])
            peaks[i] = g;
        else
            peaks[i] -= 2.0f;
    }
}

void Sounds::checkSoundSections() {
    for (int i = 0; i < totalSections - 1; i++) soundSections[i]->exist();
}

void Sounds::trigger(int sentIndex) {
    switch (sentIndex) {
    case 2:
        colors.setIndex();
        gravityControl.repositionAll();
        pov.setRandomRotation();
        break;
    case 3:
        bgControl.setColor();
        pov.setRandomRotation();
        pov.setRandomPosition();
        break;
    case 4:
        colors.setIndex();
        gravityControl.total = (int)random(1.0f, 5.0f);
        pov.setRandomPosition();
        break;
    default:  // the bass sections only feed the levels
        break;
    }
}
