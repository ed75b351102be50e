// The wells' list. Wells are only appended and only removed from the end, so
// a well's list position is its index; particles keep a pointer to the list
// object, never to a well, and survive its reallocation.
#include "gravityControl.h"

#include "libp5.h"

GravityControl::GravityControl(int initialTotal)
    : baseSize(250), count(0), total(initialTotal), showOrb(true) {}

void GravityControl::exist() {
    baseSize = 50;
    if (total != count) adjustAmount();
    iterateList();
}

// At most one well per frame, so the count walks towards the target.
void GravityControl::adjustAmount() {
    total = constrain(total, 0, 50);
    if (total > count) {
        Vector3D l;
        l.z = random(-2, 2);
        l.y = random(-2, 2);
        l.x = random(-2, 2);
        myList.push_back(Gravity(count, this, &myList, Vector3D(0, 0, 0), Vector3D(0, 0, 0), l));
        count += 1;
    } else if (total < count) {
        myList.pop_back();
        count -= 1;
    }
}

void GravityControl::iterateList() {
    for (Gravity& g : myList) {
        if (g.gone) {
            total -= 1;
            continue;
        }
        g.exist();
    }
}

void GravityControl::repositionAll() {
    for (Gravity& g : myList) g.setRandomPosition();
}
