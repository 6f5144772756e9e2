// Token lists and string lists.
#include "lib_base/toklist.h"

#include <cstring>
#include <memory>

tTokList::tTokList(const char* text, const char* separators) {
    if (!text) return;
    if (!separators) separators = "";
    // strtok_r with a state of this call only: no other tokeniser sequence is disturbed.
    tString scratch(text);
    char* chars = scratch.GetBuffer(scratch.GetLength() + 1);
    char* state = nullptr;
    for (char* token = strtok_r(chars, separators, &state); token;
         token = strtok_r(nullptr, separators, &state)) {
        Add(new tString(token));
    }
}

struct tStringList::tNode {
    std::unique_ptr<char[]> text;
    tNode* next = nullptr;
    tNode* prev = nullptr;
};

tStringList::tStringList(const tStringList& other) {
    for (tNode* node = other.head; node; node = node->next) Add(node->text.get());
}

tStringList& tStringList::operator=(const tStringList& other) {
    if (this == &other) return *this;
    Clear();
    for (tNode* node = other.head; node; node = node->next) Add(node->text.get());
    return *this;
}

tStringList::~tStringList() { Clear(); }

bool tStringList::Add(const char* text) {
    if (!text) return false;
    const size_t size = std::strlen(text) + 1;
    std::unique_ptr<tNode> node(new tNode);
    node->text.reset(new char[size]);
    std::memcpy(node->text.get(), text, size);
    node->prev = tail;
    if (tail) {
        tail->next = node.get();
    } else {
        head = node.get();
    }
    tail = node.release();
    return true;
}

bool tStringList::Clear() {
    while (head) {
        tNode* node = head;
        head = node->next;
        delete node;
    }
    tail = nullptr;
    return true;
}

i32 tStringList::Count() const {
    i32 count = 0;
    for (tNode* node = head; node; node = node->next) ++count;
    return count;
}

tStringList::tNode* tStringList::NodeAt(i32 index) const {
    if (index < 0) return nullptr;
    tNode* node = head;
    for (; node && index > 0; --index) node = node->next;
    return node;
}

const char* tStringList::Get(i32 index) const {
    tNode* node = NodeAt(index);
    return node ? node->text.get() : nullptr;
}

void tStringList::Unlink(tNode* node) {
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
}

bool tStringList::Remove(i32 index) {
    tNode* node = NodeAt(index);
    if (!node) return false;
    Unlink(node);
    delete node;
    return true;
}

const char* tStringList::FindPart(const char* part, i32* position) const {
    if (!part) return nullptr;
    for (tNode* node = head; node; node = node->next) {
        const char* found = std::strstr(node->text.get(), part);
        if (!found) continue;
        if (position) *position = static_cast<i32>(found - node->text.get());
        return node->text.get();
    }
    return nullptr;
}

bool tStringList::Contains(const char* text) const {
    if (!text) return false;
    for (tNode* node = head; node; node = node->next) {
        if (std::strcmp(node->text.get(), text) == 0) return true;
    }
    return false;
}
