// Named locks: one process-wide critical section per name, handed out by the registry
// tNamedLock, so that connections serialise work on the same database object.
#pragma once
#include "lib_base/critsec.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// One name's critical section. Callers hold it with a tWaiting guard for the whole work.
class tNamedNode : public tCriticalSection {
public:
    explicit tNamedNode(const char* name) : name(name) {}
    const tString& GetName() const { return name; }  // constant after construction

private:
    const tString name;
};

// Owns its nodes, one per distinct name, kept sorted by name in byte order (letter case counts)
// and never removed while the registry lives. Any thread may call GetNode; its own section
// guards the array and is released before the caller takes a node, so no caller holds both.
// The array's own operations are not locked: use them only while no other thread runs.
class tNamedLock : public tAutoArray<tNamedNode>, public tCriticalSection {
public:
    tNamedLock() = default;

    // The node named first + "/" + second, created on first use; never null, valid as long as
    // the registry.
    tNamedNode* GetNode(const char* first, const char* second);
    i32 CountNodes();  // the number of distinct names asked for so far

    // Bisection over the sorted nodes: true with the node's index in pos, or false with the index
    // where the name would stand. Call it holding the registry's section.
    bool Find(const char* name, i32& pos) const;
};
