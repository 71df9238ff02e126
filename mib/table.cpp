#include "mib/table.h"

bool TableProvider::getCountCMD(unsigned&) {
    return false;
}
