#include "mib/platform_exchange.h"

#include "platform/orla/ids.h"

namespace {

PlatformExchange installedExchange = nullptr;

}  // namespace

void setPlatformExchange(PlatformExchange exchange) {
    installedExchange = exchange;
}

orla::message platformRequest(uint32_t cmd, std::vector<uint32_t> const& path) {
    orla::message request;
    request.insert(orla::MSG_CMD, cmd);
    request.insert(orla::MSG_TO, path);
    return request;
}

orla::message exchangeWithPlatform(orla::message const& request) {
    if (!installedExchange) return orla::errorMsg(orla::ERR_NO_SERVICE, "no agent service");
    return installedExchange(request, PROVIDER_EXCHANGE_TIMEOUT);
}
