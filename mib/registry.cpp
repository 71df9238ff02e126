#include "mib/registry.h"

#include <set>
#include <vector>

#include "mib/augment_proxy_table.h"
#include "mib/columnar.h"
#include "mib/count_provider.h"
#include "mib/leaf.h"
#include "mib/map_table.h"
#include "mib/modules.h"
#include "mib/scalar.h"
#include "mib/static_mux_table.h"

std::map<OID, Leaf*> leafs;

const OID ZERO_OID("0");

namespace {

// Leaves that a later registration under the same OID replaced.
std::vector<Leaf*> replaced;

}  // namespace

// Everything reachable from the registered leaves, each object once.
struct RegistryOwnership {
    std::set<Leaf*> leaves;
    std::set<Packer*> packers;
    std::set<DataProvider*> providers;
    std::set<TableProvider*> feeds;
    std::set<Table*> tables;

    void addLeaf(Leaf* leaf) {
        if (!leaves.insert(leaf).second) return;
        if (auto* scalar = dynamic_cast<ScalarLeaf*>(leaf)) {
            addPacker(scalar->packer);
            addProvider(scalar->provider);
        } else if (auto* column = dynamic_cast<ColumnarLeaf*>(leaf)) {
            addPacker(column->packer);
            addTable(column->table);
        }
    }
    void addPacker(Packer* packer) {
        if (packer) packers.insert(packer);
    }
    void addProvider(DataProvider* provider) {
        if (!provider || !providers.insert(provider).second) return;
        if (auto* counter = dynamic_cast<CountProvider*>(provider)) addTable(counter->table);
    }
    void addTable(Table* table) {
        if (!table || !tables.insert(table).second) return;
        if (auto* map = dynamic_cast<MapTable*>(table)) {
            if (map->provider) feeds.insert(map->provider);
            for (Packer* index : map->indexes)
                addPacker(index);
        } else if (auto* proxy = dynamic_cast<AugmentProxyTable*>(table)) {
            addTable(proxy->base);
        } else if (auto* mux = dynamic_cast<StaticMuxTable*>(table)) {
            for (const auto& [index, provider] : mux->providers)
                addProvider(provider);
        }
    }
};

namespace {

template <class T>
void deleteAll(const std::set<T*>& objects) {
    for (T* object : objects)
        delete object;
}

}  // namespace

void addLeaf(OID const& oid, Leaf* leaf) {
    Leaf*& slot = leafs[oid];
    if (slot && slot != leaf) replaced.push_back(slot);
    slot = leaf;
}

void releaseRegistry() {
    RegistryOwnership owned;
    for (const auto& [oid, leaf] : leafs)
        owned.addLeaf(leaf);
    for (Leaf* leaf : replaced)
        owned.addLeaf(leaf);
    leafs.clear();
    replaced.clear();
    registeredModules.clear();
    deleteAll(owned.leaves);
    deleteAll(owned.feeds);
    deleteAll(owned.providers);
    deleteAll(owned.tables);
    deleteAll(owned.packers);
}
