# Stand-in for OpenWrt's procd.sh together with procd itself: instances are
# kept under $PROCD_DIR/<service>/ (their parameters, the pid of the running
# stand-in daemon), and every ubus call is recorded in $PROCD_DIR/ubus.log.
# Like procd: "set" replaces the service's instances (one whose parameters
# changed is stopped with SIGTERM and started again, one that is gone is
# stopped), "add" only adds or replaces the instances given; an unchanged
# instance keeps running. Started commands run fake_daemon.sh instead.
# shellcheck shell=sh disable=SC3043

procd_open_service() {
	SHIM_SERVICE=$1
	SHIM_NEW=$PROCD_DIR/.new
	rm -rf "$SHIM_NEW"
	mkdir -p "$SHIM_NEW" "$PROCD_DIR/$SHIM_SERVICE"
	SHIM_COUNT=0
	SHIM_INST=
}

procd_open_instance() {
	SHIM_COUNT=$((SHIM_COUNT + 1))
	SHIM_INST=${1:-instance$SHIM_COUNT}
	: > "$SHIM_NEW/$SHIM_INST"
}

# The command is also kept shell-quoted, to be started.
procd_set_param() {
	local arg
	shim_print "$@" >> "$SHIM_NEW/$SHIM_INST"
	[ "$1" = command ] || return 0
	shift
	for arg; do
		printf "'%s' " "$(printf '%s' "$arg" | sed "s/'/'\\\\''/g")"
	done > "$SHIM_NEW/$SHIM_INST.cmd"
}
procd_append_param() { procd_set_param "$@"; }
procd_close_instance() { :; }
procd_add_reload_trigger() { shim_print trigger "$@" >> "$PROCD_DIR/triggers"; }
logger() { shim_print log "$@" >> "$PROCD_DIR/log"; }

shim_stop() {
	local dir="$PROCD_DIR/$1" pid tries=100
	[ -f "$dir/$2.pid" ] || return 0
	pid=$(cat "$dir/$2.pid")
	echo "signal $1 $2 TERM" >> "$PROCD_DIR/ubus.log"
	kill -TERM "$pid" 2>/dev/null
	while kill -0 "$pid" 2>/dev/null && [ $tries -gt 0 ]; do
		sleep 0.1
		tries=$((tries - 1))
	done
	rm -f "$dir/$2" "$dir/$2.cmd" "$dir/$2.pid"
}

shim_start() {
	local dir="$PROCD_DIR/$1" inst="$2"
	cp "$SHIM_NEW/$inst" "$SHIM_NEW/$inst.cmd" "$dir/"
	eval "set -- $(cat "$dir/$inst.cmd")"
	sh "$PROCD_STANDIN/fake_daemon.sh" "$@" </dev/null >/dev/null 2>&1 &
	echo $! > "$dir/$inst.pid"
	shim_wait_started $!
}

# Returns once the stand-in daemon has written its PID file and logged its
# start (at most 20 s), as a real daemon is up by the time a test looks.
shim_wait_started() {
	local tries=200
	while ! grep -q " $1 start\$" "$PROCD_DIR/daemons.log" 2>/dev/null && [ $tries -gt 0 ]; do
		sleep 0.1
		tries=$((tries - 1))
	done
}

procd_close_service() {
	local method="${1:-set}" dir="$PROCD_DIR/$SHIM_SERVICE" file inst
	service_triggers > "$PROCD_DIR/validate"
	echo "call service $method $SHIM_SERVICE" >> "$PROCD_DIR/ubus.log"
	if [ "$method" = set ]; then
		for file in "$dir"/*.pid; do
			[ -f "$file" ] || continue
			inst=$(basename "$file" .pid)
			[ -f "$SHIM_NEW/$inst" ] || shim_stop "$SHIM_SERVICE" "$inst"
		done
	fi
	for file in "$SHIM_NEW"/*; do
		[ -f "$file" ] || continue
		inst=$(basename "$file")
		case "$inst" in *.cmd) continue ;; esac
		if [ -f "$dir/$inst.pid" ]; then
			cmp -s "$file" "$dir/$inst" && continue
			shim_stop "$SHIM_SERVICE" "$inst"
		fi
		shim_start "$SHIM_SERVICE" "$inst"
	done
	rm -rf "$SHIM_NEW"
}

# procd_kill SERVICE [INSTANCE]: ubus call service delete.
procd_kill() {
	local file
	echo "call service delete $1 ${2:-*}" >> "$PROCD_DIR/ubus.log"
	if [ -n "$2" ]; then
		shim_stop "$1" "$2"
		return 0
	fi
	for file in "$PROCD_DIR/$1"/*.pid; do
		[ -f "$file" ] && shim_stop "$1" "$(basename "$file" .pid)"
	done
	return 0
}
