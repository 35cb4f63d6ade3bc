#include "support/private_namespace.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vesmara::test {
namespace {

std::string failed(const std::string& call) { return call + " failed: " + std::strerror(errno); }

bool writeSmallFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && written;
}

// A new network namespace has only a loopback interface, and it is down.
bool bringLoopbackUp(std::string& reason) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  if (!up) reason = failed("bringing the loopback interface up");
  if (fd >= 0) close(fd);
  return up;
}

}  // namespace

bool enterPrivateNamespaces(bool network, std::string& reason) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  const int kinds = CLONE_NEWNS | (network ? CLONE_NEWNET : 0);
  if (uid == 0) {
    if (unshare(kinds) != 0) {
      reason = failed(network ? "unshare(CLONE_NEWNS | CLONE_NEWNET)" : "unshare(CLONE_NEWNS)");
      return false;
    }
  } else {
    if (unshare(CLONE_NEWUSER | kinds) != 0) {
      reason = "not root, and " + failed("unshare(CLONE_NEWUSER | ...)");
      return false;
    }
    const std::string user = std::to_string(uid) + " " + std::to_string(uid) + " 1";
    const std::string group = std::to_string(gid) + " " + std::to_string(gid) + " 1";
    if (!writeSmallFile("/proc/self/setgroups", "deny") || !writeSmallFile("/proc/self/uid_map", user) ||
        !writeSmallFile("/proc/self/gid_map", group)) {
      reason = failed("mapping the user into its namespace");
      return false;
    }
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    reason = failed("making the mounts private");
    return false;
  }
  return !network || bringLoopbackUp(reason);
}

bool mountOver(const std::filesystem::path& replacement, const std::filesystem::path& target, std::string& reason) {
  if (mount(replacement.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0) return true;
  reason = failed("mounting " + replacement.string() + " over " + target.string());
  return false;
}

bool dropNamespaceCapabilities(std::string& reason) {
  if (geteuid() == 0) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, data) == 0) return true;
  reason = failed("dropping the namespace's capabilities");
  return false;
}

}  // namespace vesmara::test
