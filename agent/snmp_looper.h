// SnmpLooper: the agent's service object. It holds the settings and their
// store, the engine ID and the community table, is the platform handler of
// the settings, chooses the trap makers of the agent's own traps, and owns
// the UDP transport, which it opens while the agent is enabled.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "agent/settings.h"
#include "agent/udp_transport.h"
#include "community/access_keep.h"
#include "community/community_keep.h"
#include "mib/agent_state.h"
#include "mib/traps.h"
#include "platform/orla/looper.h"
#include "platform/orla/store.h"
#include "platform/snmp/v3_server_info.h"
#include "trap/informs.h"
#include "trap/notify_targets.h"

// The settings are members of their own (AgentSettings), so that plug-ins
// read them as before: loop->trapTarget, loop->communityName.
class SnmpLooper : public orla::Looper, public AgentSettings {
  public:
    // The daemon uses the default store paths; tests give their own.
    explicit SnmpLooper(const std::string& settingsPath = snmp::SETTINGS_STORE_PATH,
                        const std::string& communityPath = snmp::COMMUNITY_STORE_PATH,
                        const std::string& accessPath = snmp::ACCESS_STORE_PATH,
                        const std::string& targetPath = snmp::TARGET_STORE_PATH);
    ~SnmpLooper() override;

    // Loads the settings, counts the engine boot, makes the agent's own engine
    // ID at the first start, stores the settings, opens the socket when enabled.
    void init();
    // Opens the transport's socket; does nothing when it is open.
    void enable();
    // Closes the transport's socket; does nothing when it is closed.
    void disable();
    // Binds the socket now and keeps it bound while disabled (see
    // UdpTransport::hold), before the agent gives up root. False when no
    // socket opens.
    bool holdSocket() { return transport_->hold(); }
    // The start-up step, run once from a zero-delay timer: sends the start
    // trap when START_TRAP_ID is among the selected trap generators.
    void startup();
    // Builds one notification for `request`, asking `makers` in order, and
    // sends it to every target that receives its generator: `generator`, or
    // the one the request names (snmp::TRAP_GENERATOR), or none. Writes one
    // line and sends nothing when that is not possible.
    void send_trap(const orla::message& request, std::span<const TrapMaker> makers = trapMakers,
                   std::optional<uint32_t> generator = std::nullopt);
    // After a batch: when requests failed authentication since the last
    // look (a community not known or not admitted, an SNMPv3 wrong digest)
    // and snmpEnableAuthenTraps is on, sends one authenticationFailure trap,
    // at most one a second, so a flood of bad requests is no flood of traps.
    void trapAuthenticationFailures();
    static constexpr uint64_t AUTH_TRAP_INTERVAL_MILLIS = 1000;
    uint32_t authFailuresSeen = 0;
    std::optional<uint64_t> lastAuthTrapMillis;

    // Settings handler.
    orla::message getConfig() const;
    orla::message cmdGet(const orla::message& request) override;
    orla::message cmdSet(const orla::message& request) override;
    orla::message cmdUnknown(const orla::message& request, uint32_t cmd) override;
    orla::message getObject(uint32_t id) override;
    // Subscribes the selected trap generators once the plug-ins are loaded.
    void startSubscribers();
    // Puts the engine ID of the administrator's `text` in force, or the
    // agent's own one when `text` is empty, and localises the keys to it.
    void useEngineID(const std::string& text);

    orla::Store store;
    CommunityKeep& communities() { return *communities_; }
    AccessKeep& access() { return *access_; }
    // The agent's engine and start tick live in agentState, which plug-ins
    // read; these names stay for plug-ins written against the service object.
    V3ServerInfo& serverInfo = agentState.engine;
    uint32_t& startJiffies = agentState.startTick;

  private:
    // The settings' trap sink as the first notification target.
    std::optional<NotifyTarget> settingsTarget() const;

    std::unique_ptr<CommunityKeep> communities_;
    std::unique_ptr<AccessKeep> access_;
    std::unique_ptr<NotifyTargets> targets_;
    // Made once the community table is, which it serves with.
    std::unique_ptr<UdpTransport> transport_;
    // Its informs leave from the transport's socket, where their Responses come.
    std::unique_ptr<InformQueue> informs_;
};

extern SnmpLooper* loop;
// The community table of the service object while it lives.
extern CommunityKeep* communityKeep;
