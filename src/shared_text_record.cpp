// Two slots in one memory file and a switch that names the one holding the record. A store
// writes the other slot completely, then flips the switch with one atomic store; a process
// killed before the flip leaves the old slot untouched and still named. After the flip every
// byte outside the header and the named slot is given back, so that memory holds one text and
// no superseded text stays readable.
#include "shared_text_record.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "log.hpp"
#include "util/errno_text.hpp"
#include "util/fd_io.hpp"

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

// A text placed after the held one starts on a page of its own, so that releasing the held one
// frees whole pages.
constexpr std::uint64_t page_size = 4096;

// The header mapped shared for the time of one call. The texts are read and written with
// pread and pwrite: the file shrinks after stores, and a mapping of it would outlive its end.
class HeaderMapping {
  public:
    explicit HeaderMapping(int fd)
        : base_(mmap(nullptr, data_start, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) {}
    ~HeaderMapping() {
        if (*this)
            munmap(base_, data_start);
    }
    HeaderMapping(const HeaderMapping&) = delete;
    HeaderMapping& operator=(const HeaderMapping&) = delete;

    explicit operator bool() const { return base_ != MAP_FAILED; }
    Header& header() const { return *static_cast<Header*>(base_); }

  private:
    void* base_;
};

std::expected<std::uint64_t, int> file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return std::unexpected(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

std::atomic_ref<std::uint32_t> switch_of(Header& header) {
    return std::atomic_ref<std::uint32_t>(header.current);
}

// Gives back every byte that is neither the header nor `kept`'s: the tail by shrinking the
// file, the gap before `kept` by punching a hole, which reads as zeros from then on.
std::expected<void, int> release_all_but(int fd, Slot kept) {
    if (ftruncate(fd, static_cast<off_t>(std::max(data_start, kept.offset + kept.length))) != 0)
        return std::unexpected(errno);
    if (kept.offset > data_start &&
        fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, data_start,
                  static_cast<off_t>(kept.offset - data_start)) != 0)
        return std::unexpected(errno);
    return {};
}

std::expected<void, int> replace(int fd, std::string_view text) {
    const auto size = file_size(fd);
    if (!size)
        return std::unexpected(size.error());
    // A record emptied by a failed store is an empty file; the header comes back as zeros.
    if (*size < data_start && ftruncate(fd, data_start) != 0)
        return std::unexpected(errno);
    const HeaderMapping mapping(fd);
    if (!mapping)
        return std::unexpected(errno);
    Header& header = mapping.header();
    const std::uint32_t current = switch_of(header).load(std::memory_order_acquire) & 1;
    const Slot held = header.slots[current];

    // The new bytes go where they cannot touch the held ones: before them when they fit there,
    // else after them.
    const std::uint64_t length = text.size();
    const std::uint64_t after_held =
        (held.offset + held.length + page_size - 1) / page_size * page_size;
    const std::uint64_t offset =
        data_start + length <= held.offset ? data_start : std::max(data_start, after_held);
    if (length > 0) {
        // Memory for the text is taken before the copy, so that a shortage fails here whole.
        if (fallocate(fd, 0, static_cast<off_t>(offset), static_cast<off_t>(length)) != 0)
            return std::unexpected(errno);
        if (auto written = util::write_all_at(fd, text, static_cast<off_t>(offset)); !written)
            return written;
    }
    const std::uint32_t next = current ^ 1;
    header.slots[next] = Slot{offset, length};
    switch_of(header).store(next, std::memory_order_release);
    // A process killed from here on leaves superseded bytes to the next store, which releases
    // them with its own.
    return release_all_but(fd, header.slots[next]);
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
    const auto size = file_size(fd_.get());
    if (!size || *size < data_start)
        return {};
    Slot slot;
    {
        const HeaderMapping mapping(fd_.get());
        if (!mapping)
            return {};
        const std::uint32_t current = switch_of(mapping.header()).load(std::memory_order_acquire);
        slot = mapping.header().slots[current & 1];
    }
    if (slot.offset < data_start || slot.offset > *size || slot.length > *size - slot.offset)
        return {};
    std::string text(slot.length, '\0');
    const auto read = util::read_full_at(fd_.get(), text, static_cast<off_t>(slot.offset));
    if (!read || *read != slot.length)
        return {};
    return text;
}

void SharedTextRecord::store(std::string_view text) {
    const auto stored = replace(fd_.get(), text);
    if (stored)
        return;
    // An empty file is the empty record, made in one step; an older text restored later could
    // undo what the user has copied since.
    const int cleared = ftruncate(fd_.get(), 0) == 0 ? 0 : errno;
    QF_ERROR("error storing the shared text, keeping none: {}", util::errno_full(stored.error()));
    if (cleared != 0)
        QF_ERROR("error emptying the shared text: {}", util::errno_full(cleared));
}

} // namespace quillfen
