#!/usr/bin/env bash
# Runs a test that starts the real program, whose lobby port is compiled in,
# in a network of its own: a loopback that also answers on the lobby address
# the build was configured with. There it meets no other lobby or Lookout on
# this machine and disturbs none, so ctest may run it beside the others.
#
#   own-network.sh ADDRESS COMMAND...   run COMMAND so
#   own-network.sh --possible           exit 0 when a network may be made here
#
# Where no network namespace may be made, COMMAND shares the machine's
# loopback (ctest then holds the port's lock for it), and is skipped (77)
# when the lobby address is not one of this machine's.
set -euo pipefail

own_network=(unshare --net)
[ "$(id -u)" -eq 0 ] || own_network+=(--map-root-user)
possible() { command -v unshare >/dev/null && command -v ip >/dev/null && "${own_network[@]}" true 2>/dev/null; }

if [ "${1:-}" = --possible ]; then
    possible
    exit
fi
address=$1
shift

if [ -n "${LOOKOUT_OWN_NETWORK:-}" ]; then
    ip link set lo up
    [ "$address" = 127.0.0.1 ] || ip addr add "$address/32" dev lo
    exec "$@"
fi
if possible; then
    LOOKOUT_OWN_NETWORK=1 exec "${own_network[@]}" bash "$0" "$address" "$@"
fi
echo "note: no network namespace may be made here; using the machine's own network"
if [ "$address" != 127.0.0.1 ] && ! ip -4 -o addr show 2>/dev/null | grep -q " inet $address/"; then
    echo "SKIP: the lobby address $address is not one of this machine's, and no network of our own may be made"
    exit 77
fi
exec "$@"
