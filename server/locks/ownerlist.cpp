// The holders' information texts, kept in order and searched by bisection.
#include "server/locks/ownerlist.h"

#include "server/locks/ownedarray.h"

namespace {

struct tHolder {
    u32 owner;
    i32 location;
};

int CompareHolder(const tOwnerNode* node, const tHolder& key, const tArray<tOwnerNode>&) {
    if (node->location != key.location) return node->location < key.location ? -1 : 1;
    if (node->owner != key.owner) return node->owner < key.owner ? -1 : 1;
    return 0;
}

}  // namespace

bool tOwnerList::Search(u32 owner, i32 location, i32& pos) const {
    pos = 0;
    return entries.Search(tHolder{owner, location}, pos, CompareHolder);
}

void tOwnerList::Set(u32 owner, i32 location, const char* text) {
    tWriting hold(this, __FILE__, __LINE__);
    i32 pos = 0;
    if (Search(owner, location, pos)) {
        entries[pos]->info.Assign(text);
        return;
    }
    AddOwned(entries, std::make_unique<tOwnerNode>(tOwnerNode{owner, location, tString(text)}),
             pos);
}

bool tOwnerList::CopyInfo(u32 owner, i32 location, tString& info) {
    tReading hold(this, __FILE__, __LINE__);
    i32 pos = 0;
    if (!Search(owner, location, pos)) return false;
    info.Assign(entries[pos]->info.GetText());
    return true;
}

void tOwnerList::Remove(u32 owner, i32 location) {
    tWriting hold(this, __FILE__, __LINE__);
    i32 pos = 0;
    if (!Search(owner, location, pos)) return;
    tOwnerNode* node = entries[pos];
    entries.Delete(pos);
    delete node;
}

void tOwnerList::RemoveLocation(i32 location) {
    tWriting hold(this, __FILE__, __LINE__);
    DeleteIf(entries, [&](const tOwnerNode& node) { return node.location == location; });
}
