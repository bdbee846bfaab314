'use strict';
'require view';
'require form';
'require router-daemons.common as common';

// GPS forwarder: where the NMEA stream goes and whether it gets there, and
// the quorral package.

const typed = (o, option) => common.typed(o, 'quorral', option);

function renderStatus(s) {
	const row = common.row.bind(common);
	const running = s.running && s.pid;
	const where = s.proto == 'serial' ? _('the board\'s serial port')
		: '%s %s:%s'.format((s.proto ?? '').toUpperCase(), s.server ?? '', s.port ?? '');
	return E('table', { 'class': 'table', 'id': 'gps-status' }, [
		row(_('State'), common.runState(s)),
		row(_('Destination'), running ? where : '-', 'gps-destination'),
		row(_('Connected'), running ? (s.connected == '1' ? _('yes') : _('no')) : '-', 'gps-connected'),
		row(_('Last sentence'), running && +s.last_sentence > 0
			? '%s (%s)'.format(common.time(s.last_sentence), common.ago(s.last_sentence)) : '-', 'gps-last'),
		row(_('Chunks forwarded'), running ? s.sent ?? '0' : '-', 'gps-sent'),
		row(_('Chunks lost'), running ? s.dropped ?? '0' : '-', 'gps-dropped')
	]);
}

return view.extend({
	load() {
		return common.callGpsStatus();
	},

	render(status) {
		const m = new form.Map('quorral', _('GPS forwarder settings'),
			_('The forwarder reads these at its start; Save & Apply restarts it.'));
		const s = m.section(form.NamedSection, 'general', 'general');
		let o;
		s.option(form.Flag, 'enabled', _('Enabled'));
		o = s.option(form.Value, 'device', _('GPS receiver'));
		o.placeholder = '/dev/ttyUSB1';
		o = typed(s.option(form.ListValue, 'proto', _('Forward to')), 'proto');
		o.value('0', _('a TCP server'));
		o.value('1', _('a UDP server'));
		o.value('2', _('the board\'s serial port'));
		o.default = '0';
		for (const [ name, title ] of [ [ 'serverip', _('Server') ], [ 'serverport', _('Port') ] ]) {
			o = typed(s.option(form.Value, name, title), name);
			o.depends('proto', '0');
			o.depends('proto', '1');
		}
		s.option(form.Flag, 'sendsn', _('Serial number before each chunk'));
		s.option(form.Flag, 'onlyrmc', _('Only the first RMC sentence of each read'));
		o = typed(s.option(form.Value, 'interval', _('Seconds between reads')), 'interval');
		o.default = '1';
		common.serialLine(s, 'quorral', _('Serial speed'), { proto: '2' });
		common.logLevel(s, 'quorral');
		return common.statusAndForm(_('GPS forwarder'), status, renderStatus, common.callGpsStatus, m);
	}
});
