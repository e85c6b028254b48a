#!/usr/bin/env bash
# The clock service against one name with several addresses: SNTP servers on
# 127.0.0.2 and up, each with a clock of its own, and a hosts file bound over
# /etc/hosts in this test's private mount namespace (glibc's resolver, which
# Wine uses, returns every line of a name, in file order). Then runs the
# end-to-end test that checks what the service made of them.
#   service_agreement.sh WINE_RUN --root=DIR --arch=ARCH TEST_EXE
set -euo pipefail
run=$1; root=$2; arch=$3; exe=$4
if [ "${QV_PRIVATE_NETWORK:-}" != 1 ]; then
  echo "service_agreement.sh: runs only inside scripts/in-private-network.sh" >&2
  exit 1
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
cat > "$work/hosts" <<'HOSTS'
127.0.0.1 localhost
127.0.0.2 agree.test
127.0.0.3 agree.test
127.0.0.4 agree.test
127.0.0.5 split.test
127.0.0.6 split.test
127.0.0.8 silent.test
127.0.0.9 silent.test
127.0.0.10 short.test
2001:db8::1 mixed.test
2001:db8::2 v6only.test
127.0.0.11 mixed.test
HOSTS
mount --bind "$work/hosts" /etc/hosts
python3 "$here/tools/sntp_server.py" --log "$work/requests.log" \
  --serve 127.0.0.2=0.3 --serve 127.0.0.3=0.3 --serve 127.0.0.4=100 \
  --serve 127.0.0.5=0.3 --serve 127.0.0.6=100 --serve 127.0.0.7=3600 \
  --serve 127.0.0.8=0:silent --serve 127.0.0.9=0:silent --serve 127.0.0.10=0.3:short-first --serve 127.0.0.11=0.3 --serve 127.0.0.12=0.3:slow-first \
  >"$work/server.out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; umount /etc/hosts; rm -rf "$work"' EXIT
for _ in $(seq 1 50); do grep -q 127.0.0.12 "$work/server.out" 2>/dev/null && break; sleep 0.1; done
export QV_AGREEMENT_LOG=$work/requests.log
"$run" "$root" "$arch" "$exe" --gtest_also_run_disabled_tests --gtest_filter='ServiceAgreement.*'
