'use strict';
'require view';
'require form';
'require router-daemons.common as common';

// Serial bridge: the bytes it moved each way and its settings.

function renderStatus(s) {
	const row = common.row.bind(common);
	const running = s.running && s.pid;
	return E('table', { 'class': 'table', 'id': 'bridge-status' }, [
		row(_('State'), common.runState(s)),
		row(_('Ports'), running ? '%s ⇄ %s'.format(s.board_port ?? '', s.module_port ?? '') : '-'),
		row(_('Board to module'), running ? _('%d bytes').format(+s.to_module || 0) : '-', 'bridge-to-module'),
		row(_('Module to board'), running ? _('%d bytes').format(+s.to_board || 0) : '-', 'bridge-to-board'),
		row(_('Last activity'), running && +s.last_activity > 0
			? '%s (%s)'.format(common.time(s.last_activity), common.ago(s.last_activity)) : '-', 'bridge-last')
	]);
}

return view.extend({
	load() {
		return common.callBridgeStatus();
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
		common.serialLine(s, 'dastral', _('Board port speed'));
		common.logLevel(s, 'dastral');
		o = common.typed(s.option(form.ListValue, 'output', _('Log output')), 'dastral', 'output');
		o.value('0', _('the file /tmp/myLog1.log'));
		o.value('1', _('standard output'));
		o.value('2', _('standard error'));
		o.default = '0';
		return common.statusAndForm(_('Serial bridge'), status, renderStatus, common.callBridgeStatus, m);
	}
});
