#!/usr/bin/env bash
# Runs a command in a network namespace of its own that has only loopback,
# with a resolver configuration that points at 127.0.0.1:53, where the tests
# run their own DNS server. Nothing leaves this machine, and no real DNS
# server is ever asked.
set -euo pipefail
if [ "${QV_PRIVATE_NETWORK:-}" != 1 ]; then
  resolv=$(mktemp)
  echo "nameserver 127.0.0.1" > "$resolv"
  export QV_PRIVATE_NETWORK=1 QV_RESOLV_CONF="$resolv"
  trap 'rm -f "$resolv"' EXIT
  unshare -n -m -- "$0" "$@"
  exit $?
fi
ip link set lo up
mount --bind "$QV_RESOLV_CONF" /etc/resolv.conf
exec "$@"
