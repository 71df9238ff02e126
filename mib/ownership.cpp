#include "mib/ownership.h"

#include "mib/leaf.h"
#include "mib/packer.h"
#include "mib/provider.h"
#include "mib/table.h"

template <class T>
void Ownership::adopt(T* object) {
    if (object == nullptr || !known_.insert(object).second) return;
    // What the object refers to goes first, so it is freed first.
    if constexpr (requires { object->handParts(*this); }) object->handParts(*this);
    owned_.emplace_back(object, [](void* taken) { delete static_cast<T*>(taken); });
}

void Ownership::take(Leaf* object) {
    adopt(object);
}

void Ownership::take(Packer* object) {
    adopt(object);
}

void Ownership::take(DataProvider* object) {
    adopt(object);
}

void Ownership::take(Table* object) {
    adopt(object);
}

void Ownership::take(TableProvider* object) {
    adopt(object);
}

void Ownership::releaseAll() {
    // Taken away first: a destructor that reaches the registry finds it empty.
    auto owned = std::move(owned_);
    owned_.clear();
    known_.clear();
    for (auto& [object, free] : owned)
        free(object);
}
