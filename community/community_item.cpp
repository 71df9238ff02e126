// A community record's configuration message: the form in which the record
// is stored, listed and changed.
#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"

using namespace snmp;

orla::message CommunityKeep::Item::getCfg() const {
    orla::message cfg;
    cfg.insert(orla::OBJ_ID, id);
    cfg.insert(COMM_NAME, name);
    cfg.insert(COMM_ADDRESS, address);
    cfg.insert(COMM_NETMASK, netmask);
    cfg.insert(COMM_READ_ACCESS, readAccess);
    cfg.insert(COMM_WRITE_ACCESS, writeAccess);
    cfg.insert(COMM_AUTH_PASSWORD, authPassword);
    cfg.insert(COMM_PRIV_PASSWORD, privPassword);
    cfg.insert(COMM_AUTH_PROTOCOL, authProtocol);
    cfg.insert(COMM_PRIV_PROTOCOL, privProtocol);
    cfg.insert(COMM_SECURITY, security);
    cfg.insert(COMM_READ_VIEW, readView);
    cfg.insert(COMM_WRITE_VIEW, writeView);
    cfg.insert(COMM_NOTIFY_VIEW, notifyView);
    return cfg;
}

void CommunityKeep::Item::setCfg(const orla::message& cfg) {
    name = cfg.get(COMM_NAME, name);
    address = cfg.get(COMM_ADDRESS, address);
    netmask = cfg.get(COMM_NETMASK, netmask);
    readAccess = cfg.get(COMM_READ_ACCESS, readAccess);
    writeAccess = cfg.get(COMM_WRITE_ACCESS, writeAccess);
    authPassword = cfg.get(COMM_AUTH_PASSWORD, authPassword);
    privPassword = cfg.get(COMM_PRIV_PASSWORD, privPassword);
    authProtocol = cfg.get(COMM_AUTH_PROTOCOL, authProtocol);
    privProtocol = cfg.get(COMM_PRIV_PROTOCOL, privProtocol);
    security = cfg.get(COMM_SECURITY, security);
    readView = cfg.get(COMM_READ_VIEW, readView);
    writeView = cfg.get(COMM_WRITE_VIEW, writeView);
    notifyView = cfg.get(COMM_NOTIFY_VIEW, notifyView);
}

void CommunityKeep::Item::regenerateKeys(const std::string& engineID) {
    authKey = passwordToAKey(authPassword, authProtocol);
    authKey = aKeyToBKey(authKey, engineID, authProtocol);
    authKey = bKeyToDKey(authKey, authProtocol);
    privKey = passwordToAKey(privPassword, authProtocol);
    privKey = aKeyToBKey(privKey, engineID, authProtocol);
    privKey = usm::privacyKey(privProtocol, authProtocol, privKey, engineID);
}
