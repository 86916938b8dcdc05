// X.509 certificates as a TLS 1.2 Certificate handshake message carries
// them: subject, issuer, serial, validity, alternative names, public key
// and signature algorithm of each certificate in the chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/context.h"

// The body of a whole Certificate message at p (n bytes). Prints a block per
// certificate in the TLS decoder's style (each line begins with a line
// break) and records each as an item of "certificates". Returns the first
// certificate's subject for the summary.
std::string decode_certificate_list(decode_context& cx, const uint8_t* p, size_t n, bool all);
