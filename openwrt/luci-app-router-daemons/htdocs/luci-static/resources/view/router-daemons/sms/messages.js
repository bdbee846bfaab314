'use strict';
'require view';
'require dom';
'require poll';
'require router-daemons.common as common';

// The SMS daemon at a glance and its journal, newest first, a page at a time.
// Every text from outside (numbers, messages) goes in as a text node.

const PAGE = 25;

return view.extend({
	offset: 0,

	load() {
		return Promise.all([ common.callSmsStatus(), common.callSmsJournal(0, PAGE) ]);
	},

	renderStatus(status) {
		const s = status.modem1 ?? {};
		const row = common.row.bind(common);
		const modem = { answering: _('answering'), silent: _('no answer'), unknown: _('no exchange yet') }[s.modem] ?? '-';
		return E('table', { 'class': 'table', 'id': 'sms-status' }, [
			row(_('SMS daemon'), common.runState(s)),
			row(_('Mode'), s.mode ? s.mode.toUpperCase() : '-'),
			row(_('Modem'), s.modem_at > 0 ? '%s (%s)'.format(modem, common.time(s.modem_at)) : modem),
			row(_('Signal strength'), s.strength_at > 0 ? '%s (%s)'.format(s.strength, common.time(s.strength_at)) : '-'),
			row(_('Signal alarm'), s.alarm == '1' ? _('raised') : _('clear')),
			row(_('Waiting in the outbox'), '%d'.format((+s.spool || 0) + (+s.batch || 0))),
			row(_('Being retried'), '%d'.format(s.retry?.length ?? 0)),
			row(_('Given up'), s.failed ?? '0'),
			row(_('Last sent'), common.time(s.last_sent)),
			row(_('Last received'), common.time(s.last_received))
		]);
	},

	renderJournal(page) {
		const rows = page.entries.map(e => E('tr', { 'class': 'tr', 'data-direction': e.direction }, [
			E('td', { 'class': 'td' }, [ e.time ]),
			E('td', { 'class': 'td' }, [ { sent: _('sent to'), received: _('from') }[e.direction] ?? '' ]),
			E('td', { 'class': 'td sms-peer' }, [ e.peer ]),
			E('td', { 'class': 'td sms-text', 'style': 'white-space:pre-wrap;word-break:break-word' }, [ e.text ])
		]));
		const last = Math.min(page.offset + page.entries.length, page.total);
		return E('div', { 'id': 'sms-journal' }, [
			E('table', { 'class': 'table' }, [
				E('tr', { 'class': 'tr table-titles' }, [
					E('th', { 'class': 'th' }, [ _('Time') ]),
					E('th', { 'class': 'th' }, [ '' ]),
					E('th', { 'class': 'th' }, [ _('Number') ]),
					E('th', { 'class': 'th' }, [ _('Text') ])
				]),
				...(rows.length ? rows : [ E('tr', { 'class': 'tr placeholder' }, [
					E('td', { 'class': 'td' }, [ _('No messages yet') ]) ]) ])
			]),
			E('div', { 'class': 'right' }, [
				E('span', { 'class': 'sms-range' }, [ !page.total ? ''
					: page.more ? _('%d-%d of the newest %d').format(page.offset + 1, last, page.total)
					: _('%d-%d of %d').format(page.offset + 1, last, page.total) ]),
				' ',
				E('button', { 'class': 'btn cbi-button', 'id': 'sms-newer', 'disabled': page.offset > 0 ? null : '',
					'click': ui => this.showPage(Math.max(0, page.offset - PAGE)) }, [ _('Newer') ]),
				' ',
				E('button', { 'class': 'btn cbi-button', 'id': 'sms-older', 'disabled': last < page.total ? null : '',
					'click': ui => this.showPage(page.offset + PAGE) }, [ _('Older') ])
			])
		]);
	},

	showPage(offset) {
		this.offset = offset;
		return common.callSmsJournal(offset, PAGE).then(page => {
			dom.content(document.getElementById('sms-journal-box'), this.renderJournal(page));
		});
	},

	render([ status, page ]) {
		// The newest page follows new messages; an older one stays put.
		poll.add(() => Promise.all([ common.callSmsStatus(), this.offset == 0 ? this.showPage(0) : null ])
			.then(([ s ]) => dom.content(document.getElementById('sms-status-box'), this.renderStatus(s))), 5);
		return E([], [
			E('h2', {}, [ _('SMS') ]),
			E('div', { 'id': 'sms-status-box' }, [ this.renderStatus(status) ]),
			E('h3', {}, [ _('Journal') ]),
			E('div', { 'id': 'sms-journal-box' }, [ this.renderJournal(page) ])
		]);
	},

	handleSaveApply: null,
	handleSave: null,
	handleReset: null
});
