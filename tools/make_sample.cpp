// Writes the sample capture that ./run.sh decodes: a short, realistic mix
// of link, network and transport protocols with correct checksums.
//
// usage: make_sample OUTPUT.pcap
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

void put16(bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void put32(bytes& b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v >> 16));
    put16(b, static_cast<uint16_t>(v));
}
void append(bytes& b, const bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

uint16_t checksum(const bytes& data, uint32_t sum = 0) {
    for (size_t i = 0; i < data.size(); i += 2) sum += (uint32_t{data[i]} << 8) | (i + 1 < data.size() ? data[i + 1] : 0);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

const bytes client_mac = {0x00, 0x00, 0x0c, 0x12, 0x34, 0x56};
const bytes server_mac = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
const uint32_t client_ip = 0xc0a80a02;  // 192.168.10.2
const uint32_t server_ip = 0xc0a80a01;  // 192.168.10.1

bytes ethernet(const bytes& dst, const bytes& src, uint16_t type, const bytes& payload) {
    bytes f = dst;
    append(f, src);
    put16(f, type);
    append(f, payload);
    while (f.size() < 60) f.push_back(0);
    return f;
}

bytes ipv4(uint32_t src, uint32_t dst, uint8_t protocol, const bytes& payload, uint16_t id) {
    bytes h;
    h.push_back(0x45);
    h.push_back(0);
    put16(h, static_cast<uint16_t>(20 + payload.size()));
    put16(h, id);
    put16(h, 0x4000);
    h.push_back(64);
    h.push_back(protocol);
    put16(h, 0);
    put32(h, src);
    put32(h, dst);
    uint16_t c = checksum(h);
    h[10] = static_cast<uint8_t>(c >> 8);
    h[11] = static_cast<uint8_t>(c);
    append(h, payload);
    return h;
}

uint32_t pseudo_sum(uint32_t src, uint32_t dst, uint8_t protocol, size_t length) {
    return (src >> 16) + (src & 0xffff) + (dst >> 16) + (dst & 0xffff) + protocol + static_cast<uint32_t>(length);
}

bytes tcp(uint32_t src, uint32_t dst, uint16_t sport, uint16_t dport, uint32_t seq, uint32_t ack, uint8_t flags,
          const std::string& data) {
    bytes t;
    put16(t, sport);
    put16(t, dport);
    put32(t, seq);
    put32(t, ack);
    t.push_back(0x50);
    t.push_back(flags);
    put16(t, 64240);
    put16(t, 0);
    put16(t, 0);
    t.insert(t.end(), data.begin(), data.end());
    uint16_t c = checksum(t, pseudo_sum(src, dst, 6, t.size()));
    t[16] = static_cast<uint8_t>(c >> 8);
    t[17] = static_cast<uint8_t>(c);
    return t;
}

bytes udp(uint32_t src, uint32_t dst, uint16_t sport, uint16_t dport, const bytes& data) {
    bytes u;
    put16(u, sport);
    put16(u, dport);
    put16(u, static_cast<uint16_t>(8 + data.size()));
    put16(u, 0);
    append(u, data);
    uint16_t c = checksum(u, pseudo_sum(src, dst, 17, u.size()));
    u[6] = static_cast<uint8_t>(c >> 8);
    u[7] = static_cast<uint8_t>(c);
    return u;
}

bytes icmp_echo(uint8_t type, uint16_t sequence) {
    bytes m = {type, 0, 0, 0};
    put16(m, 0x1d2c);
    put16(m, sequence);
    for (uint8_t i = 0; i < 16; ++i) m.push_back(static_cast<uint8_t>('a' + i));
    uint16_t c = checksum(m);
    m[2] = static_cast<uint8_t>(c >> 8);
    m[3] = static_cast<uint8_t>(c);
    return m;
}

bytes arp(uint16_t opcode, const bytes& sender_mac, uint32_t sender_ip, const bytes& target_mac, uint32_t target_ip) {
    bytes a;
    put16(a, 1);
    put16(a, 0x0800);
    a.push_back(6);
    a.push_back(4);
    put16(a, opcode);
    append(a, sender_mac);
    put32(a, sender_ip);
    append(a, target_mac);
    put32(a, target_ip);
    return a;
}

bytes dns_query() {
    bytes q = {0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (const char* label : {"example", "org"}) {
        q.push_back(static_cast<uint8_t>(strlen(label)));
        q.insert(q.end(), label, label + strlen(label));
    }
    q.push_back(0);
    put16(q, 1);
    put16(q, 1);
    return q;
}

bytes ipv6_udp() {
    const uint8_t src[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02};
    const uint8_t dst[16] = {0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xfb};
    bytes payload = dns_query();
    bytes u;
    put16(u, 5353);
    put16(u, 5353);
    put16(u, static_cast<uint16_t>(8 + payload.size()));
    put16(u, 0);
    append(u, payload);
    uint32_t sum = 17 + static_cast<uint32_t>(u.size());
    for (int i = 0; i < 16; i += 2) sum += (uint32_t{src[i]} << 8 | src[i + 1]) + (uint32_t{dst[i]} << 8 | dst[i + 1]);
    uint16_t c = checksum(u, sum);
    u[6] = static_cast<uint8_t>(c >> 8);
    u[7] = static_cast<uint8_t>(c);
    bytes h = {0x60, 0, 0, 0};
    put16(h, static_cast<uint16_t>(u.size()));
    h.push_back(17);
    h.push_back(255);
    h.insert(h.end(), src, src + 16);
    h.insert(h.end(), dst, dst + 16);
    append(h, u);
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.pcap\n", argv[0]);
        return 2;
    }
    const bytes broadcast(6, 0xff);
    const bytes nobody(6, 0x00);
    std::vector<bytes> frames;
    frames.push_back(ethernet(broadcast, client_mac, 0x0806, arp(1, client_mac, client_ip, nobody, server_ip)));
    frames.push_back(ethernet(client_mac, server_mac, 0x0806, arp(2, server_mac, server_ip, client_mac, client_ip)));
    frames.push_back(ethernet(server_mac, client_mac, 0x0800,
                              ipv4(client_ip, server_ip, 1, icmp_echo(8, 1), 0x0101)));
    frames.push_back(ethernet(client_mac, server_mac, 0x0800,
                              ipv4(server_ip, client_ip, 1, icmp_echo(0, 1), 0x2201)));
    frames.push_back(ethernet(server_mac, client_mac, 0x0800,
                              ipv4(client_ip, server_ip, 17, udp(client_ip, server_ip, 40001, 53, dns_query()), 0x0102)));
    const std::string request = "GET / HTTP/1.1\r\nHost: 192.168.10.1\r\n\r\n";
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    frames.push_back(ethernet(server_mac, client_mac, 0x0800,
                              ipv4(client_ip, server_ip, 6, tcp(client_ip, server_ip, 40002, 80, 1000, 0, 0x02, ""), 0x0103)));
    frames.push_back(ethernet(client_mac, server_mac, 0x0800,
                              ipv4(server_ip, client_ip, 6, tcp(server_ip, client_ip, 80, 40002, 5000, 1001, 0x12, ""), 0x2202)));
    frames.push_back(ethernet(server_mac, client_mac, 0x0800,
                              ipv4(client_ip, server_ip, 6, tcp(client_ip, server_ip, 40002, 80, 1001, 5001, 0x18, request), 0x0104)));
    frames.push_back(ethernet(client_mac, server_mac, 0x0800,
                              ipv4(server_ip, client_ip, 6, tcp(server_ip, client_ip, 80, 40002, 5001, 1001 + request.size(), 0x18, reply), 0x2203)));
    frames.push_back(ethernet({0x33, 0x33, 0, 0, 0, 0xfb}, client_mac, 0x86dd, ipv6_udp()));

    FILE* out = fopen(argv[1], "wb");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    auto le32 = [out](uint32_t v) {
        uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
        fwrite(b, 1, 4, out);
    };
    le32(0xa1b2c3d4);
    le32(0x00040002);  // version 2.4
    le32(0);
    le32(0);
    le32(65535);
    le32(1);
    uint32_t seconds = 1796637600;  // 2026-12-07 10:00:00 UTC
    uint32_t micro = 120000;
    for (const auto& f : frames) {
        le32(seconds);
        le32(micro);
        le32(static_cast<uint32_t>(f.size()));
        le32(static_cast<uint32_t>(f.size()));
        fwrite(f.data(), 1, f.size(), out);
        micro += 48213;
    }
    return fclose(out) == 0 ? 0 : 1;
}
