#include "capture/bt_source.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <string>

#include "driver/settings.h"
#include "support.h"
#include "zelk_net.h"

namespace {

TEST(HciFrames, DumpShowsEveryByteAfterThePacketType) {
    struct {
        int length;
        std::string dump;
    } cases[] = {
        {0, ""},
        {1, ""},
        {2, "\n0x0001:01"},
        {21, "\n0x0001:0102030405060708090a0b0c0d0e0f1011121314"},
        {22, "\n0x0001:0102030405060708090a0b0c0d0e0f1011121314\n0x0002:15"},
        {45,
         "\n0x0001:0102030405060708090a0b0c0d0e0f1011121314"
         "\n0x0002:15161718191a1b1c1d1e1f202122232425262728"
         "\n0x0003:292a2b2c"},
    };
    test::reset();
    unsigned long frame_number = 0;
    uint32_t total = 0;
    for (const auto& c : cases) {
        // Exactly the received bytes, byte i holding i: the sanitizer build
        // catches a dump that runs past them.
        std::unique_ptr<uint8_t[]> frame(new uint8_t[c.length]);
        for (int i = 0; i < c.length; ++i) frame[i] = static_cast<uint8_t>(i);
        std::string out = test::capture_output([&] { hci_frame_handler(frame.get(), c.length); });
        ++frame_number;
        total += static_cast<uint32_t>(c.length);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(
            out, m, std::regex(R"(^\n\d\d:\d\d:\d\d\.\d{6} - Received frame (\d+)\((\d+) bytes length\)\.\.\.\n)")))
            << out;
        EXPECT_EQ(m[1], std::to_string(frame_number));
        EXPECT_EQ(m[2], std::to_string(c.length));
        EXPECT_EQ(m.suffix().str(), "\n- HCI Frame -" + c.dump + "\n") << c.length;
        EXPECT_EQ(capture.byte_total, total);
    }
}

TEST(BluetoothCapture, WithoutBluetoothTheSocketErrorEndsTheRun) {
    if (!test::running_as_root()) GTEST_SKIP() << "the Bluetooth source needs root";
    int probe = socket(zelk_af_bluetooth, SOCK_RAW, zelk_btproto_hci);
    if (probe >= 0) {
        close(probe);
        GTEST_SKIP() << "this machine supports Bluetooth sockets";
    }
    // The Bluetooth source goes before every other source.
    for (auto args : {std::vector<std::string>{"--bt", "0"}, std::vector<std::string>{"--bt", "0", "-f", "port 80"},
                      std::vector<std::string>{"--bt", "1", "-d", "lo"}}) {
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 1) << args.size();
        EXPECT_EQ(r.err, "Error: zelk_open_bluetooth_socket: socket failed!\n");
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
