#include "mib/count_provider.h"

Data* CountProvider::get() {
    data.rowCount = static_cast<int>(table->count());
    return &data;
}
