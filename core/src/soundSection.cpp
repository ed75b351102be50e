#include <cstdint>

#include "lumenvortexApplet.h"
#include "sounds.h"

SoundSection::SoundSection(int indexSent, int indexStartSent, int indexEndSent)
    : index(indexSent),
      indexStart(indexStartSent),
      indexEnd(indexEndSent),
      count(0),
      indexTotal(indexEndSent - indexStartSent),
      levels(new float[indexEndSent - indexStartSent]()),
      total(0),
      history(10),
      average(new float[10]()),
      peak(0),
      beatCounter(0),
      numBeats(0),
      // Counting from construction keeps every section quiet for its first 800 ms.
      lastBeatTimer((int32_t)millis()),
      currentTimer(0),
      timerGap(800) {}

SoundSection::~SoundSection() {
    delete[] levels;
    delete[] average;
}

void SoundSection::exist() {
    beatCounter += 1;
    currentTimer = (int32_t)millis();
    getLevels();
}

void SoundSection::getLevels() {
    total = 0;
    count = 0;
    for (int b = indexStart; b < indexEnd; b++) {
        levels[count] = sounds.getLevel(b);
        total += sounds.getLevel(b);
        count += 1;
    }
    for (int j = history - 1; j > 0; j--) average[j] = average[j - 1];
    average[0] = total / indexTotal;

    float a = average[0];
    float threshold = (float)(16 - 2 * index);
    // The 32-bit timers wrap after 24.8 days of play. Taken modulo 2^32 the
    // difference stays right across the wrap, where a signed subtraction
    // would overflow.
    float sinceLastBeat = (float)(int32_t)((uint32_t)currentTimer - (uint32_t)lastBeatTimer);
    if (a > peak && a > threshold && sinceLastBeat > timerGap) {
        peak = a;
        lastBeatTimer = currentTimer;
        sounds.trigger(index);
        beatCounter = 0;
        numBeats += 1;
        return;
    }
    // The reference holds for 50 passes after a beat, then sinks so the next beat comes easier.
    if (beatCounter > 50) peak *= PEAK_DECAY;
}
