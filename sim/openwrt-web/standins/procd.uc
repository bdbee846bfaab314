// Stand-in for the two procd objects the web stack calls (procd does not run
// on a test host): 'system' (board, info) for the header and the status page,
// and 'service' (event), which rpcd calls after an apply; each event is
// written to /calls.log beside the platform script calls, where tests see it.
'use strict';

import { readfile, open } from 'fs';
import { cursor } from 'uci';

function first_line(path) {
	return trim(split(readfile(path) ?? '', '\n')[0]);
}

function kib(meminfo, key) {
	let m = match(meminfo, regexp(`${key}:[ \t]*([0-9]+)`));
	return m ? +m[1] * 1024 : 0;
}

return {
	system: {
		board: {
			call: function() {
				let uci = cursor();
				let host = uci.get_first('system', 'system', 'hostname') ?? 'Router';
				return {
					hostname: host,
					model: 'Simulated cellular router',
					system: 'x86_64 test host',
					board_name: 'sim,router',
					kernel: split(first_line('/proc/version'), ' ')[2] ?? '',
					rootfs_type: 'tmpfs',
					release: {
						distribution: 'OpenWrt',
						version: 'test',
						revision: 'test',
						target: 'sim/host',
						description: 'OpenWrt web stack on a simulated router'
					}
				};
			}
		},
		info: {
			call: function() {
				let mem = readfile('/proc/meminfo') ?? '';
				let load = map(slice(split(first_line('/proc/loadavg'), ' '), 0, 3), (l) => int(+l * 65536));
				return {
					localtime: time(),
					uptime: int(+split(first_line('/proc/uptime'), ' ')[0]),
					load: load,
					memory: {
						total: kib(mem, 'MemTotal'), free: kib(mem, 'MemFree'),
						shared: kib(mem, 'Shmem'), buffered: kib(mem, 'Buffers'),
						available: kib(mem, 'MemAvailable'), cached: kib(mem, 'Cached')
					},
					swap: { total: 0, free: 0 }
				};
			}
		}
	},
	service: {
		event: {
			args: { type: 'type', data: {} },
			call: function(req) {
				let f = open('/calls.log', 'a');
				if (f) {
					f.write(sprintf('service event %s %s\n', req.args.type, req.args.data?.package ?? ''));
					f.close();
				}
				return {};
			}
		}
	}
};
