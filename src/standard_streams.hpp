#pragma once
// The service may be started with standard input, output or error not open at all.

namespace quillfen {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is not open. Otherwise the next
// descriptor the service opens (a worker timer's pidfd, a display connection) would take that
// number, and log lines meant for the closed stream would be written into it. Lines for a stream
// that was not open still vanish without a report.
void fill_closed_standard_descriptors();

} // namespace quillfen
