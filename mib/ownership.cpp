#include "mib/ownership.h"

#include "mib/leaf.h"
#include "mib/packer.h"
#include "mib/provider.h"
#include "mib/table.h"

template <class T>
bool Ownership::mark(T* object) {
    return object != nullptr && known_.insert(object).second;
}

template <class T>
void Ownership::record(T* object) {
    owned_.emplace_back(object, [](void* taken) { delete static_cast<T*>(taken); });
}

void Ownership::take(Leaf* object) {
    if (!mark(object)) return;
    object->handParts(*this);
    record(object);
}

void Ownership::take(Packer* object) {
    if (mark(object)) record(object);
}

void Ownership::take(DataProvider* object) {
    if (!mark(object)) return;
    object->handParts(*this);
    record(object);
}

void Ownership::take(Table* object) {
    if (!mark(object)) return;
    object->handParts(*this);
    record(object);
}

void Ownership::take(TableProvider* object) {
    if (mark(object)) record(object);
}

void Ownership::releaseAll() {
    // Taken away first: a destructor that reaches the registry finds it empty.
    auto owned = std::move(owned_);
    owned_.clear();
    known_.clear();
    for (auto& [object, free] : owned)
        free(object);
}
