#include "mib/traps.h"

std::vector<TrapMaker> trapMakers;
std::vector<Scribers> scribers;
