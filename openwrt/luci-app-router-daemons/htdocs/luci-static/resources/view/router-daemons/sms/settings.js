'use strict';
'require view';
'require form';
'require router-daemons.common as common';

// The sms package, with the types its init script checks.

const KEYWORDS = [
	[ 'reboot', _('Reboot') ], [ 'cellstatus', _('Cellular status') ], [ 'cellup', _('Cellular link up') ],
	[ 'celldown', _('Cellular link down') ], [ 'dio0set', _('Output 0 on') ], [ 'dio0reset', _('Output 0 off') ],
	[ 'dio1set', _('Output 1 on') ], [ 'dio1reset', _('Output 1 off') ], [ 'dio2set', _('Output 2 on') ],
	[ 'dio2reset', _('Output 2 off') ], [ 'dio3set', _('Output 3 on') ], [ 'dio3reset', _('Output 3 off') ],
	[ 'diostatus', _('Outputs status') ], [ 'wifion', _('Wi-Fi on') ], [ 'wifioff', _('Wi-Fi off') ],
	[ 'operlist', _('Operator list') ], [ 'operset', _('Operator selection') ], [ 'forcecellup', _('Forced link up') ],
	[ 'simswitch', _('SIM switch') ]
];

function keyword(section_id, value) {
	if (value == null || value === '')
		return _('A keyword is needed');
	return new TextEncoder().encode(value).length <= common.KEYWORD_MAX
		? true : _('At most %d bytes').format(common.KEYWORD_MAX);
}

return view.extend({
	render() {
		const m = new form.Map('sms', _('SMS settings'),
			_('The SMS daemon reads these at its start; Save & Apply restarts it.'));
		let s, o;

		s = m.section(form.NamedSection, 'general', 'general', _('General'));
		o = s.option(form.Value, 'device', _('Modem AT port'));
		o.placeholder = '/dev/ttyUSB2';
		o = s.option(form.ListValue, 'module', _('Modem'));
		o.value('1', _('First modem'));
		o.value('2', _('Second modem (signal alarm only)'));
		common.typed(o, 'sms', 'module');
		o.default = '1';
		o = s.option(form.Flag, 'cdma', _('CDMA modem'));
		o = s.option(form.Value, 'device2', _('AT port of a second modem'));
		o.optional = true;
		o = s.option(form.Flag, 'unicode', _('Unicode and long messages'),
			_('Texts as phones write them, in up to six parts; off: one PDU of raw septets and octets'));
		o = s.option(form.Flag, 'alarmenabled', _('Signal alarm switch'));
		o = common.typed(s.option(form.Value, 'retrytime', _('Give up a refused message after (s)'),
			_('Until then it is tried again with growing pauses (30 s, doubling to 30 min); 0: given up at once')),
			'sms', 'retrytime');
		o.placeholder = '86400';
		common.logLevel(s, 'sms');

		s = m.section(form.NamedSection, 'command', 'command', _('Commands by SMS'));
		s.tab('general', _('General'));
		s.tab('keywords', _('Keywords'));
		s.taboption('general', form.Flag, 'enabled', _('Send the outbox and read messages'));
		s.taboption('general', form.Flag, 'smsack', _('Acknowledge commands'));
		s.taboption('general', form.Flag, 'fixplus', _('Put + in front of reply numbers'));
		KEYWORDS.forEach(([ name, title ]) => {
			o = s.taboption('keywords', form.Value, name, title);
			o.default = name;
			o.validate = keyword;
		});

		s = m.section(form.NamedSection, 'rssi', 'rssi', _('Signal alarm'));
		s.option(form.Flag, 'rssialarm', _('Alarm on a weak signal'));
		o = common.typed(s.option(form.Value, 'sigthres', _('Weak at or below')), 'sms', 'sigthres');
		o.default = '-100';
		o = common.typed(s.option(form.Value, 'failedthres', _('Weak readings that raise it')), 'sms', 'failedthres');
		o.default = '3';
		o = common.typed(s.option(form.Value, 'normalthres', _('Good readings that clear it')), 'sms', 'normalthres');
		o.default = '3';

		return common.keepValues(m).render();
	}
});
