// orla::Store: a persistent map from u32 keys to messages, kept in one file.
//
// The whole map lives in memory; every set() and remove() rewrites the file
// and is durable before it returns: the new content goes to "<path>.new",
// which is synced, renamed over the store and the directory synced, so a
// crash at any instant leaves either the old or the new content on disk.
// A damaged file (bad header, checksum or record) is moved aside to
// "<path>.bad-<unix time>", reported with one line on the standard error
// stream, and the store opens empty; opened() and setAside() tell the owner,
// which may need to tell a new store from a lost one. The file is mode 0600 (records may hold
// passwords); missing parent directories are created with mode 0700.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/orla/message.h"

namespace orla {

// Largest store file read or written; a larger file counts as damaged.
inline constexpr size_t STORE_MAX_BYTES = size_t(64) << 20;

class Store {
  public:
    using Map = std::map<uint32_t, message>;
    // Entries in ascending key order: for (const auto& [key, msg] : store).
    using const_iterator = Map::const_iterator;
    using iterator = const_iterator;

    // Loads the store at `path`. `param` is recorded (see param()) and has
    // no further effect.
    Store(std::string path, uint32_t param);

    // What the constructor found at the path.
    enum class Opened { Missing, Loaded, Damaged };
    Opened opened() const { return opened_; }
    // Damaged: where the file was moved, empty when it could not be moved
    // (it is still at path()). Missing: a file that an earlier open set
    // aside, the latest by name, if any: the store existed before.
    const std::string& setAside() const { return setAside_; }

    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }
    const_iterator find(uint32_t key) const { return records_.find(key); }
    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }

    // The stored message; an empty one when there is none under `key`.
    message get(uint32_t key) const;

    // Stores `msg` under `key`, replacing an older one. False, with one line
    // on the standard error stream and nothing changed, when the message
    // cannot be stored (it does not unflatten: beyond the FLAT_ limits or
    // holding a malformed element) or the file cannot be written. If only
    // the final directory sync fails, the new content is already in place:
    // the store keeps it but answers false, as durability is not assured.
    bool set(uint32_t key, const message& msg);
    // Removes the entry; false when there was none (nothing written) or the
    // file cannot be written (reported as for set()).
    bool remove(uint32_t key);
    // After a failed set() or remove() the file may still hold the new
    // content (written but not synced): puts back `previous` under `key`,
    // or no entry when it is null, so that the owner's table and the store
    // agree again.
    void restore(uint32_t key, const message* previous);

    const std::string& path() const { return path_; }
    uint32_t param() const { return param_; }

  private:
    enum class WriteResult { Failed, Unsynced, Done };
    void load();
    WriteResult write(const Map& records) const;
    bool commit(Map records);

    std::string path_;
    uint32_t param_;
    Map records_;
    Opened opened_ = Opened::Missing;
    std::string setAside_;
};

}  // namespace orla
