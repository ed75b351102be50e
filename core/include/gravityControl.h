// The wells (global `gravityControl`): one list, a target count followed one
// well per frame, and every well's frame in list order.
#pragma once

#include <vector>

#include "gravity.h"

class GravityControl {
public:
    std::vector<Gravity> myList;
    float baseSize;
    int count;
    int total;
    bool showOrb;

    explicit GravityControl(int initialTotal);
    void exist();
    void adjustAmount();
    void iterateList();
    void repositionAll();
    void add() { total += 1; }
    void subtract() { total -= 1; }
    std::vector<Gravity>* getList() { return &myList; }
};
