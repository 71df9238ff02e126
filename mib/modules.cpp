#include "mib/modules.h"

#include "mib/agent_state.h"
#include "platform/orla/clock.h"

#include <algorithm>

std::vector<ModuleRecord> registeredModules;
int modulesLastChange = 0;

namespace {

int sinceStart() {
    return static_cast<int>(orla::getJiffies() - agentState.startTick);
}

}  // namespace

void registerModule(OID const& id, std::string const& description) {
    ModuleRecord& module = registeredModules.emplace_back();
    module.id = id;
    module.description = description;
    module.upTime = sinceStart();
    modulesLastChange = module.upTime;
}

bool unregisterModule(OID const& id, std::string const& description) {
    const auto found =
        std::find_if(registeredModules.begin(), registeredModules.end(),
                     [&](const ModuleRecord& m) { return m.id == id && m.description == description; });
    if (found == registeredModules.end()) return false;
    registeredModules.erase(found);
    modulesLastChange = sinceStart();
    return true;
}
