// Isolation for tests that look at every display of the machine (discovery probes ":0" to
// ":254"): the process moves into a mount and a network namespace of its own with an empty
// /tmp/.X11-unix. X servers of other processes are then out of sight (their abstract sockets
// belong to the other network namespace, their socket files to the other directory), and the
// servers this process starts afterwards are out of theirs. It also gets a /run/user of its own,
// so that the service it starts keeps its lock apart from services running beside the test.
#pragma once

#include <string>

namespace quillfen::test {

// Must run while the process has one thread. Returns why it could not be done (not root, no
// namespaces in this container), or the empty text on success.
std::string enter_private_display_namespace();

// In a mount namespace of this process's own: makes its mounts private and puts an empty
// /run/user there, holding this user's runtime directory /run/user/<euid> (mode 0700). Returns
// why it could not be done, or the empty text on success.
std::string mount_private_run_user();

} // namespace quillfen::test
