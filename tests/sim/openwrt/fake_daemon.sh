# Stands in for a daemon that procd started: writes the PID file the
# command line names (after "pid" for tolvane, else the second argument),
# records its start and how it ended in $PROCD_DIR/daemons.log.
# shellcheck shell=sh
sleeper=
# Set first, so a SIGTERM at any time after the start line is recorded.
trap 'kill "$sleeper" 2>/dev/null; echo "$prog $$ TERM" >> "$PROCD_DIR/daemons.log"; exit 0' TERM
prog=$(basename "$1")
shift
pidfile=$2
if [ "$prog" = tolvane ]; then
	pidfile=
	while [ $# -gt 1 ]; do
		[ "$1" = pid ] && pidfile=$2
		shift
	done
fi
[ -n "$pidfile" ] && echo $$ > "$pidfile"
echo "$prog $$ start" >> "$PROCD_DIR/daemons.log"
while :; do
	sleep 30 &
	sleeper=$!
	wait "$sleeper"
done
