#!/usr/bin/env bash
# ADDRESS COMMAND...: COMMAND in a network of its own whose loopback answers on
# ADDRESS, else in the machine's (77 if ADDRESS is not its own); --possible: 0 if one may be made.
set -euo pipefail

own_network=(unshare --net)
[ "$(id -u)" -eq 0 ] || own_network+=(--map-root-user)
possible() { command -v unshare >/dev/null && command -v ip >/dev/null && "${own_network[@]}" true 2>/dev/null; }

if [ "${1:-}" = --possible ]; then possible; exit; fi
address=$1
shift
if [ -n "${LOOKOUT_OWN_NETWORK:-}" ]; then
    ip link set lo up
    [ "$address" = 127.0.0.1 ] || ip addr add "$address/32" dev lo
    exec "$@"
fi
possible && LOOKOUT_OWN_NETWORK=1 exec "${own_network[@]}" bash "$0" "$address" "$@"
echo "note: no network namespace may be made here; using the machine's own network"
if [ "$address" != 127.0.0.1 ] && ! ip -4 -o addr show 2>/dev/null | grep -q " inet $address/"; then
    echo "SKIP: the lobby address $address is not one of this machine's, and no network of our own may be made"
    exit 77
fi
exec "$@"
