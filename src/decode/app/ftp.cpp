#include "decode/app/ftp.h"

#include <arpa/inet.h>

#include <cstdio>
#include <string>

#include "decode/app/sessions.h"
#include "decode/app/text_lines.h"
#include "decode/decoder.h"

namespace {

// "h1,h2,h3,h4,p1,p2" of PORT and of the 227 reply.
bool parse_host_port(const std::string& text, std::string& address, unsigned& port) {
    unsigned v[6];
    int used = 0;
    if (sscanf(text.c_str(), "%u,%u,%u,%u,%u,%u%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &used) != 6) return false;
    for (unsigned x : v)
        if (x > 255) return false;
    address =
        std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
    port = v[4] * 256 + v[5];
    return true;
}

// "|1|132.235.1.2|6275|" of EPRT; the delimiter is the first character.
bool parse_extended(const std::string& text, std::string& address, unsigned& port) {
    if (text.size() < 5) return false;
    char d = text[0];
    size_t a = text.find(d, 1), b = a == std::string::npos ? a : text.find(d, a + 1),
           c = b == std::string::npos ? b : text.find(d, b + 1);
    if (c == std::string::npos) return false;
    address = text.substr(a + 1, b - a - 1);
    std::string digits = text.substr(b + 1, c - b - 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = static_cast<unsigned>(std::stoul(digits));
    return port <= 65535;
}

// Shows the data connection's address and port, and follows it: its
// segments are FTP data. An EPSV answer names no address: the server's.
void print_data_address(decode_context& cx, const std::string& address, unsigned port, follower kind) {
    media_key key;
    bool known = false;
    if (address.empty())
        known = endpoint_of(cx, false, key);
    else
        known = inet_pton(AF_INET, address.c_str(), key.address.data()) == 1 ||
                inet_pton(AF_INET6, address.c_str(), key.address.data()) == 1;
    if (known && port > 0 && port <= 65535) {
        key.port = static_cast<uint16_t>(port);
        announce_follower(cx, key, kind);
    }
    if (address.empty()) {
        field(cx, "data_port", "\n    Data connection port: %u", port);
        return;
    }
    field(cx, "data_address", "\n    Data connection: %s", address);
    field(cx, "data_port", ", port %u", port);
}

bool ftp_line(decode_context& cx, const std::string& text, bool print) {
    reply_line reply;
    std::string verb, argument;
    if (parse_reply(text, reply)) {
        if (!print) return true;
        print_reply(cx, reply);
        std::string address;
        unsigned port = 0;
        size_t open = reply.text.find('(');
        if (reply.code == 227 && open != std::string::npos &&
            parse_host_port(reply.text.substr(open + 1), address, port))
            print_data_address(cx, address, port, follower::ftp_pasv);
        // 229: "(|||port|)", the address is the control connection's.
        if (reply.code == 229 && open != std::string::npos &&
            parse_extended(reply.text.substr(open + 1), address, port))
            print_data_address(cx, address, port, follower::ftp_epsv);
        return true;
    }
    if (!parse_command(text, verb, argument)) return false;
    if (!print) return true;
    print_command(cx, verb, argument);
    std::string address;
    unsigned port = 0;
    if (starts_with_nocase(verb, "PORT") && verb.size() == 4 && parse_host_port(argument, address, port))
        print_data_address(cx, address, port, follower::ftp_port);
    if (starts_with_nocase(verb, "EPRT") && verb.size() == 4 && parse_extended(argument, address, port))
        print_data_address(cx, address, port, follower::ftp_eprt);
    return true;
}

}  // namespace

int decode_ftp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    static constexpr exchange_protocol ftp{"ftp", "- FTP -", &protocol_counters::ftp, ftp_line};
    return decode_exchange(cx, frame, offset, ftp);
}

int decode_ftp_data(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const follower* kind = find_follower(cx);
    const uint8_t* p = header_at(cx, frame, offset);
    unsigned long length = ip_message_length(cx, p);
    layer(cx, "ftp_data", "- FTP data -");
    field(cx, "length", "\n  Data: %lu bytes", length);
    if (kind) {
        const char* method = *kind == follower::ftp_pasv   ? "PASV"
                             : *kind == follower::ftp_epsv ? "EPSV"
                             : *kind == follower::ftp_port ? "PORT"
                                                           : "EPRT";
        field(cx, "setup_method", ", connection set up by %s", method);
    }
    zelk_printf(cx.out, "\n");
    summary_note(cx, "data %lu bytes", length);
    return 0;
}
