#include "agentx/values.h"

#include "platform/snmp/ber.h"
#include "platform/snmp/ber_content.h"
#include "platform/snmp/ber_in.h"

namespace agentx {

bool isException(ValueType type) {
    return type == ValueType::NoSuchObject || type == ValueType::NoSuchInstance ||
           type == ValueType::EndOfMibView;
}

void writeValue(OutStream& out, const VarBind& binding) {
    const uint32_t tag = static_cast<uint32_t>(binding.type);
    switch (binding.type) {
        case ValueType::Integer:
            out.add(static_cast<int>(static_cast<int32_t>(binding.number)), tag);
            return;
        case ValueType::Counter32:
        case ValueType::Gauge32:
        case ValueType::TimeTicks:
            out.add(static_cast<unsigned>(binding.number), tag);
            return;
        case ValueType::Counter64:
            out.add(static_cast<unsigned long long>(binding.number), tag);
            return;
        case ValueType::OctetString:
        case ValueType::IpAddress:
        case ValueType::Opaque:
            out.add(binding.octets, tag);
            return;
        case ValueType::ObjectIdentifier:
            out.addOID(binding.oid);
            return;
        case ValueType::Null:
            out.addNull();
            return;
        default:
            return;
    }
}

snmp::ErrorStatus readValue(std::span<const unsigned char> value, VarBind& binding) {
    InStream in(value.data(), value.size());
    const uint32_t tag = in.getType();
    binding.type = static_cast<ValueType>(tag);
    bool read = false;
    switch (tag) {
        case ber::INTEGER: {
            int number = 0;
            read = in.getInt(number);
            binding.number = static_cast<uint32_t>(number);
            break;
        }
        case ber::COUNTER32:
        case ber::GAUGE32:
        case ber::TIMETICKS:
        case ber::COUNTER64: {
            unsigned long long number = 0;
            read = in.get64(number) && (tag == ber::COUNTER64 || number <= UINT32_MAX);
            binding.number = number;
            break;
        }
        case ber::OCTET_STRING:
        case ber::IP_ADDRESS:
            read = in.getString(binding.octets);
            break;
        case ber::OPAQUE: {
            BerElement element;
            read = in.getElement(element);
            if (read)
                binding.octets.assign(reinterpret_cast<const char*>(value.data()) + element.contentOffset,
                                      element.contentLength);
            break;
        }
        case ber::OBJECT_IDENTIFIER:
            read = in.getOID(binding.oid);
            break;
        case ber::NULL_VALUE: {
            BerElement element;
            read = in.getElement(element) && element.contentLength == 0;
            break;
        }
        default:
            return snmp::ErrorStatus::WRONG_TYPE;
    }
    return read ? snmp::ErrorStatus::NO_ERROR : snmp::ErrorStatus::WRONG_ENCODING;
}

std::optional<VariableBinding> toVariableBinding(const VarBind& binding) {
    if (isException(binding.type)) return std::nullopt;
    VariableBinding variable;
    variable.oid = binding.name;
    variable.type = static_cast<uint32_t>(binding.type);
    switch (binding.type) {
        case ValueType::Integer:
            variable.value = ber::integerContent(static_cast<int32_t>(binding.number));
            break;
        case ValueType::Counter32:
        case ValueType::Gauge32:
        case ValueType::TimeTicks:
            variable.value = ber::unsignedContent(static_cast<uint32_t>(binding.number));
            break;
        case ValueType::Counter64:
            variable.value = ber::unsignedContent(binding.number);
            break;
        case ValueType::OctetString:
        case ValueType::IpAddress:
        case ValueType::Opaque:
            variable.value = binding.octets;
            break;
        case ValueType::ObjectIdentifier:
            variable.value = ber::oidContent(binding.oid);
            break;
        default:  // Null: no content
            break;
    }
    return variable;
}

}  // namespace agentx
