// A community record's configuration message: the form in which the record
// is stored, listed and changed.
#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"

using namespace snmp;

namespace {

void readKey(const orla::message& cfg, orla::StringKey field, std::vector<unsigned char>& key) {
    if (!cfg.has(field)) return;
    std::string octets = cfg.get(field);
    usm::wipe(key);
    key.assign(octets.begin(), octets.end());
    usm::wipe(octets);
}

void takePassword(const orla::message& cfg, orla::StringKey field, uint32_t authProtocol,
                  std::vector<unsigned char>& ku, std::vector<unsigned char>& kul) {
    if (!cfg.has(field)) return;
    std::string password = cfg.get(field);
    usm::wipe(ku);
    usm::wipe(kul);
    if (!password.empty()) ku = passwordToAKey(password, authProtocol);
    usm::wipe(password);
}

}  // namespace

orla::message CommunityKeep::Item::getCfg() const {
    orla::message cfg;
    cfg.insert(orla::OBJ_ID, id);
    cfg.insert(COMM_NAME, name);
    cfg.insert(COMM_ADDRESS, address);
    cfg.insert(COMM_NETMASK, netmask);
    cfg.insert(COMM_READ_ACCESS, readAccess);
    cfg.insert(COMM_WRITE_ACCESS, writeAccess);
    cfg.insert(COMM_AUTH_KU, std::string(authKu.begin(), authKu.end()));
    cfg.insert(COMM_PRIV_KU, std::string(privKu.begin(), privKu.end()));
    cfg.insert(COMM_AUTH_KUL, std::string(authKul.begin(), authKul.end()));
    cfg.insert(COMM_PRIV_KUL, std::string(privKul.begin(), privKul.end()));
    cfg.insert(COMM_KEY_ENGINE, keyEngineID);
    cfg.insert(COMM_AUTH_PROTOCOL, authProtocol);
    cfg.insert(COMM_PRIV_PROTOCOL, privProtocol);
    cfg.insert(COMM_SECURITY, security);
    cfg.insert(COMM_USM_STATUS, usmStatus);
    cfg.insert(COMM_USM_PUBLIC, usmPublic);
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
    authProtocol = cfg.get(COMM_AUTH_PROTOCOL, authProtocol);
    privProtocol = cfg.get(COMM_PRIV_PROTOCOL, privProtocol);
    readKey(cfg, COMM_AUTH_KU, authKu);
    readKey(cfg, COMM_PRIV_KU, privKu);
    readKey(cfg, COMM_AUTH_KUL, authKul);
    readKey(cfg, COMM_PRIV_KUL, privKul);
    keyEngineID = cfg.get(COMM_KEY_ENGINE, keyEngineID);
    // RFC 3414 A.2: the password's key, with the authentication protocol's
    // hash for both.
    takePassword(cfg, COMM_AUTH_PASSWORD, authProtocol, authKu, authKul);
    takePassword(cfg, COMM_PRIV_PASSWORD, authProtocol, privKu, privKul);
    security = cfg.get(COMM_SECURITY, security);
    usmStatus = cfg.get(COMM_USM_STATUS, usmStatus);
    usmPublic = cfg.get(COMM_USM_PUBLIC, usmPublic);
    readView = cfg.get(COMM_READ_VIEW, readView);
    writeView = cfg.get(COMM_WRITE_VIEW, writeView);
    notifyView = cfg.get(COMM_NOTIFY_VIEW, notifyView);
    viewsGeneration = 0;
}

CommunityKeep::Item::~Item() {
    for (std::vector<unsigned char>* key : {&authKu, &privKu, &authKul, &privKul, &authKey, &privKey})
        usm::wipe(*key);
}

void CommunityKeep::Item::regenerateKeys(const std::string& engineID) {
    const bool otherEngine = keyEngineID != engineID;
    for (auto [ku, kul] : {std::pair{&authKu, &authKul}, std::pair{&privKu, &privKul}}) {
        if (otherEngine) usm::wipe(*kul);
        if (kul->empty() && !ku->empty()) *kul = aKeyToBKey(*ku, engineID, authProtocol);
    }
    keyEngineID = engineID;
    usm::wipe(authKey);
    usm::wipe(privKey);
    if (!authKul.empty()) authKey = bKeyToDKey(authKul, authProtocol);
    if (!privKul.empty()) privKey = usm::privacyKey(privProtocol, authProtocol, privKul, engineID);
}
