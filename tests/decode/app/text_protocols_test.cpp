// The line-based text protocols: FTP, SMTP, POP3, IMAP, SIP with SDP and
// Redis, each on its port, by default and under --expand-all.
#include <gtest/gtest.h>

#include "app_frames.h"
#include "decode/expected_text.h"
#include "stats/counters.h"

namespace {

using test::bytes;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

const std::string invite =
    "INVITE sip:bob@example.org SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bK776asdhds\r\n"
    "Via: SIP/2.0/UDP 192.0.2.1:5060;branch=z9hG4bK1\r\n"
    "Max-Forwards: 70\r\n"
    "To: Bob <sip:bob@example.org>\r\n"
    "From: Alice <sip:alice@example.com>;tag=1928301774\r\n"
    "Call-ID: a84b4c76e66710@pc33.example.com\r\n"
    "CSeq: 314159 INVITE\r\n"
    "Contact: <sip:alice@192.0.2.10>\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: 201\r\n"
    "\r\n"
    "v=0\r\n"
    "o=alice 2890844526 2890844526 IN IP4 192.0.2.10\r\n"
    "s=call\r\n"
    "c=IN IP4 192.0.2.10\r\n"
    "t=0 0\r\n"
    "m=audio 49170 RTP/AVP 0 97\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:97 iLBC/8000\r\n"
    "a=sendrecv\r\n"
    "m=video 51372 RTP/AVP 31\r\n";

const std::string ok_compact =
    "SIP/2.0 200 OK\r\n"
    "v: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bK776asdhds\r\n"
    "t: Bob <sip:bob@example.org>;tag=a6c85cf\r\n"
    "f: Alice <sip:alice@example.com>;tag=1928301774\r\n"
    "i: a84b4c76e66710@pc33.example.com\r\n"
    "CSeq: 314159 INVITE\r\n"
    "l: 0\r\n"
    "\r\n";

struct text_case {
    const char* name;  // also the section of tests/data/text_protocols.txt
    std::string payload;
    uint16_t port;
    bool udp;
    bool expand;
    uint32_t protocol_counters::*counter;
};

const text_case cases[] = {
    {"ftp user", "USER anonymous\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp pasv", "227 Entering Passive Mode (192,168,1,2,19,137).\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp epsv", "229 Entering Extended Passive Mode (|||6446|)\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp port", "PORT 10,0,0,1,4,1\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp eprt", "EPRT |2|2001:db8::1|6275|\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp bad port", "PORT 10,0,0,1,4,300\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp multi-line", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n", 21, false, false, &protocol_counters::ftp},
    {"ftp multi-line expanded", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n", 21, false, true,
     &protocol_counters::ftp},
    {"smtp greeting", "220 mail.example.org ESMTP ready\r\n", 25, false, false, &protocol_counters::smtp},
    {"smtp mail from", "MAIL FROM:<alice@example.org> SIZE=100\r\n", 587, false, false, &protocol_counters::smtp},
    {"smtp content", "Subject: hello\r\n\r\nbody\r\n", 25, false, false, &protocol_counters::smtp},
    // Folded fields are joined; a field met twice shows once; the body is
    // not read.
    {"smtp mail head folded",
     "To: a@example.org,\r\n\tb@example.org\r\nSubject: one\r\nsubject: two\r\n\r\nFrom: body@example.org\r\n", 25,
     false, false, &protocol_counters::smtp},
    {"smtp body segment", "-- \r\nFrom: x\r\n", 25, false, false, &protocol_counters::smtp},
    {"smtp ehlo reply expanded", "250-mail.example.org\r\n250-SIZE 1000\r\n250 HELP\r\n", 25, false, true,
     &protocol_counters::smtp},
    {"smtp cut line", "EHLO client.exa", 25, false, false, &protocol_counters::smtp},
    {"pop3 greeting", "+OK POP3 server ready\r\n", 110, false, false, &protocol_counters::pop3},
    {"pop3 retr", "RETR 1\r\n", 110, false, false, &protocol_counters::pop3},
    {"pop3 error", "-ERR no such message\r\n", 110, false, false, &protocol_counters::pop3},
    {"imap login", "a001 LOGIN joe secret\r\n", 143, false, false, &protocol_counters::imap},
    {"imap select reply expanded",
     "* 18 EXISTS\r\n* OK [UIDVALIDITY 1] ok\r\na002 OK [READ-WRITE] SELECT completed\r\n", 143, false, true,
     &protocol_counters::imap},
    {"imap continuation", "+ Ready for literal data\r\n", 143, false, false, &protocol_counters::imap},
    {"sip invite", invite, 5060, true, false, &protocol_counters::sip},
    {"sip invite expanded", invite, 5060, true, true, &protocol_counters::sip},
    {"sip ok compact", ok_compact, 5060, false, false, &protocol_counters::sip},
    {"sip head cut", "OPTIONS sip:x SIP/2.0\r\nVia: SIP/2.0/UDP h\r\n", 5060, true, false, &protocol_counters::sip},
    {"sip keep-alive", "\r\n\r\n", 5060, true, false, &protocol_counters::sip},
    {"redis get", "*2\r\n$3\r\nGET\r\n$3\r\nkey\r\n", 6379, false, false, &protocol_counters::redis},
    {"redis set expanded", "*3\r\n$3\r\nSET\r\n$3\r\nkey\r\n$5\r\nvalue\r\n", 6379, false, true,
     &protocol_counters::redis},
    {"redis replies expanded", "+OK\r\n-ERR unknown command\r\n:1000\r\n$5\r\nhello\r\n$-1\r\n", 6379, false, true,
     &protocol_counters::redis},
    {"redis pipelined", "+OK\r\n+QUEUED\r\n", 6379, false, false, &protocol_counters::redis},
    {"redis cut", "*2\r\n$3\r\nGET\r\n$10\r\nke", 6379, false, false, &protocol_counters::redis},
    {"redis not resp", "hello\r\n", 6379, false, false, &protocol_counters::redis},
};

bytes frame_of(const text_case& c) {
    return c.udp ? appf::udp4(text(c.payload), 40001, c.port) : appf::tcp4(text(c.payload), c.port);
}

std::string from_banner(const std::string& out) {
    for (const char* banner : {"- FTP", "- SMTP", "- POP3", "- IMAP", "- SIP", "- Redis"}) {
        size_t at = out.find(banner);
        if (at != std::string::npos) return out.substr(at);
    }
    return "<no banner>\n" + out;
}

TEST(TextProtocols, TextAndCounters) {
    for (const auto& c : cases) {
        if (c.expand)
            test::reset({"expand-all", "statistic"});
        else
            test::reset({"statistic"});
        std::string out = from_banner(ipf::decode_ethernet_frame(frame_of(c)));
        EXPECT_EQ(out, test::expected_section("text_protocols.txt", c.name)) << c.name;
        EXPECT_EQ(counters.*c.counter, 1u) << c.name;
    }
}

// tests/data/text_protocols.json.txt: per case the application layers of the JSON line
// (from the first one on) and the summary line's facts.
TEST(TextProtocols, JsonAndSummary) {
    for (const auto& c : cases) {
        std::string expected = test::expected_section("text_protocols.json.txt", c.name);
        size_t newline = expected.find('\n');
        std::string layers = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        bytes frame = frame_of(c);
        test::reset({"json"});
        std::string line = appf::json(frame);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(layers), std::string::npos) << c.name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decode_ethernet, frame, 14);
        EXPECT_NE(line.find(facts), std::string::npos) << c.name << "\n" << line;
    }
}

TEST(TextProtocols, EveryPrefix) {
    for (const auto& c : cases) {
        bytes frame = frame_of(c);
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0) << c.name;
    }
}

}  // namespace
