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

tStringList::tStringList(const tStringList& other) : tBaseList<tString>() { AddAll(other); }

tStringList& tStringList::operator=(const tStringList& other) {
    if (this == &other) return *this;
    Clear();
    AddAll(other);
    return *this;
}

void tStringList::AddAll(const tStringList& other) {
    for (auto* node = other.GetFirst(); node; node = node->next) Add(*node->element);
}

bool tStringList::Add(const char* text) {
    if (!text) return false;
    // The node owns the string from here on, also if linking it should fail.
    std::unique_ptr<tNode<tString>> node(new tNode<tString>(new tString(text)));
    LinkAtTail(node.get());
    node.release();
    return true;
}

bool tStringList::Clear() {
    while (auto* node = GetFirst()) {
        Unlink(node);
        delete node;
    }
    return true;
}

tRefNode<tString>* tStringList::NodeAt(i32 index) const {
    if (index < 0) return nullptr;
    auto* node = GetFirst();
    for (; node && index > 0; --index) node = node->next;
    return node;
}

const char* tStringList::Get(i32 index) const {
    auto* node = NodeAt(index);
    return node ? node->element->GetText() : nullptr;
}

bool tStringList::Remove(i32 index) {
    auto* node = NodeAt(index);
    if (!node) return false;
    Unlink(node);
    delete node;
    return true;
}

const char* tStringList::FindPart(const char* part, i32* position) const {
    if (!part) return nullptr;
    for (auto* node = GetFirst(); node; node = node->next) {
        const char* text = node->element->GetText();
        const char* found = std::strstr(text, part);
        if (!found) continue;
        if (position) *position = static_cast<i32>(found - text);
        return text;
    }
    return nullptr;
}

bool tStringList::Contains(const char* text) const {
    if (!text) return false;
    for (auto* node = GetFirst(); node; node = node->next) {
        if (std::strcmp(node->element->GetText(), text) == 0) return true;
    }
    return false;
}
