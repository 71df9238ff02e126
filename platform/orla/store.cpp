// Store file layout, integers big-endian:
//
//   8 bytes  magic "orlastor"
//   u8       format version (1)
//   u32      record count
//   per record, keys strictly ascending:
//     u32 key, u32 length, a flattened message of that length
//   u64      FNV-1a 64 checksum of every byte before it
#include "platform/orla/store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string_view>
#include <utility>

namespace orla {

namespace {

constexpr std::string_view MAGIC = "orlastor";
constexpr uint8_t FORMAT_VERSION = 1;
constexpr size_t HEADER_BYTES = MAGIC.size() + 1 + 4;
constexpr size_t CHECKSUM_BYTES = 8;
constexpr size_t MIN_RECORD_BYTES = 4 + 4 + 5;  // key, length, empty message

uint64_t fnv1a64(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void putU32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char(v >> shift));
}

uint64_t readBig(std::string_view bytes, size_t pos, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v = v << 8 | static_cast<unsigned char>(bytes[pos + i]);
    return v;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates every missing directory above `path` with mode 0700. Failures
// show up when the store is written.
void makeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

// Parses the file content into `records`; the reason for refusing it otherwise.
std::string parse(std::string_view bytes, Store::Map& records) {
    if (bytes.size() < HEADER_BYTES + CHECKSUM_BYTES) return "truncated";
    if (bytes.substr(0, MAGIC.size()) != MAGIC) return "not a store file";
    const std::string_view body = bytes.substr(0, bytes.size() - CHECKSUM_BYTES);
    if (fnv1a64(body) != readBig(bytes, body.size(), CHECKSUM_BYTES)) return "checksum mismatch";
    if (uint8_t(bytes[MAGIC.size()]) != FORMAT_VERSION) return "unsupported format version";

    const uint64_t count = readBig(body, MAGIC.size() + 1, 4);
    if (count > (body.size() - HEADER_BYTES) / MIN_RECORD_BYTES) return "bad record count";
    size_t pos = HEADER_BYTES;
    for (uint64_t i = 0; i < count; ++i) {
        if (body.size() - pos < 8) return "bad record";
        const auto key = uint32_t(readBig(body, pos, 4));
        const uint64_t length = readBig(body, pos + 4, 4);
        pos += 8;
        if (length > body.size() - pos) return "bad record";
        if (!records.empty() && key <= records.rbegin()->first) return "record keys out of order";
        message msg;
        if (!message::unflatten(body.substr(pos, length), msg)) return "bad record message";
        records.emplace_hint(records.end(), key, std::move(msg));
        pos += length;
    }
    if (pos != body.size()) return "bytes after the last record";
    return {};
}

std::string encode(const Store::Map& records) {
    std::string out(MAGIC);
    out.push_back(char(FORMAT_VERSION));
    putU32(out, uint32_t(records.size()));
    for (const auto& [key, msg] : records) {
        const flat_message flat = msg.flatten();
        putU32(out, key);
        putU32(out, uint32_t(flat.bytes.size()));
        out += flat.bytes;
    }
    const uint64_t sum = fnv1a64(out);
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(char(sum >> shift));
    return out;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

// Reads the whole file; false with errno set on failure (ENOENT: no file).
bool readFile(const std::string& path, std::string& out, bool& tooLarge) {
    tooLarge = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && size_t(st.st_size) > STORE_MAX_BYTES) {
        tooLarge = true;
    } else if (ok) {
        out.resize(size_t(st.st_size));
        size_t got = 0;
        while (ok && got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n == 0) break;  // shrank meanwhile: parse() reports it
            if (n > 0) got += size_t(n);
        }
        out.resize(got);
    }
    const int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    return ok;
}

// The latest by name of the files that earlier opens set aside from `path`
// ("<name>.bad-<time>[.<n>]"), or empty.
std::string latestSetAside(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".bad-";
    DIR* dir = opendir(directoryOf(path).c_str());
    if (!dir) return {};
    std::string latest;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.starts_with(prefix) && name > latest) latest = name;
    }
    closedir(dir);
    if (latest.empty()) return {};
    return slash == std::string::npos ? latest : path.substr(0, slash + 1) + latest;
}

}  // namespace

Store::Store(std::string path, uint32_t param) : path_(std::move(path)), param_(param) {
    makeParents(path_);
    unlink((path_ + ".new").c_str());  // left by a crash before its rename
    load();
}

void Store::load() {
    std::string bytes;
    bool tooLarge = false;
    std::string reason;
    if (!readFile(path_, bytes, tooLarge)) {
        if (errno == ENOENT) {
            setAside_ = latestSetAside(path_);
            return;
        }
        reason = std::string("cannot read: ") + strerror(errno);
    } else if (tooLarge) {
        reason = "larger than the store limit";
    } else {
        reason = parse(bytes, records_);
        if (reason.empty()) {
            opened_ = Opened::Loaded;
            return;
        }
        records_.clear();
    }
    opened_ = Opened::Damaged;

    // Keep the damaged file for inspection, never overwrite an earlier one.
    const std::string base = path_ + ".bad-" + std::to_string(time(nullptr));
    std::string aside = base;
    struct stat st;
    for (int n = 1; n < 1000 && lstat(aside.c_str(), &st) == 0; ++n) {
        aside = base + "." + std::to_string(n);
    }
    if (rename(path_.c_str(), aside.c_str()) == 0) {
        setAside_ = aside;
        std::cerr << "store " << path_ << ": damaged, moved to " << aside << ": " << reason
                  << std::endl;
    } else {
        std::cerr << "store " << path_ << ": damaged, cannot move it aside (" << strerror(errno)
                  << "): " << reason << std::endl;
    }
}

message Store::get(uint32_t key) const {
    const auto it = records_.find(key);
    return it == records_.end() ? message{} : it->second;
}

bool Store::set(uint32_t key, const message& msg) {
    message check;
    if (!message::unflatten(msg.flatten().bytes, check)) {
        std::cerr << "store " << path_ << ": record " << key << " refused: not a storable message"
                  << std::endl;
        return false;
    }
    Map records = records_;
    records[key] = msg;
    return commit(std::move(records));
}

bool Store::remove(uint32_t key) {
    if (records_.find(key) == records_.end()) return false;
    Map records = records_;
    records.erase(key);
    return commit(std::move(records));
}

bool Store::commit(Map records) {
    const WriteResult result = write(records);
    if (result != WriteResult::Failed) records_ = std::move(records);
    return result == WriteResult::Done;
}

Store::WriteResult Store::write(const Map& records) const {
    const std::string bytes = encode(records);
    const std::string temp = path_ + ".new";
    const auto fail = [&](const char* step) {
        std::cerr << "store " << path_ << ": cannot write: " << step << ": " << strerror(errno)
                  << std::endl;
        return WriteResult::Failed;
    };
    if (bytes.size() > STORE_MAX_BYTES) {
        errno = EFBIG;
        return fail("size");
    }

    makeParents(path_);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fail("open");
    // fchmod: the creation mode is subject to the umask.
    if (fchmod(fd, 0600) != 0 || !writeAll(fd, bytes) || fsync(fd) != 0) {
        const WriteResult r = fail("write");
        close(fd);
        unlink(temp.c_str());
        return r;
    }
    if (close(fd) != 0) {
        const WriteResult r = fail("close");
        unlink(temp.c_str());
        return r;
    }
    if (rename(temp.c_str(), path_.c_str()) != 0) {
        const WriteResult r = fail("rename");
        unlink(temp.c_str());
        return r;
    }
    const int dir = open(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
    if (!synced) {
        std::cerr << "store " << path_ << ": cannot sync directory: " << strerror(errno)
                  << std::endl;
        return WriteResult::Unsynced;
    }
    return WriteResult::Done;
}

void Store::restore(uint32_t key, const message* previous) {
    const bool present = find(key) != end();
    if (previous && (!present || get(key) != *previous)) {
        set(key, *previous);
    } else if (!previous && present) {
        remove(key);
    }
}

}  // namespace orla
