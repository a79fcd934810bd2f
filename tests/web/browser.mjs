// The page in a real browser: headless Chromium or Firefox ESR opens
// comserial.html from file://, and each step below is checked against the
// golden cases' expected outputs and the native build's standard error.
//
//   node browser.mjs --page comserial.html --cases DIR --runner comserial.js --native comserial
//                    --genexport GEN --out DIR [--browser chromium|firefox] [--executable PATH]
//                    [--large N]
//
// --large N times an export of N adapters instead of running the checks.
// What puppeteer cannot do in Firefox (emulate dark mode, report requests,
// set the download folder over CDP) is checked another way there, and the
// output says so.
import {execFileSync, spawnSync} from 'node:child_process';
import {existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync} from 'node:fs';
import {createServer} from 'node:net';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {basename, join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';
import {parseArgs} from 'node:util';

import puppeteer from 'puppeteer-core';

const {values: opt} = parseArgs({
  options: {
    page: {type: 'string'},
    cases: {type: 'string'},
    runner: {type: 'string'},
    native: {type: 'string'},
    genexport: {type: 'string'},
    out: {type: 'string'},
    browser: {type: 'string', default: 'chromium'},
    executable: {type: 'string'},
    chromium: {type: 'string'}, // the older name of --executable
    large: {type: 'string'},
  },
});
for (const k of ['page', 'cases', 'runner', 'native', 'genexport', 'out']) {
  if (!opt[k]) throw new Error(`--${k} is required`);
}
const firefox = opt.browser === 'firefox';
if (!firefox && opt.browser !== 'chromium') throw new Error(`--browser ${opt.browser}: chromium or firefox`);
const executable = opt.executable ?? opt.chromium ?? (firefox ? '/usr/bin/firefox-esr' : '/usr/bin/chromium');
const outdir = resolve(opt.out);
rmSync(outdir, {recursive: true, force: true});
const downloads = join(outdir, 'downloads');
mkdirSync(downloads, {recursive: true});
const profile = mkdtempSync(join(tmpdir(), `comserial-${opt.browser}-`));
const netlog = join(outdir, 'netlog.json');
const require = createRequire(import.meta.url);
const axesource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const axeversion = require('axe-core/package.json').version;

let failures = 0;
let passes = 0;
function check(name, ok, detail = '') {
  if (ok) passes++;
  else failures++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || !detail ? '' : `\n     ${detail}`}`);
}
function same(name, got, want) {
  const g = JSON.stringify(got), w = JSON.stringify(want);
  check(name, g === w, `got ${g.slice(0, 600)}\n     want ${w.slice(0, 600)}`);
}
function note(text) {
  console.log(`     ${text}`);
}
const sleep = (ms) => new Promise((res) => setTimeout(res, ms));

const casefile = (name, ext) => join(opt.cases, `${name}.${ext}`);
const expected = (name, mode) => readFileSync(casefile(name, `${mode}.out`));
const statuses = (name) => readFileSync(casefile(name, 'exit'), 'utf8').trim().split(/\s+/).map(Number);
// The native build's standard error on a file.
function nativeerr(file, args = []) {
  const run = spawnSync(opt.native, args, {input: readFileSync(file), stdio: ['pipe', 'ignore', 'pipe'], maxBuffer: 1 << 28});
  if (run.error) throw run.error;
  return run.stderr.toString();
}
// The adapters of a quiet run's expected output: its lines after the last
// header but a failure line, as COM port and serial.
function mappings(quiet, status) {
  const lines = quiet.toString('latin1').split('\n');
  if (lines[lines.length - 1] === '') lines.pop();
  if (status === 1) lines.pop();
  const at = lines.indexOf('>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum');
  if (at < 0) return [];
  return lines.slice(at + 1).map((l) => [l.slice(0, l.indexOf('=')), l.slice(l.indexOf('=') + 1)]);
}

// Firefox: no request events in puppeteer there, so every connection it
// makes goes through a proxy here that answers none and notes each one.
const proxied = [];
let proxy = null;
if (firefox) {
  proxy = createServer((socket) => {
    socket.once('data', (d) => {
      proxied.push(d.toString('latin1').split('\r\n')[0]);
      socket.destroy();
    });
    socket.on('error', () => {});
  });
  await new Promise((res) => proxy.listen(0, '127.0.0.1', res));
}
function firefoxprefs(extra = {}) {
  const port = proxy.address().port;
  return {
    'network.proxy.type': 1,
    'network.proxy.http': '127.0.0.1',
    'network.proxy.http_port': port,
    'network.proxy.ssl': '127.0.0.1',
    'network.proxy.ssl_port': port,
    'network.proxy.no_proxies_on': '',
    'network.proxy.allow_hijacking_localhost': true,
    'network.dns.disableIPv6': true,
    'browser.download.folderList': 2,
    'browser.download.dir': downloads,
    'browser.download.useDownloadDir': true,
    'browser.download.always_ask_before_handling_new_types': false,
    'browser.helperApps.neverAsk.saveToDisk': 'application/octet-stream',
    'browser.download.start_downloads_in_tmp_dir': false,
    ...extra,
  };
}
async function launch(extra) {
  if (firefox) {
    return puppeteer.launch({browser: 'firefox', executablePath: executable, headless: true, userDataDir: profile,
                             extraPrefsFirefox: firefoxprefs(extra)});
  }
  return puppeteer.launch({
    executablePath: executable,
    headless: true,
    userDataDir: profile,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--disable-extensions',
      '--disable-features=NetworkTimeServiceQuerying',
      `--log-net-log=${netlog}`,
    ],
  });
}

const browser = await launch();
const version = await browser.version();
console.log(`${version}, axe-core ${axeversion}`);
let page = await browser.newPage();
const pageerrors = [];
page.on('pageerror', (e) => pageerrors.push(e.message));
await page.setViewport({width: 1100, height: 900});
const requests = [];
if (!firefox) {
  page.on('request', (r) => requests.push(r.url()));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
}
const pageurl = pathToFileURL(resolve(opt.page)).href;
await page.goto(pageurl);

// Decoded as the browser decodes the code page (node's decoder reads 1252
// as Latin-1).
const decode = (bytes, cp = 1252) =>
  page.evaluate((b, c) => new TextDecoder(decoderlabel(c)).decode(new Uint8Array(b)), [...bytes], cp);

async function choose(...files) {
  const input = await page.$('#files');
  await input.uploadFile(...files);
}
// Waits for the run started by the last action, and tells what the page shows.
async function result() {
  await page.waitForFunction(() => document.body.dataset.state === 'done', {timeout: 120000});
  return page.evaluate(() => {
    const $ = (id) => document.getElementById(id);
    const shown = (id) => !$(id).hidden && !$(id).closest('[hidden]');
    return {
      files: [...document.querySelectorAll('#chosen .name')].map((e) => e.textContent),
      status: Number($('status').textContent),
      output: $('output').textContent,
      failure: $('failure')?.textContent ?? null,
      notes: [...document.querySelectorAll('#notes li')].map((li) => ({
        line: Number(li.dataset.line),
        where: li.querySelector('.where')?.textContent ?? '',
        text: li.querySelector('.text').textContent,
      })),
      adapters: [...document.querySelectorAll('#adapters .rows [role=row]')].map((row) =>
        [...row.querySelectorAll('[role=cell]')].map((c) => c.textContent)
      ),
      table: shown('tablebox'),
      none: shown('none'),
      adapterpart: shown('adapterpart'),
      explain: shown('explain') ? $('explain').innerText : null,
      noexport: shown('noexport') ? $('noexport').innerText : null,
      outbuttons: shown('outbuttons'),
      nooutput: shown('nooutput'),
      state: $('state').textContent,
      said: $('listsay').textContent,
      choose: $('choose').textContent,
      codepage: $('codepage').textContent,
      ms: Number(document.body.dataset.ms),
      runms: Number(document.body.dataset.runms),
    };
  });
}
async function act(fn) {
  await page.evaluate(() => {
    document.body.dataset.state = 'waiting';
  });
  await fn();
  return result();
}
async function clear() {
  if (!(await page.evaluate(() => !document.getElementById('list').hidden))) return;
  await page.click('#clear');
  await page.waitForFunction(() => document.body.dataset.state === 'idle');
}
async function download(name) {
  const path = join(downloads, name);
  rmSync(path, {force: true});
  await page.click('#download');
  for (let i = 0; i < 100 && !existsSync(path); i++) await sleep(100);
  await sleep(100); // Firefox renames its partial file to the name when done
  return existsSync(path) ? readFileSync(path) : null;
}
// The whole page: a viewport as tall as it, so that all of it is drawn.
async function screenshot(name, width, scale = 1) {
  await page.setViewport({width, height: 900, deviceScaleFactor: scale});
  const height = await page.evaluate(() => document.documentElement.scrollHeight);
  await page.setViewport({width, height: Math.min(height, 6000), deviceScaleFactor: scale});
  await sleep(200);
  await page.screenshot({path: join(outdir, name)});
  await page.setViewport({width: 1100, height: 900});
}
async function mode(which) {
  return act(() => page.click(`input[name=mode][value=${which}]`));
}
// Nothing wider than the window, and no text cut off: the page does not
// scroll sideways, and no box of the result holds more than its width.
function fits() {
  return page.evaluate(() => {
    const doc = document.documentElement;
    const wide = [...document.querySelectorAll('.box, .box p, #notesbox, #notes li, #state, #chosen li, #tablebox, #output')]
      .filter((e) => e.offsetParent !== null && e.scrollWidth > e.clientWidth + 1)
      .map((e) => `${e.id || e.className || e.tagName} ${e.scrollWidth} > ${e.clientWidth}`);
    return {page: doc.scrollWidth <= doc.clientWidth, wide};
  });
}
// axe-core's rules, all of them (experimental ones too), on the page as it is.
const axestates = [];
async function axe(state) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.evaluate(axesource);
  const found = await page.evaluate(async () => {
    const rules = Object.fromEntries(window.axe.getRules().map((r) => [r.ruleId, {enabled: true}]));
    const r = await window.axe.run(document, {rules, resultTypes: ['violations']});
    return {violations: r.violations.map((v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`),
            incomplete: r.incomplete.map((v) => `${v.id} on ${v.nodes.length}`)};
  });
  axestates.push(`${state}: ${found.violations.length} violations` +
                 (found.incomplete.length ? `; to check by hand (axe cannot tell): ${found.incomplete.join(', ')}` : ''));
  same(`axe-core, ${state}: no violation`, found.violations, []);
}

if (opt.large) {
  // A large export: how long it takes, that the page answers meanwhile, and
  // that find in page and End reach the end of the output.
  const n = Number(opt.large);
  const file = join(outdir, `adapters-${n}.reg`);
  writeFileSync(file, execFileSync(opt.genexport, [String(n)], {maxBuffer: 1 << 30}));
  for (const m of ['debug', 'quiet']) {
    if (await page.evaluate(() => !document.getElementById('list').hidden)) await page.click('#clear');
    await page.click(`input[name=mode][value=${m}]`);
    await page.evaluate(() => {
      window.gaps = [];
      let t = performance.now();
      window.ticker = setInterval(() => {
        const now = performance.now();
        window.gaps.push([now - t, document.getElementById('state').textContent]);
        t = now;
      }, 50);
    });
    await page.evaluate(() => {
      document.body.dataset.state = 'waiting';
    });
    await choose(file);
    await page.waitForFunction(() => document.body.dataset.state === 'done', {timeout: 120000, polling: 100});
    // Pauses just after it is shown count too; what the test reads of the
    // page afterwards (all of the output) holds it up, and does not.
    await sleep(2000);
    const [gap, during] = await page.evaluate(() => {
      clearInterval(window.ticker);
      return window.gaps.reduce((a, b) => (b[0] > a[0] ? b : a));
    });
    const r = await result();
    note(`the longest pause came while the page said: ${during.trim()}`);
    console.log(`${opt.browser}: ${n} adapters, ${m}: shown in ${r.ms} ms (the run itself ${r.runms} ms), exit ${r.status}, ` +
                `${r.adapters.length} adapters in the table, ${r.output.length} characters of output, longest pause of the page ${Math.round(gap)} ms`);
    const lastline = r.output.trimEnd().split('\n').pop();
    await page.focus('#output');
    await page.keyboard.press('End');
    await sleep(500);
    const end = await page.evaluate(() => {
      const out = document.getElementById('output');
      const box = out.getBoundingClientRect(), last = out.lastElementChild.getBoundingClientRect();
      return Math.abs(last.bottom - box.bottom) < 40;
    });
    check(`${m}: End shows the output's last line`, end);
    const t0 = Date.now();
    const found = await page.evaluate((text) => {
      getSelection().removeAllRanges();
      return window.find(text) && document.getElementById('output').contains(getSelection().anchorNode);
    }, lastline);
    check(`${m}: find in page finds the output's last line`, found);
    note(`(window.find took ${Date.now() - t0} ms)`);
  }
  await browser.close();
  proxy?.close();
  rmSync(profile, {recursive: true, force: true});
  process.exit(failures ? 1 : 0);
}

// An empty page, and the file input: a button chooses, and no "No file
// chosen" of the browser's own.
same('empty page: what to do', await page.evaluate(() => document.getElementById('state').textContent), 'Choose an export to read.');
same('empty page: the button, and the browser\'s own file input not shown', await page.evaluate(() =>
  [document.getElementById('choose').textContent, getComputedStyle(document.getElementById('files')).display]), ['Choose files…', 'none']);
await axe('empty page');
// The button opens the browser's file chooser, from the keyboard too.
{
  const chooser = page.waitForFileChooser({timeout: 10000});
  await page.focus('#choose');
  await page.keyboard.press('Enter');
  const opened = await chooser.then((c) => c, (e) => e);
  if (opened instanceof Error && firefox) {
    note(`the file chooser: puppeteer cannot wait for it in Firefox (${opened.message.split('\n')[0]}); files are set on the input instead`);
  } else {
    check('Enter on "Choose files…" opens the file chooser', !(opened instanceof Error), String(opened));
    if (!(opened instanceof Error)) {
      const r0 = await act(() => opened.accept([casefile('two-adapters', 'reg')]));
      same('the file chosen there is read', [r0.files, r0.status], [['two-adapters.reg'], 0]);
      await page.click('#clear');
      await page.waitForFunction(() => document.body.dataset.state === 'idle');
    }
  }
}

// The decoder the page picks for each code page the tool knows gives
// Windows' characters (an unknown one is read as 1252, as the tool does).
const decoded = await page.evaluate(() =>
  [
    [874, [0xa1], 'ก'],
    [932, [0x83, 0x5c], 'ソ'],
    [936, [0xd6, 0xd0], '中'],
    [949, [0xb0, 0xa1], '가'],
    [950, [0xa4, 0xa4], '中'],
    [1250, [0xa3], 'Ł'],
    [1251, [0xc6], 'Ж'],
    [1252, [0x80], '€'],
    [1253, [0xc1], 'Α'],
    [1254, [0xd0], 'Ğ'],
    [1255, [0xf9], 'ש'],
    [1256, [0xc7], 'ا'],
    [1257, [0xc0], 'Ą'],
    [1258, [0xd5], 'Ơ'],
    [65001, [0xe1, 0x83, 0x9f, 0xf0, 0x9f, 0x98, 0x80], 'ჟ😀'],
    [437, [0x80], '€'],
  ]
    .filter(([cp, bytes, text]) => new TextDecoder(decoderlabel(cp)).decode(new Uint8Array(bytes)) !== text)
    .map(([cp]) => cp)
);
same('each code page decoded as Windows decodes it', decoded, []);

// Every golden case in both modes: the output, the exit status, the table
// and the notes (standard error), each note placed in the file at the line
// the native build names.
const golden = readdirSync(opt.cases).filter((f) => f.endsWith('.reg')).map((f) => f.slice(0, -4)).sort();
const goldenbad = [];
for (const m of ['debug', 'quiet']) {
  await page.click(`input[name=mode][value=${m}]`);
  for (const name of golden) {
    await clear();
    const r = await act(() => choose(casefile(name, 'reg')));
    const st = statuses(name)[m === 'debug' ? 0 : 1];
    const cp = Number(/code page ([0-9]+)/.exec(r.codepage)?.[1] ?? 1252);
    const err = nativeerr(casefile(name, 'reg'), m === 'debug' ? [] : ['-q']);
    const wantnotes = err.split('\n').filter(Boolean).map((l) => {
      const at = /^comserial: line ([0-9]+): (.*)$/.exec(l);
      return at ? {line: Number(at[1]), where: `${name}.reg, line ${at[1]}`, text: at[2]} : {line: 0, where: '', text: l.replace(/^comserial: /, '')};
    });
    const problems = [];
    if (r.output !== (await decode(expected(name, m), cp))) problems.push('output');
    if (r.status !== st) problems.push(`status ${r.status}, not ${st}`);
    if (JSON.stringify(r.notes) !== JSON.stringify(wantnotes)) problems.push(`notes ${JSON.stringify(r.notes).slice(0, 300)}, not ${JSON.stringify(wantnotes).slice(0, 300)}`);
    if (st !== 2) {
      const rows = mappings(expected(name, 'quiet'), statuses(name)[1]);
      const table = await Promise.all(rows.map(async ([p, s]) => [await decode(Buffer.from(p, 'latin1'), cp), await decode(Buffer.from(s, 'latin1'), cp)]));
      if (JSON.stringify(r.adapters) !== JSON.stringify(table)) problems.push(`table ${JSON.stringify(r.adapters)}`);
      if (r.table !== rows.length > 0 || r.none !== (rows.length === 0)) problems.push('table or "No adapters found" shown wrongly');
    }
    if ((st === 1) !== (r.explain !== null)) problems.push('explanation shown wrongly');
    if (st === 1 && r.failure && !r.explain.includes(r.failure.length > 400 ? r.failure.slice(0, 300) : r.failure)) problems.push('the failure line not in the explanation');
    if ((st === 2) !== (r.noexport !== null) || (st === 2) === r.adapterpart) problems.push('no-export result shown wrongly');
    if (problems.length) goldenbad.push(`${name} ${m}: ${problems.join('; ')}`);
  }
}
check(`golden cases (${golden.length}), both modes: output, status, table, notes`, goldenbad.length === 0, goldenbad.join('\n     '));
await page.click('input[name=mode][value=debug]');
await clear();

// Two exports in both orders. A NUL ends the whole input, and so does a
// deletion under an unknown root: whichever comes first is all that is
// read, so each order prints its first export's expected output.
const nul = 'nul-ends-input', unknownroot = 'deletion-unknown-root';
let r = await act(() => choose(casefile(nul, 'reg'), casefile(unknownroot, 'reg')));
same('two exports: listed in the order chosen', r.files, [`${nul}.reg`, `${unknownroot}.reg`]);
same('two exports: the first one\'s output', r.output, await decode(expected(nul, 'debug')));
same('two exports: its exit status', r.status, statuses(nul)[0]);
same('two exports: its adapter in the table', r.adapters, mappings(expected(nul, 'quiet'), 0));
same('two exports: no failure line marked', r.failure, null);
same('two exports: the note names the first file and its own line', r.notes.map((n) => n.where),
     [`${nul}.reg, line 14`]);
await axe('several files');

// From the keyboard: Enter on the first file's Move down.
r = await act(async () => {
  await page.focus('#chosen li:first-child .down');
  await page.keyboard.press('Enter');
});
same('reordered: listed in the new order', r.files, [`${unknownroot}.reg`, `${nul}.reg`]);
same('reordered: the focus stays with the moved file', await page.evaluate(() =>
  document.activeElement.closest('li')?.querySelector('.name').textContent), `${nul}.reg`);
same('reordered: the page says so', r.said, `Moved ${nul}.reg down.`);
same('reordered: the other one\'s output', r.output, await decode(expected(unknownroot, 'debug')));
same('reordered: its exit status', r.status, statuses(unknownroot)[0]);
same('reordered: the failure line marked', r.failure,
     (await decode(expected(unknownroot, 'debug'))).trimEnd().split('\n').pop());
same('reordered: no adapters, and it says so', [r.adapters, r.none], [[], true]);
check('reordered: the failure explained, the cut-short reading too', r.explain?.includes('list of the devices it enumerated') &&
      r.explain.includes('ERROR_FILE_NOT_FOUND') && r.explain.includes('not read to its end'), r.explain);

r = await mode('quiet');
same('quiet mode: the quiet output', r.output, await decode(expected(unknownroot, 'quiet')));
same('quiet mode: exit status', r.status, statuses(unknownroot)[1]);
const got = await download(`comserial-${unknownroot}+${nul}.txt`);
check('quiet mode: the download is the output\'s bytes', got !== null && got.equals(expected(unknownroot, 'quiet')));

// A failure said in words: the step, the key or serial, the result code,
// and that the table may miss adapters. Quiet mode names the adapter too,
// from a debug run of the same files.
const explained = [
  // case, mode, words the explanation holds
  ['friendlyname-missing', 'quiet', ['FriendlyName', 'serial number FT000002', 'VID_0403+PID_6001+FT000002A\\0000', 'ERROR_FILE_NOT_FOUND',
                                    'not listed', 'one adapter found before it', 'COM8 is not in the table']],
  ['friendlyname-missing', 'debug', ['serial number FT000002', 'COM8 is not in the table']],
  ['instance-missing', 'quiet', ['device instance key of the adapter with serial number GONE1234', 'ERROR_FILE_NOT_FOUND', 'not listed']],
  ['map-missing', 'debug', ['serial-port map, HARDWARE\\DEVICEMAP\\SERIALCOMM', 'ERROR_FILE_NOT_FOUND', 'no adapters are listed']],
  ['bus-missing', 'quiet', ['device tree, SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS', 'no adapters are listed', 'one FTDI port, COM7']],
  ['list-missing', 'debug', ['list of the devices it enumerated', 'none is listed']],
  ['codepage-unopenable', 'quiet', ['device key in the FTDI device tree', 'VID_0403+PID_6001+A?1A']],
  ['serial-too-long', 'debug', ['ERROR_FILENAME_EXCED_RANGE', '8192-byte buffer', '(8135 characters)']],
  // The collector's comment on the key, in the file: it could not read it.
  ['instance-denied', 'quiet', ['serial number GONE1234', 'could not read it on the machine',
                                'Access is denied. (error 5)', 'would most likely fail here with that error']],
];
const denied = join(outdir, 'instance-denied.reg');
writeFileSync(denied, Buffer.concat([readFileSync(casefile('instance-missing', 'reg')), Buffer.from(
  '\r\n; cannot read HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+GONE1234A\\0000: ' +
  'Access is denied. (error 5)\r\n')]));
for (const [name, m, words] of explained) {
  await clear();
  await page.click(`input[name=mode][value=${m}]`);
  r = await act(() => choose(name === 'instance-denied' ? denied : casefile(name, 'reg')));
  const missing = words.filter((w) => !r.explain?.includes(w));
  same(`${name}, ${m}: the failure explained`, missing, []);
  check(`${name}, ${m}: the state says it stopped early`, r.state.includes('stopped early'), r.state);
  if (name === 'friendlyname-missing' && m === 'quiet') {
    await axe('exit status 1');
    await screenshot('comserial-failure.png', 860);
  }
}
await page.click('input[name=mode][value=debug]');

// Long lines wrap, and nothing needs sideways scrolling: a failure line of
// some 8,000 characters, at 360 px and at 200% zoom (550 CSS px of a
// 1100-pixel window), and a file with many notes.
for (const name of ['serial-too-long', 'bad-lines']) {
  await clear();
  r = await act(() => choose(casefile(name, 'reg')));
  for (const [label, width, scale] of [['360 px', 360, 1], ['200% zoom', 550, 2]]) {
    await page.setViewport({width, height: 800, deviceScaleFactor: scale});
    await sleep(100);
    same(`${name} at ${label}: no sideways scrolling, nothing cut off`, await fits(), {page: true, wide: []});
    if (name === 'serial-too-long' && width === 360) await axe('exit status 1, 360 px');
  }
  await screenshot(`comserial-${name}-360.png`, 360);
}

// A file that is no export: the result names it and says why; no adapter
// count, nothing to copy or download. The next choice replaces it.
await clear();
const notreg = join(outdir, 'notes.txt');
writeFileSync(notreg, 'These are my notes, not a registry export.\n');
r = await act(() => choose(notreg));
const notregerr = nativeerr(notreg);
same('no export: exit status 2', r.status, 2);
same('no export: nothing on standard output, no adapters', [r.output, r.adapters], ['', []]);
check('no export: the result names the file, its first line and the header expected',
      r.noexport?.includes('notes.txt is no registry export') && r.noexport.includes('These are my notes, not a registry export.') &&
      r.noexport.includes('Windows Registry Editor Version 5.00'), r.noexport);
same('no export: the tool\'s own line in the result and in the notes, as the native build gives it',
     [r.noexport?.includes(notregerr.trim()), r.notes.map((n) => `comserial: line ${n.line}: ${n.text}\n`).join('')], [true, notregerr]);
same('no export: no adapter count, no table, no copy or download', [/adapter/.test(r.state), r.adapterpart, r.outbuttons, r.nooutput],
     [false, false, false, true]);
same('no export: the next choice replaces it, and the page says so', [r.choose, await page.evaluate(() => document.getElementById('nextchoice').textContent)],
     ['Choose another file…', 'A file chosen or dropped now replaces notes.txt, which holds no registry export.']);
check('no export: no "No file chosen" anywhere', !(await page.evaluate(() => document.body.innerText)).includes('No file chosen'));
await axe('exit status 2');
await screenshot('comserial-noexport.png', 900);

r = await act(() => choose(casefile('two-adapters', 'reg')));
same('the right file chosen: it replaced the wrong one', [r.files, r.status, r.said],
     [['two-adapters.reg'], 0, 'Replaced notes.txt with two-adapters.reg.']);
same('the right file: its table', r.adapters, mappings(expected('two-adapters', 'quiet'), 0));
await axe('a result');

// A later choice adds, and says so; each note names its file and line.
r = await act(() => choose(casefile('bad-lines', 'reg')));
same('another file chosen: added after it', [r.files, r.said, r.choose],
     [['two-adapters.reg', 'bad-lines.reg'], 'Added bad-lines.reg after two-adapters.reg.', 'Add files…']);
const badlines = nativeerr(casefile('bad-lines', 'reg')).split('\n').filter(Boolean)
  .map((l) => l.replace(/^comserial: line ([0-9]+): .*$/, 'bad-lines.reg, line $1'));
same('another file chosen: each note names bad-lines.reg and its own line', r.notes.map((n) => n.where), badlines);
// A text file after UTF-16 exports is read as UTF-16 too: its one line (and
// its odd last byte) are line 1 of it, not the joined files' line 107.
r = await act(() => choose(notreg));
same('a text file after them: its notes name it, line 1', r.notes.slice(-2).map((n) => [n.line > 100, n.where]),
     [[true, 'notes.txt, line 1'], [true, 'notes.txt, line 1']]);
await page.click('#clear');
await page.waitForFunction(() => document.body.dataset.state === 'idle');
same('Clear: the list emptied, no result, and the page says so', await page.evaluate(() => [
  document.querySelectorAll('#chosen li').length, document.getElementById('result').hidden, document.getElementById('listsay').textContent,
  document.getElementById('choose').textContent]), [0, true, 'Cleared the list.', 'Choose files…']);

// An empty file: said to be empty, not "line 1: expected ...".
const emptyfile = join(outdir, 'empty.reg');
writeFileSync(emptyfile, '');
r = await act(() => choose(emptyfile));
check('an empty file: said to be empty', r.noexport?.startsWith('empty.reg is empty') && r.state.includes('nothing to read'),
      `${r.noexport} / ${r.state}`);
await clear();

// The two-adapter case dropped on the page rather than chosen.
const two = 'two-adapters';
const twobytes = [...readFileSync(casefile(two, 'reg'))];
r = await act(() =>
  page.evaluate((bytes, name) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], name));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
  }, twobytes, `${two}.reg`)
);
same('two adapters, dropped: the table', r.adapters, mappings(expected(two, 'quiet'), 0));
r = await mode('quiet');
await screenshot('comserial-page.png', 860);
// At 200% zoom nothing needs scrolling sideways.
await page.setViewport({width: 550, height: 900, deviceScaleFactor: 2});
same('two adapters at 200% zoom: no sideways scrolling', await fits(), {page: true, wide: []});
await page.setViewport({width: 1100, height: 900});

// In dark mode the page is dark. puppeteer emulates it in Chromium only;
// Firefox is started again with its content set to dark.
const darkbg = 'rgb(22, 24, 28)';
if (!firefox) {
  await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'dark'}]);
  same('dark mode: a dark background', await page.evaluate(() => getComputedStyle(document.body).backgroundColor), darkbg);
  await axe('dark mode, a result');
  await clear();
  await page.click('input[name=mode][value=debug]');
  await act(() => choose(casefile('friendlyname-missing', 'reg')));
  await axe('dark mode, exit status 1');
  await screenshot('comserial-page-dark.png', 900);
  await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'light'}]);
} else {
  note('dark mode: puppeteer cannot emulate it in Firefox; checked in a second Firefox whose content is set dark, after these');
}
await clear();
await page.click('input[name=mode][value=debug]');

// A real-size export, 60 adapters: shown within half a second of being chosen.
const sixty = join(outdir, 'adapters-60.reg');
writeFileSync(sixty, execFileSync(opt.genexport, ['60']));
const t0 = Date.now();
r = await act(() => choose(sixty));
const wall = Date.now() - t0;
note(`60 adapters (${readFileSync(sixty).length} bytes): shown ${r.ms} ms after being chosen (${wall} ms seen from the test)`);
check('60 adapters: shown within 500 ms of being chosen', r.ms < 500, `${r.ms} ms`);
same('60 adapters: 60 rows', r.adapters.length, 60);
await axe('60 adapters');

// A long output is all on the page: find in page reaches its end, and End
// in the output scrolls to its last line.
await clear();
const long = join(outdir, 'adapters-400.reg');
writeFileSync(long, execFileSync(opt.genexport, ['400'], {maxBuffer: 1 << 28}));
r = await act(() => choose(long));
const whole = execFileSync(process.execPath, [opt.runner], {input: readFileSync(long), maxBuffer: 1 << 28});
same('long output: all of it on the page at once', r.output, await decode(whole));
const lastline = r.output.trimEnd().split('\n').pop();
same('long output: find in page finds its last line', await page.evaluate((text) => {
  getSelection().removeAllRanges();
  return window.find(text) && document.getElementById('output').contains(getSelection().anchorNode);
}, lastline), true);
await page.evaluate(() => {
  getSelection().removeAllRanges();
  document.getElementById('output').scrollTop = 0;
});
await page.focus('#output');
await page.keyboard.press('End');
await sleep(300);
same('long output: End shows its last line', await page.evaluate(() => {
  const out = document.getElementById('output');
  return [out.lastElementChild.getBoundingClientRect().bottom - out.getBoundingClientRect().bottom < 40, out.scrollTop > 0];
}), [true, true]);

same('no error in the page', pageerrors, []);

// Nothing left the page: a connection attempt is refused by the page's
// policy, and no request for anything but the page's own file, data: and
// blob: went out.
const blocked = await page.evaluate(async () => {
  const violations = [];
  document.addEventListener('securitypolicyviolation', (e) => violations.push(e.violatedDirective));
  try {
    await fetch('http://127.0.0.1:9/');
    return 'fetched';
  } catch {
    await sleep(100);
    return violations.join(',');
  }
  function sleep(ms) {
    return new Promise((res) => setTimeout(res, ms));
  }
});
same('a connection attempt is refused by the policy', blocked, 'connect-src');
if (firefox) {
  // The proxy sees what a page asks for: one made to ask.
  const probe = await browser.newPage();
  await probe.goto('http://comserial-proxy-check.test/').catch(() => {});
  await probe.close();
  check('the proxy sees a page\'s request', proxied.some((l) => l.includes('comserial-proxy-check.test')), proxied.join('; '));
}
await browser.close();

if (firefox) {
  // Dark mode, in a Firefox whose content prefers it.
  rmSync(profile, {recursive: true, force: true});
  mkdirSync(profile);
  const dark = await launch({'layout.css.prefers-color-scheme.content-override': 0});
  page = await dark.newPage();
  page.on('pageerror', (e) => pageerrors.push(e.message));
  await page.setViewport({width: 1100, height: 900});
  await page.goto(pageurl);
  pageerrors.length = 0;
  r = await act(() => choose(casefile('friendlyname-missing', 'reg')));
  same('dark mode (Firefox set dark): a dark background', await page.evaluate(() => getComputedStyle(document.body).backgroundColor), darkbg);
  await axe('dark mode, exit status 1');
  await clear();
  await act(() => choose(casefile('two-adapters', 'reg')));
  await axe('dark mode, a result');
  await screenshot('comserial-page-dark.png', 900);
  same('no error in the page', pageerrors, []);
  await dark.close();
  // puppeteer reports no requests in Firefox: every connection went to the
  // proxy instead. Firefox's own (its remote settings, and what puppeteer
  // points at dummy.test) are made for no page; nothing else may come.
  note('requests: puppeteer reports none in Firefox; every connection of the browser went through a proxy of this test instead');
  const own = (l) => /^(CONNECT |GET http:\/\/)([a-z0-9.-]+\.(mozilla\.(com|net|org))|dummy\.test)[:/ ]/.test(l);
  note(`proxy: ${proxied.filter(own).length} connections of Firefox's own, made for no page (${[...new Set(proxied.filter(own).map((l) => l.split(' ')[1]))].join(', ')})`);
  same('no other connection left the browser', proxied.filter((l) => !own(l) && !l.includes('comserial-proxy-check.test')), []);
} else {
  const foreign = requests.filter((u) => !/^(file|data|blob):/.test(u));
  same('the page requested nothing but its own file', foreign, []);
  // The log also holds the browser's own background requests (its clock,
  // its updater), made for no page; those for a page or worker carry its
  // origin (a page from file:// is "null").
  const log = JSON.parse(readFileSync(netlog, 'utf8'));
  const startjob = log.constants.logEventTypes.URL_REQUEST_START_JOB;
  const urls = log.events
    .filter((e) => e.type === startjob && e.params?.url && e.params.initiator !== 'not an origin')
    .map((e) => e.params.url)
    .filter((u) => !/^(file|data|blob):/.test(u));
  const background = log.events.filter((e) => e.type === startjob && e.params?.initiator === 'not an origin').length;
  note(`network log: ${background} requests of the browser's own, made for no page`);
  same('the network log holds no outside request', [...new Set(urls)], []);
}
proxy?.close();
rmSync(profile, {recursive: true, force: true});

const size = readFileSync(opt.page).length;
note(`page: ${size} bytes`);
check('the page is one file under 1 MB', size < 1000000, `${size} bytes`);
console.log(`axe-core ${axeversion}, all rules:\n     ${axestates.join('\n     ')}`);
console.log(`screenshots: ${readdirSync(outdir).filter((f) => f.endsWith('.png')).map((f) => join(outdir, f)).join(', ')}`);
console.log(`downloads: ${readdirSync(downloads).join(', ') || 'none'}`);
console.log(`${basename(executable)}: ${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
