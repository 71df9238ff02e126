// The host service's handlers: the system scalars, the storage areas and
// the processors, served as the objects of platform/hostd/host_object.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/hostd/host_reader.h"
#include "platform/hostd/load_sampler.h"
#include "platform/orla/handler.h"
#include "platform/orla/message.h"

namespace hostd {

inline constexpr uint32_t DEFAULT_PAGE_SIZE = 32;
// A page of objects stays far below the library's 1 MiB frame.
inline constexpr uint32_t MAX_PAGE_SIZE = 1024;

// RFC 2579 DateAndTime of a broken-down local time: 11 octets, the offset
// from UTC (`utcOffsetSeconds`, east positive) last.
std::string encodeDateAndTime(const std::tm& local, long utcOffsetSeconds, int deciseconds);

// CMD_GET: uptime, date, processes and memory, read for each request.
class SystemHandler : public orla::Handler {
  public:
    explicit SystemHandler(const HostReader& reader) : reader_(reader) {}
    orla::message cmdGet(const orla::message& request) override;

  private:
    const HostReader& reader_;
};

// A handler whose get-all pages through a list of objects read afresh for a
// walk's first page. `pageSize`: objects per page, 1 to MAX_PAGE_SIZE; a
// request's OBJ_PAGE_SIZE may ask for fewer.
class PagedHandler : public orla::Handler {
  public:
    explicit PagedHandler(uint32_t pageSize);
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;

  protected:
    // The objects now, in ascending id.
    virtual std::vector<std::pair<uint32_t, orla::message>> read() = 0;

  private:
    uint32_t pageSize_;
    bool readBefore_ = false;
    std::vector<std::pair<uint32_t, orla::message>> snapshot_;
};

// RAM, swap and the mounted filesystems. A mount point keeps its index for
// the service's life, up to MAX_REMEMBERED mount points; past that the ones
// not mounted are forgotten.
class StorageHandler : public PagedHandler {
  public:
    static constexpr uint32_t FIRST_FILESYSTEM_INDEX = 31;
    static constexpr size_t MAX_REMEMBERED = 4 * MAX_FILESYSTEMS;

    StorageHandler(const HostReader& reader, uint32_t pageSize)
        : PagedHandler(pageSize), reader_(reader) {}

  protected:
    std::vector<std::pair<uint32_t, orla::message>> read() override;

  private:
    uint32_t indexOf(const std::string& mountPoint, const std::vector<Mount>& mounted);

    const HostReader& reader_;
    std::map<std::string, uint32_t> indexes_;  // by mount point
    uint32_t nextIndex_ = FIRST_FILESYSTEM_INDEX;
};

// The online CPUs with their load over the last minute.
class ProcessorHandler : public PagedHandler {
  public:
    ProcessorHandler(const HostReader& reader, uint32_t pageSize)
        : PagedHandler(pageSize), reader_(reader) {}
    // Takes a sample of the CPU counters now and arms the timer for the next.
    void sample();

  protected:
    std::vector<std::pair<uint32_t, orla::message>> read() override;

  private:
    const HostReader& reader_;
    LoadSampler loads_;
};

// The processes, a window at a time by pid. A window from the first pid
// reads /proc again when the last reading is a second old; windows further
// on use the last reading until it is ten seconds old, so a walk of many
// processes does not read them all per window.
class ProcessHandler : public orla::Handler {
  public:
    ProcessHandler(const HostReader& reader, uint32_t pageSize)
        : reader_(reader), pageSize_(pageSize) {}
    orla::message cmdGetAll(const orla::message& request, uint32_t startId,
                            uint32_t count) override;

  private:
    struct Row {
        uint32_t pid;
        std::string fields;  // processFields()
    };

    const HostReader& reader_;
    uint32_t pageSize_;
    std::vector<Row> snapshot_;  // ascending by pid
    bool read_ = false;
    uint32_t readAt_ = 0;  // jiffies
};

}  // namespace hostd
