#include "mib/modules.h"

#include "mib/agent_state.h"
#include "platform/orla/clock.h"

std::vector<ModuleRecord> registeredModules;

void registerModule(OID const& id, std::string const& description) {
    ModuleRecord& module = registeredModules.emplace_back();
    module.id = id;
    module.description = description;
    module.upTime = static_cast<int>(orla::getJiffies() - agentState.startTick);
}
