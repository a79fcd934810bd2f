// The page in a real browser: headless Chromium opens comserial.html from
// file://, and each step below is checked against the golden cases'
// expected outputs (or, for what only this build prints, standard error of
// a file that is no export, against the node runner's).
//
//   node browser.mjs --page comserial.html --cases DIR --runner comserial.js --genexport GEN --out DIR
//                    [--chromium PATH] [--large N]
//
// --large N times an export of N adapters instead of running the checks.
import {execFileSync} from 'node:child_process';
import {existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';
import {parseArgs} from 'node:util';

import puppeteer from 'puppeteer-core';

const {values: opt} = parseArgs({
  options: {
    page: {type: 'string'},
    cases: {type: 'string'},
    runner: {type: 'string'},
    genexport: {type: 'string'},
    out: {type: 'string'},
    chromium: {type: 'string', default: '/usr/bin/chromium'},
    large: {type: 'string'},
  },
});
for (const k of ['page', 'cases', 'runner', 'genexport', 'out']) {
  if (!opt[k]) throw new Error(`--${k} is required`);
}
const outdir = resolve(opt.out);
rmSync(outdir, {recursive: true, force: true});
const downloads = join(outdir, 'downloads');
mkdirSync(downloads, {recursive: true});
const profile = mkdtempSync(join(tmpdir(), 'comserial-chromium-'));
const netlog = join(outdir, 'netlog.json');

let failures = 0;
let passes = 0;
function check(name, ok, detail = '') {
  if (ok) passes++;
  else failures++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || !detail ? '' : `\n     ${detail}`}`);
}
function same(name, got, want) {
  const g = JSON.stringify(got), w = JSON.stringify(want);
  check(name, g === w, `got ${g.slice(0, 400)}\n     want ${w.slice(0, 400)}`);
}

const casefile = (name, ext) => join(opt.cases, `${name}.${ext}`);
const expected = (name, mode) => readFileSync(casefile(name, `${mode}.out`));
const statuses = (name) => readFileSync(casefile(name, 'exit'), 'utf8').trim().split(/\s+/).map(Number);
// Decoded as the browser decodes code page 1252 (node's decoder reads it as
// Latin-1).
const text1252 = (bytes) => page.evaluate((b) => new TextDecoder('windows-1252').decode(new Uint8Array(b)), [...bytes]);
// The adapters of a quiet run's expected output: its lines after the last
// header, as COM port and serial.
function mappings(quiet) {
  const lines = quiet.toString('latin1').split('\n');
  const at = lines.indexOf('>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum');
  return lines
    .slice(at + 1)
    .filter((l) => l.startsWith('COM'))
    .map((l) => [l.slice(0, l.indexOf('=')), l.slice(l.indexOf('=') + 1)]);
}

const browser = await puppeteer.launch({
  executablePath: opt.chromium,
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
const page = await browser.newPage();
await page.setViewport({width: 1100, height: 900});
const requests = [];
page.on('request', (r) => requests.push(r.url()));
const cdp = await page.createCDPSession();
await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
const pageurl = pathToFileURL(resolve(opt.page)).href;
await page.goto(pageurl);

async function choose(...files) {
  const input = await page.$('#files');
  await input.uploadFile(...files);
}
// Waits for the run started by the last action, and tells what the page shows.
async function result() {
  await page.waitForFunction(() => document.body.dataset.state === 'done', {timeout: 60000});
  return page.evaluate(() => ({
    files: [...document.querySelectorAll('#chosen .name')].map((e) => e.textContent),
    status: Number(document.getElementById('status').textContent),
    output: document.getElementById('output').textContent,
    failure: document.getElementById('failure')?.textContent ?? null,
    errors: document.getElementById('errors').textContent,
    adapters: [...document.querySelectorAll('#adapters .rows [role=row]')].map((row) =>
      [...row.querySelectorAll('[role=cell]')].map((c) => c.textContent)
    ),
    none: !document.getElementById('none').hidden,
    codepage: document.getElementById('codepage').textContent,
    ms: Number(document.body.dataset.ms),
    runms: Number(document.body.dataset.runms),
  }));
}
async function act(fn) {
  await page.evaluate(() => {
    document.body.dataset.state = 'waiting';
  });
  await fn();
  return result();
}
async function clear() {
  while (await page.$('#chosen .remove')) await page.click('#chosen .remove');
}
async function download(name) {
  const path = join(downloads, name);
  rmSync(path, {force: true});
  await page.click('#download');
  for (let i = 0; i < 100 && !existsSync(path); i++) await new Promise((r) => setTimeout(r, 100));
  return existsSync(path) ? readFileSync(path) : null;
}
// The whole page: a viewport as tall as it, so that the output's blocks
// (laid out once on screen) are drawn.
async function screenshot(name, width) {
  const height = await page.evaluate(() => document.documentElement.scrollHeight);
  await page.setViewport({width, height});
  await new Promise((res) => setTimeout(res, 200));
  await page.screenshot({path: join(outdir, name)});
}
async function mode(which) {
  return act(() => page.click(`input[name=mode][value=${which}]`));
}

if (opt.large) {
  // A large export: how long it takes, and that the page answers meanwhile.
  const n = Number(opt.large);
  const file = join(outdir, `adapters-${n}.reg`);
  writeFileSync(file, execFileSync(opt.genexport, [String(n)], {maxBuffer: 1 << 30}));
  for (const m of ['debug', 'quiet']) {
    await clear();
    await page.click(`input[name=mode][value=${m}]`);
    await page.evaluate(() => {
      window.gaps = [];
      let t = performance.now();
      window.ticker = setInterval(() => {
        const now = performance.now();
        window.gaps.push(now - t);
        t = now;
      }, 50);
    });
    const r = await act(() => choose(file));
    // Pauses just after it is shown count too.
    await new Promise((res) => setTimeout(res, 2000));
    const gap = await page.evaluate(() => {
      clearInterval(window.ticker);
      return Math.max(...window.gaps);
    });
    console.log(`${n} adapters, ${m}: shown in ${r.ms} ms (the run itself ${r.runms} ms), exit ${r.status}, ${r.adapters.length} adapters in the table, ` +
                `longest pause of the page ${Math.round(gap)} ms`);
  }
  await browser.close();
  process.exit(0);
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
    [437, [0x80], '€'],
  ]
    .filter(([cp, bytes, text]) => new TextDecoder(decoderlabel(cp)).decode(new Uint8Array(bytes)) !== text)
    .map(([cp]) => cp)
);
same('each code page decoded as Windows decodes it', decoded, []);

// Two exports in both orders. A NUL ends the whole input, and so does a
// deletion under an unknown root: whichever comes first is all that is
// read, so each order prints its first export's expected output.
const nul = 'nul-ends-input', unknownroot = 'deletion-unknown-root';
let r = await act(() => choose(casefile(nul, 'reg'), casefile(unknownroot, 'reg')));
same('two exports: listed in the order chosen', r.files, [`${nul}.reg`, `${unknownroot}.reg`]);
same('two exports: the first one\'s output', r.output, await text1252(expected(nul, 'debug')));
same('two exports: its exit status', r.status, statuses(nul)[0]);
same('two exports: its adapter in the table', r.adapters, mappings(expected(nul, 'quiet')));
same('two exports: no failure line marked', r.failure, null);

// From the keyboard: Enter on the first file's Move down.
r = await act(async () => {
  await page.focus('#chosen li:first-child .down');
  await page.keyboard.press('Enter');
});
same('reordered: listed in the new order', r.files, [`${unknownroot}.reg`, `${nul}.reg`]);
same('reordered: the focus stays with the moved file', await page.evaluate(() =>
  document.activeElement.closest('li')?.querySelector('.name').textContent), `${nul}.reg`);
same('reordered: the other one\'s output', r.output, await text1252(expected(unknownroot, 'debug')));
same('reordered: its exit status', r.status, statuses(unknownroot)[0]);
same('reordered: the failure line marked', r.failure,
     (await text1252(expected(unknownroot, 'debug'))).trimEnd().split('\n').pop());
same('reordered: no adapters, and it says so', [r.adapters, r.none], [[], true]);

r = await mode('quiet');
same('quiet mode: the quiet output', r.output, await text1252(expected(unknownroot, 'quiet')));
same('quiet mode: exit status', r.status, statuses(unknownroot)[1]);
const got = await download(`comserial-${unknownroot}+${nul}.txt`);
check('quiet mode: the download is the output\'s bytes', got !== null && got.equals(expected(unknownroot, 'quiet')));

// Text in the export's code page: shown decoded, downloaded as the bytes.
await clear();
const cp = 'codepage-1252';
r = await act(() => choose(casefile(cp, 'reg')));
same('code page 1252: shown decoded', r.output, await text1252(expected(cp, 'quiet')));
same('code page 1252: the adapters', r.adapters, mappings(expected(cp, 'quiet')));
const cpbytes = await download(`comserial-${cp}.txt`);
check('code page 1252: the download is the bytes printed', cpbytes !== null && cpbytes.equals(expected(cp, 'quiet')));

// The export's own code page (ACP 1251): the page decodes with it.
await clear();
const cyr = 'codepage-1251';
r = await act(() => choose(casefile(cyr, 'reg')));
const want1251 = await page.evaluate((b) => new TextDecoder('windows-1251').decode(new Uint8Array(b)),
                                     [...expected(cyr, 'quiet')]);
same('code page 1251: shown decoded with it', [r.output, r.codepage], [want1251, 'Text shown in code page 1251.']);

// A file that is no export: exit 2, nothing printed, the reason beside.
await clear();
const notreg = join(outdir, 'notes.txt');
writeFileSync(notreg, 'These are my notes, not a registry export.\n');
r = await act(() => choose(notreg));
const runner = (() => {
  try {
    execFileSync(process.execPath, [opt.runner], {input: readFileSync(notreg), stdio: ['pipe', 'pipe', 'pipe']});
    return null;
  } catch (e) {
    return {status: e.status, stderr: e.stderr.toString()};
  }
})();
same('no export: exit status 2', r.status, 2);
same('no export: nothing on standard output, no adapters', [r.output, r.adapters], ['', []]);
same('no export: the reason, as the runner gives it', [r.errors, r.status], [runner?.stderr, runner?.status]);

// The two-adapter case, quiet, for the screenshot; then debug against it.
await clear();
const two = 'two-adapters';
// Dropped on the page rather than chosen.
const twobytes = [...readFileSync(casefile(two, 'reg'))];
r = await act(() =>
  page.evaluate((bytes, name) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], name));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
  }, twobytes, `${two}.reg`)
);
same('two adapters, dropped: the table', r.adapters, mappings(expected(two, 'quiet')));
await screenshot('comserial-page.png', 860);
// At 200% zoom (half the width in CSS pixels) nothing needs scrolling
// sideways; in dark mode the page is dark.
await page.setViewport({width: 550, height: 900});
same('at 200% zoom: no sideways scrolling', await page.evaluate(() =>
  document.documentElement.scrollWidth <= document.documentElement.clientWidth), true);
await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'dark'}]);
const dark = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
await new Promise((res) => setTimeout(res, 200)); // the output's blocks are laid out a frame later
same('dark mode: a dark background', dark, 'rgb(22, 24, 28)');
await page.screenshot({path: join(outdir, 'comserial-page-dark-200.png'), fullPage: true});
await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'light'}]);
await page.setViewport({width: 1100, height: 900});
r = await mode('debug');
same('two adapters, debug: the output', r.output, await text1252(expected(two, 'debug')));
same('two adapters, debug: the table', r.adapters, mappings(expected(two, 'quiet')));

// A real-size export, 60 adapters: shown within half a second of being chosen.
await clear();
const sixty = join(outdir, 'adapters-60.reg');
writeFileSync(sixty, execFileSync(opt.genexport, ['60']));
const t0 = Date.now();
r = await act(() => choose(sixty));
const wall = Date.now() - t0;
console.log(`     60 adapters (${readFileSync(sixty).length} bytes): shown ${r.ms} ms after being chosen (${wall} ms seen from the test)`);
check('60 adapters: shown within 500 ms of being chosen', r.ms < 500, `${r.ms} ms`);
same('60 adapters: 60 rows', r.adapters.length, 60);

// A long output is put on the page as it is scrolled to: all of it, by the
// end, as the runner prints it.
await clear();
const long = join(outdir, 'adapters-400.reg');
writeFileSync(long, execFileSync(opt.genexport, ['400'], {maxBuffer: 1 << 28}));
r = await act(() => choose(long));
const whole = execFileSync(process.execPath, [opt.runner], {input: readFileSync(long), maxBuffer: 1 << 28});
const partial = r.output.length;
const scrolled = await page.evaluate(async () => {
  const out = document.getElementById('output');
  for (let i = 0; i < 200 && out.lastElementChild.className !== 'block'; i++) {
    out.scrollTop = out.scrollHeight;
    await new Promise((res) => setTimeout(res, 50));
  }
  return out.textContent;
});
check('long output: shown in part at first', partial < scrolled.length, `${partial} of ${scrolled.length} characters`);
same('long output: all of it once scrolled to its end', scrolled, await text1252(whole));

// Nothing left the page: the page's own requests are file:, data: or blob:,
// a connection attempt is refused by the page's policy, and the browser's
// network log holds no request for another scheme.
const blocked = await page.evaluate(async () => {
  const violations = [];
  document.addEventListener('securitypolicyviolation', (e) => violations.push(e.violatedDirective));
  try {
    await fetch('http://127.0.0.1:9/');
    return 'fetched';
  } catch {
    await new Promise((r) => setTimeout(r, 100));
    return violations.join(',');
  }
});
same('a connection attempt is refused by the policy', blocked, 'connect-src');
const foreign = requests.filter((u) => !/^(file|data|blob):/.test(u));
same('the page requested nothing but its own file', foreign, []);
await browser.close();
rmSync(profile, {recursive: true, force: true});
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
console.log(`     network log: ${background} requests of the browser's own, made for no page`);
same('the network log holds no outside request', [...new Set(urls)], []);

console.log(`screenshot: ${join(outdir, 'comserial-page.png')}; downloads: ${readdirSync(downloads).join(', ')}`);
console.log(`${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
