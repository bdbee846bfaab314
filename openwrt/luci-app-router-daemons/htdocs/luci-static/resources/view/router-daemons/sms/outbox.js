'use strict';
'require view';
'require dom';
'require poll';
'require ui';
'require router-daemons.common as common';

// The outbox: lines waiting (the rest of the batch being sent, then the
// spool), the messages the modem refused, waiting for their next try, and
// the messages given up, each of which can be queued again once.

function table(id, titles, rows, empty) {
	return E('table', { 'class': 'table', 'id': id }, [
		E('tr', { 'class': 'tr table-titles' }, titles.map(t => E('th', { 'class': 'th' }, [ t ]))),
		...(rows.length ? rows : [ E('tr', { 'class': 'tr placeholder' }, [ E('td', { 'class': 'td' }, [ empty ]) ]) ])
	]);
}

// Outside text goes in as a text node; a number stays on one line.
function cell(text, cls) {
	return E('td', { 'class': 'td ' + (cls ?? ''),
		'style': cls == 'sms-peer' ? 'white-space:nowrap' : 'white-space:pre-wrap;word-break:break-word' }, [ text ]);
}

return view.extend({
	load() {
		return common.callSmsOutbox();
	},

	handleRequeue(entry, ev) {
		return common.callSmsRequeue(entry.line).then(res => {
			if (!res?.ok)
				ui.addNotification(null, E('p', {}, [ _('Not queued: %s').format(res?.error ?? _('no answer')) ]), 'error');
			else
				ui.addNotification(null, E('p', {}, [ _('Queued again for %s').format(entry.number) ]), 'info');
			return this.refresh();
		});
	},

	renderOutbox(box) {
		const waiting = box.sending.concat(box.spool).map(w => E('tr', { 'class': 'tr' }, [
			cell(w.number, 'sms-peer'), cell(w.text, 'sms-text')
		]));
		const now = Date.now() / 1000;
		const retrying = box.retrying.map(r => E('tr', { 'class': 'tr' }, [
			cell(r.number, 'sms-peer'), cell(r.text, 'sms-text'), cell('%d'.format(r.attempts)),
			cell(r.next_try > now ? _('%s (in %t)').format(common.time(r.next_try), Math.round(r.next_try - now)) : _('due now'), 'sms-next-try')
		]));
		const unconfirmed = box.failed.some(f => /^unconfirmed:/.test(f.reason));
		const failed = box.failed.map(f => E('tr', { 'class': 'tr' }, [
			cell(f.time), cell(f.number, 'sms-peer'), cell(f.text, 'sms-text'), cell(f.reason),
			E('td', { 'class': 'td' }, [ f.requeued
				? E('em', {}, [ _('queued again') ])
				: E('button', { 'class': 'btn cbi-button cbi-button-action sms-requeue',
					'click': ui.createHandlerFn(this, 'handleRequeue', f) }, [ _('Queue again') ]) ])
		]));
		return E([], [
			E('h3', {}, [ _('Waiting') ]),
			table('sms-waiting', [ _('Number'), _('Text') ], waiting, _('Nothing is waiting')),
			box.waiting_more ? E('p', {}, [ _('More lines wait than are shown.') ]) : '',
			E('h3', {}, [ _('Being retried') ]),
			table('sms-retrying', [ _('Number'), _('Text'), _('Attempts'), _('Next try') ], retrying, _('Nothing is being retried')),
			E('h3', {}, [ _('Given up') ]),
			table('sms-failed', [ _('Time'), _('Number'), _('Text'), _('Reason'), '' ], failed, _('Nothing was given up')),
			box.failed_more || box.failed_total > box.failed.length
				? E('p', {}, [ _('The newest %d are shown.').format(box.failed.length) ]) : '',
			unconfirmed ? E('p', {}, [ _('A message given up as unconfirmed may have reached the phone: queued again, it can arrive twice.') ]) : ''
		]);
	},

	refresh() {
		return common.callSmsOutbox().then(box => dom.content(document.getElementById('sms-outbox'), this.renderOutbox(box)));
	},

	render(box) {
		poll.add(() => this.refresh(), 5);
		return E([], [
			E('h2', {}, [ _('SMS outbox') ]),
			E('div', { 'id': 'sms-outbox' }, [ this.renderOutbox(box) ])
		]);
	},

	handleSaveApply: null,
	handleSave: null,
	handleReset: null
});
