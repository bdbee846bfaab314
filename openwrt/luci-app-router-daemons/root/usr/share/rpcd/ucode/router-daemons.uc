// Server side of the router daemons' web pages: the daemons' status files,
// the SMS journal, outbox and dead letters, and the two writes the pages
// make, a message queued in the outbox spool and a given-up one queued again.
// Every method is granted per page by acl.d/luci-app-router-daemons.json.

'use strict';

import { access, glob, lstat, open, readfile, stat } from 'fs';
import { cursor } from 'uci';

const SPOOL = '/tmp/sms_tosend';
const SENDING = '/tmp/sms_sending';
const FAILED = '/tmp/sms_failed';
const JOURNAL = '/etc/config/sms_record';
// Dead letters this plugin queued again, one whole line each, so a line is
// queued once however often the button is pressed. RAM, like the letters.
const REQUEUED = '/var/run/router-daemons.requeued';

// The daemon's limits: a spool number has 1 to 16 characters, and only 160
// bytes of the text (its newline included) are sent.
const NUMBER_MAX = 16;
const TEXT_MAX = 159;
// Entries a list answer carries at most; the pages show the newest.
const LIST_MAX = 200;
const PAGE_MAX = 100;
// Bytes read at a time from the end of the journal.
const CHUNK = 16384;

function lines_of(text) {
	let lines = split(text ?? '', '\n');
	if (length(lines) && lines[-1] == '')
		pop(lines);
	return lines;
}

// A status file as an object; a key that repeats (retry) gathers an array.
function read_status(path) {
	let text = readfile(path);
	if (text == null)
		return null;
	let status = {};
	for (let line in lines_of(text)) {
		let eq = index(line, '=');
		if (eq < 1)
			continue;
		let key = substr(line, 0, eq), value = substr(line, eq + 1);
		if (key == 'retry') {
			if (!status.retry)
				status.retry = [];
			push(status.retry, value);
		}
		else
			status[key] = value;
	}
	// A file left by a daemon that stopped says nothing about now.
	status.running = status.pid != null && +status.pid > 0 && access(`/proc/${+status.pid}`);
	return status;
}

function installed(daemon) {
	return access(`/usr/sbin/${daemon}`, 'x');
}

// number,text of a spool line (the text without its newline).
function spool_fields(line) {
	let comma = index(line, ',');
	if (comma < 0)
		return null;
	return { number: substr(line, 0, comma), text: substr(line, comma + 1) };
}

function valid_utf8(s) {
	for (let i = 0, n = length(s); i < n; ) {
		let c = ord(s, i), more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
		if (more < 0 || (more == 1 && c < 0xC2))
			return false;
		for (let k = 1; k <= more; k++)
			if (i + k >= n || (ord(s, i + k) & 0xC0) != 0x80)
				return false;
		i += more + 1;
	}
	return true;
}

function cdma_mode() {
	let uci = cursor();
	return uci.get('sms', 'general', 'cdma') == '1';
}

// The daemon's own rules: what it would refuse, cut or split into lines of
// their own is refused here, with the reason shown on the page.
function check_message(number, text, cdma) {
	if (type(number) != 'string' || number == '')
		return 'The number is empty';
	if (length(number) > NUMBER_MAX)
		return sprintf('The number is longer than %d characters', NUMBER_MAX);
	if (cdma ? !match(number, /^[0-9*#]+$/) : !match(number, /^\+?[0-9]+$/))
		return cdma ? 'The number may hold only digits, * and #' : 'The number may hold only digits, after an optional leading +';
	if (type(text) != 'string' || text == '')
		return 'The text is empty';
	if (length(text) > TEXT_MAX)
		return sprintf('The text is longer than %d bytes', TEXT_MAX);
	if (index(text, '\n') >= 0 || index(text, '\r') >= 0 || index(text, chr(0)) >= 0)
		return 'The text must be one line';
	if (!valid_utf8(text))
		return 'The text is not UTF-8';
	return null;
}

// Appends one whole line with one write, as any writer of the spool does.
// The shared places are never written through a link another program put
// there: a link is refused, and so is a path that turned into one between
// the look and the open (the opened file must be the one at the path).
function append_line(path, line) {
	let before = lstat(path);
	if (before && before.type != 'file')
		return `${path} is not a plain file`;
	let f = open(path, 'a', 0644);
	if (!f)
		return `${path} cannot be opened`;
	let at_path = lstat(path), opened = stat(`/proc/self/fd/${f.fileno()}`);
	if (!at_path || at_path.type != 'file' || !opened || at_path.inode != opened.inode ||
	    at_path.dev?.major != opened.dev?.major || at_path.dev?.minor != opened.dev?.minor) {
		f.close();
		return `${path} changed while it was opened`;
	}
	let written = f.write(line);
	f.close();
	return written == length(line) ? null : `${path} could not be written`;
}

// The newest lines of a file, newest first: skip of them left out, at most
// count returned, and the number of lines in all. Reads from the end in
// chunks, so a journal of years costs a scan, never its size in memory.
function newest_lines(path, skip, count) {
	let f = open(path, 'r');
	if (!f)
		return { total: 0, lines: [] };
	let total = 0, picked = [], carry = null, at_end = true;
	let take = (line) => {
		if (total >= skip && length(picked) < count)
			push(picked, line);
		total++;
	};
	f.seek(0, 2);
	let pos = f.tell();
	while (pos > 0) {
		let size = pos < CHUNK ? pos : CHUNK;
		pos -= size;
		f.seek(pos, 0);
		let parts = split(f.read(size) + (carry ?? ''), '\n');
		// The file's own last newline ends its last line; it starts none.
		if (at_end && parts[-1] == '')
			pop(parts);
		at_end = false;
		// The first part may begin in the chunk before: it waits for it.
		carry = shift(parts);
		for (let i = length(parts) - 1; i >= 0; i--)
			take(parts[i]);
	}
	if (carry != null)
		take(carry);
	f.close();
	return { total, lines: picked };
}

function journal_entry(line) {
	let m = match(line, /^(Received|Sent) SMS: (sender|receiver): (.*); time: ([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}); msg: (.*)$/);
	if (!m)
		return { direction: 'other', peer: '', time: '', text: line };
	let text = m[5];
	// A sent line ends its text with a period of the journal's own, and a
	// message from the spool with the line's newline (escaped as \n).
	if (m[1] == 'Sent' && substr(text, -1) == '.')
		text = substr(text, 0, -1);
	if (m[1] == 'Sent' && substr(text, -2) == '\\n')
		text = substr(text, 0, -2);
	return { direction: m[1] == 'Sent' ? 'sent' : 'received', peer: m[3], time: m[4], text };
}

function waiting_lines(path) {
	let lines = lines_of(readfile(path));
	return map(slice(lines, 0, LIST_MAX), (l) => spool_fields(l) ?? { number: '', text: l });
}

function requeued_set() {
	let set = {};
	for (let line in lines_of(readfile(REQUEUED)))
		set[line] = true;
	return set;
}

// time, reason and spool line of a dead letter.
function dead_letter(line) {
	let a = index(line, '\t'), b = a < 0 ? -1 : index(substr(line, a + 1), '\t');
	if (b < 0)
		return null;
	let spool = substr(line, a + b + 2);
	let f = spool_fields(spool);
	return f ? { time: substr(line, 0, a), reason: substr(line, a + 1, b), spool, number: f.number, text: f.text } : null;
}

function status_or_absent(daemon, path) {
	let s = read_status(path) ?? { running: false };
	s.installed = installed(daemon);
	return s;
}

const methods = {
	overview: {
		call: function() {
			let tunnels = [];
			for (let path in glob('/var/run/tolvane-*.status'))
				push(tunnels, read_status(path));
			return {
				sms: status_or_absent('brenlow', '/var/run/brenlow.status'),
				traffic: [ status_or_absent('moskar', '/var/run/moskar1.status'),
				           status_or_absent('moskar', '/var/run/moskar2.status') ],
				tunnels: { installed: installed('tolvane'), list: tunnels },
				gps: status_or_absent('quorral', '/var/run/quorral.status'),
				bridge: status_or_absent('dastral', '/var/run/dastral.status')
			};
		}
	},

	sms_status: {
		call: function() {
			return {
				modem1: status_or_absent('brenlow', '/var/run/brenlow.status'),
				modem2: status_or_absent('brenlow', '/var/run/brenlow2.status')
			};
		}
	},

	sms_journal: {
		args: { offset: 0, limit: 0 },
		call: function(req) {
			let offset = req.args.offset ?? 0, limit = req.args.limit ?? 25;
			if (offset < 0)
				offset = 0;
			if (limit < 1 || limit > PAGE_MAX)
				limit = PAGE_MAX;
			let page = newest_lines(JOURNAL, offset, limit);
			return { total: page.total, offset, entries: map(page.lines, journal_entry) };
		}
	},

	sms_outbox: {
		call: function() {
			let requeued = requeued_set();
			let failed = [];
			for (let line in lines_of(readfile(FAILED))) {
				let d = dead_letter(line);
				if (d) {
					d.line = line;
					d.requeued = !!requeued[line];
					push(failed, d);
				}
			}
			let status = read_status('/var/run/brenlow.status') ?? {};
			let retrying = [];
			for (let r in status.retry ?? []) {
				let m = match(r, /^([0-9]+) ([0-9]+) (.*)$/);
				let f = m ? spool_fields(m[3]) : null;
				if (f)
					push(retrying, { attempts: +m[1], next_try: +m[2], number: f.number, text: f.text });
			}
			return {
				spool: waiting_lines(SPOOL),
				sending: waiting_lines(SENDING),
				retrying,
				failed: reverse(slice(failed, -LIST_MAX)),
				failed_total: length(failed)
			};
		}
	},

	sms_send: {
		args: { number: '', text: '' },
		call: function(req) {
			let number = req.args.number, text = req.args.text;
			let refused = check_message(number, text, cdma_mode());
			if (refused)
				return { ok: false, error: refused };
			let failed = append_line(SPOOL, `${number},${text}\n`);
			return failed ? { ok: false, error: failed } : { ok: true };
		}
	},

	sms_requeue: {
		args: { line: '' },
		call: function(req) {
			let line = req.args.line;
			if (type(line) != 'string' || line == '' || index(line, '\n') >= 0)
				return { ok: false, error: 'No such message' };
			if (!(line in lines_of(readfile(FAILED))))
				return { ok: false, error: 'The message is no longer in the given-up list' };
			if (requeued_set()[line])
				return { ok: false, error: 'The message was queued again already' };
			let d = dead_letter(line);
			let refused = d ? check_message(d.number, d.text, cdma_mode()) : 'The line is no spool line';
			if (refused)
				return { ok: false, error: refused };
			// Noted first: a second press must not queue it twice even if the
			// spool write fails half-way.
			let failed = append_line(REQUEUED, `${line}\n`) ?? append_line(SPOOL, `${d.spool}\n`);
			return failed ? { ok: false, error: failed } : { ok: true };
		}
	},

	traffic_status: {
		call: function() {
			return {
				traffic: status_or_absent('moskar', '/var/run/moskar1.status'),
				traffic2: status_or_absent('moskar', '/var/run/moskar2.status')
			};
		}
	},

	tunnel_status: {
		call: function() {
			let list = [];
			for (let path in glob('/var/run/tolvane-*.status'))
				push(list, read_status(path));
			return { installed: installed('tolvane'), tunnels: list };
		}
	},

	gps_status: {
		call: function() {
			return status_or_absent('quorral', '/var/run/quorral.status');
		}
	},

	bridge_status: {
		call: function() {
			return status_or_absent('dastral', '/var/run/dastral.status');
		}
	}
};

return { 'luci.router-daemons': methods };
