#!/usr/bin/env bash
# Runs a command in a network namespace of its own that reaches only itself,
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
# Windows programs ask whether the computer is connected; Wine answers yes
# only with a default route through a gateway. A veth pair whose two ends
# both stay in this namespace provides one; the gateway does not exist, so
# nothing sent there can go anywhere.
ip link add qv0 type veth peer name qv1
ip link set qv0 up
ip link set qv1 up
ip addr add 169.254.10.1/16 dev qv0
ip route add default via 169.254.10.2 dev qv0
mount --bind "$QV_RESOLV_CONF" /etc/resolv.conf
exec "$@"
