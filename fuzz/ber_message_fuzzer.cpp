// One LDAP, Kerberos, SNMP or X.509 message through the BER decoders; see
// entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ber_message_input(data, size);
    return 0;
}
