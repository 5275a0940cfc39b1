#!/usr/bin/env bash
# line_back.sh over the simulator's raw TCP port: the connection closed and
# the port listening again in the middle of a random-access run.
# Usage: line_back_tcp.sh <build dir>
exec bash "$(dirname "$0")/line_back.sh" "${1:?usage: $0 <build dir>}" tcp
