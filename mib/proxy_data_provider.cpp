#include "mib/proxy_data_provider.h"

Data* ProxyDataProvider::get() {
    return build();
}
