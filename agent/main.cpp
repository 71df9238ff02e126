// orla-snmpd: the SNMP agent daemon. It takes no options: its configuration
// comes from its stores and from platform messages.
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "agent/access_objects.h"
#include "agent/plugin_loader.h"
#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "mib/registry.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "trap/trap_maker.h"

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

    registerAccessObjects(loop->communities(), loop->access(), loop->serverInfo);
    loadPlugins(PLUGIN_DIRECTORY);
    // Makers of plug-ins come first; the vendor trap maker declines what is
    // not a vendor trap request.
    trapMakers.push_back(halvexTrapMaker);
    loop->startSubscribers();
    orla::addTimer(loop, &SnmpLooper::startup, 0);

    // Tells the platform's service manager (service 1) that the agent is up.
    orla::message started;
    started.insert(orla::MSG_TO, std::vector<uint32_t>{1});
    started.insert(orla::U32Key{5}, 34);
    loop->sendCmd(started, 3);

    loop->run();
    // Stopped (SIGTERM or SIGINT): everything goes back in order, so that a
    // leak checker shows only real leaks.
    releaseRegistry();
    delete loop;
    loop = nullptr;
    return 0;
}
