// The container templates of both deliverables: tArray (growable array of element pointers),
// tAutoArray (the same, owning its elements), tList (doubly linked list of owned elements) and
// tIterator (a cursor over a tList). Misuse, such as an index out of range, is an assertion.
#pragma once
#include <cstring>

#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"
#include "lib_base/types.h"

// Holds pointers; the elements live elsewhere. No lock: owners that share one guard it.
// Invariants: 0 <= count <= capacity; data is null exactly when capacity is 0.
template <class T>
class tArray {
public:
    tArray() = default;
    virtual ~tArray() { tArray::Clear(); }
    tArray(const tArray&) = delete;
    tArray& operator=(const tArray&) = delete;

    virtual void Clear() {
        SetCount(0);
        SetCapacity(0);
    }

    i32 Count() const { return count; }
    i32 GetCapacity() const { return capacity; }
    bool IsEmpty() const { return count == 0; }
    T** GetData() const { return data; }

    i32 Add(T* x) {
        if (count == capacity) Grow();
        data[count] = x;
        return count++;
    }

    void Insert(i32 i, T* x) {
        GML_ASSERT(i >= 0 && i < count, nullptr);
        if (count == capacity) Grow();
        std::memmove(data + i + 1, data + i, static_cast<size_t>(count - i) * sizeof(T*));
        data[i] = x;
        ++count;
    }

    void Delete(i32 i) {
        GML_ASSERT(i >= 0 && i < count, nullptr);
        std::memmove(data + i, data + i + 1, static_cast<size_t>(count - i - 1) * sizeof(T*));
        --count;
    }

    T* Get(i32 i) const {
        GML_ASSERT(data != nullptr, nullptr);
        GML_ASSERT(i >= 0, nullptr);
        GML_ASSERT(i < count, nullptr);
        return data[i];
    }

    T* operator[](i32 i) const {
        GML_ASSERT(i >= 0 && i < count, nullptr);
        return data[i];
    }

    i32 Find(const T* x, bool fromEnd = false) const {
        if (fromEnd) {
            for (i32 i = count - 1; i >= 0; --i) {
                if (data[i] == x) return i;
            }
        } else {
            for (i32 i = 0; i < count; ++i) {
                if (data[i] == x) return i;
            }
        }
        return -1;
    }

    i32 Remove(const T* x, bool fromEnd = false) {
        const i32 i = Find(x, fromEnd);
        if (i >= 0) Delete(i);
        return i;
    }

    // Binary search over an array kept in order by compare(element, key, array), which answers
    // below 0 when the element sorts before the key and 0 when they are equal. True when an
    // equal element was found; pos is then its index, else the index to insert the key at.
    // An empty array answers false and leaves pos alone (callers start it at 0).
    template <class Key, class Compare>
    bool Search(const Key& key, i32& pos, Compare compare) const {
        if (count == 0) return false;
        i32 low = 0;
        i32 high = count - 1;
        bool found = false;
        while (low <= high) {
            const i32 middle = (low + high) / 2;
            const int r = compare(data[middle], key, *this);
            if (r >= 0) {
                high = middle - 1;
                if (r == 0) {
                    found = true;
                    low = middle;
                }
            } else {
                low = middle + 1;
            }
        }
        pos = low;
        return found;
    }

    void SetCapacity(i32 n) {
        GML_ASSERT(n >= count, nullptr);
        if (n == capacity) return;
        if (n == 0) {
            GML_FREE(data);
            data = nullptr;
        } else if (capacity == 0) {
            GML_ASSERT(data == nullptr, nullptr);
            data = static_cast<T**>(
                _gmlalloc(static_cast<size_t>(n) * sizeof(T*), Mem_List, __FILE__, __LINE__));
        } else {
            data = static_cast<T**>(GML_REALLOC(data, static_cast<size_t>(n) * sizeof(T*)));
        }
        capacity = n;
    }
    i32 SetCapacityTo(i32 n) {
        SetCapacity(n);
        return capacity;
    }

    void SetCount(i32 n) {
        GML_ASSERT(n >= 0, nullptr);
        if (n > capacity) SetCapacity(n);
        for (i32 i = count; i < n; ++i) data[i] = nullptr;
        count = n;
    }

private:
    void Grow() {
        const i32 step = capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 2;
        SetCapacity(capacity + step);
    }

    T** data = nullptr;
    i32 count = 0;
    i32 capacity = 0;
};

// Owns its elements: Clear and destruction delete every element still held, last first.
template <class T>
class tAutoArray : public tArray<T> {
public:
    tAutoArray() = default;
    ~tAutoArray() override { tAutoArray::Clear(); }

    void Clear() override {
        for (i32 i = this->Count() - 1; i >= 0; --i) {
            T* element = this->GetData()[i];
            this->Delete(i);
            delete element;
        }
        tArray<T>::Clear();
    }
};

template <class T>
class tRefNode {
public:
    tRefNode(T* element, bool owns) : element(element), owns(owns) {}
    virtual ~tRefNode() = default;
    tRefNode(const tRefNode&) = delete;
    tRefNode& operator=(const tRefNode&) = delete;

    T* element;
    tRefNode* next = nullptr;
    tRefNode* prev = nullptr;
    u8 owns;
};

// A node that deletes its element when it owns it.
template <class T>
class tNode : public tRefNode<T> {
public:
    explicit tNode(T* element, bool owns = true) : tRefNode<T>(element, owns) {}
    ~tNode() override {
        if (this->owns) delete this->element;
    }
};

template <class T>
class tBaseList {
public:
    tBaseList() = default;
    virtual ~tBaseList() {
        while (tail) {
            tRefNode<T>* node = tail;
            Unlink(node);
            delete node;
        }
    }
    tBaseList(const tBaseList&) = delete;
    tBaseList& operator=(const tBaseList&) = delete;

    i32 Count() const { return count; }
    tRefNode<T>* GetFirst() const { return head; }

protected:
    void LinkAtTail(tRefNode<T>* node) {
        node->prev = tail;
        node->next = nullptr;
        if (tail) {
            tail->next = node;
        } else {
            head = node;
        }
        tail = node;
        ++count;
    }
    void Unlink(tRefNode<T>* node) {
        if (node->prev) {
            node->prev->next = node->next;
        } else {
            head = node->next;
        }
        if (node->next) {
            node->next->prev = node->prev;
        } else {
            tail = node->prev;
        }
        node->next = node->prev = nullptr;
        --count;
    }

private:
    tRefNode<T>* head = nullptr;
    tRefNode<T>* tail = nullptr;
    i32 count = 0;
};

// The list used by the rest of the system; its nodes own their elements.
template <class T>
class tList : public tBaseList<T> {
public:
    void Add(T* element) { this->LinkAtTail(new tNode<T>(element)); }
};

template <class T>
class tBaseIterator {
public:
    explicit tBaseIterator(const tBaseList<T>* list) : list(list) {
        GML_ASSERT(list != nullptr, nullptr);
        current = list->GetFirst();
    }
    virtual ~tBaseIterator() = default;

    // The current element, or null past the tail.
    T* Current() const { return current ? current->element : nullptr; }
    // The current element, then moves on; null once past the tail.
    T* Next() {
        if (!current) return nullptr;
        T* element = current->element;
        current = current->next;
        return element;
    }

private:
    const tBaseList<T>* list;
    tRefNode<T>* current;
};

template <class T>
class tIterator : public tBaseIterator<T> {
public:
    explicit tIterator(const tBaseList<T>* list) : tBaseIterator<T>(list) {}
};
