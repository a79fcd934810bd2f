// What the page reads out of a run's output (web/parse.js), case by case.
// The outputs are the golden cases' expected ones where one shows the
// behaviour; the rest are the lines the tool prints, cut to what matters.
import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import {join} from 'node:path';
import {test} from 'node:test';

const require = createRequire(import.meta.url);
const here = new URL('.', import.meta.url).pathname;
const parse = require(join(here, '../../web/parse.js'));
const cases = join(here, '../cases');
const golden = (name, mode) => readFileSync(join(cases, `${name}.${mode}.out`), 'latin1');
const status = (name, mode) => Number(readFileSync(join(cases, `${name}.exit`), 'utf8').trim().split(/\s+/)[mode === 'debug' ? 0 : 1]);

const head = '\n>> HARDWARE\\DEVICEMAP\\SERIALCOMM\n\n>> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\n\n' +
  '>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\n';
const inst = (serial) => `SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+${serial}A\\0000=${serial}\n`;

test('adapters from the port mapping lines', async (t) => {
  const rows = [
    // name, output, debug, status, adapters
    ['golden quiet, two adapters', golden('two-adapters', 'quiet'), false, 0, [['COM7', 'A600ARJH'], ['COM12', 'FT4XQ2B1']]],
    ['golden debug, two adapters among dumps and pairs', golden('two-adapters', 'debug'), true, 0,
     [['COM7', 'A600ARJH'], ['COM12', 'FT4XQ2B1']]],
    ['golden debug, the mapping before a failed instance kept', golden('instance-missing', 'debug'), true,
     status('instance-missing', 'debug'), [['COM7', 'A600ARJH']]],
    ['golden quiet, the same', golden('instance-missing', 'quiet'), false, status('instance-missing', 'quiet'),
     [['COM7', 'A600ARJH']]],
    ['no adapters', golden('no-adapters', 'quiet'), false, 0, []],
    ['the last section failing to open', golden('list-missing', 'quiet'), false, 1, []],
    ['a failure line is no mapping, quiet', head + 'COM3=AB\nregopenkeyexa 3 namebuf=(X=Y) ret=2\n', false, 1, [['COM3', 'AB']]],
    ['a pair line before a failure gives none, debug', head + inst('AB') + 'regqueryvalueexa 4 namebuf=(FriendlyName) ret=2\n',
     true, 1, []],
    ['a serial holding "=", debug', head + inst('A=B') + 'COM4=A=B\n', true, 0, [['COM4', 'A=B']]],
    ['no COM in the FriendlyName: an empty port, debug', head + inst('AB') + '=AB\n', true, 0, [['', 'AB']]],
    ['a dump line that looks like a mapping, debug', head + 'namebuf=(COM1) namesize=4 valuebuf=(x=y) valuesize=4 ret=0\n',
     true, 0, []],
    ['lines before the last section are not read', '\n>> HARDWARE\\DEVICEMAP\\SERIALCOMM\n\\Device\\VCP0=COM7\n', false, 0, []],
  ];
  for (const [name, out, debug, st, want] of rows) {
    await t.test(name, () => {
      const got = parse.adapters(parse.outputlines(out), debug, st).map((a) => [a.port, a.serial]);
      assert.deepEqual(got, want);
    });
  }
});

test('the failure line', async (t) => {
  const rows = [
    ['exit 1: the last line', golden('friendlyname-missing', 'quiet'), 1, 'regqueryvalueexa 4 namebuf=(FriendlyName) ret=2'],
    ['exit 1: a golden failure of the first scan', golden('map-missing', 'debug'), 1,
     'regopenkeyexa 1 namebuf=(HARDWARE\\DEVICEMAP\\SERIALCOMM) ret=2'],
    ['exit 0: none, though a line looks like one', head + 'regopenkeyexa 3 namebuf=(x) ret=2\n', 0, null],
    ['exit 1 but the last line is no failure line', head + 'COM3=AB\n', 1, null],
    ['exit 2: nothing printed', '', 2, null],
  ];
  for (const [name, out, st, want] of rows) {
    await t.test(name, () => {
      const lines = parse.outputlines(out);
      const at = parse.failureindex(lines, st);
      assert.equal(at < 0 ? null : lines[at], want);
    });
  }
});

test('the download name', async (t) => {
  const rows = [
    ['one export', ['comserial-LAB07.reg'], 'comserial-comserial-LAB07.txt'],
    ['the extension in any case', ['bench.REG'], 'comserial-bench.txt'],
    ['no .reg', ['export.txt'], 'comserial-export.txt.txt'],
    ['several, in order', ['a.reg', 'b.reg'], 'comserial-a+b.txt'],
    ['characters a file name cannot hold', ['a:b?.reg'], 'comserial-a_b_.txt'],
  ];
  for (const [name, names, want] of rows) {
    await t.test(name, () => assert.equal(parse.downloadname(names), want));
  }
});
