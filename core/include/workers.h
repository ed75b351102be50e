// One persistent helper thread for the frame's parallel steps: the field's
// pair pass and moves (fieldStep.h) and the light layer's tiles
// (lightLayer.h), all on the drawing thread, one at a time.
//
// runTasks(threaded, count, task) runs task(k) for every k in [0, count)
// exactly once and returns when all are done: on the calling thread alone,
// or with `threaded` on it and the helper (made on first use, living until
// the process ends). Which thread runs which k varies from call to call, so
// tasks must write disjoint results; then the results are the same whatever
// the split. Nothing here fails.
#pragma once

#include <functional>

void runTasks(bool threaded, int count, const std::function<void(int)>& task);
