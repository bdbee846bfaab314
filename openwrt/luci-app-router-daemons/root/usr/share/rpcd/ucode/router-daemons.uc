// Server side of the router daemons' web pages: the daemons' status files,
// the SMS journal, outbox and dead letters, and the two writes the pages
// make, a message queued in the outbox spool and a given-up one queued again.
// Every method is granted per page by acl.d/luci-app-router-daemons.json.
//
// rpcd runs this as root for the whole of LuCI, and /tmp is shared with
// every other program: a file is read or written only when it is a regular
// file with a single name (never through a link, never a FIFO or device that
// could hold rpcd), and only a bounded part of it is ever read.

'use strict';

import { access, glob, lstat, stat } from 'fs';
import { open as open_fd, O_RDONLY, O_WRONLY, O_APPEND, O_CREAT, O_EXCL, O_NOFOLLOW, O_NONBLOCK, O_NOCTTY, O_CLOEXEC } from 'io';
import { cursor } from 'uci';

const SPOOL = '/tmp/sms_tosend';
const SENDING = '/tmp/sms_sending';
// How far brenlow has worked through the batch.
const SENDING_POS = '/tmp/sms_sending.pos';
const FAILED = '/tmp/sms_failed';
const JOURNAL = '/etc/config/sms_record';
// Dead letters this plugin queued again, one whole line each, so a line is
// queued once however often the button is pressed. RAM, like the letters.
const REQUEUED = '/var/run/router-daemons.requeued';

// The daemon's limits. A spool number has 1 to 16 characters; a GSM
// destination holds 15 of them, its + included.
const NUMBER_MAX = 16;
const GSM_NUMBER_MAX = 15;
// Without the unicode option (and always in CDMA) 160 bytes of the text,
// its newline included, are sent; with it, a text of up to 2048 bytes with
// its newline, in as many parts as it takes up to six.
const SHORT_TEXT_MAX = 159;
const LONG_TEXT_MAX = 2047;
const PARTS_MAX = 6;
const SEPTETS_SINGLE = 160, SEPTETS_PART = 153, UCS2_SINGLE = 70, UCS2_PART = 67;
// The GSM 7-bit default alphabet (one septet each) and its extension table
// (two), as code points.
const GSM_BASIC = [
	0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xF9, 0xEC, 0xF2, 0xC7, 0x0A, 0xD8, 0xF8, 0x0D, 0xC5, 0xE5,
	0x394, 0x5F, 0x3A6, 0x393, 0x39B, 0x3A9, 0x3A0, 0x3A8, 0x3A3, 0x398, 0x39E, 0xC6, 0xE6, 0xDF, 0xC9,
	0x20, 0x21, 0x22, 0x23, 0xA4, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
	0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
	0xA1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
	0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xC4, 0xD6, 0xD1, 0xDC, 0xA7,
	0xBF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
	0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xE4, 0xF6, 0xF1, 0xFC, 0xE0
];
const GSM_EXTENDED = [ 0x0C, 0x5E, 0x7B, 0x7D, 0x5C, 0x5B, 0x7E, 0x5D, 0x7C, 0x20AC ];
const SEPTETS = {};
for (let cp in GSM_BASIC)
	SEPTETS[cp] = 1;
for (let cp in GSM_EXTENDED)
	SEPTETS[cp] = 2;

// Entries a list answer carries at most; the pages show the newest.
const LIST_MAX = 200;
const PAGE_MAX = 100;
// Bytes read at a time.
const CHUNK = 16384;
// Bytes a list reads at most: LIST_MAX of the longest spool lines.
const LIST_BYTES = 524288;
// Bytes of the journal looked at from its end, for a page and the count.
const JOURNAL_BYTES = 4194304;
// A status file is a few KB; a queued-again list of this size is refused.
const STATUS_BYTES = 65536;
const REQUEUED_BYTES = 4194304;
// Longest line a list answer carries: a longer one is no spool line.
const LINE_MAX = 4096;

function same_file(a, b) {
	return a && b && a.inode == b.inode && a.dev?.major == b.dev?.major && a.dev?.minor == b.dev?.minor;
}

// What the descriptor refers to: the path may have changed since the open.
function opened(f) {
	return stat(`/proc/self/fd/${f.fileno()}`);
}

// A regular file with one name at path, opened for reading, or null.
// Looked at first, so a device is not even opened; opened without following
// a link or waiting on a FIFO; then held to be the file that was looked at.
function open_regular(path) {
	let before = lstat(path);
	if (before?.type != 'file' || before.nlink != 1)
		return null;
	let f = open_fd(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (!f)
		return null;
	if (!same_file(before, opened(f))) {
		f.close();
		return null;
	}
	return f;
}

// Up to max bytes from the file's position.
function read_up_to(f, max) {
	let data = '';
	while (length(data) < max) {
		let want = max - length(data);
		let got = f.read(want < CHUNK ? want : CHUNK);
		if (!got)
			break;
		data += got;
	}
	return data;
}

// A small whole file (a status file, the cursor), or null.
function read_small(path, max) {
	let f = open_regular(path);
	if (!f)
		return null;
	let text = read_up_to(f, max);
	f.close();
	return text;
}

// A line as a list answer carries it: cut at a character's start.
function capped(line) {
	if (length(line) <= LINE_MAX)
		return line;
	let end = LINE_MAX;
	while (end > 0 && (ord(line, end) & 0xC0) == 0x80)
		end--;
	return substr(line, 0, end);
}

// The whole lines of an open file from its position on, after a start
// carried from elsewhere: at most count lines and LIST_BYTES bytes.
// more: lines were left out. A last line still without its newline is a
// writer at work and is not counted.
function first_lines(f, count, carried) {
	let lines = [], rest = carried ?? '', budget = LIST_BYTES, more = false;
	while (!more) {
		let data = budget > 0 ? f.read(budget < CHUNK ? budget : CHUNK) : null;
		if (!data) {
			more = budget <= 0;
			break;
		}
		budget -= length(data);
		let parts = split(rest + data, '\n');
		rest = pop(parts);
		for (let line in parts) {
			if (length(lines) >= count) {
				more = true;
				break;
			}
			push(lines, capped(line));
		}
	}
	return { lines, more };
}

// The newest lines of a file, newest first: skip of them left out, at most
// count returned, and the number of lines in the last max bytes. Reads
// from the end in chunks, so a file of years costs a bounded scan, never its
// size in memory. more: the file holds older lines than were counted.
function newest_lines(path, skip, count, max) {
	let f = open_regular(path);
	if (!f)
		return { total: 0, lines: [], more: false };
	let total = 0, picked = [], carry = null, at_end = true;
	let take = (line) => {
		if (total >= skip && length(picked) < count)
			push(picked, capped(line));
		total++;
	};
	f.seek(0, 2);
	let pos = f.tell(), stop = pos > max ? pos - max : 0;
	while (pos > stop) {
		let size = pos - stop < CHUNK ? pos - stop : CHUNK;
		pos -= size;
		f.seek(pos, 0);
		let parts = split(read_up_to(f, size) + (carry ?? ''), '\n');
		// The file's own last newline ends its last line; it starts none.
		if (at_end && parts[-1] == '')
			pop(parts);
		at_end = false;
		// The first part may begin in the chunk before: it waits for it.
		carry = shift(parts);
		for (let i = length(parts) - 1; i >= 0; i--)
			take(parts[i]);
	}
	// Reached the start: the carried part is the first line. Else it may be
	// the end of a line before the window, and is left out.
	if (carry != null && stop == 0)
		take(carry);
	f.close();
	return { total, lines: picked, more: stop > 0 };
}

// Calls each(line) for every whole line of a file of at most max bytes;
// false when the file is larger than that (or each returned false).
function each_line(path, max, each) {
	let f = open_regular(path);
	if (!f)
		return true;
	let rest = '', read_total = 0, ok = true;
	for (let data = f.read(CHUNK); ok && data; data = f.read(CHUNK)) {
		read_total += length(data);
		if (read_total > max) {
			ok = false;
			break;
		}
		let parts = split(rest + data, '\n');
		rest = pop(parts);
		for (let line in parts)
			if (each(line) === false) {
				ok = false;
				break;
			}
	}
	f.close();
	return ok;
}

// Appends one whole line with one write, as any writer of the spool does.
// The file is created when missing (and then must be the one created), and
// otherwise written only when it is a regular file with one name that stays
// the file looked at.
function append_line(path, line) {
	for (let attempt = 0; attempt < 3; attempt++) {
		let before = lstat(path);
		if (before && (before.type != 'file' || before.nlink != 1))
			return `${path} is not a plain file`;
		let flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
		let f = open_fd(path, before ? flags : flags | O_CREAT | O_EXCL, 0644);
		// Renamed away or created by someone else in between: look again.
		if (!f)
			continue;
		let now = opened(f);
		if (now?.type != 'file' || now.nlink != 1 || (before && !same_file(before, now))) {
			f.close();
			return `${path} changed while it was opened`;
		}
		let written = f.write(line);
		f.close();
		return written == length(line) ? null : `${path} could not be written`;
	}
	return `${path} cannot be opened`;
}

// A status file as an object; a key that repeats (retry) gathers an array.
function read_status(path) {
	let text = read_small(path, STATUS_BYTES);
	if (text == null)
		return null;
	let status = {};
	for (let line in split(text, '\n')) {
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

// The code points of a UTF-8 text, or null when it is not UTF-8 the
// daemon reads as written (no overlong form, surrogate or beyond U+10FFFF).
function code_points(s) {
	let out = [];
	for (let i = 0, n = length(s); i < n; ) {
		let c = ord(s, i), more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
		if (more < 0)
			return null;
		let cp = more == 0 ? c : c & (0x3F >> more);
		for (let k = 1; k <= more; k++) {
			if (i + k >= n || (ord(s, i + k) & 0xC0) != 0x80)
				return null;
			cp = cp << 6 | (ord(s, i + k) & 0x3F);
		}
		if (cp < [ 0, 0x80, 0x800, 0x10000 ][more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
			return null;
		push(out, cp);
		i += more + 1;
	}
	return out;
}

// Parts a text takes as the daemon encodes it with the unicode option: the
// GSM alphabet when every character has a septet form, else UCS2; parts are
// filled greedily and never split an escape or a surrogate pair.
function parts_needed(cps) {
	let septets = true;
	for (let cp in cps)
		if (!SEPTETS[cp]) {
			septets = false;
			break;
		}
	let cost = septets ? (cp) => SEPTETS[cp] : (cp) => cp > 0xFFFF ? 2 : 1;
	let total = 0;
	for (let cp in cps)
		total += cost(cp);
	if (total <= (septets ? SEPTETS_SINGLE : UCS2_SINGLE))
		return 1;
	let per_part = septets ? SEPTETS_PART : UCS2_PART, parts = 0;
	for (let i = 0, n = length(cps); i < n; parts++)
		for (let used = 0; i < n && used + cost(cps[i]) <= per_part; i++)
			used += cost(cps[i]);
	return parts;
}

function sms_mode() {
	let uci = cursor();
	let cdma = uci.get('sms', 'general', 'cdma') == '1';
	return { cdma, long_texts: !cdma && uci.get('sms', 'general', 'unicode') == '1' };
}

// The daemon's own rules: what it would refuse, cut or split into lines of
// their own is refused here, with the reason shown on the page.
function check_message(number, text, mode) {
	if (type(number) != 'string' || number == '')
		return 'The number is empty';
	let number_max = mode.cdma ? NUMBER_MAX : GSM_NUMBER_MAX;
	if (length(number) > number_max)
		return sprintf('The number is longer than %d characters', number_max);
	if (mode.cdma ? !match(number, /^[0-9*#]+$/) : !match(number, /^\+?[0-9]+$/))
		return mode.cdma ? 'The number may hold only digits, * and #' : 'The number may hold only digits, after an optional leading +';
	if (type(text) != 'string' || text == '')
		return 'The text is empty';
	if (index(text, '\n') >= 0 || index(text, '\r') >= 0 || index(text, chr(0)) >= 0)
		return 'The text must be one line';
	let max = mode.long_texts ? LONG_TEXT_MAX : SHORT_TEXT_MAX;
	if (length(text) > max)
		return sprintf('The text is longer than %d bytes', max);
	let cps = code_points(text);
	if (cps == null)
		return 'The text is not UTF-8';
	// The line's newline goes out with the text.
	push(cps, 0x0A);
	if (mode.long_texts && parts_needed(cps) > PARTS_MAX)
		return sprintf('The text is longer than %d parts', PARTS_MAX);
	return null;
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

function waiting_entry(line) {
	return spool_fields(line) ?? { number: '', text: line };
}

// The batch's lines brenlow has not worked through: those after its cursor
// (inode, batch id, offset, cut flag, carried line start in hex). A cursor
// counts for the batch it names, or for one just taken over (inode 0); then
// the carried start of a line goes in front of the batch's first line.
function batch_lines(count) {
	let f = open_regular(SENDING);
	if (!f)
		return { lines: [], more: false };
	let batch = opened(f);
	let pos = match(read_small(SENDING_POS, 8192) ?? '', /^([0-9]+) ([0-9]+) ([0-9]+) [01] (-|([0-9A-Fa-f][0-9A-Fa-f])+)\n?$/);
	let offset = 0, carried = '';
	if (pos && (pos[1] == `${batch.inode}` || (pos[1] == '0' && pos[2] != '0'))) {
		offset = +pos[3];
		if (pos[4] != '-')
			for (let i = 0; i < length(pos[4]); i += 2)
				carried += chr(hex(substr(pos[4], i, 2)));
	}
	let result = offset <= batch.size && f.seek(offset, 0) ? first_lines(f, count, carried) : { lines: [], more: false };
	f.close();
	return result;
}

function spool_lines(count) {
	let f = open_regular(SPOOL);
	if (!f)
		return { lines: [], more: false };
	let result = first_lines(f, count);
	f.close();
	return result;
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

// The given-up messages the page shows: the newest of the file's end.
function dead_letters() {
	let newest = newest_lines(FAILED, 0, LIST_MAX, LIST_BYTES);
	let letters = [];
	for (let line in newest.lines) {
		let d = dead_letter(line);
		if (d) {
			d.line = line;
			push(letters, d);
		}
	}
	return { letters, total: newest.total, more: newest.more };
}

// Which of lines (an object of line -> true) were queued again; null when
// the list of those is too large to look through.
function requeued_of(lines) {
	let found = {};
	let whole = each_line(REQUEUED, REQUEUED_BYTES, (line) => {
		if (lines[line])
			found[line] = true;
	});
	return whole ? found : null;
}

function status_or_absent(daemon, path) {
	let s = read_status(path) ?? { running: false };
	s.installed = installed(daemon);
	return s;
}

function tunnel_statuses() {
	let list = [];
	for (let path in glob('/var/run/tolvane-*.status')) {
		let s = read_status(path);
		if (s)
			push(list, s);
	}
	return list;
}

const methods = {
	overview: {
		call: function() {
			return {
				sms: status_or_absent('brenlow', '/var/run/brenlow.status'),
				traffic: [ status_or_absent('moskar', '/var/run/moskar1.status'),
				           status_or_absent('moskar', '/var/run/moskar2.status') ],
				tunnels: { installed: installed('tolvane'), list: tunnel_statuses() },
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
			let page = newest_lines(JOURNAL, offset, limit, JOURNAL_BYTES);
			return { total: page.total, more: page.more, offset, entries: map(page.lines, journal_entry) };
		}
	},

	sms_outbox: {
		call: function() {
			let sending = batch_lines(LIST_MAX);
			let spool = spool_lines(LIST_MAX - length(sending.lines));
			let dead = dead_letters();
			let shown = {};
			for (let d in dead.letters)
				shown[d.line] = true;
			let requeued = requeued_of(shown) ?? shown;
			for (let d in dead.letters)
				d.requeued = !!requeued[d.line];
			let status = read_status('/var/run/brenlow.status') ?? {};
			let retrying = [];
			for (let r in status.retry ?? []) {
				let m = match(r, /^([0-9]+) ([0-9]+) (.*)$/);
				let f = m ? spool_fields(m[3]) : null;
				if (f)
					push(retrying, { attempts: +m[1], next_try: +m[2], number: f.number, text: f.text });
			}
			return {
				sending: map(sending.lines, waiting_entry),
				spool: map(spool.lines, waiting_entry),
				waiting_more: sending.more || spool.more,
				retrying,
				failed: dead.letters,
				failed_total: dead.total,
				failed_more: dead.more
			};
		}
	},

	sms_send: {
		args: { number: '', text: '' },
		call: function(req) {
			let number = req.args.number, text = req.args.text;
			let refused = check_message(number, text, sms_mode());
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
			let listed = false;
			for (let d in dead_letters().letters)
				if (d.line == line)
					listed = true;
			if (!listed)
				return { ok: false, error: 'The message is no longer in the given-up list' };
			let asked = {};
			asked[line] = true;
			let requeued = requeued_of(asked);
			if (requeued == null)
				return { ok: false, error: `Too many messages were queued again: ${REQUEUED} is full` };
			if (requeued[line])
				return { ok: false, error: 'The message was queued again already' };
			let d = dead_letter(line);
			let refused = check_message(d.number, d.text, sms_mode());
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
			return { installed: installed('tolvane'), tunnels: tunnel_statuses() };
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
