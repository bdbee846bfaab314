'use strict';
'require baseclass';
'require router-daemons.common as common';

// One line per installed router daemon on the Status overview.

return baseclass.extend({
	title: _('Router daemons'),

	load() {
		return L.resolveDefault(common.callOverview(), null);
	},

	line(name, state, detail) {
		return E('tr', { 'class': 'tr', 'data-daemon': name }, [
			E('td', { 'class': 'td left', 'width': '33%' }, [ name ]),
			E('td', { 'class': 'td left' }, [ state ]),
			E('td', { 'class': 'td left' }, [ detail ])
		]);
	},

	render(o) {
		if (!o)
			return null;
		const lines = [];
		const run = s => common.runState(s);
		if (o.sms.installed)
			lines.push(this.line(_('SMS'), run(o.sms), o.sms.running
				? _('modem %s, signal %s, %d waiting, %d being retried, %d given up').format(o.sms.modem ?? '-',
					+o.sms.strength_at > 0 ? o.sms.strength : '-', (+o.sms.spool || 0) + (+o.sms.batch || 0),
					o.sms.retry?.length ?? 0, +o.sms.failed || 0) : ''));
		o.traffic.forEach((t, i) => {
			if (!t.installed || (!t.running && i == 1))
				return;
			const allowance = (+t.datamax || 0) * 1e6;
			lines.push(this.line(_('Traffic limit %d').format(i + 1), run(t), t.running && t.enabled == '1'
				? _('%s of %s used (%.1f%%)').format(common.megabytes(t.used), common.megabytes(allowance),
					allowance > 0 ? (+t.used || 0) * 100 / allowance : 0)
				: t.running ? _('counting off') : ''));
		});
		if (o.tunnels.installed) {
			if (!o.tunnels.list.length)
				lines.push(this.line(_('GRE keepalive'), _('no tunnel watched'), ''));
			o.tunnels.list.forEach(t => lines.push(this.line(_('GRE %s').format(t.gname ?? ''),
				t.running ? (t.state == 'up' ? _('up') : _('down')) : _('not running'),
				t.running ? _('since %s').format(common.time(t.since)) : '')));
		}
		if (o.gps.installed)
			lines.push(this.line(_('GPS forwarder'), run(o.gps), o.gps.running
				? _('%s, last sentence %s').format(o.gps.connected == '1' ? _('connected') : _('not connected'), common.ago(o.gps.last_sentence)) : ''));
		if (o.bridge.installed)
			lines.push(this.line(_('Serial bridge'), run(o.bridge), o.bridge.running
				? _('%d bytes to the module, %d to the board').format(+o.bridge.to_module || 0, +o.bridge.to_board || 0) : ''));
		return E('table', { 'class': 'table', 'id': 'router-daemons-overview' }, lines);
	}
});
