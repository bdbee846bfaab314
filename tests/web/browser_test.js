// The router daemons' web pages in Chromium, on OpenWrt's real web stack
// (uhttpd, rpcd, LuCI) serving a simulated router whose daemons run for real
// (sim/openwrt-web/router.sh; sim/openwrt-web/lane.sh starts all of it).
//
// Environment: WEB_URL (http://127.0.0.1:PORT), WEB_ROOT (the router root),
// SIM_BIN (build/sim/bin), VALIDATE_DATA (OpenWrt's validate_data),
// LD_PATH (its libraries), SHOTS (folder for the screenshots),
// CHROMIUM (default /usr/bin/chromium).
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const puppeteer = require('puppeteer-core');

const URL = process.env.WEB_URL;
const ROOT = process.env.WEB_ROOT;
const SIM_BIN = process.env.SIM_BIN;
const SHOTS = process.env.SHOTS;
const TOP = path.resolve(__dirname, '../..');
const PASSWORD = 'router';
const OWNER = '13912345678';
// Texts that are HTML or script: every page must show them as text.
const HOSTILE_TEXT = '<img src=x onerror=alert(1)>';
const HOSTILE_PRE = '</pre><script>alert(2)</script>';
const HOSTILE_SENDER = '<b>Bank</b>';
const HOSTILE_GNAME = '<i>gre2</i>';
// The message the modem refuses until the test lets it through: given up, then queued again.
const GIVEN_UP = `13900000001,${HOSTILE_TEXT} given up`;
// Six full parts of GSM 7-bit with the line's newline: ten euro signs of
// two septets, then single ones.
const LONG_GSM = '€'.repeat(10) + 'Long message. '.repeat(64) + 'a';
const LONG_TO = '+4915100000006';

const file = p => path.join(ROOT, p);
const read = p => { try { return fs.readFileSync(file(p), 'utf8'); } catch { return ''; } };
const sleep = ms => new Promise(r => setTimeout(r, ms));
const uci = key => execFileSync(file('/stubbin/uci'), [ '-q', 'get', key ], { encoding: 'utf8' }).trim();

function status(name) {
	const s = {};
	for (const line of read(`/var/run/${name}.status`).split('\n')) {
		const eq = line.indexOf('=');
		if (eq > 0)
			s[line.slice(0, eq)] = line.slice(eq + 1);
	}
	return s;
}

async function waitFor(what, fn, ms = 30000) {
	const end = Date.now() + ms;
	for (;;) {
		const v = await fn();
		if (v)
			return v;
		if (Date.now() > end)
			assert.fail(`timed out waiting for ${what}`);
		await sleep(250);
	}
}

let browser, page, sid;
const loads = {};
const dialogs = [];
const pageErrors = [];

// Opens a page, waits until the view has rendered, keeps its load time and a screenshot.
async function open(name, route) {
	const t0 = Date.now();
	await page.goto(`${URL}/cgi-bin/luci/admin/${route}`, { waitUntil: 'networkidle0' });
	await page.waitForFunction(() => document.querySelector('#view') && !document.querySelector('#view .spinning'),
		{ timeout: 30000 });
	loads[name] = Date.now() - t0;
	await page.screenshot({ path: path.join(SHOTS, `${name}.png`), fullPage: true });
}

const text = sel => page.$eval(sel, e => e.textContent);
// Sets the send form's text at once, as typing it would.
const setText = t => page.$eval('#sms-text', (e, t) => { e.value = t; e.dispatchEvent(new Event('input')); }, t);
const texts = sel => page.$$eval(sel, es => es.map(e => e.textContent));

// One ubus call through uhttpd's JSON-RPC endpoint, as the pages make it;
// { timeout: true } when no answer came within ms.
async function ubus(session, object, method, args = {}, ms = 30000) {
	try {
		const res = await fetch(`${URL}/ubus/`, { method: 'POST', headers: { 'Content-Type': 'application/json' },
			body: JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'call', params: [ session, object, method, args ] }),
			signal: AbortSignal.timeout(ms) });
		return await res.json();
	} catch (e) {
		if (e.name == 'TimeoutError')
			return { timeout: true };
		throw e;
	}
}

// Peak memory of the rpcd serving the router root, in kB.
function rpcdPeak() {
	for (const pid of fs.readdirSync('/proc').filter(p => /^\d+$/.test(p))) {
		try {
			if (fs.readFileSync(`/proc/${pid}/comm`, 'utf8') == 'rpcd\n' && fs.readlinkSync(`/proc/${pid}/root`) == fs.realpathSync(ROOT))
				return +fs.readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmHWM:\s+(\d+)/)[1];
		} catch {}
	}
	assert.fail('no rpcd serves the router root');
}

test.before(async () => {
	fs.mkdirSync(SHOTS, { recursive: true });
	// Started first: three refused attempts take the daemon a minute or more.
	fs.writeFileSync(file('/simstore/.fail_sends'), '');
	fs.appendFileSync(file('/tmp/sms_tosend'), `${GIVEN_UP}\n`);
	const inject = (from, t) => execFileSync(path.join(SIM_BIN, 'modemsim'),
		[ 'inject', '--mode', 'gsm', '--store', file('/simstore'), '--from', from, '--text', t ]);
	inject(OWNER, 'Hello from the phone');
	inject(OWNER, HOSTILE_TEXT);
	inject(OWNER, HOSTILE_PRE);
	// brenlow shows an alphanumeric sender as its raw semi-octets, so a sender
	// that is markup comes from the journal file itself, as any program can write it.
	// A journal of more than one page, the oldest first in the file.
	let older = '';
	for (let i = 0; i < 30; i++)
		older += `Received SMS: sender: 139000000${String(i).padStart(2, '0')}; time: 2026-01-01 00:00:${String(i).padStart(2, '0')}; msg: old ${i}\n`;
	fs.appendFileSync(file('/etc/config/sms_record'), older +
		`Received SMS: sender: ${HOSTILE_SENDER}; time: 2026-01-02 03:04:05; msg: from an older firmware\n`);

	browser = await puppeteer.launch({
		executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
		args: [ '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
			'--disable-component-update', '--disable-sync' ]
	});
	page = await browser.newPage();
	await page.setViewport({ width: 1280, height: 900 });
	page.on('dialog', d => { dialogs.push(d.message()); d.dismiss(); });
	page.on('pageerror', e => { if (/router-daemons/.test(e.stack ?? e.message)) pageErrors.push(e.message); });
});

test.after(async () => {
	await browser?.close();
	const lines = Object.entries(loads).map(([ n, ms ]) => `${n} ${ms} ms`);
	fs.writeFileSync(path.join(SHOTS, 'load-times.txt'), lines.join('\n') + '\n');
	console.log('page load times:\n  ' + lines.join('\n  '));
});

test('nothing of the app answers a session that has not logged in', async () => {
	const anonymous = '00000000000000000000000000000000';
	for (const method of [ 'overview', 'sms_status', 'sms_journal', 'sms_outbox', 'sms_send', 'sms_requeue',
		'traffic_status', 'tunnel_status', 'gps_status', 'bridge_status' ]) {
		const r = await ubus(anonymous, 'luci.router-daemons', method, method == 'sms_send' ? { number: OWNER, text: 'x' } : {});
		assert.equal(r.error?.code, -32002, `${method}: ${JSON.stringify(r)}`);
	}
	assert.ok(!read('/tmp/sms_tosend').includes(`${OWNER},x\n`));
});

test('logs in', async () => {
	await page.goto(`${URL}/cgi-bin/luci/`, { waitUntil: 'networkidle0' });
	await page.$eval('#luci_username', e => { e.value = 'root'; });
	await page.type('#luci_password', PASSWORD);
	await Promise.all([ page.waitForNavigation({ waitUntil: 'networkidle0' }), page.keyboard.press('Enter') ]);
	sid = await page.evaluate(() => L.env.sessionid);
	assert.match(sid, /^[0-9a-f]{32}$/);
	const r = await ubus(sid, 'luci.router-daemons', 'gps_status');
	assert.equal(r.result?.[0], 0, JSON.stringify(r));
});

test('a login holds only the groups it was given: a reader of the SMS pages reads them and no more', async () => {
	const hash = execFileSync('openssl', [ 'passwd', '-1', 'viewer' ], { encoding: 'utf8' }).trim();
	fs.appendFileSync(file('/etc/config/rpcd'), `\nconfig login\n\toption username 'viewer'\n\toption password '${hash}'\n` +
		`\tlist read 'luci-app-router-daemons-sms'\n`);
	const login = await ubus('00000000000000000000000000000000', 'session', 'login', { username: 'viewer', password: 'viewer' });
	const viewer = login.result?.[1]?.ubus_rpc_session;
	assert.ok(viewer, JSON.stringify(login));
	assert.equal((await ubus(viewer, 'luci.router-daemons', 'sms_status')).result?.[0], 0);
	assert.equal((await ubus(viewer, 'luci.router-daemons', 'sms_journal', { offset: 0, limit: 5 })).result?.[0], 0);
	for (const [ method, args ] of [ [ 'sms_send', { number: OWNER, text: 'x' } ], [ 'sms_requeue', { line: 'x' } ],
		[ 'traffic_status', {} ], [ 'overview', {} ], [ 'gps_status', {} ] ])
		assert.equal((await ubus(viewer, 'luci.router-daemons', method, args)).error?.code, -32002, method);
});

test('the outbox shows the message being retried and its next try', async () => {
	const retry = await waitFor('a retry in brenlow\'s status', () => status('brenlow').retry, 90000);
	const [ attempts, next ] = retry.split(' ').map(Number);
	await open('sms-outbox-retrying', 'services/sms/outbox');
	const row = await waitFor('the retried row', async () => (await texts('#sms-retrying tr')).find(r => r.includes('13900000001')), 10000);
	assert.ok(row.includes(`${HOSTILE_TEXT} given up`), row);
	const nextShown = await page.evaluate(t => new Date(t * 1000).toLocaleString(), next);
	assert.ok(row.includes(`${attempts}${nextShown}`), `${row} / ${retry}`);
});

// Runs fn with brenlow stopped and the outbox's files set aside, so a test
// can lay them out as it likes; puts them back and lets brenlow go on.
async function outboxStopped(fn) {
	const paths = [ '/tmp/sms_tosend', '/tmp/sms_sending', '/tmp/sms_sending.pos', '/tmp/sms_failed' ];
	const brenlow = +status('brenlow').pid;
	process.kill(brenlow, 'SIGSTOP');
	try {
		for (const p of paths)
			if (fs.existsSync(file(p)))
				fs.renameSync(file(p), file(`${p}.kept`));
		await fn();
	} finally {
		for (const p of paths) {
			fs.rmSync(file(p), { force: true });
			if (fs.existsSync(file(`${p}.kept`)))
				fs.renameSync(file(`${p}.kept`), file(p));
		}
		process.kill(brenlow, 'SIGCONT');
	}
}

test('the plugin never waits on a FIFO, reads through a link or loads a huge file planted where it looks', async () => {
	const secret = '13900009999,token=SECRET42';
	const letter = `2026-01-01 00:00:00\tplanted\t${secret}`;
	const fifos = [ '/tmp/sms_tosend', '/tmp/sms_sending.pos', '/var/run/router-daemons.requeued', '/var/run/tolvane-planted.status' ];
	// Links as another program would plant them, to files inside the router root.
	const links = { '/tmp/sms_sending': '/tmp/secret', '/tmp/sms_failed': '/tmp/secret-letter', '/var/run/brenlow2.status': '/tmp/secret-status' };
	const planted = [ ...fifos, ...Object.keys(links), '/tmp/secret', '/tmp/secret-letter', '/tmp/secret-status' ];
	// brenlow would move them aside.
	await outboxStopped(async () => {
		try {
			fs.writeFileSync(file('/tmp/secret'), `${secret}\n`);
			fs.writeFileSync(file('/tmp/secret-letter'), `${letter}\n`);
			fs.writeFileSync(file('/tmp/secret-status'), 'pid=1\nmode=SECRET42\n');
			for (const p of fifos)
				execFileSync('mkfifo', [ file(p) ]);
			for (const [ p, target ] of Object.entries(links))
				fs.symlinkSync(target, file(p));
			for (const [ method, args ] of [ [ 'sms_outbox' ], [ 'sms_status' ], [ 'overview' ], [ 'tunnel_status' ],
				[ 'sms_send', { number: OWNER, text: 'into a FIFO' } ], [ 'sms_requeue', { line: letter } ] ]) {
				const r = await ubus(sid, 'luci.router-daemons', method, args, 10000);
				assert.equal(r.result?.[0], 0, `${method}: ${JSON.stringify(r)}`);
				assert.ok(!JSON.stringify(r).includes('SECRET42'), `${method} read through a link: ${JSON.stringify(r)}`);
				if (args)
					assert.equal(r.result[1].ok, false, `${method}: ${JSON.stringify(r)}`);
			}
			// brenlow is stopped: a writer's open succeeds only if rpcd holds the FIFO.
			for (const p of fifos)
				assert.throws(() => fs.closeSync(fs.openSync(file(p), fs.constants.O_WRONLY | fs.constants.O_NONBLOCK)),
					{ code: 'ENXIO' }, `${p} was opened`);
			assert.equal(read('/tmp/secret'), `${secret}\n`);

			// A spool and a dead-letter file of 100 MB each: a page's worth is read.
			for (const p of planted)
				fs.rmSync(file(p), { force: true });
			for (const [ p, line ] of [ [ '/tmp/sms_tosend', `13900000000,${'x'.repeat(88)}\n` ],
				[ '/tmp/sms_failed', `2026-01-01 00:00:00\tnot sent within 20 s, last answer: +CMS ERROR: 500\t13900000000,${'y'.repeat(30)}\n` ] ]) {
				const chunk = line.repeat(Math.ceil(1048576 / line.length));
				const fd = fs.openSync(file(p), 'w');
				for (let i = 0; i < 100; i++)
					fs.writeSync(fd, chunk);
				fs.closeSync(fd);
			}
			const before = rpcdPeak();
			const r = await ubus(sid, 'luci.router-daemons', 'sms_outbox', {}, 10000);
			const box = r.result?.[1];
			assert.ok(box, JSON.stringify(r));
			assert.deepEqual([ box.spool.length, box.waiting_more, box.failed.length, box.failed_more ], [ 200, true, 200, true ]);
			assert.ok(rpcdPeak() - before < 16384, `rpcd grew from ${before} to ${rpcdPeak()} kB`);
		} finally {
			for (const p of fifos) {
				// Lets a reader held in its open go before the FIFO goes.
				try { fs.closeSync(fs.openSync(file(p), fs.constants.O_WRONLY | fs.constants.O_NONBLOCK)); } catch {}
			}
			for (const p of planted)
				fs.rmSync(file(p), { force: true });
		}
	});
});

test('status overview: one line per daemon, as their status files say', async () => {
	await open('status-overview', 'status/overview');
	await page.waitForSelector('#router-daemons-overview');
	const lines = await page.$$eval('#router-daemons-overview tr', rows => rows.map(r => r.textContent));
	for (const name of [ 'SMS', 'Traffic limit 1', 'GRE gre1', `GRE ${HOSTILE_GNAME}`, 'GPS forwarder', 'Serial bridge' ])
		assert.ok(lines.some(l => l.startsWith(name)), `${name} in ${lines.join(' | ')}`);
	assert.ok(lines.find(l => l.startsWith('GRE gre1')).includes('up'));
	assert.ok(lines.find(l => l.startsWith(`GRE ${HOSTILE_GNAME}`)).includes('down'));
	assert.equal(await page.$$eval('#router-daemons-overview i', es => es.length), 0, 'a tunnel name became markup');
});

test('traffic: the bar shows what moskar counted, the plot its daily series', async () => {
	await open('traffic-status', 'services/traffic/status');
	// moskar counts every 3 s and the page follows: both meet within a few cycles.
	await waitFor('the bar to show uci\'s used', async () =>
		await page.$eval('#traffic-traffic .traffic-bar', e => e.dataset.used) == uci('moskar.traffic.used'), 20000);
	assert.equal(await page.$eval('#traffic-traffic .traffic-bar', e => e.dataset.allowance), String(2000 * 1e6));
	await waitFor('the plot to show the daily series', async () => {
		const shown = await page.$eval('#traffic-plot-traffic', e => e.dataset.daily);
		return shown == uci('moskar.traffic.daily') && shown == status('moskar1').daily;
	}, 20000);
	const figures = uci('moskar.traffic.daily').split(' ').slice(1).map(Number);
	const bars = await page.$$eval('#traffic-plot-traffic rect.traffic-cur', rs => rs.map(r => +r.dataset.mb));
	assert.deepEqual(bars, figures);
	const prev = await page.$$eval('#traffic-plot-traffic rect.traffic-prev', rs => rs.length);
	assert.equal(prev, uci('moskar.traffic.daily_prev').split(' ').length - 1);
	const rx = await text('#traffic-traffic .traffic-rx');
	assert.match(rx, /^\d+\.\d\d KB\/s$/);
});

test('GRE keepalive: each tunnel\'s state and names as text', async () => {
	await open('gre-keepalive', 'services/gre-keepalive');
	const state = async g => page.$eval(`#tunnel-status tr[data-tunnel="${g}"] .tunnel-state`, e => e.textContent);
	await waitFor('gre1 up and gre2 down', async () =>
		await state('gre1') == 'up' && await state(HOSTILE_GNAME) == 'down', 20000);
	assert.equal(status('tolvane-gre1').state, 'up');
	assert.equal(status('tolvane-_i_gre2__i_').state, 'down');
	assert.equal(await page.$$eval('#view i', es => es.length), 0, 'a tunnel name became markup');
	const grid = await texts('.cbi-section-table-row');
	assert.ok(grid.some(r => r.includes(HOSTILE_GNAME)), grid.join(' | '));
});

test('GPS forwarder and serial bridge show their daemons\' counts', async () => {
	await open('gps-forwarder', 'services/gps-forwarder');
	assert.equal(await text('.gps-connected'), 'yes');
	assert.equal(await text('.gps-destination'), `TCP 127.0.0.1:${status('quorral').port}`);
	assert.ok(+await text('.gps-sent') > 0);
	await open('serial-bridge', 'services/serial-bridge');
	assert.equal(await text('.bridge-to-module'), `${status('dastral').to_module} bytes`);
	assert.equal(status('dastral').to_module, '8');
});

test('settings pages take the types the init scripts check', async () => {
	await open('sms-settings', 'services/sms/settings');
	await open('traffic-settings', 'services/traffic/settings');
	// The init scripts' rules, read from the scripts themselves.
	const rules = {};
	for (const [ script, pkg ] of [ [ 'brenlow', 'sms' ], [ 'moskar', 'moskar' ], [ 'tolvane', 'tolvane' ],
		[ 'quorral', 'quorral' ], [ 'dastral', 'dastral' ] ]) {
		const src = fs.readFileSync(path.join(TOP, `openwrt/files/${script}.init`), 'utf8').replace(/\\\n/g, '');
		const vars = {};
		for (const [ , name, , value ] of src.matchAll(/^([A-Z_]+)=(['"])(.*)\2$/gm))
			vars[name] = value.replace(/\$([A-Z_]+)/g, (_, v) => vars[v] ?? '');
		for (const [ name, value ] of Object.entries(vars))
			for (const rule of name.endsWith('_RULES') ? value.split(/\s+/).filter(Boolean) : []) {
				const [ option, type ] = rule.match(/^([^:]+):([^:]+)/).slice(1);
				if (type != 'string' && type != 'bool')
					(rules[pkg] ??= {})[option] = type;
			}
	}
	const samples = [ '0', '1', '2', '5', '6', '7', '8', '9', '23', '24', '31', '32', '300', '115200', '65535', '65536',
		'-1', '-100', '1.5', ' 5', '+5', '08', 'abc', '10.0.0.1', '10.0.0.256', '10.0.0', 'gps.example.com', '-x', '1e3',
		'0x10', 'month', 'N', 'x'.repeat(300) ];
	// Where the two parsers read a text differently (a sign, a blank, hex),
	// the form may refuse what the init script lets through, never the other
	// way; plain values they must judge alike.
	const plain = v => /^(0|[1-9][0-9]*)$/.test(v) || [ '10.0.0.1', 'gps.example.com', 'month', 'N' ].includes(v);
	const formVerdicts = await page.evaluate(async (rules, samples) => {
		const factory = await L.require('validation');
		const common = await L.require('router-daemons.common');
		const out = {};
		for (const pkg in rules)
			for (const option in rules[pkg])
				out[`${pkg}.${option}`] = common.datatype(pkg, option)
					? samples.map(v => common.accepts(factory, pkg, option, v)) : null;
		return out;
	}, rules, samples);
	const disagreements = [];
	for (const pkg in rules)
		for (const option in rules[pkg]) {
			const rule = rules[pkg][option], form = formVerdicts[`${pkg}.${option}`];
			if (!form) {
				disagreements.push(`${pkg}.${option}: no type in the form (init script: ${rule})`);
				continue;
			}
			samples.forEach((v, i) => {
				let init = true;
				try {
					execFileSync(process.env.VALIDATE_DATA, [ rule, v ], { env: { LD_LIBRARY_PATH: process.env.LD_PATH }, stdio: 'ignore' });
				} catch { init = false; }
				if ((form[i] && !init) || (plain(v) && form[i] != init))
					disagreements.push(`${pkg}.${option} '${v}': init script ${rule} ${init}, form ${form[i]}`);
			});
		}
	assert.deepEqual(disagreements, []);
});

test('SMS journal and outbox show hostile senders and texts as text', async () => {
	await waitFor('the injected messages in the journal', () =>
		read('/etc/config/sms_record').includes(HOSTILE_PRE) && status('brenlow').mode, 60000);
	await open('sms-messages', 'services/sms/messages');
	const peers = await texts('#sms-journal .sms-peer');
	const bodies = await texts('#sms-journal .sms-text');
	assert.ok(peers.includes(HOSTILE_SENDER), peers.join(' | '));
	assert.ok(bodies.includes(HOSTILE_TEXT), bodies.join(' | '));
	assert.ok(bodies.includes(HOSTILE_PRE), bodies.join(' | '));
	// Newest first, as the journal's last lines.
	const journal = read('/etc/config/sms_record').trim().split('\n');
	assert.ok(journal[journal.length - 1].endsWith(bodies[0]), `${journal[journal.length - 1]} / ${bodies[0]}`);
	assert.equal(await text('#sms-status tr:nth-child(2) td:last-child'), 'GSM');
	// A page of 25, newest first; the next page goes on with older lines.
	assert.equal(bodies.length, 25);
	await page.click('#sms-older');
	await page.waitForFunction(() => /^26-/.test(document.querySelector('.sms-range')?.textContent ?? ''), { timeout: 10000 });
	const second = await texts('#sms-journal .sms-text');
	assert.equal(second[0], journal[journal.length - 26].replace(/^.*; msg: /, ''));
	assert.equal(await page.$$eval('#view img, #view script, #view b', es => es.length), 0);
});

test('send form refuses what the daemon would refuse, the plugin too', async () => {
	await open('sms-send', 'services/sms/send');
	const problems = () => page.$eval('#sms-problems', e => e.textContent);
	const disabled = () => page.$eval('#sms-send', e => e.disabled);
	await page.type('#sms-number', '12a4');
	await page.type('#sms-text', 'hi');
	assert.match(await problems(), /only digits/);
	assert.ok(await disabled());
	await page.$eval('#sms-number', e => { e.value = ''; });
	await page.type('#sms-number', '+4912345');
	await page.type('#sms-text', '\nsecond line');
	assert.match(await problems(), /one line/);
	assert.ok(await disabled());
	// With the unicode option the daemon sends six parts whole and cuts the
	// rest: a text one character over that is refused.
	await setText(LONG_GSM + 'a');
	assert.match(await problems(), /longer than 6 parts/);
	assert.ok(await disabled());
	await setText(LONG_GSM);
	assert.equal(await problems(), '');
	assert.match(await text('#sms-count'), /^907 characters, GSM 7-bit, 6 of at most 6 parts \(918 of 918 septets\)$/);
	await setText('Ж'.repeat(69));
	assert.match(await text('#sms-count'), /, UCS2, 1 of at most 6 parts \(70 of 70 UCS2 units\)$/);
	await setText('Ж'.repeat(70));
	assert.match(await text('#sms-count'), /, UCS2, 2 of at most 6 parts/);

	const spool = read('/tmp/sms_tosend') + read('/tmp/sms_sending');
	for (const [ number, t ] of [ [ '12a4', 'hi' ], [ '+4912345', 'two\nlines' ], [ '+4912345', LONG_GSM + 'a' ],
		[ '+4912345', 'Ж'.repeat(402) ], [ '1234567890123456', 'longer than a GSM destination' ], [ '', 'no number' ],
		[ '+4912345', '' ] ]) {
		const r = await ubus(sid, 'luci.router-daemons', 'sms_send', { number, text: t });
		assert.equal(r.result?.[1]?.ok, false, `${number} ${t.length}: ${JSON.stringify(r)}`);
	}
	assert.equal(read('/tmp/sms_tosend') + read('/tmp/sms_sending'), spool);
});

let givenUp;

test('a message the modem kept refusing is given up with its last answer', async () => {
	givenUp = await waitFor('the refused message in the dead letters', () =>
		read('/tmp/sms_failed').split('\n').find(l => l.endsWith(`\t${GIVEN_UP}`)), 180000);
	fs.unlinkSync(file('/simstore/.fail_sends'));
	await open('sms-outbox', 'services/sms/outbox');
	const rows = await texts('#sms-failed tr');
	assert.ok(rows.some(r => r.includes(`${HOSTILE_TEXT} given up`) && r.includes('not sent within 20 s, last answer: +CMS ERROR: 500')),
		rows.join(' | '));
	assert.equal(await page.$$eval('#view img', es => es.length), 0);
});

test('the waiting list starts where brenlow\'s cursor stands in the batch', async () => {
	const lines = [ '13900000021,done before', '13900000022,second', '13900000023,third' ];
	const brenlow = +status('brenlow').pid;
	await waitFor('no batch at work', () => !fs.existsSync(file('/tmp/sms_sending')), 30000);
	process.kill(brenlow, 'SIGSTOP');
	try {
		assert.ok(!fs.existsSync(file('/tmp/sms_sending')), 'a batch appeared');
		fs.writeFileSync(file('/tmp/sms_sending'), lines.map(l => `${l}\n`).join(''));
		const inode = fs.statSync(file('/tmp/sms_sending')).ino;
		fs.writeFileSync(file('/tmp/sms_sending.pos'), `${inode} 7 ${lines[0].length + 1} 0 -\n`);
		const box = (await ubus(sid, 'luci.router-daemons', 'sms_outbox')).result?.[1];
		assert.deepEqual(box?.sending.map(w => `${w.number},${w.text}`), lines.slice(1));
	} finally {
		process.kill(brenlow, 'SIGCONT');
	}
	// brenlow reads the cursor as the page does: it sends the rest, not the first.
	await waitFor('the lines after the cursor on the phone', () => read('/simstore/sent.log').includes('13900000023\tthird'), 60000);
	assert.ok(read('/simstore/sent.log').includes('13900000022\tsecond'));
	assert.ok(!read('/simstore/sent.log').includes('13900000021'));
});

test('a message from the send form reaches the phone', async () => {
	await open('sms-send', 'services/sms/send');
	const message = 'Grüße {from the web} €5';
	await page.type('#sms-number', OWNER);
	await page.type('#sms-text', message);
	// ü and ß are in the GSM alphabet; {, } and € take two septets each.
	assert.match(await text('#sms-count'), /^23 characters, GSM 7-bit, 1 of at most 6 parts \(27 of 160 septets\)$/);
	await page.click('#sms-send');
	await waitFor('the spool line', () => (read('/tmp/sms_tosend') + read('/tmp/sms_sending')).includes(`${OWNER},${message}\n`) ||
		read('/simstore/sent.log').includes(`${OWNER}\t${message}`), 10000);
	await waitFor('the phone to get it', () => read('/simstore/sent.log').includes(`${OWNER}\t${message}\\n`), 120000);
	// The journal line follows once the modem has confirmed it.
	await waitFor('the journal line', () => read('/etc/config/sms_record').includes(`msg: ${message}\\n.`), 60000);
	await open('sms-messages', 'services/sms/messages');
	assert.ok((await texts('#sms-journal .sms-text')).includes(message));
});

// Queued again once the modem takes messages, as after an outage.
test('a given-up message is queued again once, and sent', async () => {
	await open('sms-outbox', 'services/sms/outbox');
	const before = read('/tmp/sms_tosend');
	await page.click('#sms-failed .sms-requeue');
	await page.waitForFunction(() => document.querySelector('#sms-failed em'), { timeout: 10000 });
	// Exactly one whole line more, unless the daemon took the spool over meanwhile.
	const after = read('/tmp/sms_tosend');
	if (after.length >= before.length)
		assert.equal(after.slice(before.length), `${GIVEN_UP}\n`);
	const again = await ubus(sid, 'luci.router-daemons', 'sms_requeue', { line: givenUp });
	assert.equal(again.result?.[1]?.ok, false, JSON.stringify(again));
	assert.equal(read('/var/run/router-daemons.requeued'), `${givenUp}\n`);
	await waitFor('the phone to get it', () => read('/simstore/sent.log').includes(`13900000001\t${HOSTILE_TEXT} given up`), 120000);
});

test('a refused long message waits for its next try, then goes out whole in six parts', async () => {
	fs.writeFileSync(file('/simstore/.fail_next_send'), '');
	await open('sms-send', 'services/sms/send');
	await page.type('#sms-number', LONG_TO);
	await setText(LONG_GSM);
	await page.click('#sms-send');
	await page.waitForFunction(() => /Queued for/.test(document.body.textContent), { timeout: 10000 });
	await open('sms-outbox', 'services/sms/outbox');
	const row = await waitFor('the refused message among the retried', async () =>
		(await texts('#sms-retrying tr')).find(r => r.includes(LONG_TO)), 60000);
	assert.ok(row.includes(LONG_GSM), row);
	assert.match(await text('#sms-retrying .sms-next-try'), /\(in \d/);
	await page.screenshot({ path: path.join(SHOTS, 'sms-outbox-long-retry.png'), fullPage: true });
	const parts = await waitFor('six parts on the phone', () => {
		const got = read('/simstore/sent.log').split('\n').filter(l => l.startsWith(`${LONG_TO}\t`));
		return got.length >= 6 && got.map(l => l.slice(LONG_TO.length + 1));
	}, 120000);
	assert.equal(parts.length, 6);
	assert.equal(parts.join(''), `${LONG_GSM}\\n`);
	await waitFor('the row to go', async () => !(await texts('#sms-retrying tr')).some(r => r.includes(LONG_TO)), 15000);
});

test('Save & Apply of a traffic setting reaches the UCI file beside moskar\'s own writes', async () => {
	await open('traffic-settings', 'services/traffic/settings');
	const input = '#widget\\.cbid\\.moskar\\.traffic\\.datamax';
	await page.$eval(input, e => { e.value = ''; });
	await page.type(input, '3000');
	await page.click('.cbi-page-actions .cbi-button-apply');
	await page.waitForFunction(() => /Configuration changes applied/.test(document.body.textContent), { timeout: 60000 });
	await waitFor('datamax in the file', () => /option datamax '3000'/.test(read('/etc/config/moskar').split('config traffic \'traffic2\'')[0]), 10000);
	const config = read('/etc/config/moskar');
	assert.match(config, /option used '\d+'/);
	// Hidden while the period is a month, the weekday keeps its value.
	assert.match(config.split('config traffic \'traffic2\'')[0], /option start_week '1'/);
	assert.match(config, /option daily '\d{8}[ \d]*'/);
	assert.match(read('/calls.log'), /service event config\.change moskar/);
});

test('no page raised a script dialog or an error of its own', () => {
	assert.deepEqual(dialogs, []);
	assert.deepEqual(pageErrors, []);
});
