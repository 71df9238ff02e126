#include "mib/test_and_incr.h"

#include <cstdint>
#include <limits>

#include "mib/num_packer.h"
#include "mib/provider.h"

namespace {

struct SerialRecord : Data {
    int value = 0;
};

class SerialHolder : public DataProvider {
  public:
    Data* get() override { return &serial; }
    bool commit(Data*) override { return true; }

  private:
    SerialRecord serial;
};

SerialRecord* held(DataProvider* provider) {
    return static_cast<SerialRecord*>(provider->get());
}

}  // namespace

TestAndIncrLeaf::TestAndIncrLeaf()
    : ScalarLeaf((new DataNumPacker(field(&SerialRecord::value), ber::INTEGER))
                     ->setRange(0, std::numeric_limits<int32_t>::max()),
                 new SerialHolder) {}

snmp::ErrorStatus TestAndIncrLeaf::testSet(Context& ctx) {
    const snmp::ErrorStatus status = ScalarLeaf::testSet(ctx);
    if (status != snmp::ErrorStatus::NO_ERROR) return status;
    // The base's test has read the value: read it again from the start.
    InStream valueAgain(ctx.in.data(), ctx.in.size());
    int value = 0;
    valueAgain.getInt(value);
    return value == held(provider)->value ? snmp::ErrorStatus::NO_ERROR
                                          : snmp::ErrorStatus::INCONSISTENT_VALUE;
}

// The value was tested equal to the one held: the Set advances it (an undo
// puts the held value back).
snmp::ErrorStatus TestAndIncrLeaf::commitSet(Context&, std::string& undo) {
    SerialRecord* rec = held(provider);
    undo = packer->saveValue(rec);
    rec->value = rec->value == std::numeric_limits<int32_t>::max() ? 0 : rec->value + 1;
    return snmp::ErrorStatus::NO_ERROR;
}
