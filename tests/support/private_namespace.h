// Namespaces of a test process's own, for tests that change what the whole
// system would see (the trust store, the name server): the process moves
// into them at start-up, before any thread starts, changes what it needs
// there, and nothing outside it (and the servers it starts) sees the change
// or has anything to clean up afterwards.
//
// Entering needs root (as in CI) or unprivileged user namespaces; a test
// that cannot enter skips and gives the reason.
#ifndef VESMARA_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_
#define VESMARA_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_

#include <filesystem>
#include <string>

namespace vesmara::test {

// Moves this process into a mount namespace of its own whose mounts do not
// propagate back, and with `network` into a network namespace of its own
// whose loopback interface is up (nothing else is reachable there). Without
// root, through a user namespace that maps the process's own user and group
// to themselves. False with the reason when that is not possible.
bool enterPrivateNamespaces(bool network, std::string& reason);

// Mounts `replacement` over `target` (a file over a file, or a directory
// over a directory) in this process's mount namespace.
bool mountOver(const std::filesystem::path& replacement, const std::filesystem::path& target, std::string& reason);

// Gives up the capabilities a new user namespace granted, so that the tests
// run with the rights of the user who started them; nothing when the
// process runs as root.
bool dropNamespaceCapabilities(std::string& reason);

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_
