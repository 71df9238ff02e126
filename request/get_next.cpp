#include "request/get_next.h"

#include "mib/registry.h"

Lookup snmpGetNext(Context& ctx) {
    return answerNext(ctx) ? Lookup::Answered : Lookup::EndOfMibView;
}
