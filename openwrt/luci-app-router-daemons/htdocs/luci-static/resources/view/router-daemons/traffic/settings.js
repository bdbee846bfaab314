'use strict';
'require view';
'require form';
'require router-daemons.common as common';

// The two sections of the moskar package, one per mobile interface. Only
// what a person sets is shown: used, the speeds and the period state are the
// daemon's own options.

const WEEKDAYS = [ _('Sunday'), _('Monday'), _('Tuesday'), _('Wednesday'), _('Thursday'), _('Friday'), _('Saturday') ];

// Blank-separated alarm numbers; each becomes a spool line of its own.
function phones(section_id, value) {
	for (const number of (value ?? '').split(/\s+/).filter(w => w !== '')) {
		if (number.length > common.NUMBER_MAX || !/^\+?[0-9*#]+$/.test(number))
			return _('Numbers of up to %d digits (a leading + allowed), separated by blanks').format(common.NUMBER_MAX);
	}
	return true;
}

const typed = (o, option) => common.typed(o, 'moskar', option);

return view.extend({
	render() {
		const m = new form.Map('moskar', _('Traffic limit settings'),
			_('The daemon reads these at its start; Save & Apply restarts the instance whose settings changed.'));
		[ [ 'traffic', _('First mobile interface') ], [ 'traffic2', _('Second mobile interface') ] ].forEach(([ name, title ]) => {
			const s = m.section(form.NamedSection, name, 'traffic', title);
			let o;
			s.addremove = false;
			o = s.option(form.Value, 'ifname', _('Interface'), _('Empty: no daemon for this section'));
			o.rmempty = true;
			s.option(form.Flag, 'enabled', _('Count against the allowance'));
			o = typed(s.option(form.ListValue, 'period', _('Period')), 'period');
			o.value('month', _('month'));
			o.value('week', _('week'));
			o.value('day', _('day'));
			o.default = 'month';
			o = typed(s.option(form.Value, 'start_month', _('Day of the month it starts')), 'start_month');
			o.depends('period', 'month');
			o.default = '1';
			o = typed(s.option(form.ListValue, 'start_week', _('Weekday it starts')), 'start_week');
			WEEKDAYS.forEach((d, i) => o.value(String(i), d));
			o.depends('period', 'week');
			o.default = '1';
			o = typed(s.option(form.Value, 'start_hour', _('Hour it starts')), 'start_hour');
			o.depends('period', 'day');
			o.default = '0';
			o = typed(s.option(form.Value, 'datamax', _('Allowance (MB)'), _('1 MB = 1 000 000 bytes')), 'datamax');
			o = s.option(form.DynamicList, 'percent', _('Alarm at (%)'), _('At most 12 percentages'));
			o.datatype = common.datatype('moskar', 'percent');
			o.validate = function(section_id, value) {
				const list = this.formvalue(section_id) ?? [];
				return (Array.isArray(list) ? list : [ list ]).length <= 12 ? true : _('At most 12 percentages');
			};
			o = typed(s.option(form.Value, 'phone', _('Alarm numbers'), _('Separated by blanks')), 'phone');
			o.validate = phones;
			s.option(form.Flag, 'turnoff', _('Stop the connection when the allowance is used up'));
			o = typed(s.option(form.Value, 'commit_interval', _('Seconds between writes to flash'),
				_('0: every 3-second cycle')), 'commit_interval');
			common.logLevel(s, 'moskar', _('debug (0 keeps 5)'));
			o = typed(s.option(form.ListValue, 'debugoutput', _('Log output')), 'debugoutput');
			o.value('0', _('the log file'));
			o.value('1', _('standard output'));
			o.value('2', _('standard error'));
			o.default = '0';
		});
		return common.keepValues(m).render();
	}
});
