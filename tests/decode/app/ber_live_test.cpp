// The BER decoders on traffic of real programs, captured by tcpdump on
// loopback and compared with tshark: openssl s_server and s_client (TLS
// 1.2, a chain of three certificates made here), slapd with ldapadd and
// ldapsearch, and a KDC with kinit. Each test skips when it is not root or
// a program is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <regex>
#include <set>

#include "../../peer.h"
#include "decode/link/ethernet.h"
#include "stream_frames.h"

namespace {

// Runs the shell script with $DIR set; tcpdump writes $DIR/c.pcap with the
// frames that match `filter` while it runs.
bool capture(const test::temp_dir& dir, const std::string& filter, const std::string& traffic) {
    std::string script = "DIR=" + dir.path +
                         "; cd $DIR || exit 1\n"
                         "tcpdump -i lo -U -Z root -w $DIR/c.pcap " +
                         filter +
                         " >/dev/null 2>$DIR/td.err & TD=$!\n"
                         "for i in $(seq 100); do grep -q \"listening on\" $DIR/td.err && break; sleep 0.1; done\n"
                         "sleep 0.3\n" +
                         traffic +
                         "\nsleep 1; kill $TD; wait $TD\n"
                         "test -s $DIR/c.pcap";
    std::string path = dir.file("run.sh");
    test::write_file(path, test::bytes(script.begin(), script.end()));
    return system(("bash " + path + " >" + dir.file("run.log") + " 2>&1").c_str()) == 0;
}

bool have(const char* program) { return system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0; }

bool port_free(int port) {
    return system(("! ss -ltnu | grep -q '127.0.0.1:" + std::to_string(port) + " \\|\\*:" + std::to_string(port) +
                   " \\|0.0.0.0:" + std::to_string(port) + " '")
                      .c_str()) == 0;
}

// Every value of "key" in the line, in order: a text or a number, or each
// element of an array of them.
std::vector<std::string> all_values(const std::string& line, const std::string& key) {
    std::vector<std::string> out;
    std::regex pattern("\"" + key + "\":(\\[[^\\]]*\\]|\"[^\"]*\"|-?[0-9]+)");
    std::regex element("\"([^\"]*)\"|(-?[0-9]+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), pattern); it != std::sregex_iterator(); ++it) {
        std::string value = (*it)[1].str();
        for (auto e = std::sregex_iterator(value.begin(), value.end(), element); e != std::sregex_iterator(); ++e)
            out.push_back((*e)[1].matched ? (*e)[1].str() : (*e)[2].str());
    }
    return out;
}

// tshark's values of one field over every frame, split at its commas
// unless the values hold commas themselves (one per frame then); as for
// nodrix_values below, empty ones are left out.
std::vector<std::string> tshark_values(const std::string& pcap, const std::string& field,
                                       const std::vector<std::string>& options = {}, bool split = true) {
    std::vector<std::string> out;
    for (const auto& row : test::tshark_fields(pcap, {field}, "", options)) {
        std::string v = row[0];
        if (!split) {
            if (!v.empty()) out.push_back(v);
            continue;
        }
        for (size_t at = 0; !v.empty() && at <= v.size();) {
            size_t comma = v.find(',', at);
            if (comma == std::string::npos) comma = v.size();
            out.push_back(v.substr(at, comma - at));
            at = comma + 1;
        }
    }
    return out;
}

// nodrix decodes every frame's payload, a retransmitted one too, where
// tshark passes retransmissions over: those frames are left out here.
std::vector<std::string> nodrix_values(const std::string& pcap, const std::string& key) {
    std::set<size_t> again;
    if (test::tshark_available())
        for (const auto& row : test::tshark_fields(pcap, {"frame.number"}, "tcp.analysis.retransmission"))
            again.insert(std::stoul(row[0]));
    std::vector<std::string> out;
    std::vector<std::string> lines = test::nodrix_json_lines(pcap, {"--jobs", "1"});
    for (size_t i = 0; i < lines.size(); ++i) {
        if (again.count(i + 1)) continue;
        for (const std::string& v : all_values(lines[i], key))
            if (!v.empty()) out.push_back(v);
    }
    return out;
}

// A root CA, an intermediate and a leaf with alternative names ($SANS more
// of them); s_server sends the leaf and the chain ($FRAG: more options).
const char* tls_traffic =
    "{ printf '[ca]\\nbasicConstraints=critical,CA:TRUE\\n[leaf]\\nsubjectAltName=@alt\\n[alt]\\n"
    "DNS.1=leaf.example\\nDNS.2=www.leaf.example\\nIP.1=127.0.0.1\\n'\n"
    "for i in $(seq 3 $((${SANS:-0} + 2))); do echo \"DNS.$i=host$i.leaf.example\"; done; } > ext.cnf\n"
    "openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 -subj '/C=ZZ/O=Test/CN=Test "
    "Root' -set_serial 0x1001 >/dev/null 2>&1\n"
    "openssl req -newkey ec -pkeyopt ec_paramgen_curve:secp384r1 -nodes -keyout mid.key -out mid.csr -subj "
    "'/C=ZZ/O=Test/CN=Test Intermediate' >/dev/null 2>&1\n"
    "openssl x509 -req -in mid.csr -CA root.pem -CAkey root.key -set_serial 0x2002 -days 2 -extfile ext.cnf "
    "-extensions ca -out mid.pem >/dev/null 2>&1\n"
    "openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj '/CN=leaf.example' >/dev/null 2>&1\n"
    "openssl x509 -req -in leaf.csr -CA mid.pem -CAkey mid.key -set_serial 0x30030003 -days 1 -extfile ext.cnf "
    "-extensions leaf -out leaf.pem >/dev/null 2>&1\n"
    "cat mid.pem root.pem > chain.pem\n"
    "openssl s_server -accept 127.0.0.1:$PORT -cert leaf.pem -key leaf.key -cert_chain chain.pem -naccept 1 -quiet "
    "-tls1_2 $FRAG </dev/null >/dev/null 2>&1 & SS=$!\n"
    "for i in $(seq 100); do ss -ltn | grep -q \"127.0.0.1:$PORT \" && break; sleep 0.1; done\n"
    "(echo hello; sleep 0.5) | openssl s_client -connect 127.0.0.1:$PORT -quiet -tls1_2 >/dev/null 2>&1\n"
    "sleep 0.5; kill $SS 2>/dev/null";

TEST(BerLive, TlsCertificateChainAgreesWithOpensslAndTshark) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback needs root";
    if (!have("openssl") || !have("tcpdump")) GTEST_SKIP() << "openssl or tcpdump is not installed";
    test::temp_dir dir;
    uint16_t port = test::free_udp_port();
    std::string traffic = "PORT=" + std::to_string(port) + "\n" + tls_traffic;
    ASSERT_TRUE(capture(dir, "tcp port " + std::to_string(port), traffic));
    std::string pcap = dir.file("c.pcap");
    std::vector<std::string> subjects = nodrix_values(pcap, "subject");
    std::vector<std::string> expected_subjects = {"CN=leaf.example", "C=ZZ, O=Test, CN=Test Intermediate",
                                                  "C=ZZ, O=Test, CN=Test Root"};
    EXPECT_EQ(subjects, expected_subjects);
    EXPECT_EQ(nodrix_values(pcap, "issuer"),
              (std::vector<std::string>{"C=ZZ, O=Test, CN=Test Intermediate", "C=ZZ, O=Test, CN=Test Root",
                                        "C=ZZ, O=Test, CN=Test Root"}));
    EXPECT_EQ(nodrix_values(pcap, "serial"), (std::vector<std::string>{"30:03:00:03", "20:02", "10:01"}));
    EXPECT_EQ(nodrix_values(pcap, "public_key_bits"), (std::vector<std::string>{"2048", "384", "2048"}));
    EXPECT_EQ(nodrix_values(pcap, "curve"), (std::vector<std::string>{"secp384r1"}));
    EXPECT_EQ(nodrix_values(pcap, "san_dns"), (std::vector<std::string>{"leaf.example", "www.leaf.example"}));
    EXPECT_EQ(nodrix_values(pcap, "san_ip"), (std::vector<std::string>{"127.0.0.1"}));
    std::string text = test::run_nodrix({"-P", pcap, "--expand-all", "--jobs", "1"}).out;
    EXPECT_NE(text.find("    Subject Alt Names: DNS:leaf.example, DNS:www.leaf.example, IP:127.0.0.1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("    Signature Algorithm: ecdsa-with-SHA256"), std::string::npos);

    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    std::vector<std::string> options = {"-d", "tcp.port==" + std::to_string(port) + ",tls"};
    // tshark writes the serial's hex bytes without colons, and times as
    // "2026-12-08 17:22:30 (UTC)".
    std::vector<std::string> serials;
    for (std::string v : nodrix_values(pcap, "serial")) {
        v.erase(std::remove(v.begin(), v.end(), ':'), v.end());
        serials.push_back(v);
    }
    EXPECT_EQ(tshark_values(pcap, "x509af.serialNumber", options), serials);
    std::vector<std::string> times;
    std::vector<std::string> before = nodrix_values(pcap, "not_before"), after = nodrix_values(pcap, "not_after");
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
        for (const std::string& t : {before[i], after[i]}) times.push_back(t.substr(0, t.size() - 1) + " (UTC)");
    EXPECT_EQ(tshark_values(pcap, "x509af.utcTime", options), times);
    EXPECT_EQ(tshark_values(pcap, "x509ce.dNSName", options), nodrix_values(pcap, "san_dns"));
    EXPECT_EQ(tshark_values(pcap, "x509ce.IPAddress.ipv4", options), nodrix_values(pcap, "san_ip"));
}

// Subjects and issuers as tshark's tree names them: the RDNs last first,
// each as id-at-<type>=<value>, joined by commas.
std::string tshark_name(const std::string& name) {
    static const std::map<std::string, std::string> types = {
        {"C", "countryName"}, {"O", "organizationName"}, {"CN", "commonName"}};
    std::vector<std::string> parts;
    for (size_t at = 0; at <= name.size();) {
        size_t comma = name.find(", ", at);
        if (comma == std::string::npos) comma = name.size();
        std::string rdn = name.substr(at, comma - at);
        size_t eq = rdn.find('=');
        auto type = types.find(rdn.substr(0, eq));
        parts.push_back("id-at-" + (type == types.end() ? rdn.substr(0, eq) : type->second) + rdn.substr(eq));
        at = comma + 2;
    }
    std::string out;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) out += (out.empty() ? "" : ",") + *it;
    return out;
}

// Counts the values two lists agree on, place by place.
struct agreement {
    size_t compared = 0, agreed = 0;
    void add(const std::vector<std::string>& ours, const std::vector<std::string>& theirs) {
        compared += std::max(ours.size(), theirs.size());
        for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) agreed += ours[i] == theirs[i];
        EXPECT_EQ(ours, theirs);
    }
};

// The chain of three sent by s_server with `options`, the leaf with
// `names` more alternative names: the Certificate message spans records
// (and segments), is put together, and every certificate agrees with
// tshark's reading, which reassembles too.
void certificate_chain_case(const std::string& options, int names, size_t least_length) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback needs root";
    if (!have("openssl") || !have("tcpdump")) GTEST_SKIP() << "openssl or tcpdump is not installed";
    test::temp_dir dir;
    uint16_t port = test::free_udp_port();
    std::string traffic = "PORT=" + std::to_string(port) + "\nSANS=" + std::to_string(names) + "\nFRAG='" + options +
                          "'\n" + tls_traffic;
    ASSERT_TRUE(capture(dir, "tcp port " + std::to_string(port), traffic));
    std::string pcap = dir.file("c.pcap");
    std::vector<std::string> subjects = nodrix_values(pcap, "subject");
    ASSERT_EQ(subjects, (std::vector<std::string>{"CN=leaf.example", "C=ZZ, O=Test, CN=Test Intermediate",
                                                  "C=ZZ, O=Test, CN=Test Root"}));
    std::string text = test::run_nodrix({"-P", pcap, "--jobs", "1"}).out;
    EXPECT_NE(text.find("- TLS Handshake Message -\n  Handshake Type: 11"), std::string::npos) << text;
    EXPECT_NE(text.find("  [message continues in a later record]"), std::string::npos);
    EXPECT_NE(text.find("  Handshake Message Fragment: "), std::string::npos);
    std::vector<std::string> lengths = nodrix_values(pcap, "reassembled_length");
    ASSERT_FALSE(lengths.empty());
    size_t longest = 0;
    for (const std::string& l : lengths) longest = std::max<size_t>(longest, std::stoul(l));
    EXPECT_GE(longest, least_length);
    // At most 64 alternative names of a certificate are shown, the rest
    // counted.
    size_t all_names = static_cast<size_t>(names) + 3;
    EXPECT_EQ(nodrix_values(pcap, "san_dns").size(), std::min<size_t>(all_names, 64) - 1);

    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    std::vector<std::string> options_t = {"-d", "tcp.port==" + std::to_string(port) + ",tls"};
    agreement a;
    std::vector<std::string> serials;
    for (std::string v : nodrix_values(pcap, "serial")) {
        v.erase(std::remove(v.begin(), v.end(), ':'), v.end());
        serials.push_back(v);
    }
    a.add(serials, tshark_values(pcap, "x509af.serialNumber", options_t));
    std::vector<std::string> times;
    std::vector<std::string> before = nodrix_values(pcap, "not_before"), after = nodrix_values(pcap, "not_after");
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
        for (const std::string& t : {before[i], after[i]}) times.push_back(t.substr(0, t.size() - 1) + " (UTC)");
    a.add(times, tshark_values(pcap, "x509af.utcTime", options_t));
    std::vector<std::string> dns_names = tshark_values(pcap, "x509ce.dNSName", options_t);
    size_t not_shown = all_names > 64 ? all_names - 64 : 0;
    if (dns_names.size() >= not_shown) dns_names.resize(dns_names.size() - not_shown);
    a.add(nodrix_values(pcap, "san_dns"), dns_names);
    a.add(nodrix_values(pcap, "san_ip"), tshark_values(pcap, "x509ce.IPAddress.ipv4", options_t));
    // Issuer and subject of each certificate, from tshark's tree.
    std::vector<std::string> names_ours, names_theirs;
    std::vector<std::string> issuers = nodrix_values(pcap, "issuer");
    for (size_t i = 0; i < subjects.size() && i < issuers.size(); ++i) {
        names_ours.push_back(tshark_name(issuers[i]));
        names_ours.push_back(tshark_name(subjects[i]));
    }
    std::string tree = test::shell("tshark -r " + pcap + " -d tcp.port==" + std::to_string(port) +
                                   ",tls -V -Y tls.handshake.type==11 2>/dev/null")
                           .out;
    std::regex rdns("(?:issuer|subject): rdnSequence \\(0\\)\n +rdnSequence: [0-9]+ items? \\(([^\n]*)\\)\n");
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), rdns); it != std::sregex_iterator(); ++it)
        names_theirs.push_back((*it)[1].str());
    a.add(names_ours, names_theirs);
    // The algorithms of each certificate: its signature's, its key's, and
    // the signature's again outside the signed part.
    static const std::map<std::string, std::string> oids = {
        {"sha256WithRSAEncryption", "1.2.840.113549.1.1.11"}, {"ecdsa-with-SHA256", "1.2.840.10045.4.3.2"},
        {"ecdsa-with-SHA384", "1.2.840.10045.4.3.3"},         {"RSA", "1.2.840.113549.1.1.1"},
        {"EC", "1.2.840.10045.2.1"}};
    auto oid_of = [](const std::string& name) {
        auto it = oids.find(name);
        return it == oids.end() ? name : it->second;
    };
    std::vector<std::string> algorithms;
    std::vector<std::string> signatures = nodrix_values(pcap, "signature_algorithm"),
                             keys = nodrix_values(pcap, "public_key");
    for (size_t i = 0; i < signatures.size() && i < keys.size(); ++i)
        for (const std::string& name : {signatures[i], keys[i], signatures[i]}) algorithms.push_back(oid_of(name));
    a.add(algorithms, tshark_values(pcap, "x509af.algorithm.id", options_t));
    // Key sizes: RSA from the modulus, EC from the curve.
    std::vector<std::string> bits;
    std::vector<std::string> moduli = tshark_values(pcap, "pkcs1.modulus", options_t),
                             curves = tshark_values(pcap, "pkcs1.namedCurve", options_t);
    size_t next_modulus = 0, next_curve = 0;
    for (const std::string& key : keys) {
        if (key == "RSA" && next_modulus < moduli.size()) {
            std::string m = moduli[next_modulus++];
            size_t first = m.find_first_not_of('0');
            size_t digits = first == std::string::npos ? 0 : m.size() - first;
            unsigned top = digits ? static_cast<unsigned>(std::stoul(m.substr(first, 1), nullptr, 16)) : 0;
            size_t b = digits ? (digits - 1) * 4 : 0;
            while (top) ++b, top >>= 1;
            bits.push_back(std::to_string(b));
        } else if (key == "EC" && next_curve < curves.size()) {
            std::string c = curves[next_curve++];
            bits.push_back(c == "1.3.132.0.34" ? "384" : c == "1.2.840.10045.3.1.7" ? "256" : c);
        }
    }
    a.add(nodrix_values(pcap, "public_key_bits"), bits);
    std::cout << "[ tshark   ] " << a.agreed << " of " << a.compared << " certificate values agree; " << not_shown
              << " names past the 64 shown not compared\n";
}

TEST(BerLive, CertificateOverManySmallRecordsAgreesWithTshark) {
    certificate_chain_case("-max_send_frag 512", 0, 2000);
}

TEST(BerLive, CertificateLongerThanARecordAgreesWithTshark) { certificate_chain_case("", 700, 16384); }

const char* ldap_traffic =
    "mkdir -p db\n"
    "cat > slapd.conf <<EOF\n"
    "include /etc/ldap/schema/core.schema\n"
    "include /etc/ldap/schema/cosine.schema\n"
    "include /etc/ldap/schema/inetorgperson.schema\n"
    "pidfile $DIR/slapd.pid\n"
    "modulepath /usr/lib/ldap\n"
    "moduleload back_mdb\n"
    "database mdb\n"
    "suffix \"dc=example,dc=com\"\n"
    "rootdn \"cn=admin,dc=example,dc=com\"\n"
    "rootpw secret\n"
    "directory $DIR/db\n"
    "EOF\n"
    "cat > add.ldif <<EOF\n"
    "dn: dc=example,dc=com\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
    "dn: cn=alice,dc=example,dc=com\nobjectClass: inetOrgPerson\ncn: alice\nsn: Smith\nmail: alice@example.com\n"
    "EOF\n"
    "slapd -f slapd.conf -h ldap://127.0.0.1:389/ -u root & \n"
    "for i in $(seq 100); do ss -ltn | grep -q \"127.0.0.1:389 \" && break; sleep 0.1; done\n"
    "ldapadd -x -H ldap://127.0.0.1:389 -D cn=admin,dc=example,dc=com -w secret -f add.ldif\n"
    "ldapsearch -x -H ldap://127.0.0.1:389 -b dc=example,dc=com '(&(objectClass=person)(cn=ali*))' cn mail\n"
    "ldapsearch -x -H ldap://127.0.0.1:389 -b ou=missing,dc=example,dc=com '(cn=*)'\n"
    "kill $(cat slapd.pid)";

TEST(BerLive, SlapdAgreesWithTshark) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback and port 389 need root";
    if (!have("slapd") || !have("ldapsearch") || !have("tcpdump"))
        GTEST_SKIP() << "slapd, ldap-utils or tcpdump is not installed";
    if (!port_free(389)) GTEST_SKIP() << "port 389 is taken";
    test::temp_dir dir;
    ASSERT_TRUE(capture(dir, "tcp port 389", ldap_traffic));
    std::string pcap = dir.file("c.pcap");
    std::vector<std::string> operations = nodrix_values(pcap, "operation_name");
    EXPECT_EQ(operations,
              (std::vector<std::string>{"bindRequest", "bindResponse", "addRequest", "addResponse", "addRequest",
                                        "addResponse", "unbindRequest", "bindRequest", "bindResponse", "searchRequest",
                                        "searchResEntry", "searchResDone", "unbindRequest", "bindRequest",
                                        "bindResponse", "searchRequest", "searchResDone", "unbindRequest"}));
    EXPECT_EQ(nodrix_values(pcap, "filter"), (std::vector<std::string>{"(&(objectClass=person)(cn=ali*))", "(cn=*)"}));
    EXPECT_EQ(
        nodrix_values(pcap, "result_code_name"),
        (std::vector<std::string>{"success", "success", "success", "success", "success", "success", "noSuchObject"}));
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    std::vector<std::string> ids = tshark_values(pcap, "ldap.messageID");
    EXPECT_EQ(ids, nodrix_values(pcap, "message_id"));
    std::vector<std::string> codes = tshark_values(pcap, "ldap.resultCode");
    EXPECT_EQ(codes, nodrix_values(pcap, "result_code"));
    // Distinguished names hold commas: one search and one result per frame.
    EXPECT_EQ(tshark_values(pcap, "ldap.baseObject", {}, false), nodrix_values(pcap, "base"));
    EXPECT_EQ(tshark_values(pcap, "ldap.matchedDN", {}, false), nodrix_values(pcap, "matched_dn"));
}

const char* kerberos_traffic =
    "export KRB5_CONFIG=$DIR/krb5.conf KRB5_KDC_PROFILE=$DIR/kdc.conf KRB5CCNAME=FILE:$DIR/cc\n"
    "cat > krb5.conf <<EOF\n"
    "[libdefaults]\n default_realm = EXAMPLE.COM\n dns_lookup_kdc = false\n udp_preference_limit = $UDP_LIMIT\n"
    "[realms]\n EXAMPLE.COM = {\n  kdc = 127.0.0.1:88\n }\n"
    "EOF\n"
    "cat > kdc.conf <<EOF\n"
    "[kdcdefaults]\n kdc_ports = 88\n kdc_tcp_ports = 88\n kdc_listen = 127.0.0.1:88\n kdc_tcp_listen = "
    "127.0.0.1:88\n"
    "[realms]\n EXAMPLE.COM = {\n  database_name = $DIR/principal\n  key_stash_file = $DIR/stash\n  acl_file = "
    "$DIR/acl\n }\n"
    "EOF\n"
    "touch acl\n"
    "kdb5_util -r EXAMPLE.COM create -s -P master >/dev/null\n"
    "kadmin.local -r EXAMPLE.COM -q 'addprinc +requires_preauth -pw secret alice' >/dev/null\n"
    "krb5kdc -n -P $DIR/kdc.pid & KDC=$!\n"
    "for i in $(seq 100); do ss -lnu | grep -q \"127.0.0.1:88 \" && break; sleep 0.1; done\n"
    "echo secret | kinit alice\n"
    "echo secret | kinit nobody\n"
    "kill $KDC";

void kerberos_case(bool tcp) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback and port 88 need root";
    if (!have("krb5kdc") || !have("kinit") || !have("tcpdump"))
        GTEST_SKIP() << "krb5-kdc, krb5-user or tcpdump is not installed";
    if (!port_free(88)) GTEST_SKIP() << "port 88 is taken";
    test::temp_dir dir;
    std::string traffic = std::string("UDP_LIMIT=") + (tcp ? "1" : "65535") + "\n" + kerberos_traffic;
    ASSERT_TRUE(capture(dir, "port 88", traffic));
    std::string pcap = dir.file("c.pcap");
    std::vector<std::string> types = nodrix_values(pcap, "msg_type_name");
    // Pre-authentication required, then the exchange; the unknown client
    // ends with an error.
    EXPECT_EQ(types, (std::vector<std::string>{"AS-REQ", "KRB-ERROR", "AS-REQ", "AS-REP", "AS-REQ", "KRB-ERROR"}));
    EXPECT_EQ(nodrix_values(pcap, "error_code_name"),
              (std::vector<std::string>{"KDC_ERR_PREAUTH_REQUIRED", "KDC_ERR_C_PRINCIPAL_UNKNOWN"}));
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    EXPECT_EQ(tshark_values(pcap, "kerberos.msg_type"), nodrix_values(pcap, "msg_type"));
    EXPECT_EQ(tshark_values(pcap, "kerberos.error_code"), nodrix_values(pcap, "error_code"));
    EXPECT_EQ(tshark_values(pcap, "kerberos.nonce"), nodrix_values(pcap, "nonce"));
}

TEST(BerLive, KdcOverUdpAgreesWithTshark) { kerberos_case(false); }
TEST(BerLive, KdcOverTcpAgreesWithTshark) { kerberos_case(true); }

}  // namespace
