#!/usr/bin/env bash
# Installs the Debian packages the build needs, when missing; with --test
# also what the tests need.
set -euo pipefail
packages=(cmake g++ ninja-build pkg-config libpcap-dev zlib1g-dev libgtest-dev ieee-data)
# The tests also capture live, check the Debian package, compare with a
# peer decoder, build frames with scapy and make traffic with real programs.
if [ "${1:-}" = "--test" ]; then
  packages+=(iproute2 tcpdump dpkg-dev file lintian tshark python3 python3-scapy jq curl openssl iputils-ping)
  # Servers and clients whose traffic the LDAP and Kerberos tests capture.
  packages+=(slapd ldap-utils krb5-kdc krb5-admin-server krb5-user)
  # The JSON schema check and the loading recipes (PostgreSQL, SQLite, DuckDB
  # through npm).
  packages+=(python3-jsonschema postgresql sqlite3)
  # HTTP/2 traffic from real programs for the comparison with tshark.
  packages+=(nghttp2-client nghttp2-server)
  # Routing and link-level traffic of real programs between network
  # namespaces (tests/data/routing_traffic.sh).
  packages+=(frr keepalived traceroute)
  # Servers and clients of the application protocols compared with tshark
  # (tests/e2e/app_peer_test.cpp).
  packages+=(redis-server redis-tools mosquitto mosquitto-clients dnsmasq-base freeradius freeradius-utils
    python3-pyftpdlib python3-aiosmtpd swaks sip-tester)
  # The Dask runner's end-to-end test (cluster/nodrix_dask.py).
  packages+=(python3-distributed)
  # A node from elsewhere (e.g. NodeSource) brings its own npm.
  command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
fi
command -v python3 >/dev/null 2>&1 || packages+=(python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
