'use strict';
'require view';
'require dom';
'require poll';
'require form';
'require router-daemons.common as common';

// GPS forwarder: where the NMEA stream goes and whether it gets there, and
// the quorral package.

const SPEEDS = [ '1200', '2400', '4800', '9600', '19200', '38400', '57600', '115200', '230400' ];

const typed = (o, option) => common.typed(o, 'quorral', option);

return view.extend({
	load() {
		return common.callGpsStatus();
	},

	renderStatus(s) {
		const row = (label, value, cls) => E('tr', { 'class': 'tr' }, [
			E('td', { 'class': 'td left', 'width': '33%' }, [ label ]),
			E('td', { 'class': 'td left ' + (cls ?? '') }, [ value ])
		]);
		const running = s.running && s.pid;
		const where = s.proto == 'serial' ? _('the board\'s serial port') : '%s %s:%s'.format((s.proto ?? '').toUpperCase(), s.server ?? '', s.port ?? '');
		return E('table', { 'class': 'table', 'id': 'gps-status' }, [
			row(_('State'), common.runState(s)),
			row(_('Destination'), running ? where : '-', 'gps-destination'),
			row(_('Connected'), running ? (s.connected == '1' ? _('yes') : _('no')) : '-', 'gps-connected'),
			row(_('Last sentence'), running && +s.last_sentence > 0 ? '%s (%s)'.format(common.time(s.last_sentence), common.ago(s.last_sentence)) : '-', 'gps-last'),
			row(_('Chunks forwarded'), running ? s.sent ?? '0' : '-', 'gps-sent'),
			row(_('Chunks lost'), running ? s.dropped ?? '0' : '-', 'gps-dropped')
		]);
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
		o = typed(s.option(form.Value, 'serverip', _('Server')), 'serverip');
		o.depends('proto', '0');
		o.depends('proto', '1');
		o = typed(s.option(form.Value, 'serverport', _('Port')), 'serverport');
		o.depends('proto', '0');
		o.depends('proto', '1');
		s.option(form.Flag, 'sendsn', _('Serial number before each chunk'));
		s.option(form.Flag, 'onlyrmc', _('Only the first RMC sentence of each read'));
		o = typed(s.option(form.Value, 'interval', _('Seconds between reads')), 'interval');
		o.default = '1';
		o = typed(s.option(form.Value, 'baudrate', _('Serial speed')), 'baudrate');
		SPEEDS.forEach(v => o.value(v));
		o.depends('proto', '2');
		o = s.option(form.ListValue, 'parity', _('Parity'));
		[ [ 'N', _('none') ], [ 'O', _('odd') ], [ 'E', _('even') ], [ 'S', _('space') ] ].forEach(([ v, t ]) => o.value(v, t));
		o.depends('proto', '2');
		o = typed(s.option(form.ListValue, 'databits', _('Data bits')), 'databits');
		o.value('7');
		o.value('8');
		o.default = '8';
		o.depends('proto', '2');
		o = typed(s.option(form.ListValue, 'stopbits', _('Stop bits')), 'stopbits');
		o.value('1');
		o.value('2');
		o.default = '1';
		o.depends('proto', '2');
		o = typed(s.option(form.ListValue, 'debug', _('Log level')), 'debug');
		[ _('off'), _('errors'), _('warnings'), _('info'), _('trace'), _('debug') ].forEach((t, i) => o.value(String(i), t));
		o.default = '3';

		poll.add(() => common.callGpsStatus().then(res =>
			dom.content(document.getElementById('gps-status-box'), this.renderStatus(res))), 5);
		return common.keepValues(m).render().then(formNode => E([], [
			E('h2', {}, [ _('GPS forwarder') ]),
			E('div', { 'id': 'gps-status-box' }, [ this.renderStatus(status) ]),
			formNode
		]));
	}
});
