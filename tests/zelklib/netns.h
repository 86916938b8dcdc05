// A throw-away network namespace with a veth pair, for tests that capture
// live frames without touching any real network. Needs root.
#pragma once

#include <string>

namespace test {

struct veth_namespace {
    static constexpr const char* capture_end = "nxa";
    static constexpr const char* peer_end = "nxb";
    std::string name;
    std::string error;  // why the setup failed, empty when it worked

    // Creates the namespace, the pair (both ends up) and switches IPv6 off
    // there so that the links stay silent unless a test sends something.
    veth_namespace();
    // Removes the namespace and with it both ends of the pair.
    ~veth_namespace();
    veth_namespace(const veth_namespace&) = delete;
    veth_namespace& operator=(const veth_namespace&) = delete;
    bool ok() const { return error.empty(); }
    // Runs an ip(8) command inside the namespace; true on success.
    bool ip(const std::string& arguments) const;
};

// While it lives, the calling thread (and every process it starts) works
// inside the namespace.
struct inside_namespace {
    int original = -1;
    bool entered = false;
    explicit inside_namespace(const std::string& name);
    ~inside_namespace();
    inside_namespace(const inside_namespace&) = delete;
    inside_namespace& operator=(const inside_namespace&) = delete;
};

// SIOCGIFFLAGS of an interface of the current namespace, or -1.
int interface_flags(const char* interface_name);

}  // namespace test
