#include "zelklib/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace test {

namespace {
bool shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }
}  // namespace

veth_namespace::veth_namespace() : name("nodrix-test-" + std::to_string(getpid())) {
    shell("ip netns del " + name);
    if (!shell("ip netns add " + name)) {
        error = "cannot create network namespace " + name;
        return;
    }
    // Without IPv6 a new link sends no router solicitations or reports.
    shell("ip netns exec " + name +
          " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
    if (!ip(std::string("link add ") + capture_end + " type veth peer name " + peer_end) ||
        !ip(std::string("link set ") + capture_end + " up") || !ip(std::string("link set ") + peer_end + " up"))
        error = "cannot set up a veth pair in " + name;
}

veth_namespace::~veth_namespace() { shell("ip netns del " + name); }

bool veth_namespace::ip(const std::string& arguments) const { return shell("ip -n " + name + " " + arguments); }

inside_namespace::inside_namespace(const std::string& name) {
    original = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (original >= 0 && target >= 0) entered = setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
}

inside_namespace::~inside_namespace() {
    if (entered) setns(original, CLONE_NEWNET);
    if (original >= 0) close(original);
}

int interface_flags(const char* interface_name) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return -1;
    ifreq request{};
    strncpy(request.ifr_name, interface_name, IFNAMSIZ - 1);
    int result = ioctl(s, SIOCGIFFLAGS, &request) < 0 ? -1 : static_cast<unsigned short>(request.ifr_flags);
    close(s);
    return result;
}

}  // namespace test
