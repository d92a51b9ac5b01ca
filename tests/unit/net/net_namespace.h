// Network namespaces for the discovery tests: broadcasts and the server port 2638 are
// used only inside namespaces a test made itself, so nothing reaches a real network
// and no other program's port is touched.
//
// FreshNamespace() moves the calling process (a forked child) into a new namespace with
// only its loopback interface, up. NamespacePair makes two named namespaces joined by a
// veth pair and always removes them. Both report why they could not (empty on success),
// so that a test can skip where the kernel or the container refuses.
#ifndef VQ_TESTS_UNIT_NET_NET_NAMESPACE_H
#define VQ_TESTS_UNIT_NET_NET_NAMESPACE_H

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vq::testing {

// Runs a command quietly; true when it succeeded.
inline bool Quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string FreshNamespace() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + std::strerror(errno);
  if (!Quietly("ip link set lo up")) return "the loopback interface could not be brought up";
  return "";
}

// Two namespaces "<prefix>a" and "<prefix>b" joined by veth interfaces "vqa" (in a,
// 10.77.0.1/24) and "vqb" (in b, 10.77.0.2/24). IPv6 is switched off inside both so that
// no address waits for duplicate detection.
class NamespacePair {
 public:
  NamespacePair() : prefix_("vqdisc" + std::to_string(getpid())) {}
  ~NamespacePair() { Remove(); }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  std::string Create() {
    if (access("/usr/sbin/ip", X_OK) != 0 && access("/sbin/ip", X_OK) != 0)
      return "the ip command is not installed";
    Remove();
    if (!Quietly("ip netns add " + a()) || !Quietly("ip netns add " + b()))
      return "ip netns add was refused";
    created_ = true;
    const std::string inA = "ip netns exec " + a() + " ";
    const std::string inB = "ip netns exec " + b() + " ";
    const bool ok = Quietly(inA + "sysctl -w net.ipv6.conf.all.disable_ipv6=1") &&
                    Quietly(inB + "sysctl -w net.ipv6.conf.all.disable_ipv6=1") &&
                    Quietly(inA + "ip link add vqa type veth peer name vqb netns " + b()) &&
                    Quietly(inA + "ip addr add 10.77.0.1/24 broadcast 10.77.0.255 dev vqa") &&
                    Quietly(inB + "ip addr add 10.77.0.2/24 broadcast 10.77.0.255 dev vqb") &&
                    Quietly(inA + "ip link set lo up") && Quietly(inB + "ip link set lo up") &&
                    Quietly(inA + "ip link set vqa up") && Quietly(inB + "ip link set vqb up");
    return ok ? "" : "the veth pair could not be set up";
  }

  void Remove() {
    // Removing a namespace removes its end of the veth pair, and with it the other end.
    Quietly("ip netns del " + a());
    Quietly("ip netns del " + b());
    created_ = false;
  }

  std::string a() const { return prefix_ + "a"; }
  std::string b() const { return prefix_ + "b"; }

  // Moves the calling process (a forked child) into one of the two.
  static std::string Enter(const std::string& name) {
    const std::string path = "/var/run/netns/" + name;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "cannot open " + path;
    const int rc = setns(fd, CLONE_NEWNET);
    close(fd);
    return rc == 0 ? "" : std::string("setns: ") + std::strerror(errno);
  }

 private:
  std::string prefix_;
  bool created_ = false;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_NET_NET_NAMESPACE_H
