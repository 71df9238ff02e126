#include "mib/agent_state.h"

#include "platform/snmp/usm.h"

AgentState agentState;

uint32_t agentEngineTime() {
    return usm::engineTime(agentState.engine);
}
