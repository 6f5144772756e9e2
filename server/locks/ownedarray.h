// Handing a new element to an owning array without a leak should the array's growth fail.
#pragma once
#include <memory>

#include "lib_base/list.h"

// Appends the element (or inserts it at pos, pos == Count() appending) and answers it; the
// array owns it from then on.
template <class T>
T* AddOwned(tAutoArray<T>& array, std::unique_ptr<T> element, i32 pos = -1) {
    if (pos < 0 || pos >= array.Count()) {
        array.Add(element.get());
    } else {
        array.Insert(pos, element.get());
    }
    return element.release();
}
