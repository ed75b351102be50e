// The wells (global `gravityControl`): one list, a target count followed one
// well per frame, and every well's frame in list order.
#pragma once

#include <vector>

#include "drawBatch.h"
#include "gravity.h"

class GravityControl {
public:
    std::vector<Gravity> myList;
    float baseSize;
    int count;
    int total;
    bool showOrb;
    // The wells drawn from vertex arrays after all of them have moved (the
    // default), or each by its own immediate render() as it goes.
    bool mBatchedDraw;
    DrawBatch mHaloBatch, mCoreBatch;

    explicit GravityControl(int initialTotal);
    void exist();
    void adjustAmount();
    void iterateList();
    void repositionAll();
    // Every well's drawing (render()'s easing of d included) without moving
    // any: the batched pass, or each well's render() in list order.
    void render();
    void renderBatched();
    void add() { total += 1; }
    void subtract() { total -= 1; }
    std::vector<Gravity>* getList() { return &myList; }
};
