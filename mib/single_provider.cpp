#include "mib/single_provider.h"

Data* SingleProvider::get() {
    accessData();
    return cached;
}

bool SingleProvider::commit(Data* rec) {
    return setData(rec);
}

SingleProvider::~SingleProvider() {
    delete cached;
}

void SingleProvider::clearCache() {
    delete cached;
    cached = nullptr;
}

void SingleProvider::updateCache() {
    cached = getData();
}
