// PostgreSQL, HTTP/2 and OSPF compared with tshark: traffic of real
// programs (a throw-away PostgreSQL cluster and psql, nghttpd and nghttp)
// captured on the loopback interface, and OSPF packets built with scapy.
// Each field tshark decodes too must hold the same values, frame by frame.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "peer.h"
#include "support.h"

namespace {

using test::compared;
using test::have;

// Starts tcpdump on lo for `filter`, runs `commands`, stops the capture.
bool capture_loopback(const std::string& pcap, const std::string& filter, const std::string& commands) {
    std::string script = "tcpdump -i lo -U -w " + pcap + " '" + filter + "' 2>/dev/null & T=$!; sleep 1; " + commands +
                         "; sleep 1; kill $T; wait $T 2>/dev/null; true";
    return test::shell(script).status == 0;
}

TEST(SessionPeers, PostgresqlAgreesWithTshark) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on lo needs root";
    if (!test::tshark_available() || !have("tcpdump")) GTEST_SKIP() << "tshark or tcpdump is not installed";
    std::string bin = test::shell("ls -d /usr/lib/postgresql/*/bin 2>/dev/null | tail -1").out;
    if (bin.empty()) GTEST_SKIP() << "PostgreSQL is not installed";
    bin.pop_back();
    if (test::shell("ss -ltn | grep -q ':5432 '").status == 0) GTEST_SKIP() << "port 5432 is in use";
    test::temp_dir dir;
    chmod(dir.path.c_str(), 0777);
    std::string data = dir.file("data"), as = "runuser -u nobody -- ";
    ASSERT_EQ(test::shell("echo secret > " + dir.file("pw") + " && chmod 644 " + dir.file("pw") + " && " + as + bin +
                          "/initdb -D " + data + " -A scram-sha-256 --pwfile=" + dir.file("pw") +
                          " -U nodrix --locale=C >/dev/null 2>&1 && " + as + bin + "/pg_ctl -D " + data + " -o '-k " +
                          dir.path + " -c listen_addresses=127.0.0.1 -c port=5432 -c fsync=off' -l " + dir.file("log") +
                          " -w start >/dev/null 2>&1")
                  .status,
              0);
    std::string pcap = dir.file("pg.pcap");
    std::string psql = "PGPASSWORD=secret " + bin + "/psql -h 127.0.0.1 -U nodrix -d postgres";
    capture_loopback(pcap, "tcp port 5432",
                     psql + " -c 'create table t(id int, name text)' -c \"insert into t values (1, 'a')\" " +
                         "-c 'select name from t' -c 'select * from nosuch' >/dev/null 2>&1");
    test::shell(as + bin + "/pg_ctl -D " + data + " -m immediate stop >/dev/null 2>&1");
    EXPECT_GT(test::compare_with_tshark(pcap, "pgsql",
                      {{"pgsql.length", "length"},
                       {"pgsql.query", "query"},
                       {"pgsql.tag", "tag"},
                       {"pgsql.oid.type", "type_oid"},
                       {"pgsql.auth.sasl.mech", "mechanisms"}}),
              20);
}

TEST(SessionPeers, Http2AgreesWithTshark) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on lo needs root";
    if (!test::tshark_available() || !have("tcpdump")) GTEST_SKIP() << "tshark or tcpdump is not installed";
    if (!have("nghttpd") || !have("nghttp")) GTEST_SKIP() << "nghttp2-server or nghttp2-client is not installed";
    test::temp_dir dir;
    test::write_file(dir.file("index.html"), test::bytes(100, 'x'));
    std::string pcap = dir.file("h2.pcap");
    std::string port = "18443";
    capture_loopback(pcap, "tcp port " + port,
                     "nghttpd --no-tls -d " + dir.path + " " + port + " >/dev/null 2>&1 & S=$!; sleep 1; " +
                         "nghttp -n http://127.0.0.1:" + port + "/index.html http://127.0.0.1:" + port +
                         "/missing >/dev/null 2>&1; kill $S");
    // tshark is told the port: it would not guess HTTP/2 on it.
    std::vector<compared> fields = {{"http2.type", "type"},         {"http2.length", "length"},
                                    {"http2.streamid", "stream"},   {"http2.headers.method", "method"},
                                    {"http2.headers.path", "path"}, {"http2.headers.status", "status"}};
    EXPECT_GT(test::compare_with_tshark(pcap, "http2", fields, {"-d", "tcp.port==" + port + ",http2"}), 10);
}

TEST(SessionPeers, OspfBodiesAgreeWithTshark) {
    if (!test::tshark_available() || !test::scapy_available()) GTEST_SKIP() << "tshark or scapy is not installed";
    test::temp_dir dir;
    std::string pcap = dir.file("ospf.pcap");
    ASSERT_TRUE(test::run_python(
        "from scapy.all import *\n"
        "load_contrib('ospf')\n"
        "e = Ether() / IP(src='10.0.0.1', dst='224.0.0.5', ttl=1)\n"
        "h = OSPF_Hdr(src='1.1.1.1')\n"
        "wrpcap('" +
        pcap +
        "', [\n"
        "  e / h / OSPF_Hello(mask='255.255.255.0', router='10.0.0.1', neighbors=['2.2.2.2', '3.3.3.3']),\n"
        "  e / h / OSPF_DBDesc(mtu=1500, dbdescr=7, ddseq=4242, lsaheaders=[OSPF_LSA_Hdr(type=1, id='1.1.1.1',"
        " adrouter='1.1.1.1', seq=0x80000001)]),\n"
        "  e / h / OSPF_LSUpd(lsalist=[OSPF_Router_LSA(id='1.1.1.1', adrouter='1.1.1.1', linklist=[OSPF_Link("
        "id='2.2.2.2', data='10.0.0.1', type=1, metric=10)]), OSPF_Network_LSA(id='10.0.0.1', adrouter='1.1.1.1',"
        " mask='255.255.255.0', routerlist=['1.1.1.1', '2.2.2.2']), OSPF_External_LSA(id='172.16.0.0',"
        " adrouter='1.1.1.1', mask='255.255.0.0', metric=100, ebit=1, tag=7)]),\n"
        "])\n"));
    EXPECT_GT(test::compare_with_tshark(pcap, "ospf",
                      {{"ospf.hello.hello_interval", "hello_interval"},
                       {"ospf.hello.router_dead_interval", "dead_interval"},
                       {"ospf.hello.designated_router", "dr"},
                       {"ospf.hello.active_neighbor", "neighbors"},
                       {"ospf.db.interface_mtu", "mtu"},
                       {"ospf.db.dd_sequence", "dd_sequence"},
                       {"ospf.lsa.id", "link_state_id"},
                       {"ospf.advrouter", "advertising_router"},
                       {"ospf.lsa.asext.fwdaddr", "forwarding_address"},
                       {"ospf.lsa.asext.extrttag", "route_tag"}}),
              10);
}

}  // namespace
