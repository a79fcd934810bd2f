// What the page reads out of a run's output (web/parse.js), case by case.
// The outputs are the golden cases' expected ones where one shows the
// behaviour; the rest are the lines the tool prints, cut to what matters.
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
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

// The native build, where the test is given it (COMSERIAL_NATIVE): its notes
// on joined files, and the lines it prints for exports made here.
const native = process.env.COMSERIAL_NATIVE;
const nativeskip = native ? false : 'COMSERIAL_NATIVE is not set: no native build to run';
function runnative(input, args = []) {
  const run = spawnSync(native, args, {input, maxBuffer: 1 << 26});
  return {status: run.status, out: run.stdout.toString('latin1'), err: run.stderr.toString('latin1')};
}
const utf16 = (text) => Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(text, 'utf16le')]);
const reg = (name) => readFileSync(join(cases, `${name}.reg`));

test('a failure explained', async (t) => {
  // A device key's instance subkey named with a character code page 1252
  // cannot hold: it enumerates as '?' and cannot be opened.
  const unopenable = utf16('Windows Registry Editor Version 5.00\r\n\r\n' +
    '[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"\\\\Device\\\\VCP0"="COM7"\r\n\r\n' +
    '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA\\\u0416000]\r\n"x"="y"\r\n');
  const made = native ? runnative(unopenable) : null;
  const rows = [
    // name, output, debug, {fields wanted}, words the sentences hold
    ['the map missing', golden('map-missing', 'quiet'), false,
     {step: 'map', key: 'HARDWARE\\DEVICEMAP\\SERIALCOMM', stage: 'map', mapped: null}, ['serial-port map', 'ERROR_FILE_NOT_FOUND', 'no adapters are listed']],
    ['the device tree missing, debug: the map\'s port named', golden('bus-missing', 'debug'), true,
     {step: 'tree', stage: 'tree', mapped: ['COM7']}, ['device tree, SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS', 'one FTDI port, COM7.']],
    ['the driver\'s list missing', golden('list-missing', 'quiet'), false,
     {step: 'list', stage: 'list', listed: []}, ['list of the devices it enumerated', 'none is listed']],
    ['a device key that cannot be opened', golden('codepage-unopenable', 'quiet'), false,
     {step: 'device', serial: 'A?1A', stage: 'tree'}, ['device key in the FTDI device tree', 'VID_0403+PID_6001+A?1A']],
    ['a device instance key missing, after one adapter', golden('instance-missing', 'quiet'), false,
     {step: 'instance', serial: 'GONE1234', stage: 'list', listed: ['COM7']}, ['serial number GONE1234', 'one adapter found before it']],
    ['a FriendlyName missing, quiet: which adapter is not known', golden('friendlyname-missing', 'quiet'), false,
     {step: 'friendlyname', serial: '', key: '', listed: ['COM7'], mapped: null}, ['the next adapter in the driver\u2019s list']],
    ['a FriendlyName missing, debug: the adapter, and the map\'s port not in the table', golden('friendlyname-missing', 'debug'), true,
     {step: 'friendlyname', serial: 'FT000002', key: 'SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT000002A\\0000',
      listed: ['COM7'], mapped: ['COM7', 'COM8']}, ['serial number FT000002', 'COM8 is not in the table']],
    ['a serial too long for the buffer', golden('serial-too-long', 'quiet'), false,
     {step: 'instance', stage: 'list'}, ['ERROR_FILENAME_EXCED_RANGE', '8192-byte buffer', '(8135 characters)']],
    ['an instance subkey that cannot be opened, debug: its device key', made?.out ?? '', true,
     {step: 'subkeys', name: '?000', key: 'SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA', serial: 'A600ARJHA', stage: 'tree'},
     ['instance key ?000 of device key SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA', 'one FTDI port, COM7.']],
    ['an instance key opened again for its values, access denied', head.split('\n>> SYSTEM\\CurrentControlSet\\Services')[0] +
     'namebuf=(VID_0403+PID_6001+AB1A) namesize=22 ret=0\nSYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+AB1A=AB1A\n' +
     'namebuf=(0000) namesize=4 ret=0\nnamebuf=(Device Parameters) namesize=17 ret=0\nregopenkeyexa 5 namebuf=(Device Parameters) ret=5\n', true,
     {step: 'values', serial: 'AB1A', stage: 'tree'}, ['a second time, to read its values', 'ERROR_ACCESS_DENIED', 'access denied']],
    ['a FriendlyName too big for the buffer', head + inst('AB') + 'regqueryvalueexa 4 namebuf=(FriendlyName) ret=234\n', true,
     {step: 'friendlyname', serial: 'AB'}, ['ERROR_MORE_DATA', 'more data']],
    ['a result code not known here', head + 'regopenkeyexa 2 namebuf=(SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum) ret=1234\n', false,
     {step: 'list'}, ['ret=1234 is a Windows error code comserial does not expect here.']],
  ];
  // What the collector wrote about a key, in the file it wrote.
  const collected = '\r\n; not on this machine, left out: HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\r\n' +
    '; cannot read HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+GONE1234A\\0000: ' +
    'Access is denied. (error 5)\r\n';
  rows.push(
    ['the collector could not read the key', golden('instance-missing', 'quiet'), false, {step: 'instance'},
     ['could not read it on the machine: \u201ccannot read HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\' +
      'VID_0403+PID_6001+GONE1234A\\0000: Access is denied. (error 5)\u201d'], collected],
    ['the collector found the key missing', golden('list-missing', 'quiet'), false, {step: 'list'},
     ['says so too: \u201cnot on this machine, left out:'], collected],
    ['the collector said nothing of this key', golden('bus-missing', 'quiet'), false, {step: 'tree', collector: null}, [], collected],
  );
  for (const [name, out, debug, want, words, file] of rows) {
    await t.test(name, {skip: name.includes('subkey that') && nativeskip}, () => {
      const lines = parse.outputlines(out);
      const e = parse.explainfailure(lines, parse.failureindex(lines, 1), debug);
      if (file) e.collector = parse.collectornote(file, e.key);
      assert.ok(e, 'a failure line');
      for (const [k, v] of Object.entries(want)) assert.deepEqual(e[k], v, k);
      const said = Object.values(parse.failuretext(e)).join(' ');
      for (const w of words) assert.ok(said.includes(w), `"${w}" in: ${said}`);
    });
  }
});

test('result codes', async (t) => {
  const rows = [
    [2, 'ERROR_FILE_NOT_FOUND', 'not found'],
    [3, 'ERROR_PATH_NOT_FOUND', 'path not found'],
    [5, 'ERROR_ACCESS_DENIED', 'access denied'],
    [161, 'ERROR_BAD_PATHNAME', 'bad path name'],
    [206, 'ERROR_FILENAME_EXCED_RANGE', 'name too long'],
    [234, 'ERROR_MORE_DATA', 'more data'],
    [4711, '', ''],
  ];
  for (const [code, name, phrase] of rows) {
    await t.test(String(code), () => {
      const c = parse.resultcode(code);
      assert.deepEqual([c.code, c.name, c.phrase], [code, name, phrase]);
    });
  }
});

test('where a note\'s line is in the files joined', async (t) => {
  const b = (s) => Buffer.from(s, 'latin1');
  const u = (s) => Buffer.from(s, 'utf16le');
  const rows = [
    // name, files, the stream's line, {file, line} wanted
    ['one file, LF', [b('a\nb\nc\n')], 3, {file: 0, line: 3}],
    ['one file, CR LF, CR and LF mixed', [b('a\r\nb\rc\nd\n')], 4, {file: 0, line: 4}],
    ['the second file, the first ending with its line end', [b('a\nb\n'), b('c\nd\n')], 4, {file: 1, line: 2}],
    ['the first file\'s last line, one without line end', [b('a\nb'), b('c\nd\n')], 2, {file: 0, line: 2}],
    ['after a file without line end, the next one\'s second line', [b('a\nb'), b('c\nd\n')], 3, {file: 1, line: 2}],
    ['a CR LF split across the files: the LF is the second one\'s first line', [b('a\r'), b('\nb\n')], 2, {file: 1, line: 2}],
    ['an empty file between', [b('a\n'), b(''), b('b\n')], 2, {file: 2, line: 1}],
    ['UTF-16 with its mark after an 8-bit file', [b('a\nb\n'), Buffer.concat([b('\xff\xfe'), u('c\r\nd\r\n')])], 4, {file: 1, line: 2}],
    ['8-bit after UTF-16: read as UTF-16, one line', [Buffer.concat([b('\xff\xfe'), u('a\r\n')]), b('xy\nz\n')], 2, {file: 1, line: 1}],
    ['UTF-16 cut short: the odd byte on the line after the last', [Buffer.concat([b('\xff\xfe'), u('a\r\nb\r\n'), b('c')])], 3, {file: 0, line: 3}],
    ['UTF-16 cut short without a last line end: on the last line', [Buffer.concat([b('\xff\xfe'), u('a\r\nb'), b('c')])], 2, {file: 0, line: 2}],
    ['a NUL ends the lines', [b('a\nb\0c\nd\n')], 3, null],
    ['a line past the end', [b('a\n')], 2, null],
    ['nothing read: line 1 is the first file\'s', [b(''), b('')], 1, {file: 0, line: 1}],
    ['nothing read but a mark: line 1 is its file\'s', [b(''), b('\xff\xfe')], 1, {file: 1, line: 1}],
  ];
  for (const [name, files, line, want] of rows) {
    await t.test(name, () => {
      const where = parse.linemapper(Buffer.concat(files), files.map((f) => f.length), line);
      assert.deepEqual(where(line), want);
    });
  }
  // The golden cases with notes, after another export and an empty file:
  // each note the native build gives on the joined files falls on the line
  // it gives for the case alone.
  // An 8-bit export with CR, LF and CR LF line ends and lines to skip.
  const ansi = Buffer.from('REGEDIT4\r\n\r\n"early"="value"\r[HKEY_LOCAL_MACHINE\\A]\n"a"=dword:123456789\r\n' +
                           'junk\n\n"b"="c" d\r"e"=hex:1,zz\n', 'latin1');
  const named = ['bad-lines', 'comments-and-blanks', 'hex-lists', 'key-lines', 'names-and-escapes', 'value-types',
                 'utf16-odd-length', 'nul-ends-input', 'deletion-spellings', 'deletion-unknown-root'].map((n) => [n, reg(n)]);
  for (const [name, own] of [...named, ['an 8-bit export, line ends mixed', ansi]]) {
    for (const before of ['two-adapters', 'regedit4']) {
      // 8-bit text after an 8-bit export goes on in it: another export only
      // where a mark or, after UTF-16, a header line starts it.
      if (before === 'regedit4' && !(own[0] === 0xff || own[0] === 0xef)) continue;
      await t.test(`${name} after ${before}`, {skip: nativeskip}, () => {
        const alone = parse.readnotes(runnative(own).err).filter((n) => n.line);
        const files = [reg(before), Buffer.alloc(0), own];
        const all = Buffer.concat(files);
        const notes = parse.readnotes(runnative(all).err).filter((n) => n.line);
        const where = parse.linemapper(all, files.map((f) => f.length), Math.max(...notes.map((n) => n.line)));
        const placed = notes.map((n) => ({...where(n.line), text: n.text})).filter((n) => n.file === 2);
        assert.ok(alone.length > 0, 'notes for the case alone');
        assert.deepEqual(placed, alone.map((n) => ({file: 2, line: n.line, text: n.text})));
      });
    }
  }
});

test('the notes', () => {
  assert.deepEqual(parse.readnotes("comserial: line 12: expected ']' to end the key name; skipped\n" +
                                   "comserial: the export's code page (ACP) 437 is not supported; reading its text as code page 1252\n"),
                   [{line: 12, text: "expected ']' to end the key name; skipped"},
                    {line: 0, text: "the export's code page (ACP) 437 is not supported; reading its text as code page 1252"}]);
});

test('why a file is no export', async (t) => {
  const rows = [
    ['empty', Buffer.alloc(0), {kind: 'empty', first: ''}],
    ['a zip archive', Buffer.from('PK\x03\x04\x14\x00', 'latin1'), {kind: 'zip', first: ''}],
    ['UTF-16 without its mark', Buffer.from('Windows Registry', 'utf16le'), {kind: 'utf16', first: ''}],
    ['not text', Buffer.from([0x7f, 0x45, 0x4c, 0x46, 2, 1, 1, 0, 0]), {kind: 'binary', first: ''}],
    ['text: its first line', Buffer.from('My notes\r\nmore\r\n'), {kind: 'text', first: 'My notes'}],
    ['UTF-16 text with its mark: its first line', utf16('Windows Registry Editor Version 4.00\r\n'),
     {kind: 'text', first: 'Windows Registry Editor Version 4.00'}],
    ['a long first line, cut', Buffer.from('x'.repeat(200)), {kind: 'text', first: 'x'.repeat(80) + '…'}],
  ];
  for (const [name, bytes, want] of rows) await t.test(name, () => assert.deepEqual(parse.whynoexport(bytes), want));
});
