'use strict';
'require view';
'require form';
'require router-daemons.common as common';

// GRE keepalive: the state of every watched tunnel from its status file, and
// the tolvane package's tunnel sections, one watchdog each.

// Words the watchdog reads as keys: a device or tunnel name equal to one
// would be misread, so the init script refuses it.
const KEYS = [ 'remote', 'local', 'seconds', 'timeout', 'dev', 'gname', 'debug', 'retry', 'pid', 'mode' ];

function notKey(section_id, value) {
	return KEYS.includes(value) ? _('Must not be one of: %s').format(KEYS.join(', ')) : true;
}

const typed = (o, option) => common.typed(o, 'tolvane', option);

return view.extend({
	load() {
		return common.callTunnelStatus();
	},

	renderStatus(res) {
		const rows = (res.tunnels ?? []).sort((a, b) => (a.gname ?? '').localeCompare(b.gname ?? '')).map(t => {
			const answer = t.mode == 'receive' ? t.last_request : t.last_reply;
			return E('tr', { 'class': 'tr', 'data-tunnel': t.gname ?? '' }, [
				E('td', { 'class': 'td tunnel-name' }, [ t.gname ?? '' ]),
				E('td', { 'class': 'td' }, [ '%s → %s (%s)'.format(t.local ?? '', t.remote ?? '', t.dev ?? '') ]),
				E('td', { 'class': 'td' }, [ t.mode == 'receive' ? _('receive') : _('send') ]),
				E('td', { 'class': 'td tunnel-state' }, [ !t.running ? _('not running') : t.state == 'up' ? _('up') : _('down') ]),
				E('td', { 'class': 'td tunnel-since' }, [ '%s (%s)'.format(common.time(t.since), common.ago(t.since)) ]),
				E('td', { 'class': 'td tunnel-answer' }, [ +answer > 0 ? '%s (%s)'.format(common.time(answer), common.ago(answer)) : _('none yet') ])
			]);
		});
		return E('table', { 'class': 'table', 'id': 'tunnel-status' }, [
			E('tr', { 'class': 'tr table-titles' }, [ _('Tunnel'), _('Ends (device)'), _('Mode'), _('State'), _('Since'), _('Last answer') ]
				.map(t => E('th', { 'class': 'th' }, [ t ]))),
			...(rows.length ? rows : [ E('tr', { 'class': 'tr placeholder' }, [ E('td', { 'class': 'td' }, [ _('No tunnel is watched') ]) ]) ])
		]);
	},

	render(status) {
		const m = new form.Map('tolvane', _('Tunnel settings'),
			_('One watchdog per enabled tunnel; Save & Apply restarts the tunnels whose settings changed.'));
		const s = m.section(form.GridSection, 'tunnel', _('Tunnels'));
		let o;
		s.addremove = true;
		s.anonymous = false;
		s.nodescriptions = true;
		s.option(form.Flag, 'enabled', _('Enabled'));
		o = typed(s.option(form.Value, 'remote', _('Peer')), 'remote');
		o.rmempty = false;
		o = typed(s.option(form.Value, 'local', _('Local end')), 'local');
		o.rmempty = false;
		o = s.option(form.Value, 'dev', _('Device'));
		o.rmempty = false;
		o.validate = notKey;
		o = s.option(form.Value, 'gname', _('Tunnel name'), _('Handed to the up/down script; empty: the section name'));
		o.validate = notKey;
		o = s.option(form.ListValue, 'mode', _('Mode'));
		o.value('send', _('send keepalives'));
		o.value('receive', _('expect the peer\'s'));
		o.default = 'send';
		o = typed(s.option(form.Value, 'seconds', _('Seconds between keepalives')), 'seconds');
		o.depends('mode', 'send');
		o.modalonly = true;
		o = typed(s.option(form.Value, 'retry', _('Unanswered before down')), 'retry');
		o.depends('mode', 'send');
		o.modalonly = true;
		o = typed(s.option(form.Value, 'timeout', _('Seconds without one before down')), 'timeout');
		o.depends('mode', 'receive');
		o.modalonly = true;
		o = s.option(form.Flag, 'debug', _('Debug messages'));
		o.modalonly = true;

		return common.statusAndForm(_('GRE keepalive'), status, res => this.renderStatus(res), common.callTunnelStatus, m);
	}
});
