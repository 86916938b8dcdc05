// DNS, mDNS and LLMNR from messages written out by RFC 1035, 6762, 4795.
#include <gtest/gtest.h>

#include <chrono>

#include "app_frames.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

// example.org at offset 12, A/IN.
const char* const question = "076578616d706c65036f726700 0001 0001";

bytes query() { return hex(std::string("1234 0100 0001 0000 0000 0000") + question); }

bytes response() {
    return hex(std::string("1234 8180 0001 0004 0001 0001") + question +
               "c00c 0001 0001 0000012c 0004 c0000201"                          // A
               "c00c 001c 0001 0000012c 0010 20010db8000000000000000000000001"  // AAAA
               "03777777c00c 0005 0001 00000e10 0002 c00c"                      // www CNAME
               "c00c 0010 0001 0000003c 000c 0568656c6c6f 05776f7201 64"        // TXT
               "c00c 0006 0001 00000e10 0020 026e73c00c 04686f7374c00c"         // SOA
               "00000007 00000001 00000002 00000003 00000004"
               "00 0029 04d0 00008000 000c 000a 0008 3132333435363738");  // OPT
}

TEST(Dns, QueryAndResponseText) {
    struct {
        const char* name;
        std::initializer_list<const char*> flags;
        bytes payload;
        const char* expected;
    } cases[] = {
        {"query",
         {},
         query(),
         "- DNS Header -\n"
         "  Transaction ID: 0x1234, Query, Opcode: 0, Rcode: 0\n"
         "  Questions: 1, Answers: 0, Authority: 0, Additional: 0\n"
         "  Question: example.org, Type: 1\n"},
        {"query expanded",
         {"expand-all", "verbose"},
         query(),
         "- DNS Header -\n"
         "  Transaction ID: 0x1234, Query, Opcode: 0 (Query), Rcode: 0 (NoError)\n"
         "  Flags: 0x0100 (RD)\n"
         "  Questions: 1, Answers: 0, Authority: 0, Additional: 0\n"
         "  Question: example.org, Type: 1 (A), Class: 1 (IN)\n"},
        {"response",
         {},
         response(),
         "- DNS Header -\n"
         "  Transaction ID: 0x1234, Response, Opcode: 0, Rcode: 0\n"
         "  Questions: 1, Answers: 4, Authority: 1, Additional: 1\n"
         "  Question: example.org, Type: 1\n"
         "  Answer: example.org, Type: 1\n"
         "    Address: 192.0.2.1\n"
         "  Answer: example.org, Type: 28\n"
         "    Address: 2001:db8::1\n"
         "  Answer: www.example.org, Type: 5\n"
         "    Name: example.org\n"
         "  Answer: example.org, Type: 16\n"
         "    Text: \"hello\"\n"
         "    Text: \"wor.d\"\n"
         "  Authority: example.org, Type: 6\n"
         "    Primary: ns.example.org, Mailbox: host.example.org\n"
         "    Serial: 7, Refresh: 1, Retry: 2, Expire: 3, Minimum: 4\n"
         "  Additional: <Root>, Type: 41\n"
         "    UDP payload size: 1232, Extended rcode: 0, Version: 0, DO: 1\n"
         "    Option: 10, Length: 8\n"},
        {"response expanded",
         {"expand-all", "verbose"},
         response(),
         "- DNS Header -\n"
         "  Transaction ID: 0x1234, Response, Opcode: 0 (Query), Rcode: 0 (NoError)\n"
         "  Flags: 0x8180 (QR RD RA)\n"
         "  Questions: 1, Answers: 4, Authority: 1, Additional: 1\n"
         "  Question: example.org, Type: 1 (A), Class: 1 (IN)\n"
         "  Answer: example.org, Type: 1 (A), Class: 1 (IN), TTL: 300, Length: 4\n"
         "    Address: 192.0.2.1\n"
         "  Answer: example.org, Type: 28 (AAAA), Class: 1 (IN), TTL: 300, Length: 16\n"
         "    Address: 2001:db8::1\n"
         "  Answer: www.example.org, Type: 5 (CNAME), Class: 1 (IN), TTL: 3600, Length: 2\n"
         "    Name: example.org\n"
         "  Answer: example.org, Type: 16 (TXT), Class: 1 (IN), TTL: 60, Length: 12\n"
         "    Text: \"hello\"\n"
         "    Text: \"wor.d\"\n"
         "  Authority: example.org, Type: 6 (SOA), Class: 1 (IN), TTL: 3600, Length: 32\n"
         "    Primary: ns.example.org, Mailbox: host.example.org\n"
         "    Serial: 7, Refresh: 1, Retry: 2, Expire: 3, Minimum: 4\n"
         "  Additional: <Root>, Type: 41 (OPT)\n"
         "    UDP payload size: 1232, Extended rcode: 0, Version: 0, DO: 1\n"
         "    Option: 10 (Cookie), Length: 8\n"},
    };
    for (const auto& c : cases) {
        test::reset(c.flags);
        EXPECT_EQ(appf::decode_from(appf::udp4(c.payload, 40000, 53), "- DNS Header -"), c.expected) << c.name;
    }
}

TEST(Dns, MxSrvHttpsAndUnknownRecords) {
    bytes m = hex(std::string("0001 8400 0000 0004 0000 0000") +
                  "076578616d706c65036f726700 000f 0001 00000000 0009 000a 046d61696cc00c"  // MX
                  "c00c 0021 0001 00000000 000c 0001 0002 0050 03777777c00c"                // SRV
                  "c00c 0041 0001 00000000 0015 0001 00 0001 0006 02683202 6833"            // HTTPS
                  "0004 0004 c0000201"
                  "c00c 00fe 0001 00000000 0002 abcd");  // type 254
    test::reset();
    EXPECT_EQ(appf::decode_from(appf::udp4(m, 53, 40000), "  Answer:"),
              "  Answer: example.org, Type: 15\n"
              "    Preference: 10, Exchange: mail.example.org\n"
              "  Answer: example.org, Type: 33\n"
              "    Priority: 1, Weight: 2, Port: 80, Target: www.example.org\n"
              "  Answer: example.org, Type: 65\n"
              "    Priority: 1, Target: <Root>\n"
              "    Param: 1, Length: 6, Protocols: h2,h3\n"
              "    Param: 4, Length: 4, Addresses: 192.0.2.1\n"
              "  Answer: example.org, Type: 254\n"
              "    Data: 2 bytes\n");
}

TEST(Dns, TcpMessagesBehindTheirLength) {
    bytes q = query();
    bytes two = test::concat({hex("001d"), q, hex("001d"), q});
    test::reset();
    std::string out = appf::decode_from(appf::tcp4(two, 53), "- DNS Header -");
    EXPECT_EQ(out.find("- DNS Header -\n  Length: 29\n  Transaction ID: 0x1234, Query"), 0u) << out;
    EXPECT_NE(out.find("- DNS Header -", 10), std::string::npos) << out;
    // The first part of a longer message.
    bytes part = test::concat({hex("0100"), q});
    out = appf::decode_from(appf::tcp4(part, 53), "- DNS Header -");
    EXPECT_NE(out.find("  [the message continues in a later segment]\n"), std::string::npos) << out;
    // The rest of a message whose start the capture did not see, and bytes
    // too short to be a message, are no broken messages.
    bytes r = response();
    for (const bytes& tail : {bytes(r.begin() + 40, r.end()), hex("0005 1234 0100 00")}) {
        out = appf::decode_from(appf::tcp4(tail, 53), "- DNS Header -");
        EXPECT_EQ(out.find("- DNS Header -\n  [continues a message of an earlier segment]\n"), 0u) << out;
        EXPECT_EQ(out.find("malformed"), std::string::npos) << out;
    }
}

TEST(Dns, MulticastAndLinkLocalVariants) {
    // mDNS: a response with the cache-flush bit, a question asking for a
    // unicast answer.
    bytes mdns =
        hex("0000 8400 0001 0001 0000 0000 05686f737431056c6f63616c00 0001 8001"
            "c00c 0001 8001 00000078 0004 c0a80105");
    test::reset({"expand-all", "statistic"});
    EXPECT_EQ(appf::decode_from(appf::udp4(mdns, 5353, 5353), "- mDNS Header -"),
              "- mDNS Header -\n"
              "  Transaction ID: 0x0000, Response, Opcode: 0, Rcode: 0\n"
              "  Flags: 0x8400 (QR AA)\n"
              "  Questions: 1, Answers: 1, Authority: 0, Additional: 0\n"
              "  Question: host1.local, Type: 1, Class: 1, Unicast response\n"
              "  Answer: host1.local, Type: 1, Class: 1, Cache flush, TTL: 120, Length: 4\n"
              "    Address: 192.168.1.5\n");
    EXPECT_EQ(counters.mdns, 1u);
    // LLMNR names its own flag bits (C, TC, T).
    bytes llmnr = hex("abcd 0600 0001 0000 0000 0000 05686f73743100 001c 0001");
    test::reset({"expand-all", "statistic"});
    std::string out = appf::decode_from(appf::udp6(llmnr, 40000, 5355), "- LLMNR Header -");
    EXPECT_NE(out.find("  Flags: 0x0600 (C TC)\n"), std::string::npos) << out;
    EXPECT_EQ(counters.llmnr, 1u);
}

TEST(Dns, BadNamesAreMalformedAndEndQuickly) {
    struct {
        const char* name;
        bytes payload;
        const char* error;
    } cases[] = {
        {"pointer to itself", hex("1234 0100 0001 0000 0000 0000 c00c 0001 0001"), "compression pointers loop"},
        {"two pointers in a ring", hex("1234 0100 0001 0000 0000 0000 c00e c00c 0001 0001"),
         "compression pointers loop"},
        {"label then pointer back", hex("1234 0100 0001 0000 0000 0000 0161 c00c 0001 0001"),
         "compression pointers loop"},
        {"long labels then pointer back",
         hex("1234 0100 0001 0000 0000 0000 3f" + std::string(126, 'a') + "c00c 0001 0001"),
         "name longer than 255 bytes"},
        {"pointer past the end", hex("1234 0100 0001 0000 0000 0000 c0ff 0001 0001"),
         "compression pointer past the end of the message"},
        {"extended label type", hex("1234 0100 0001 0000 0000 0000 4100 0001 0001"), "unknown label type"},
        {"record data past the end",
         hex(std::string("1234 8100 0001 0001 0000 0000") + question + "c00c 0001 0001 00000000 0010 c0000201"),
         "a length runs past the end of the message"},
        {"counts beyond the records", hex("1234 0100 ffff ffff ffff ffff"),
         "a length runs past the end of the message"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        auto start = std::chrono::steady_clock::now();
        std::string out = appf::decode_from(appf::udp4(c.payload, 40000, 53), "- DNS Header -");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.name;
        EXPECT_NE(out.find(std::string("  [malformed: ") + c.error + "]\n"), std::string::npos) << c.name << out;
        // The UDP statistics and dumps still follow the decoder.
        EXPECT_EQ(counters.udp, 1u) << c.name;
        EXPECT_EQ(counters.dns, 1u) << c.name;
        test::reset({"json"});
        std::string line = appf::json(appf::udp4(c.payload, 40000, 53));
        EXPECT_TRUE(test::valid_json(line)) << c.name << line;
        EXPECT_NE(line.find("\"malformed\":true"), std::string::npos) << c.name << line;
    }
}

TEST(Dns, RecordAndSummary) {
    test::reset({"json"});
    std::string line = appf::json(appf::udp4(response(), 53, 40000));
    ASSERT_TRUE(test::valid_json(line)) << line;
    for (const char* part : {
             "\"dns\":{\"id\":4660,\"response\":true,\"opcode\":0,\"opcode_name\":\"Query\",\"rcode\":0",
             "\"flags_name\":[\"QR\",\"RD\",\"RA\"],\"question_count\":1,\"answer_count\":4",
             "\"questions\":[{\"name\":\"example.org\",\"type\":1,\"type_name\":\"A\",\"class\":1",
             "\"ttl\":300,\"length\":4,\"address\":\"192.0.2.1\"}",
             "\"address\":\"2001:db8::1\"",
             "\"target\":\"example.org\"",
             "\"texts\":[\"hello\",\"wor.d\"]",
             "\"primary\":\"ns.example.org\",\"mailbox\":\"host.example.org\",\"serial\":7",
             "\"udp_payload_size\":1232",
             "\"options\":[{\"code\":10,\"code_name\":\"Cookie\",\"length\":8,\"data\":\"3132333435363738\"}]",
         })
        EXPECT_NE(line.find(part), std::string::npos) << part << "\n" << line;
    test::reset({"summary"});
    EXPECT_NE(appf::json(appf::udp4(query(), 40000, 53)).find(" DNS query A? example.org ("), std::string::npos);
    EXPECT_NE(appf::json(appf::udp4(response(), 53, 40000)).find(" DNS response A example.org 192.0.2.1 ("),
              std::string::npos);
    bytes nx = hex(std::string("1234 8183 0001 0000 0000 0000") + question);
    EXPECT_NE(appf::json(appf::udp4(nx, 53, 40000)).find(" DNS response NXDomain A? example.org ("), std::string::npos);
}

TEST(Dns, EveryPrefixEndsCleanly) {
    for (const bytes& frame :
         {appf::udp4(response(), 53, 40000), appf::tcp4(test::concat({hex("001d"), query()}), 53)}) {
        test::reset({"expand-all", "verbose"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0);
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "");
    }
}

}  // namespace
