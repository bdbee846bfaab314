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
# set, is assigned to the variable NAME. A value that fails its type is
# reported on standard error and counted; the result is 0 when all pass.
shim_valid() {
	local shim_lo shim_hi
	case "$1" in
		string) return 0 ;;
		bool)
			case "$2" in 0|1|on|off|true|false|yes|no|enabled|disabled) return 0 ;; esac
			return 1 ;;
		uinteger)
			case "$2" in ''|*[!0-9]*) return 1 ;; esac ;;
		maxlength\(*)
			shim_hi=${1#maxlength(}
			[ ${#2} -le "${shim_hi%)}" ] ;;
		and\(*,*\))
			shim_lo=${1#and(}
			shim_lo=${shim_lo%)}
			shim_valid "${shim_lo%%,*}" "$2" && shim_valid "${shim_lo#*,}" "$2" ;;
		port) shim_valid uinteger "$2" && [ "$2" -le 65535 ] ;;
		range\(*)
			shim_lo=${1#range(}
			shim_hi=${shim_lo#*,}
			shim_hi=${shim_hi%)}
			shim_lo=${shim_lo%%,*}
			shim_valid uinteger "${2#-}" && [ "$2" -ge "$shim_lo" ] && [ "$2" -le "$shim_hi" ] ;;
		ip4addr|ipaddr)
			echo "$2" | grep -Eq '^((25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])\.){3}(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])$' ;;
		hostname)
			[ ${#2} -le 253 ] && echo "$2" | grep -Eq '^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*$' ;;
		host) shim_valid ip4addr "$2" || shim_valid hostname "$2" ;;
		file) [ -f "$2" ] ;;
		device) [ -c "$2" ] || [ -b "$2" ] ;;
		*) echo "unknown type $1" >&2; return 1 ;;
	esac
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
		elif ! shim_valid "$shim_type" "$shim_value"; then
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
