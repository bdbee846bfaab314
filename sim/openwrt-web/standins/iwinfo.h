/* Compile-time stand-in for libiwinfo's header (iwinfo is not among the
 * pinned sources): rpcd-mod-luci loads the library at run time and goes
 * without wireless data when it is absent, as it is on a test host. Only the
 * names that module uses are declared. */
#ifndef IWINFO_STANDIN_H
#define IWINFO_STANDIN_H
#include <glob.h>
#include <stdint.h>
#include <string.h>

#define IWINFO_BUFSIZE 24 * 1024
#define IWINFO_80211_COUNT 8
#define IWINFO_HTMODE_COUNT 16
#define IWINFO_HTMODE_NOHT (1 << 15)
#define IWINFO_AUTH_COUNT 2
#define IWINFO_KMGMT_COUNT 8
#define IWINFO_KMGMT_NONE (1 << 0)
#define IWINFO_CIPHER_COUNT 12
#define IWINFO_CIPHER_NONE (1 << 0)

struct iwinfo_crypto_entry {
	uint8_t enabled, wpa_version;
	uint16_t group_ciphers, pair_ciphers;
	uint8_t auth_suites, auth_algs;
};

struct iwinfo_hardware_id {
	uint16_t vendor_id, device_id, subsystem_vendor_id, subsystem_device_id;
};

struct iwinfo_ops {
	int (*mode)(const char *, int *);
	int (*channel)(const char *, int *);
	int (*frequency)(const char *, int *);
	int (*frequency_offset)(const char *, int *);
	int (*txpower)(const char *, int *);
	int (*txpower_offset)(const char *, int *);
	int (*bitrate)(const char *, int *);
	int (*signal)(const char *, int *);
	int (*noise)(const char *, int *);
	int (*quality)(const char *, int *);
	int (*quality_max)(const char *, int *);
	int (*hwmodelist)(const char *, int *);
	int (*htmodelist)(const char *, int *);
	int (*ssid)(const char *, char *);
	int (*bssid)(const char *, char *);
	int (*country)(const char *, char *);
	int (*hardware_id)(const char *, char *);
	int (*hardware_name)(const char *, char *);
	int (*encryption)(const char *, char *);
	int (*phyname)(const char *, char *);
};
#endif
