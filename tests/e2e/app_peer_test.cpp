// Application protocols as real programs speak them, compared with tshark:
// Redis (redis-server, redis-cli), MQTT 3.1.1 and 5 (mosquitto), TFTP
// (dnsmasq, curl), RADIUS (freeradius, radclient), FTP with its data
// connections (pyftpdlib, curl), SMTP with a MIME mail (aiosmtpd, swaks) and
// a SIP call with SDP and RTP (sipp). Each protocol's traffic is captured
// once in a network namespace of its own (tests/data/app_traffic.sh).
//
// Frame by frame: where tshark shows a protocol, nodrix shows its layer,
// and each field of the table holds the same values in both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peer.h"
#include "support.h"

namespace {

// A tshark field and the key of nodrix's JSON that holds its values: the
// key's values in every object of the layer (the layer itself, its items)
// that has it, in order. `where` narrows the objects: "key=value" (that
// member has that value), "key" (it has that member), "!key" (it has not).
struct field_check {
    const char* tshark;
    const char* key;
    const char* where = nullptr;
    // Frames whose layer holds this key are not compared (a Redis command
    // is shown by its words, tshark shows their lengths).
    const char* unless = nullptr;
};

struct layer_check {
    const char* tshark_proto;  // its name in tshark's frame.protocols
    const char* proto;         // nodrix's layer
    std::vector<field_check> fields;
    // The layer counts as shown only when it has this key (SMTP: mail
    // content, where tshark shows IMF).
    const char* marker = nullptr;
    // Where tshark shows only this generic layer instead, nodrix may show
    // its own (tshark does not follow every FTP data connection).
    const char* tshark_instead = nullptr;
};

struct app_case {
    const char* traffic;  // the name app_traffic.sh knows it by
    std::vector<const char*> programs;
    std::vector<layer_check> layers;
    int min_agreed;  // values that must agree (and not be empty)
};

const app_case cases[] = {
    {"redis",
     {"redis-server", "redis-cli"},
     {{"resp",
       "redis",
       {{"resp.string", "value", "type=simple string"},
        {"resp.error", "value", "type=error"},
        {"resp.integer", "value", "type=number"},
        {"resp.bulk_string.length", "length", "type=bulk string", "command"},
        {"resp.array.length", "elements", "type=array", "command"}}}},
     12},
    {"mqtt",
     {"mosquitto", "mosquitto_sub", "mosquitto_pub"},
     {{"mqtt",
       "mqtt",
       {{"mqtt.msgtype", "type"},
        {"mqtt.len", "remaining_length"},
        {"mqtt.qos", "qos"},
        {"mqtt.retain", "retain"},
        {"mqtt.msgid", "packet_id"},
        {"mqtt.topic", "topic"},
        {"mqtt.clientid", "client_id"},
        {"mqtt.protoname", "protocol_name"},
        {"mqtt.ver", "protocol_level"},
        {"mqtt.kalive", "keep_alive"},
        {"mqtt.username", "user_name"},
        {"mqtt.willtopic", "will_topic"},
        {"mqtt.willmsg_len", "will_length"},
        {"mqtt.conack.val", "return_code"},
        {"mqtt.connack.reason_code", "reason_code", "type=2"},
        {"mqtt.puback.reason_code", "reason_code", "type=4"},
        {"mqtt.disconnect.reason_code", "reason_code", "type=14"},
        {"mqtt.property_len", "properties_length"},
        {"mqtt.sub.qos", "requested_qos", "!options"},
        {"mqtt.subscription_options_qos", "requested_qos", "options"},
        {"mqtt.suback.qos", "granted_qos"},
        {"mqtt.suback.reason_code", "reason_codes"}}}},
     200},
    {"tftp",
     {"dnsmasq", "curl"},
     {{"tftp",
       "tftp",
       {{"tftp.opcode", "opcode"},
        {"tftp.source_file", "file"},
        {"tftp.type", "mode"},
        {"tftp.block", "block"},
        {"tftp.error.code", "error_code"},
        {"tftp.error.message", "error_message"},
        {"tftp.option.name", "name"},
        {"tftp.option.value", "value"},
        {"data.len", "data_length"}}}},
     50},
    {"radius",
     {"freeradius", "radclient"},
     {{"radius",
       "radius",
       {{"radius.code", "code"},
        {"radius.id", "identifier"},
        {"radius.length", "length", "code"},
        {"radius.authenticator", "authenticator"},
        {"radius.avp.type", "type"},
        {"radius.avp.length", "length", "type"},
        {"radius.User_Name", "value", "type=1"},
        {"radius.User_Password_encrypted", "data", "type=2"},
        {"radius.NAS_IP_Address", "value", "type=4"},
        {"radius.NAS_Port", "number", "type=5"},
        {"radius.Framed-IP-Address", "value", "type=8"},
        {"radius.Reply_Message", "value", "type=18"},
        {"radius.Session_Timeout", "number", "type=27"},
        {"radius.NAS_Identifier", "value", "type=32"},
        {"radius.Acct_Status_Type", "number", "type=40"},
        {"radius.Acct_Session_Id", "value", "type=44"},
        {"radius.Message_Authenticator", "data", "type=80"},
        {"radius.avp.vendor_id", "vendor_id"},
        {"radius.avp.vendor_type", "vendor_type"},
        {"radius.avp.vendor_len", "vendor_length"},
        {"radius.Cisco_AVPair", "value", "vendor_type_name=Cisco-AVPair"},
        {"radius.MS_Primary_DNS_Server", "value", "vendor_type_name=MS-Primary-DNS-Server"}}}},
     50},
    {"ftp",
     {"curl"},
     {{"ftp",
       "ftp",
       {{"ftp.request.command", "command"},
        {"ftp.request.arg", "argument"},
        {"ftp.response.code", "reply"},
        {"ftp.response.arg", "text"},
        {"ftp.passive.ip", "data_address", "reply=227"},
        {"ftp.passive.port", "data_port", "reply=227"},
        {"ftp.epsv.port", "data_port", "reply=229"},
        {"ftp.active.cip", "data_address", "command=PORT"},
        {"ftp.active.port", "data_port", "command=PORT"},
        {"ftp.eprt.ip", "data_address", "command=EPRT"},
        {"ftp.eprt.port", "data_port", "command=EPRT"}}},
      {"ftp-data", "ftp_data", {{"tcp.len", "length"}}, nullptr, "data"}},
     150},
    {"smtp",
     {"swaks"},
     {{"smtp",
       "smtp",
       {{"smtp.req.command", "command"},
        {"smtp.req.parameter", "argument"},
        {"smtp.response.code", "reply"},
        {"smtp.rsp.parameter", "text"}}},
      {"imf",
       "smtp",
       {{"imf.from", "header_from"},
        {"imf.to", "header_to"},
        {"imf.subject", "header_subject"},
        {"imf.date", "header_date"},
        {"imf.message_id", "header_message_id"},
        {"imf.mime_version", "header_mime_version"},
        {"imf.content.type", "header_content_type"}},
       "content_length"}},
     60},
    {"sip",
     {"sipp", "editcap"},
     {{"sip",
       "sip",
       {{"sip.Method", "method"},
        {"sip.r-uri", "uri"},
        {"sip.Status-Code", "status"},
        {"sip.Call-ID", "call_id"},
        {"sip.CSeq", "cseq"},
        {"sip.From", "from"},
        {"sip.To", "to"},
        {"sip.Via", "via"},
        {"sip.Contact", "contact"},
        {"sip.Content-Type", "content_type"},
        {"sip.Content-Length", "content_length"}}},
      {"sdp",
       "sdp",
       {{"sdp.owner", "origin"},
        {"sdp.session_name", "session"},
        {"sdp.connection_info", "connection"},
        {"sdp.media.media", "type"},
        {"sdp.media.port", "port"},
        {"sdp.media.proto", "transport"}}},
      {"rtp",
       "rtp",
       {{"rtp.version", "version"},
        {"rtp.padding", "padding"},
        {"rtp.ext", "extension"},
        {"rtp.cc", "csrc_count"},
        {"rtp.marker", "marker"},
        {"rtp.p_type", "payload_type"},
        {"rtp.seq", "seq"},
        {"rtp.timestamp", "timestamp"},
        {"rtp.ssrc", "ssrc"}}},
      {"rtpevent",
       "rtp_event",
       {{"rtpevent.event_id", "event"},
        {"rtpevent.end_of_event", "end"},
        {"rtpevent.volume", "volume"},
        {"rtpevent.duration", "duration"}}}},
     400},
};

bool have_all(const app_case& c, std::string& missing) {
    for (const char* program : c.programs)
        if (!test::have(program)) {
            missing = program;
            return false;
        }
    for (const char* program : {"tcpdump", "ip"})
        if (!test::have(program)) {
            missing = program;
            return false;
        }
    return true;
}

std::string values(const std::string& line, const layer_check& l, const field_check& f) {
    std::string where = f.where ? f.where : "";
    bool absent = !where.empty() && where[0] == '!';
    if (absent) where.erase(0, 1);
    size_t equals = where.find('=');
    std::string where_key = where.substr(0, equals), joined;
    for (const std::string& object : test::json_objects(test::json_layer(line, l.proto))) {
        std::string value = test::json_member(object, f.key);
        if (value.empty()) continue;
        if (!where.empty()) {
            std::string member = test::json_member(object, where_key);
            bool matches = equals == std::string::npos ? !member.empty() : member == where.substr(equals + 1);
            if (matches == absent) continue;
        }
        joined += (joined.empty() ? "" : ",") + value;
    }
    return joined;
}

void PrintTo(const app_case& c, std::ostream* os) { *os << c.traffic; }

class AppPeers : public testing::TestWithParam<app_case> {};

TEST_P(AppPeers, AgreeWithTshark) {
    const app_case& c = GetParam();
    if (!test::running_as_root()) GTEST_SKIP() << "a network namespace needs root";
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    std::string missing;
    if (!have_all(c, missing)) GTEST_SKIP() << missing << " is not installed";
    test::temp_dir dir;
    std::string script = std::string(NODRIX_SOURCE_DIR) + "/tests/data/app_traffic.sh";
    if (test::shell("bash " + script + " " + dir.path + " " + c.traffic + " >/dev/null 2>&1").status != 0)
        GTEST_SKIP() << "the traffic could not be made (no network namespaces here?)";
    std::string pcap = dir.file(std::string(c.traffic) + ".pcap");

    std::vector<std::string> names = {"frame.protocols"};
    for (const auto& l : c.layers)
        for (const auto& f : l.fields) names.push_back(f.tshark);
    auto rows = test::tshark_fields(pcap, names);
    auto lines = test::nodrix_json_lines(pcap);
    ASSERT_EQ(rows.size(), lines.size());
    ASSERT_FALSE(rows.empty());
    int agreed = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string protocols = ":" + rows[i][0] + ":";
        size_t column = 1;
        for (const auto& l : c.layers) {
            bool theirs = protocols.find(std::string(":") + l.tshark_proto + ":") != std::string::npos;
            std::string layer = test::json_layer(lines[i], l.proto);
            bool ours = !layer.empty() && (!l.marker || !test::json_member(layer, l.marker).empty());
            if (ours && !theirs && l.tshark_instead && rows[i][0].ends_with(std::string(":") + l.tshark_instead))
                theirs = true;
            EXPECT_EQ(ours, theirs) << "frame " << i + 1 << ": layer " << l.proto << " (tshark: " << rows[i][0]
                                    << ")\n"
                                    << layer;
            for (const auto& f : l.fields) {
                const std::string& expected = rows[i][column++];
                if (!theirs || (f.unless && layer.find(std::string("\"") + f.unless + "\":") != std::string::npos))
                    continue;
                std::string value = values(lines[i], l, f);
                EXPECT_EQ(value, expected) << "frame " << i + 1 << ", " << f.tshark << "\n" << layer;
                if (!value.empty() && value == expected) ++agreed;
            }
        }
    }
    EXPECT_GE(agreed, c.min_agreed) << "values that agreed";
}

INSTANTIATE_TEST_SUITE_P(Programs, AppPeers, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<app_case>& info) { return std::string(info.param.traffic); });

}  // namespace
