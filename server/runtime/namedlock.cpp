// The named-lock registry: look-up and insertion are one step under the registry's section.
#include "server/runtime/namedlock.h"

#include <memory>

tNamedNode* tNamedLock::GetNode(const char* first, const char* second) {
    tString name(first ? first : "");
    name += "/";
    name += second ? second : "";
    tWaiting hold(this, __FILE__, __LINE__);
    i32 pos = 0;
    if (Find(name, pos)) return Get(pos);
    std::unique_ptr<tNamedNode> node(new tNamedNode(name));
    if (pos < Count()) {
        Insert(pos, node.get());
    } else {
        Add(node.get());
    }
    return node.release();  // the array owns it now
}

i32 tNamedLock::CountNodes() {
    tWaiting hold(this, __FILE__, __LINE__);
    return Count();
}

bool tNamedLock::Find(const char* name, i32& pos) const {
    pos = 0;
    return Search(name, pos,
                  [](const tNamedNode* node, const char* key, const tArray<tNamedNode>&) {
                      return CompareText(node->GetName(), key);
                  });
}
