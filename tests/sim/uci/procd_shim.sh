# Stand-ins for the OpenWrt shell helpers (functions.sh, procd.sh) that the
# init scripts call, enough to run start_service on a host: UCI access goes
# through the uci found in PATH, and procd calls are printed one per line,
# each argument in brackets.

config_load() {
	SHIM_PKG=$1
}

# config_get VAR SECTION OPTION [DEFAULT]: an empty value takes the default.
config_get() {
	local shim_got
	shim_got=$(uci -q get "$SHIM_PKG.$2.$3")
	[ -n "$shim_got" ] || shim_got=$4
	eval "$1=\$shim_got"
}

config_get_bool() {
	local shim_bool
	config_get "$1" "$2" "$3" "$4"
	eval "shim_bool=\$$1"
	case "$shim_bool" in
		1|on|true|yes|enabled) shim_bool=1 ;;
		0|off|false|no|disabled) shim_bool=0 ;;
		*) shim_bool=$4 ;;
	esac
	eval "$1=\$shim_bool"
}

config_foreach() {
	local shim_fn=$1 shim_type=$2 shim_section
	shift 2
	for shim_section in $(uci -q -X show "$SHIM_PKG" | sed -n "s/^$SHIM_PKG\.\([^.=]*\)=$shim_type\$/\1/p"); do
		"$shim_fn" "$shim_section" "$@"
	done
}

shim_print() {
	printf '%s' "$1"
	shift
	for shim_arg; do printf ' [%s]' "$shim_arg"; done
	printf '\n'
}

procd_open_instance() { shim_print instance "$@"; }
procd_set_param() { shim_print "$@"; }
procd_close_instance() { :; }
procd_add_reload_trigger() { shim_print trigger "$@"; }
logger() { shim_print log "$@"; }
