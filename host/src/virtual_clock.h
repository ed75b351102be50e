// The plug-in's time when it draws offline (a render) or paced by its host
// (a stream). Frame pacing and pauses sleep on it, which only moves it on;
// the host sets it forward to each frame's time.
#pragma once

struct VirtualClock {
    long long micros = 0;
    static long long now(void* user) { return static_cast<VirtualClock*>(user)->micros; }
    static void sleep(void* user, long long micros) {
        if (micros > 0) static_cast<VirtualClock*>(user)->micros += micros;
    }
};
