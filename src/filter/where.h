// --where: a filter over the decoded fields of a frame, named by the key
// paths that --json writes (tcp.dst_port == 443, dns.questions.name
// contains "example", ipv4.src == 10.0.0.0/8 and not icmp).
#pragma once

#include <memory>
#include <string>

#include "output/record.h"

struct where_expression;
struct where_expression_deleter {
    void operator()(where_expression* e) const;
};
using where_program = std::unique_ptr<where_expression, where_expression_deleter>;

// Parses `text` and checks every key path against the table of keys the
// decoders record and every value against its key's type. On an error it
// returns null and sets `error` to one line without a prefix, e.g.
// "unknown key tcp.dst_prot at column 1; did you mean tcp.dst_port?".
where_program where_compile(const char* text, std::string& error);

// True when the frame's record satisfies the expression.
bool where_matches(const where_expression& e, const frame_record_data& r);

// True when the expression names a key that only a lookup in the system's
// tables fills (a port's service name, a vendor).
bool where_needs_lookups(const where_expression& e);

// True when the expression reads only what identifies a direction of a
// conversation: frame numbers and lengths, the link type, Ethernet
// addresses, VLAN ids, IP addresses and protocol numbers, TCP and UDP
// ports, and the presence of those headers. All of them are recorded by
// the time a TCP or UDP header is, and none can come after it, so the
// verdict is known there and a rejected frame need not be decoded further.
bool where_settles_early(const where_expression& e);

// The run's filter: set once before the first frame, null without --where.
extern const where_expression* where_filter;
// where_filter && where_settles_early(*where_filter).
extern bool where_early;

// Compiles options.where into where_filter; ends the program with status 1
// and one message on standard error when it does not compile.
void start_where_filter();
