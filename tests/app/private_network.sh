#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command in a network namespace of its own with only loopback up, so
# that the endpoint's fixed port is free and no other program on the machine
# sees what the command does there. Needs root (CI runs as root).
exec unshare --net -- bash -c 'ip link set lo up && exec "$@"' private-network "$@"
