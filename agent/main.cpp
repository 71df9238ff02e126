// orla-snmpd: the SNMP agent daemon. Its configuration comes from its stores
// and from platform messages; its options only say how it runs.
//
//   orla-snmpd [--user NAME] [--agentx-group GROUP]
//
// --user NAME   once the socket is bound, the stores are open and the
//               plug-ins are loaded, run as the user NAME, with no
//               capability left. The socket then stays bound while the
//               agent is disabled, as that user may not bind port 161.
// --agentx-group GROUP
//               AgentX subagents of that group are admitted besides root
//               and the agent's user (docs/agentx.md).
//
// Exit status: 0 stopped by SIGTERM or SIGINT; 1 the socket could not be
// bound or the user not taken on (with --user); 2 bad arguments.
#include <grp.h>

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/access_objects.h"
#include "agentx/master.h"
#include "agentx/notify.h"
#include "agent/plugin_loader.h"
#include "agent/usm_users.h"
#include "agent/privileges.h"
#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "mib/registry.h"
#include "platform/orla/daemon.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "trap/trap_maker.h"

namespace {

constexpr const char* PROGRAM = "orla-snmpd";
constexpr const char* USAGE =
    "usage: orla-snmpd [--user NAME] [--agentx-group GROUP]\n"
    "  --user NAME   after binding port 161, opening the stores and loading the\n"
    "                plug-ins, run as the user NAME with no capability\n"
    "  --agentx-group GROUP\n"
    "                admit AgentX subagents of the group GROUP\n"
    "  --version     print the version and exit\n";

int usage(const char* problem, const char* argument) {
    std::cerr << PROGRAM << ": " << problem << argument
              << " (usage: orla-snmpd [--user NAME] [--agentx-group GROUP])"
              << std::endl;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (orla::answerInfoOption(argc, argv, PROGRAM, USAGE)) return 0;
    std::optional<std::string> user;
    std::optional<gid_t> subagentGroup;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option != "--user" && option != "--agentx-group")
            return usage("unknown argument ", argv[i]);
        if (i + 1 >= argc) return usage("missing value after ", argv[i]);
        if (option == "--user") {
            user = argv[++i];
            continue;
        }
        const group* named = getgrnam(argv[++i]);
        if (named == nullptr) return usage("unknown group ", argv[i]);
        subagentGroup = named->gr_gid;
    }

    std::cerr << "loop = new SnmpLooper();" << std::endl;
    // Trap request ids and SNMPv3 privacy salts come from rand().
    srand(static_cast<unsigned>(time(nullptr)));
    loop = new SnmpLooper();
    // Platform services and orla-cli reach the settings at [SERVICE_ID] and
    // the communities at [SERVICE_ID, ID_COMMUNITIES].
    loop->serve(snmp::SERVICE_ID);
    std::cerr << "loop->init();" << std::endl;
    loop->init();

    registerAccessObjects(loop->communities(), loop->access(), loop->serverInfo);
    agentState.makeUserTable = [] {
        return newUsmUserTable(loop->communities(), loop->serverInfo);
    };
    loadPlugins(PLUGIN_DIRECTORY);
    // Makers of plug-ins come first; the vendor trap maker declines what is
    // not a vendor trap request.
    trapMakers.push_back(halvexTrapMaker);
    loop->startSubscribers();
    orla::addTimer(loop, &SnmpLooper::startup, 0);

    // Subagents' subtrees join the tree the plug-ins filled; their
    // notifications go out as the agent's own.
    agentx::Master subagents([](const std::vector<agentx::VarBind>& bindings) {
        const TrapMaker makers[] = {agentx::notifyTrapMaker};
        loop->send_trap(agentx::notifyRequest(bindings), makers);
    });
    std::string agentxError;
    if (!subagents.listen(agentx::DEFAULT_SOCKET_PATH, subagentGroup, agentxError))
        std::cerr << PROGRAM << ": no AgentX master: " << agentxError << std::endl;

    if (user) {
        // Root is needed no more: a fault in a decoder must not hand it out.
        std::string error;
        if (!loop->holdSocket()) {
            std::cerr << PROGRAM << ": cannot bind port 161, which user " << *user
                      << " could not bind later" << std::endl;
            return 1;
        }
        if (!dropToUser(*user, error)) {
            std::cerr << PROGRAM << ": cannot run as " << *user << ": " << error << std::endl;
            return 1;
        }
    }

    // Tells the platform's service manager (service 1) that the agent is up.
    orla::message started;
    started.insert(orla::MSG_TO, std::vector<uint32_t>{1});
    started.insert(orla::U32Key{5}, 34);
    loop->sendCmd(started, 3);
    if (!orla::notifyReady())
        std::cerr << PROGRAM << ": cannot tell systemd it is ready" << std::endl;

    loop->run();
    // Stopped (SIGTERM or SIGINT): everything goes back in order, so that a
    // leak checker shows only real leaks.
    subagents.close();
    releaseRegistry();
    delete loop;
    loop = nullptr;
    return 0;
}
