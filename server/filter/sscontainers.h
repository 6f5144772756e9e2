// Containers of the lexer and parser runtime: SSLifo, a growable stack of plain pointers or of
// SSRef values, and SSSetArray, a growable set of words. Each raises its own numbered errors;
// when errors are stored instead of thrown, the failed operation changes nothing.
#pragma once
#include <algorithm>
#include <utility>

#include "server/filter/ssexception.h"

// Stack:
//  (1) count <= capacity; entries [0, count) are live, the top is entries[count - 1].
//  (2) Growth keeps the entries in order; a popped SSRef entry is reset, dropping its reference.
template <class T>
class SSLifo : public SSExceptionPresent {
public:
    SSLifo(size_t capacity, size_t growth)
        : growth(growth), capacity(capacity), entries(ssNewArray<T>(capacity)) {}
    SSLifo(const SSLifo& other)
        : SSExceptionPresent(other),
          growth(other.growth),
          count(other.count),
          capacity(other.capacity),
          entries(ssNewArray<T>(other.capacity)) {
        std::copy(other.entries.get(), other.entries.get() + count, entries.get());
    }
    SSLifo& operator=(const SSLifo& other) {
        SSLifo copy(other);
        std::swap(growth, copy.growth);
        std::swap(count, copy.count);
        std::swap(capacity, copy.capacity);
        std::swap(entries, copy.entries);
        return *this;
    }

    // A full stack grows by the growth step; with a step of 0 it raises "SSLifo0001e: Stack full"
    // and answers false.
    bool push(const T& entry) {
        if (count == capacity && !Grow()) return false;
        entries[count++] = entry;
        return true;
    }
    // The top entry, or null with "SSLifo0002e: No top, stack empty".
    T* peek() {
        if (count == 0) {
            ssError(kSSLifoNoTop, "%s", kSSLifoNoTopMsg);
            return nullptr;
        }
        return &entries[count - 1];
    }
    // Pops n entries; more than the stack holds raises "SSLifo0004e" and pops none.
    bool pop(size_t n = 1) {
        if (n > count) {
            ssError(kSSLifoPopEmpty, "%s", kSSLifoPopEmptyMsg);
            return false;
        }
        while (n-- > 0) entries[--count] = T();
        return true;
    }
    // The entry at depth (0 the top), or null with "SSLifo0003e: Invalid index".
    T* at(size_t depth) {
        if (depth >= count) {
            ssError(kSSLifoIndex, "%s", kSSLifoIndexMsg);
            return nullptr;
        }
        return &entries[count - 1 - depth];
    }
    size_t size() const { return count; }
    size_t capacityNow() const { return capacity; }

private:
    bool Grow() {
        if (growth == 0) {
            ssError(kSSLifoFull, "%s", kSSLifoFullMsg);
            return false;
        }
        std::unique_ptr<T[]> larger = ssNewArray<T>(capacity + growth);
        std::move(entries.get(), entries.get() + count, larger.get());
        entries = std::move(larger);
        capacity += growth;
        return true;
    }

    size_t growth;
    size_t count = 0;
    size_t capacity;
    std::unique_ptr<T[]> entries;
};

// Set of words in the order added: (1) no word twice, (2) count <= capacity.
template <class T>
class SSSetArray : public SSExceptionPresent {
public:
    SSSetArray(size_t capacity, size_t growth)
        : growth(growth), capacity(capacity), members(ssNewArray<T>(capacity)) {}
    SSSetArray(const SSSetArray&) = delete;
    SSSetArray& operator=(const SSSetArray&) = delete;

    bool contains(const T& word) const {
        return std::find(members.get(), members.get() + count, word) != members.get() + count;
    }
    // True when the word was added; false when already present, or when the set is full with
    // a growth step of 0 ("SSSetArray0001e: Set full").
    bool add(const T& word) {
        if (contains(word)) return false;
        if (count == capacity) {
            if (growth == 0) {
                ssError(kSSSetFull, "%s", kSSSetFullMsg);
                return false;
            }
            std::unique_ptr<T[]> larger = ssNewArray<T>(capacity + growth);
            std::copy(members.get(), members.get() + count, larger.get());
            members = std::move(larger);
            capacity += growth;
        }
        members[count++] = word;
        return true;
    }
    size_t size() const { return count; }
    const T& operator[](size_t i) const { return members[i]; }

private:
    size_t growth;
    size_t count = 0;
    size_t capacity;
    std::unique_ptr<T[]> members;
};
