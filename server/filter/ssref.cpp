// Release of a reference-counted runtime object.
#include "server/filter/ssref.h"

void SSRefCount::release(bool deleteAtZero) {
    if (count == 0) {
        ssError(kSSRefBelowZero, "%s", kSSRefBelowZeroMsg);
        return;
    }
    if (--count == 0 && deleteAtZero) delete this;
}
