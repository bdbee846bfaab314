'use strict';
'require view';
'require dom';
'require poll';
'require router-daemons.common as common';

// Each traffic limit instance: used against the allowance, what remains and
// for how long, the speeds of the last cycle and a plot of the days of this
// and the last period. Figures come from the daemon's status file.

const SECTIONS = [ [ 'traffic', _('First mobile interface') ], [ 'traffic2', _('Second mobile interface') ] ];

function days(series) {
	const words = (series ?? '').split(' ').filter(w => w !== '');
	if (words.length < 2)
		return { first: null, figures: [] };
	const f = words[0];
	return { first: new Date(+f.substr(0, 4), +f.substr(4, 2) - 1, +f.substr(6, 2)), figures: words.slice(1).map(Number) };
}

return view.extend({
	load() {
		return common.callTrafficStatus();
	},

	renderBar(s) {
		const allowance = (+s.datamax || 0) * 1e6;
		const used = +s.used || 0;
		const pct = allowance > 0 ? used * 100 / allowance : 0;
		return E('div', { 'class': 'cbi-progressbar traffic-bar', 'title': '%.1f%%'.format(pct),
			'data-used': String(used), 'data-allowance': String(allowance) }, [
			E('div', { 'style': 'width:%.2f%%'.format(Math.min(100, pct)) })
		]);
	},

	renderInstance(name, title, s) {
		if (!s?.installed || !s.pid)
			return E('div', { 'class': 'cbi-section', 'id': 'traffic-' + name }, [
				E('h3', {}, [ title ]), E('p', {}, [ _('No status: the instance is not running.') ]) ]);
		const allowance = (+s.datamax || 0) * 1e6;
		const used = +s.used || 0;
		const now = Date.now() / 1000;
		const left = +s.endtime > now ? +s.endtime - now : 0;
		const row = common.row.bind(common);
		return E('div', { 'class': 'cbi-section', 'id': 'traffic-' + name }, [
			E('h3', {}, [ '%s (%s)'.format(title, s.interface ?? '?') ]),
			s.enabled == '1' ? this.renderBar(s) : E('p', {}, [ _('Counting is off: only the speeds are measured.') ]),
			E('table', { 'class': 'table' }, [
				row(_('State'), common.runState(s)),
				row(_('Used'), s.enabled == '1' ? _('%s of %s (%.1f%%)').format(common.megabytes(used), common.megabytes(allowance),
					allowance > 0 ? used * 100 / allowance : 0) : '-', 'traffic-used'),
				row(_('Remaining'), s.enabled == '1' ? common.megabytes(Math.max(0, allowance - used)) : '-', 'traffic-remaining'),
				row(_('Period ends'), +s.endtime > 0 ? '%s (%s)'.format(common.time(s.endtime),
					_('%d days %d h left').format(Math.floor(left / 86400), Math.floor(left % 86400 / 3600))) : '-', 'traffic-days'),
				row(_('Receiving'), '%s KB/s'.format(s.rx_kbps ?? '0.00'), 'traffic-rx'),
				row(_('Sending'), '%s KB/s'.format(s.tx_kbps ?? '0.00'), 'traffic-tx'),
				row(_('Alarms at'), s.percent ? s.percent.split(' ').map(p => p + '%').join(', ') : '-'),
				row(_('Highest alarm sent'), +s.alarmsent > 0 ? s.alarmsent + '%' : _('none')),
				row(_('Connection stopped'), s.shutdown == '1' ? _('yes, allowance used up') : _('no'))
			]),
			E('div', {}, [ this.plot(name, s) ]),
			E('p', { 'class': 'cbi-value-description' }, [ _('MB per day: this period (blue), the last period (grey), day by day from each start.') ])
		]);
	},

	// Bars of MB per day, the last period's behind this period's, day by day
	// from each start; drawn as SVG (LuCI's bundled chart library has pies only).
	plot(name, s) {
		const cur = days(s.daily), prev = days(s.daily_prev);
		const n = Math.max(cur.figures.length, prev.figures.length, 1);
		const top = Math.max(1, ...cur.figures, ...prev.figures);
		const W = 800, H = 220, left = 48, bottom = 24, step = (W - left) / n;
		const svg = (tag, attrs, children) => {
			const node = document.createElementNS('http://www.w3.org/2000/svg', tag);
			for (const k in attrs)
				node.setAttribute(k, attrs[k]);
			(children ?? []).forEach(c => node.appendChild(typeof c == 'string' ? document.createTextNode(c) : c));
			return node;
		};
		const y = mb => H - bottom - (H - bottom - 8) * mb / top;
		const bars = [];
		const bar = (mb, cls, x, w, date) => svg('rect', { 'class': cls, 'x': x.toFixed(1), 'y': y(mb).toFixed(1),
			'width': w.toFixed(1), 'height': (H - bottom - y(mb)).toFixed(1), 'data-mb': String(mb) },
			[ svg('title', {}, [ '%s: %d MB'.format(date, mb) ]) ]);
		for (let i = 0; i < n; i++) {
			const x = left + i * step;
			const day = cur.first ? new Date(cur.first.getTime() + i * 86400000) : null;
			const label = day ? '%02d.%02d.'.format(day.getDate(), day.getMonth() + 1) : String(i + 1);
			if (i < prev.figures.length)
				bars.push(bar(prev.figures[i], 'traffic-prev', x + 1, step * 0.8, _('last period, day %d').format(i + 1)));
			if (i < cur.figures.length)
				bars.push(bar(cur.figures[i], 'traffic-cur', x + step * 0.2, step * 0.7, label));
			if (i % Math.ceil(n / 12) == 0)
				bars.push(svg('text', { 'x': (x + step / 2).toFixed(1), 'y': H - 6, 'text-anchor': 'middle', 'font-size': 11 }, [ label ]));
		}
		return svg('svg', { 'id': 'traffic-plot-' + name, 'class': 'traffic-plot', 'viewBox': '0 0 %d %d'.format(W, H),
			'width': '100%', 'height': H, 'data-daily': s.daily ?? '', 'data-daily-prev': s.daily_prev ?? '' }, [
			svg('style', {}, [ '.traffic-prev{fill:#bbb}.traffic-cur{fill:#2164b4}' ]),
			svg('line', { 'x1': left, 'x2': W, 'y1': H - bottom, 'y2': H - bottom, 'stroke': '#888' }),
			svg('text', { 'x': left - 6, 'y': y(top) + 4, 'text-anchor': 'end', 'font-size': 11 }, [ '%d MB'.format(top) ]),
			svg('text', { 'x': left - 6, 'y': H - bottom, 'text-anchor': 'end', 'font-size': 11 }, [ '0' ]),
			...bars
		]);
	},

	update(status) {
		for (const [ name, title ] of SECTIONS) {
			const node = this.renderInstance(name, title, status[name] ?? {});
			this.boxes[name].replaceWith(node);
			this.boxes[name] = node;
		}
	},

	render(status) {
		this.boxes = {};
		const node = E([], [
			E('h2', {}, [ _('Traffic limit') ]),
			...SECTIONS.map(([ name ]) => (this.boxes[name] = E('div', { 'id': 'traffic-' + name })))
		]);
		this.update(status);
		poll.add(() => common.callTrafficStatus().then(s => this.update(s)), 3);
		return node;
	},

	handleSaveApply: null,
	handleSave: null,
	handleReset: null
});
