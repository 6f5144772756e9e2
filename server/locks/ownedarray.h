// Adding to and deleting from owning arrays: a new element is owned before the array grows, so a
// failed growth leaks nothing; deleting by a condition keeps the order of what stays.
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

// Deletes every element for which matches(element) is true; answers how many went.
template <class T, class Pred>
i32 DeleteIf(tAutoArray<T>& array, Pred matches) {
    i32 deleted = 0;
    for (i32 i = array.Count() - 1; i >= 0; --i) {
        T* element = array[i];
        if (!matches(*element)) continue;
        array.Delete(i);
        delete element;
        ++deleted;
    }
    return deleted;
}
