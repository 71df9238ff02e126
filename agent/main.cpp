// orla-snmpd: the SNMP agent daemon. It takes no options: its configuration
// comes from its stores and from platform messages.
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "agent/plugin_loader.h"
#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "platform/orla/ids.h"

int main() {
    std::cerr << "loop = new SnmpLooper();" << std::endl;
    // Trap request ids and SNMPv3 privacy salts come from rand().
    srand(static_cast<unsigned>(time(nullptr)));
    loop = new SnmpLooper();
    // Platform services and orla-cli reach the settings at [SERVICE_ID] and
    // the communities at [SERVICE_ID, ID_COMMUNITIES].
    loop->serve(snmp::SERVICE_ID);
    std::cerr << "loop->init();" << std::endl;
    loop->init();

    loadPlugins(PLUGIN_DIRECTORY);
    loop->startSubscribers();

    // Tells the platform's service manager (service 1) that the agent is up.
    orla::message started;
    started.insert(orla::MSG_TO, std::vector<uint32_t>{1});
    started.insert(orla::U32Key{5}, 34);
    loop->sendCmd(started, 3);

    loop->run();
    return 0;
}
