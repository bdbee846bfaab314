'use strict';
'require view';
'require dom';
'require ui';
'require uci';
'require router-daemons.common as common';

// Queues one message in the outbox spool. The number and the text are
// checked as the daemon would take them, here as they are typed and again
// on the router; the count shows the parts the daemon will send.

return view.extend({
	load() {
		return uci.load('sms');
	},

	cdma() {
		return uci.get('sms', 'general', 'cdma') == '1';
	},

	// With the unicode option a GSM modem sends a text whole in up to six
	// parts; CDMA sends 160 bytes whatever the option says.
	longTexts() {
		return uci.get('sms', 'general', 'unicode') == '1' && !this.cdma();
	},

	// Marks a field and returns its problem, or null. An empty field is no
	// mistake yet: it only keeps the button off.
	check(input, verdict) {
		const problem = verdict === true || input.value === '' ? null : verdict;
		input.classList.toggle('cbi-input-invalid', problem != null);
		return problem;
	},

	update() {
		const { number, text, count, problemsBox, button } = this.fields;
		const long = this.longTexts();
		const n = common.countText(text.value, long);
		const problems = [
			this.check(number, common.checkNumber(number.value, this.cdma())),
			this.check(text, common.checkText(text.value, long))
		];
		dom.content(count, [
			long
				? _('%d characters, %s, %d of at most %d parts (%d of %d %s)').format(n.chars,
					n.septets ? _('GSM 7-bit') : _('UCS2'), n.parts, common.PARTS_MAX, n.units, n.room,
					n.septets ? _('septets') : _('UCS2 units'))
				: _('%d characters, %d bytes of %d').format(n.chars, n.bytes, n.max)
		]);
		dom.content(problemsBox, problems.filter(p => p != null).map(p => E('div', {}, [ p ])));
		button.disabled = problems.some(p => p != null) || number.value === '' || text.value === '';
		return !button.disabled;
	},

	handleSend(ev) {
		if (!this.update())
			return Promise.resolve();
		const number = this.fields.number.value;
		const text = this.fields.text;
		return common.callSmsSend(number, text.value).then(res => {
			if (res?.ok) {
				ui.addNotification(null, E('p', {}, [ _('Queued for %s; the daemon sends it on its next pass.').format(number) ]), 'info');
				text.value = '';
			}
			else {
				ui.addNotification(null, E('p', {}, [ _('Not queued: %s').format(res?.error ?? _('no answer')) ]), 'error');
			}
			this.update();
		});
	},

	render() {
		const update = () => this.update();
		this.fields = {
			number: E('input', { 'id': 'sms-number', 'type': 'text', 'class': 'cbi-input-text', 'maxlength': 64,
				'placeholder': this.cdma() ? '13912345678' : '+4912345678', 'input': update }),
			text: E('textarea', { 'id': 'sms-text', 'rows': 4, 'style': 'width:100%', 'input': update }),
			count: E('div', { 'id': 'sms-count', 'class': 'cbi-value-description' }),
			problemsBox: E('div', { 'id': 'sms-problems', 'class': 'cbi-value-description', 'style': 'color:#c00' }),
			button: E('button', { 'id': 'sms-send', 'class': 'btn cbi-button cbi-button-action important',
				'click': ui.createHandlerFn(this, 'handleSend') }, [ _('Send') ])
		};
		const f = this.fields;
		const node = E([], [
			E('h2', {}, [ _('Send SMS') ]),
			E('div', { 'class': 'cbi-section' }, [
				E('div', { 'class': 'cbi-value' }, [
					E('label', { 'class': 'cbi-value-title', 'for': 'sms-number' }, [ _('Number') ]),
					E('div', { 'class': 'cbi-value-field' }, [ f.number ])
				]),
				E('div', { 'class': 'cbi-value' }, [
					E('label', { 'class': 'cbi-value-title', 'for': 'sms-text' }, [ _('Text') ]),
					E('div', { 'class': 'cbi-value-field' }, [ f.text, f.count, f.problemsBox ])
				]),
				E('div', { 'class': 'right' }, [ f.button ])
			])
		]);
		this.update();
		return node;
	},

	handleSaveApply: null,
	handleSave: null,
	handleReset: null
});
