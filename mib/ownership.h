// Ownership: what the registry frees when the agent stops.
//
// Everything a plug-in hands to the registry (mib/registry.h) was created
// with new and lives until the agent stops; then the registry frees it, each
// object once however many leaves share it. An object tells the registry
// what it refers to in turn through handParts, so the registry frees a whole
// tree of leaves, packers, tables and providers without knowing their
// classes. A plug-in's own class that holds such objects hands them over the
// same way:
//
//     void MyLeaf::handParts(Ownership& owner) { owner.take(packer_); owner.take(rows_); }
#pragma once

#include <unordered_set>
#include <utility>
#include <vector>

class Leaf;
class Packer;
class DataProvider;
class Table;
class TableProvider;

class Ownership {
  public:
    // Takes `object` (null is ignored; one taken before is not taken again),
    // and first, through its handParts, what it refers to: the parts go
    // first, so they are freed first. A provider thus goes before the tables
    // it feeds, and clears them while they still exist.
    void take(Leaf* object);
    void take(Packer* object);
    void take(DataProvider* object);
    void take(Table* object);
    void take(TableProvider* object);

    // Frees what was taken, in the order it was taken, and forgets it.
    void releaseAll();

    Ownership() = default;
    Ownership(const Ownership&) = delete;
    Ownership& operator=(const Ownership&) = delete;

  private:
    // Takes any of the above: once, after its parts.
    template <class T>
    void adopt(T* object);

    std::unordered_set<const void*> known_;
    std::vector<std::pair<void*, void (*)(void*)>> owned_;
};
