'use strict';
'require view';
'require dom';
'require poll';
'require form';
'require router-daemons.common as common';

// Serial bridge: the bytes it moved each way and its settings.

const SPEEDS = [ '1200', '2400', '4800', '9600', '19200', '38400', '57600', '115200', '230400' ];

const typed = (o, option) => common.typed(o, 'dastral', option);

return view.extend({
	load() {
		return common.callBridgeStatus();
	},

	renderStatus(s) {
		const row = (label, value, cls) => E('tr', { 'class': 'tr' }, [
			E('td', { 'class': 'td left', 'width': '33%' }, [ label ]),
			E('td', { 'class': 'td left ' + (cls ?? '') }, [ value ])
		]);
		const running = s.running && s.pid;
		return E('table', { 'class': 'table', 'id': 'bridge-status' }, [
			row(_('State'), common.runState(s)),
			row(_('Ports'), running ? '%s ⇄ %s'.format(s.board_port ?? '', s.module_port ?? '') : '-'),
			row(_('Board to module'), running ? _('%d bytes').format(+s.to_module || 0) : '-', 'bridge-to-module'),
			row(_('Module to board'), running ? _('%d bytes').format(+s.to_board || 0) : '-', 'bridge-to-board'),
			row(_('Last activity'), running && +s.last_activity > 0 ? '%s (%s)'.format(common.time(s.last_activity), common.ago(s.last_activity)) : '-', 'bridge-last')
		]);
	},

	render(status) {
		const m = new form.Map('dastral', _('Serial bridge settings'),
			_('The bridge reads these at its start; Save & Apply restarts it.'));
		const s = m.section(form.NamedSection, 'general', 'general');
		let o;
		s.option(form.Flag, 'enabled', _('Enabled'));
		o = s.option(form.Value, 'device', _('Radio module port'));
		o.placeholder = '/dev/ttyUSB3';
		o = s.option(form.Value, 'port', _('Board port'));
		o.placeholder = '/dev/ttyS0';
		o = typed(s.option(form.Value, 'baudrate', _('Board port speed')), 'baudrate');
		SPEEDS.forEach(v => o.value(v));
		o.default = '115200';
		o = s.option(form.ListValue, 'parity', _('Parity'));
		[ [ 'N', _('none') ], [ 'O', _('odd') ], [ 'E', _('even') ], [ 'S', _('space') ] ].forEach(([ v, t ]) => o.value(v, t));
		o = typed(s.option(form.ListValue, 'databits', _('Data bits')), 'databits');
		o.value('7');
		o.value('8');
		o.default = '8';
		o = typed(s.option(form.ListValue, 'stopbits', _('Stop bits')), 'stopbits');
		o.value('1');
		o.value('2');
		o.default = '1';
		o = typed(s.option(form.ListValue, 'debug', _('Log level')), 'debug');
		[ _('off'), _('errors'), _('warnings'), _('info'), _('trace'), _('debug (every byte)') ].forEach((t, i) => o.value(String(i), t));
		o.default = '3';
		o = typed(s.option(form.ListValue, 'output', _('Log output')), 'output');
		o.value('0', _('the file /tmp/myLog1.log'));
		o.value('1', _('standard output'));
		o.value('2', _('standard error'));
		o.default = '0';

		poll.add(() => common.callBridgeStatus().then(res =>
			dom.content(document.getElementById('bridge-status-box'), this.renderStatus(res))), 5);
		return common.keepValues(m).render().then(formNode => E([], [
			E('h2', {}, [ _('Serial bridge') ]),
			E('div', { 'id': 'bridge-status-box' }, [ this.renderStatus(status) ]),
			formNode
		]));
	}
});
