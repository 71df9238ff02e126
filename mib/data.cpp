#include "mib/data.h"

void Data::reverseBuild(orla::message&) {}
