// Reference counting of the lexer and parser runtime: SSRefCount, the base of lexemes and parse
// stack elements, and SSRef, the smart reference that holds one of them.
#pragma once
#include "server/filter/ssexception.h"

// A reference-counted object, 1 at construction. Objects handed out with count 0 (a new lexeme)
// belong to their first holder. One thread only.
class SSRefCount : public SSExceptionPresent {
public:
    SSRefCount() = default;
    SSRefCount(const SSRefCount&) = delete;
    SSRefCount& operator=(const SSRefCount&) = delete;

    virtual void addRef() { ++count; }
    ~SSRefCount() override = default;
    // Drops one reference; at zero, deletes the object when deleteAtZero is set. A count already
    // at zero raises "SSRef0001e: Reference count less than zero" and changes nothing.
    virtual void release(bool deleteAtZero = true);
    u32 refCount() const { return count; }

private:
    u32 count = 1;
};

// Holds one reference to an SSRefCount object, or none. Setting adds a reference to the new
// object before releasing the old one, so setting an object over itself keeps it.
template <class T>
class SSRef {
public:
    SSRef() = default;
    explicit SSRef(T* object) { set(object); }
    SSRef(const SSRef& other) { set(other.object); }
    SSRef& operator=(const SSRef& other) {
        set(other.object);
        return *this;
    }
    // A move hands the reference over without touching the count.
    SSRef(SSRef&& other) noexcept : object(other.object) { other.object = nullptr; }
    SSRef& operator=(SSRef&& other) noexcept {
        if (this != &other) {
            T* old = object;
            object = other.object;
            other.object = nullptr;
            if (old) old->release(true);
        }
        return *this;
    }
    ~SSRef() { set(nullptr); }

    void set(T* next) {
        if (next) next->addRef();
        T* old = object;
        object = next;
        if (old) old->release(true);
    }
    T* get() const { return object; }
    T* operator->() const { return object; }
    T& operator*() const { return *object; }
    explicit operator bool() const { return object != nullptr; }

private:
    T* object = nullptr;
};
