'use strict';
'require baseclass';
'require dom';
'require form';
'require poll';
'require rpc';

// What the router daemons' pages share: the rpcd calls, the options' types
// as the init scripts check them, the SMS rules of the outbox, and the ways
// times and volumes are shown.

// The line speeds and parities the daemons' serial set-up knows.
const SPEEDS = [ '300', '1200', '2400', '4800', '9600', '19200', '38400', '57600', '115200' ];
const SPEED_TYPE = `or(${SPEEDS.map(v => `"${v}"`).join(',')})`;
const PARITY_TYPE = 'or("N","n","O","o","E","e","S","s")';

// The option types each init script checks (its *_RULES, read by
// uci_load_validate), as LuCI datatypes; a test holds both to agreement on
// sample values. Options not listed are checked by the daemon as it reads
// them (see limits below) or are free text.
const DATATYPES = {
	sms: {
		module: 'range(1,2)', debug: 'range(0,5)', onreceive: 'maxlength(255)', retrytime: 'range(0,999999999)',
		sigthres: 'range(-999999999,999999999)', failedthres: 'range(1,999999999)', normalthres: 'range(0,999999999)'
	},
	moskar: {
		period: 'or("month","week","day")', start_month: 'range(1,31)', start_week: 'range(0,6)', start_hour: 'range(0,23)',
		phone: 'maxlength(511)', datamax: 'and(uinteger,maxlength(12))', percent: 'range(1,999999999)',
		debug: 'range(0,5)', debugoutput: 'range(0,2)', commit_interval: 'range(0,999999999)'
	},
	tolvane: {
		remote: 'ip4addr', local: 'ip4addr', seconds: 'uinteger', retry: 'uinteger', timeout: 'uinteger'
	},
	quorral: {
		proto: 'range(0,2)', serverip: 'and(host,maxlength(127))', serverport: 'range(0,65535)', interval: 'range(0,86400)',
		baudrate: SPEED_TYPE, parity: PARITY_TYPE, databits: 'range(7,8)', stopbits: 'range(1,2)', debug: 'range(0,5)'
	},
	dastral: {
		baudrate: SPEED_TYPE, parity: PARITY_TYPE, databits: 'range(7,8)', stopbits: 'range(1,2)', debug: 'range(0,5)',
		output: 'range(0,2)'
	}
};

// Types whose values are numbers, and those that may be negative.
const NUMERIC = /^(and\()?(u?integer|range)/;
const SIGNED = /^range\(-/;

// The outbox's limits: 1 to 16 characters of number, of which a GSM
// destination holds 15. Without the unicode option (and always in CDMA)
// 160 bytes of the text are sent, its line's newline included; with it a
// text of up to 2048 bytes with the newline, in at most six parts.
const NUMBER_MAX = 16;
const GSM_NUMBER_MAX = 15;
const SHORT_TEXT_MAX = 159;
const LONG_TEXT_MAX = 2047;
// A command keyword is compared with at most 63 bytes of a message.
const KEYWORD_MAX = 63;

// The GSM 7-bit default alphabet (one septet) and its extension table (two),
// as the daemon encodes: a text goes as septets when every character has a
// form here, else as UCS2.
const GSM_BASIC = '@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !"#¤%&\'()*+,-./0123456789:;<=>?' +
	'¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà';
const GSM_EXTENDED = '\f^{}\\[~]|€';
// Units of one message, and of one part of a long one (its header takes the rest).
const SEPTETS_SINGLE = 160, SEPTETS_PART = 153, UCS2_SINGLE = 70, UCS2_PART = 67;
const PARTS_MAX = 6;

const callOverview = rpc.declare({ object: 'luci.router-daemons', method: 'overview' });
const callSmsStatus = rpc.declare({ object: 'luci.router-daemons', method: 'sms_status' });
const callSmsJournal = rpc.declare({ object: 'luci.router-daemons', method: 'sms_journal', params: [ 'offset', 'limit' ] });
const callSmsOutbox = rpc.declare({ object: 'luci.router-daemons', method: 'sms_outbox' });
const callSmsSend = rpc.declare({ object: 'luci.router-daemons', method: 'sms_send', params: [ 'number', 'text' ] });
const callSmsRequeue = rpc.declare({ object: 'luci.router-daemons', method: 'sms_requeue', params: [ 'line' ] });
const callTrafficStatus = rpc.declare({ object: 'luci.router-daemons', method: 'traffic_status' });
const callTunnelStatus = rpc.declare({ object: 'luci.router-daemons', method: 'tunnel_status' });
const callGpsStatus = rpc.declare({ object: 'luci.router-daemons', method: 'gps_status' });
const callBridgeStatus = rpc.declare({ object: 'luci.router-daemons', method: 'bridge_status' });

function utf8Length(s) {
	return new TextEncoder().encode(s).length;
}

return baseclass.extend({
	DATATYPES, NUMBER_MAX, KEYWORD_MAX, PARTS_MAX,

	callOverview, callSmsStatus, callSmsJournal, callSmsOutbox, callSmsSend, callSmsRequeue,
	callTrafficStatus, callTunnelStatus, callGpsStatus, callBridgeStatus,

	// A form option's datatype as its init script checks it.
	datatype(pkg, option) {
		return DATATYPES[pkg]?.[option];
	},

	// Gives a form option its init script's type. Numbers are asked for
	// plainly (digits, a minus only where the range goes below 0, no plus,
	// blank or leading zero): the init script's C parser takes "08" as bad
	// octal and "0x10" as hex, the daemons read numbers with atoi, and a
	// plain number means the same to all three.
	typed(o, pkg, option) {
		const type = DATATYPES[pkg]?.[option];
		o.datatype = type;
		if (NUMERIC.test(type ?? ''))
			o.validate = (section_id, value) => this.plainNumber(value, SIGNED.test(type));
		return o;
	},

	// The packages keep every option as their defaults have it: a flag that
	// is off is written 0 rather than removed, and an option hidden by
	// another's value (a weekday while the period is a month) keeps its value.
	keepValues(map) {
		for (const section of map.children)
			for (const o of section.children) {
				if (o instanceof form.Flag)
					o.rmempty = false;
				if (o.deps?.length)
					o.retain = true;
			}
		return map;
	},

	plainNumber(value, signed) {
		return value == null || value === '' || (signed ? /^(0|-?[1-9][0-9]*)$/ : /^(0|[1-9][0-9]*)$/).test(value)
			? true : _('A plain number: digits only, no leading zero');
	},

	// What a form option set up by typed() accepts, for the test that holds
	// the forms and the init scripts to agreement (factory: LuCI's validation).
	accepts(factory, pkg, option, value) {
		const type = DATATYPES[pkg]?.[option];
		const input = document.body.appendChild(E('input', { 'value': value }));
		input.value = value;
		let ok = factory.create(input, type, true).validate();
		input.remove();
		if (ok && NUMERIC.test(type))
			ok = this.plainNumber(value, SIGNED.test(type)) === true;
		return ok;
	},

	// A time of a status file: '-' for none yet.
	time(epoch) {
		epoch = +epoch;
		return epoch > 0 ? new Date(epoch * 1000).toLocaleString() : '-';
	},

	// How long ago, for "since" columns.
	ago(epoch) {
		epoch = +epoch;
		if (!(epoch > 0))
			return '-';
		const s = Math.max(0, Math.floor(Date.now() / 1000) - epoch);
		return _('%t ago').format(s);
	},

	// One row of a status table: a label and a value, both as text.
	row(label, value, cls) {
		return E('tr', { 'class': 'tr' }, [
			E('td', { 'class': 'td left', 'width': '33%' }, [ label ]),
			E('td', { 'class': 'td left ' + (cls ?? '') }, [ value ])
		]);
	},

	// The log level option of a daemon (0 off ... 5 debug).
	logLevel(s, pkg, lowest) {
		const o = this.typed(s.option(form.ListValue, 'debug', _('Log level')), pkg, 'debug');
		[ lowest ?? _('off'), _('errors'), _('warnings'), _('info'), _('trace'), _('debug') ].forEach((t, i) => o.value(String(i), t));
		o.default = '3';
		return o;
	},

	// Speed, parity, data and stop bits of a serial port; shown while the
	// options in depends say the port is used.
	serialLine(s, pkg, title, depends) {
		const opts = [];
		let o = this.typed(s.option(form.Value, 'baudrate', title), pkg, 'baudrate');
		SPEEDS.forEach(v => o.value(v));
		o.default = '115200';
		opts.push(o);
		o = this.typed(s.option(form.ListValue, 'parity', _('Parity')), pkg, 'parity');
		[ [ 'N', _('none') ], [ 'O', _('odd') ], [ 'E', _('even') ], [ 'S', _('space') ] ].forEach(([ v, t ]) => o.value(v, t));
		opts.push(o);
		for (const [ name, label, values ] of [ [ 'databits', _('Data bits'), [ '7', '8' ] ], [ 'stopbits', _('Stop bits'), [ '1', '2' ] ] ]) {
			o = this.typed(s.option(form.ListValue, name, label), pkg, name);
			values.forEach(v => o.value(v));
			o.default = values[name == 'databits' ? 1 : 0];
			opts.push(o);
		}
		if (depends)
			opts.forEach(opt => opt.depends(depends));
	},

	// A daemon's page: its status table (kept current) above its settings form.
	statusAndForm(title, status, renderStatus, call, map) {
		const box = E('div', {}, [ renderStatus(status) ]);
		poll.add(() => call().then(res => dom.content(box, renderStatus(res))), 5);
		return this.keepValues(map).render().then(formNode => E([], [ E('h2', {}, [ title ]), box, formNode ]));
	},

	megabytes(bytes) {
		return '%.2f MB'.format((+bytes || 0) / 1e6);
	},

	// A running daemon's state, or why there is none.
	runState(status) {
		if (!status?.installed)
			return _('not installed');
		return status.running ? _('running') : _('not running');
	},

	// True, or the reason the outbox would not take the number.
	checkNumber(number, cdma) {
		const max = cdma ? NUMBER_MAX : GSM_NUMBER_MAX;
		if (number == null || number === '')
			return _('The number is empty');
		if (number.length > max)
			return _('The number is longer than %d characters').format(max);
		if (cdma ? !/^[0-9*#]+$/.test(number) : !/^\+?[0-9]+$/.test(number))
			return cdma ? _('The number may hold only digits, * and #')
			            : _('The number may hold only digits, after an optional leading +');
		return true;
	},

	// True, or the reason the outbox would not send the text whole: with
	// the unicode option (longTexts) up to six parts, else 159 bytes.
	checkText(text, longTexts) {
		if (text == null || text === '')
			return _('The text is empty');
		if (/[\r\n\0]/.test(text))
			return _('The text must be one line');
		// A lone half of a surrogate pair has no UTF-8 form.
		if (/\p{Surrogate}/u.test(text))
			return _('The text is not UTF-8');
		const max = longTexts ? LONG_TEXT_MAX : SHORT_TEXT_MAX;
		if (utf8Length(text) > max)
			return _('The text is longer than %d bytes').format(max);
		if (longTexts && this.countText(text, true).parts > PARTS_MAX)
			return _('The text is longer than %d parts').format(PARTS_MAX);
		return true;
	},

	// Characters, bytes, encoding and parts of a text as the daemon sends it:
	// with the newline the outbox keeps, in the GSM alphabet or UCS2 with the
	// unicode option (longTexts), else one message of raw bytes. units: the
	// septets or UCS2 units the text takes, room: those its parts hold.
	countText(text, longTexts) {
		const chars = Array.from(text);
		const bytes = utf8Length(text);
		const max = longTexts ? LONG_TEXT_MAX : SHORT_TEXT_MAX;
		if (!longTexts)
			return { chars: chars.length, bytes, max, parts: 1 };
		const sent = chars.concat([ '\n' ]);
		const septets = sent.every(c => GSM_BASIC.includes(c) || GSM_EXTENDED.includes(c));
		const cost = septets ? (c => GSM_EXTENDED.includes(c) ? 2 : 1) : (c => c.length);
		const units = sent.reduce((n, c) => n + cost(c), 0);
		const single = septets ? SEPTETS_SINGLE : UCS2_SINGLE;
		const perPart = septets ? SEPTETS_PART : UCS2_PART;
		let parts = 1;
		if (units > single) {
			// Parts are filled greedily; an escape or a surrogate pair is never split.
			parts = 0;
			for (let i = 0; i < sent.length; parts++)
				for (let used = 0; i < sent.length && used + cost(sent[i]) <= perPart; i++)
					used += cost(sent[i]);
		}
		return { chars: chars.length, bytes, max, septets, units, parts, room: parts > 1 ? parts * perPart : single };
	}
});
