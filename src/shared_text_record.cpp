// Two slots in one memory file and a switch that names the one holding the record. A store
// writes the other slot completely, then flips the switch with one atomic store; a process
// killed before the flip leaves the old slot untouched and still named.
#include "shared_text_record.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>

namespace quillfen {

namespace {

struct Slot {
    std::uint64_t offset;
    std::uint64_t length;
};

// At the start of the file; a file fresh from ftruncate is all zeros, which reads as slot 0
// holding the empty text.
struct Header {
    std::uint32_t current; // accessed only through std::atomic_ref
    std::uint32_t unused;
    Slot slots[2];
};

static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free,
              "the switch must work between processes");

constexpr std::uint64_t data_start = 64;
static_assert(sizeof(Header) <= data_start);

// The whole file mapped shared for the time of one call.
class Mapping {
  public:
    Mapping(int fd, std::size_t size)
        : size_(size), base_(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) {}
    ~Mapping() {
        if (*this)
            munmap(base_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    explicit operator bool() const { return base_ != MAP_FAILED; }
    char* bytes() const { return static_cast<char*>(base_); }
    Header& header() const { return *static_cast<Header*>(base_); }
    std::size_t size() const { return size_; }

  private:
    std::size_t size_;
    void* base_;
};

std::uint64_t file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::atomic_ref<std::uint32_t> switch_of(Header& header) {
    return std::atomic_ref<std::uint32_t>(header.current);
}

} // namespace

std::expected<SharedTextRecord, int> SharedTextRecord::create() {
    // Close-on-exec: workers are forked, never executed, and keep it.
    util::UniqueFd fd(memfd_create("quillfen-shared-text", MFD_CLOEXEC));
    if (!fd)
        return std::unexpected(errno);
    if (ftruncate(fd.get(), data_start) != 0)
        return std::unexpected(errno);
    return SharedTextRecord(std::move(fd));
}

std::string SharedTextRecord::load() const {
    const std::uint64_t size = file_size(fd_.get());
    if (size < data_start)
        return {};
    const Mapping mapping(fd_.get(), size);
    if (!mapping)
        return {};
    const std::uint32_t current = switch_of(mapping.header()).load(std::memory_order_acquire);
    const Slot slot = mapping.header().slots[current & 1];
    if (slot.offset < data_start || slot.offset > size || slot.length > size - slot.offset)
        return {};
    return std::string(mapping.bytes() + slot.offset, slot.length);
}

void SharedTextRecord::store(std::string_view text) {
    const std::uint64_t size = file_size(fd_.get());
    if (size < data_start)
        return;
    std::uint32_t current;
    Slot held;
    {
        const Mapping mapping(fd_.get(), size);
        if (!mapping)
            return;
        current = switch_of(mapping.header()).load(std::memory_order_acquire) & 1;
        held = mapping.header().slots[current];
    }
    // The new bytes go where they cannot touch the held ones: before them when they fit there,
    // else right after them. The file thus stays below the size of two texts.
    const std::uint64_t length = text.size();
    const std::uint64_t offset = data_start + length <= held.offset
                                     ? data_start
                                     : std::max(data_start, held.offset + held.length);
    const std::uint64_t needed = offset + length;
    // fallocate, not ftruncate: a memory file grown without its pages would fail the copy below
    // with SIGBUS when memory runs short, instead of failing here.
    if (needed > size && fallocate(fd_.get(), 0, 0, static_cast<off_t>(needed)) != 0)
        return;

    const Mapping mapping(fd_.get(), std::max(size, needed));
    if (!mapping)
        return;
    if (!text.empty())
        std::memcpy(mapping.bytes() + offset, text.data(), text.size());
    const std::uint32_t next = current ^ 1;
    mapping.header().slots[next] = Slot{offset, length};
    switch_of(mapping.header()).store(next, std::memory_order_release);
}

} // namespace quillfen
