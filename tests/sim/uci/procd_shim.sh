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

# Validation (procd.sh's uci_load_validate over validate_data): a rule is
# NAME:TYPE[:DEFAULT]; the option's value, or the default when it is not
# set, is assigned to the variable NAME. Each value (each item of a list)
# is checked by OpenWrt's own validate_data, built under $OPENWRT_ROOT by
# sim/openwrt-web/build.sh. A value that fails its type is reported on
# standard error and counted; the result is 0 when all pass.
shim_valid() {
	local shim_item shim_newline='
'
	[ -x "$OPENWRT_ROOT/usr/bin/validate_data" ] || {
		echo "OPENWRT_ROOT does not hold validate_data" >&2
		return 1
	}
	# Items of a list one a line; an option's value whole.
	while IFS= read -r shim_item; do
		LD_LIBRARY_PATH="$OPENWRT_ROOT/usr/lib" "$OPENWRT_ROOT/usr/bin/validate_data" "$1" "$shim_item" \
			2>/dev/null || return 1
	done <<EOF_ITEMS
$(uci -q -d "$shim_newline" get "$2")
EOF_ITEMS
}

uci_validate_section() {
	local shim_pkg="$1" shim_section="$3" shim_rule shim_name shim_type shim_default shim_value shim_errors=0
	shift 3
	for shim_rule; do
		shim_name=${shim_rule%%:*}
		shim_type=${shim_rule#*:}
		shim_default=
		case "$shim_type" in
			*:*) shim_default=${shim_type#*:}; shim_type=${shim_type%%:*} ;;
		esac
		shim_value=$(uci -q get "$shim_pkg.$shim_section.$shim_name") || shim_value=
		if [ -z "$shim_value" ]; then
			shim_value=$shim_default
		elif ! shim_valid "$shim_type" "$shim_pkg.$shim_section.$shim_name"; then
			echo "$shim_pkg.$shim_section.$shim_name=$shim_value validates as $shim_type with false" >&2
			shim_errors=$((shim_errors + 1))
			shim_value=$shim_default
		elif [ "$shim_type" = bool ]; then
			case "$shim_value" in 1|on|true|yes|enabled) shim_value=1 ;; *) shim_value=0 ;; esac
		fi
		eval "$shim_name=\$shim_value"
	done
	[ "$shim_errors" = 0 ]
}

uci_load_validate() {
	local _package="$1" _type="$2" _name="$3" _function="$4" _option _result
	shift 4
	if [ -n "$SHIM_VALIDATING" ]; then
		shim_print validate "$_package" "$_type" "$@"
		return 0
	fi
	for _option; do
		eval "local ${_option%%:*}"
	done
	uci_validate_section "$_package" "$_type" "$_name" "$@"
	_result=$?
	[ -n "$_function" ] || return "$_result"
	eval "$_function \"\$_name\" \"\$_result\""
}

procd_add_validation() {
	SHIM_VALIDATING=1
	"$@"
	SHIM_VALIDATING=
}
