#include <dirent.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "zelk.h"
#include "zelk_net.h"
#include "zelklib/netns.h"

namespace {

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "raw sockets and namespaces need root"

int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

struct printed {
    std::string out, err;
};
template <typename F>
printed capture_printing(F fn) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    fn();
    zelk_flush(stdout);
    printed p;
    p.out = testing::internal::GetCapturedStdout();
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

TEST(InterfaceUtilities, MissingInterfaceReportsAndFails) {
    int s = zelk_open_io_socket();
    ASSERT_GE(s, 0);
    EXPECT_EQ(s, zelk_io_socket);
    int toggled = 0;
    uint8_t* address = nullptr;
    auto p = capture_printing([&] {
        toggled = zelk_toggle_promisc("nodrix-none0", s);
        address = zelk_get_hw_info("nodrix-none0", s);
    });
    EXPECT_EQ(toggled, -1);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(p.out, "");  // no information line without the flags
    EXPECT_EQ(p.err,
              "Error: zelk_toggle_promisc - set_promisc: get ioctl(SIOCGIFFLAGS) failed!\n"
              "Error: zelk_get_hw_info: ioctl(SIOCGIFHWADDR) failed!\n");
    EXPECT_EQ(zelk_close_io_socket(s), 1);
    p = capture_printing([&] { toggled = zelk_close_io_socket(-1); });
    EXPECT_EQ(toggled, -1);
    EXPECT_EQ(p.err, "Error: zelk_close_io_socket: socket closing failed!\n");
}

TEST(LinkLayer, OpenNamesTheLinkTypeOrRefusesWithoutLeaking) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    bool have_tun = ns.ip("tuntap add dev nxt mode tun");
    ASSERT_TRUE(ns.ip("link set nxa address 02:00:00:00:0a:0a"));
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    int io_socket = zelk_open_io_socket();
    uint8_t* address = zelk_get_hw_info("nxa", io_socket);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(test::bytes(address, address + 6), test::hex("02 00 00 00 0a 0a"));
    zelk_close_io_socket(io_socket);

    for (const char* name : {"nxa", "lo"}) {
        zelk_link_layer* handle = zelk_open_link_layer(name);
        ASSERT_NE(handle, nullptr) << name;
        EXPECT_EQ(handle->link_type, 1) << name;
        EXPECT_EQ(handle->offset, 14) << name;
        EXPECT_EQ(zelk_close_link_layer(handle), 0);
        free(handle);
    }

    struct {
        const char* name;
        const char* out;
        const char* err;
    } refused[] = {
        {"nodrix-none0", "", "Error: zelk_link_layer/sockpacket: ioctl failed!\n"},
        {"nxt", "Info : zelk_link_layer/sockpacket: unknown physical layer type!\n", ""},
    };
    for (const auto& r : refused) {
        if (!have_tun && strcmp(r.name, "nxt") == 0) continue;
        int before = open_descriptors();
        zelk_link_layer* handle = nullptr;
        auto p = capture_printing([&] { handle = zelk_open_link_layer(r.name); });
        EXPECT_EQ(handle, nullptr) << r.name;
        EXPECT_EQ(p.out, r.out);
        EXPECT_EQ(p.err, r.err);
        EXPECT_EQ(open_descriptors(), before) << r.name;
    }
}

std::vector<test::bytes> received;
void keep_frame(const sockaddr*, const uint8_t* frame, int length) { received.emplace_back(frame, frame + length); }

TEST(LinkLayer, ReadsExactlyTheFramesOfItsInterface) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    zelk_link_layer* reader = zelk_open_link_layer("nxa");
    zelk_link_layer* sender = zelk_open_link_layer("nxb");
    ASSERT_TRUE(reader && sender);

    auto frame = [](uint8_t tag, size_t size) {
        test::bytes f = test::hex("ffffffffffff 02000000000b 88b5");
        f.resize(size, tag);
        return f;
    };
    test::bytes first = frame(1, 60), second = frame(2, 1514), third = frame(3, 100);
    EXPECT_EQ(zelk_write_link_layer(sender, "nxb", first.data(), 60, 0), 0);  // sends nothing
    EXPECT_EQ(zelk_write_link_layer(sender, "nxb", first.data(), 60, 2), 60);
    EXPECT_EQ(zelk_write_link_layer(sender, "nxb", second.data(), 1514, 1), 1514);
    EXPECT_EQ(zelk_write_link_layer(sender, "nxb", third.data(), 100, 1), 100);

    // Frames leave nxb and arrive on nxa; a socket that saw every interface
    // would get each of them twice.
    received.clear();
    EXPECT_EQ(zelk_read_link_layer(reader, 65535, 3, keep_frame), 0);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], first);
    EXPECT_EQ(received[1], first);
    EXPECT_EQ(received[2], second);
    // A short receive length cuts the frame.
    received.clear();
    EXPECT_EQ(zelk_read_link_layer(reader, 20, 1, keep_frame), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], test::bytes(third.begin(), third.begin() + 20));

    zelk_close_link_layer(reader);
    zelk_close_link_layer(sender);
    free(reader);
    free(sender);
}

}  // namespace
