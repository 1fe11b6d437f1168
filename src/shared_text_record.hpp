// The text the clipboards last shared, kept where it outlives a worker: a memory file that the
// supervisor makes before its first fork and every worker inherits. A worker's selections vanish
// with it; the next worker puts this text back. Nothing of it goes to disk.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "util/unique_fd.hpp"

namespace quillfen {

class SharedTextRecord {
  public:
    // An empty record; the error number when no memory file can be made.
    static std::expected<SharedTextRecord, int> create();

    // The last text stored whole; the empty text when there is none.
    std::string load() const;

    // Replaces the record; memory then holds this text alone. A process ended at any moment of
    // the call leaves the old record or the new one, whole. When the text cannot be stored, the
    // record is emptied and the failure logged.
    void store(std::string_view text);

  private:
    explicit SharedTextRecord(util::UniqueFd fd) : fd_(std::move(fd)) {}

    util::UniqueFd fd_;
};

} // namespace quillfen
