// What the page reads out of a run: the text's code page, the adapters from
// the port mapping lines, the failure line and what it means, the notes on
// standard error mapped back to the files they are about, what the exit
// status means and the download's name. Plain functions, shared by the
// page, its worker and their tests.
'use strict';

// The TextDecoder label for each ANSI code page comserial knows.
function decoderlabel(cp) {
  var labels = {874: 'windows-874', 932: 'shift_jis', 936: 'gbk', 949: 'euc-kr', 950: 'big5', 65001: 'utf-8'};
  if (labels[cp]) return labels[cp];
  if (cp >= 1250 && cp <= 1258) return 'windows-' + cp;
  return 'windows-1252';
}

// The output's lines, without the empty piece after the last newline.
function outputlines(text) {
  var lines = text.split('\n');
  if (lines.length && lines[lines.length - 1] === '') lines.pop();
  return lines;
}

var mapheader = '>> HARDWARE\\DEVICEMAP\\SERIALCOMM';
var busheader = '>> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS';
var lastheader = '>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum';
var busprefix = 'SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\';
var instanceprefix = busprefix;
var instancesuffix = 'A\\0000=';
var deviceprefixes = ['VID_0403+PID_6001+', 'Vid_0403+Pid_6001+'];
var failurepattern = /^reg(openkeyexa|queryvalueexa) [0-9] namebuf=\(.*\) ret=[0-9]+$/;

// The index of the failure line, the last line of a run that exited 1, or -1.
function failureindex(lines, status) {
  if (status !== 1 || lines.length === 0) return -1;
  return failurepattern.test(lines[lines.length - 1]) ? lines.length - 1 : -1;
}

// The adapters, {port, serial} each, from the port mapping lines under the
// last section. In quiet mode every line there is one, but a failure line;
// in debug mode one follows each device instance path line, whose serial it
// repeats after the '='.
function adapters(lines, debug, status) {
  var start = lines.indexOf(lastheader);
  if (start < 0) return [];
  var fail = failureindex(lines, status);
  var found = [];
  for (var i = start + 1; i < lines.length; i++) {
    if (i === fail) break;
    var line = lines[i];
    if (!debug) {
      var eq = line.indexOf('=');
      if (eq >= 0) found.push({port: line.slice(0, eq), serial: line.slice(eq + 1)});
      continue;
    }
    if (!line.startsWith(instanceprefix) || i + 1 >= lines.length || i + 1 === fail) continue;
    var at = line.indexOf(instancesuffix);
    if (at < 0) continue;
    var serial = line.slice(at + instancesuffix.length);
    var next = lines[i + 1];
    if (next.endsWith('=' + serial)) {
      found.push({port: next.slice(0, next.length - serial.length - 1), serial: serial});
      i++;
    }
  }
  return found;
}

// The ports of the serial-port map's FTDI entries (\Device\VCP<n>=<port>),
// from a debug run's pair lines under the first section.
function mapports(lines) {
  var start = lines.indexOf(mapheader);
  var ports = [];
  if (start < 0) return ports;
  for (var i = start + 1; i < lines.length && lines[i] !== '' && !lines[i].startsWith('>> '); i++) {
    var m = /^\\Device\\VCP[^=]*=(.*)$/.exec(lines[i]);
    if (m && !lines[i].startsWith('namebuf=(')) ports.push(m[1]);
  }
  return ports;
}

// The Windows result codes a registry call can give: name, a short phrase,
// and what it means here.
var resultcodes = {
  1: ['ERROR_INVALID_FUNCTION', 'invalid function', 'the call is not supported there'],
  2: ['ERROR_FILE_NOT_FOUND', 'not found', 'the machine has no such key or value'],
  3: ['ERROR_PATH_NOT_FOUND', 'path not found', 'a key on the way to it is not there'],
  4: ['ERROR_TOO_MANY_OPEN_FILES', 'too many open', 'too many keys were open at once'],
  5: ['ERROR_ACCESS_DENIED', 'access denied', 'the user who ran it may not read that key'],
  6: ['ERROR_INVALID_HANDLE', 'invalid handle', 'the key it was opened under was not open'],
  8: ['ERROR_NOT_ENOUGH_MEMORY', 'not enough memory', 'Windows was out of memory'],
  87: ['ERROR_INVALID_PARAMETER', 'invalid parameter', 'the call was given a value it does not take'],
  161: ['ERROR_BAD_PATHNAME', 'bad path name', 'the key path is not a valid one'],
  206: ['ERROR_FILENAME_EXCED_RANGE', 'name too long', 'the key path is longer than a key path can be'],
  234: ['ERROR_MORE_DATA', 'more data', 'the value is bigger than the buffer it was read into'],
  259: ['ERROR_NO_MORE_ITEMS', 'no more items', 'there was nothing more to list'],
  1009: ['ERROR_BADDB', 'bad database', 'the registry database is damaged'],
  1010: ['ERROR_BADKEY', 'bad key', 'the key is not valid'],
  1015: ['ERROR_REGISTRY_CORRUPT', 'registry corrupt', 'the registry is damaged'],
  1018: ['ERROR_KEY_DELETED', 'key deleted', 'the key has been marked for deletion'],
  1450: ['ERROR_NO_SYSTEM_RESOURCES', 'no system resources', 'Windows was short of resources'],
};

// {code, name, phrase, meaning} of a result code; name and phrase are ''
// for one not known here.
function resultcode(code) {
  var known = resultcodes[code];
  return known ? {code: code, name: known[0], phrase: known[1], meaning: known[2]}
               : {code: code, name: '', phrase: '', meaning: 'a Windows error code comserial does not expect here'};
}

// A long name cut for a sentence: its start, and how long it is.
function shortname(s, max) {
  max = max || 60;
  return s.length <= max ? s : s.slice(0, max) + '… (' + s.length + ' characters)';
}

// The serial in a device key name or a device instance key path, after
// "VID_0403+PID_6001+" (either spelling), without the suffix given.
function serialof(path, suffix) {
  var name = path.startsWith(busprefix) ? path.slice(busprefix.length) : path;
  for (var i = 0; i < deviceprefixes.length; i++) {
    if (!name.startsWith(deviceprefixes[i])) continue;
    var serial = name.slice(deviceprefixes[i].length);
    return suffix && serial.endsWith(suffix) ? serial.slice(0, serial.length - suffix.length) : serial;
  }
  return null;
}

// What the failure line at index at of a run's lines means. The lines are a
// debug run's when context is true (its dump and pair lines name the device
// key and the adapter); otherwise a quiet run's, and the failure line alone
// says what it can. Returns null for no failure line, or {call, n, name,
// code, step, key, serial, stage, listed, mapped}:
//   step: which call it was: 'map', 'tree' and 'list' (a scan's own key),
//     'device' (a device key), 'instance' (an adapter's device instance key),
//     'subkeys' and 'values' (an instance key of a device key, opened to list
//     its subkeys and again to read its values), 'friendlyname', or 'other';
//   key: the key path it concerns, or '' where the lines do not say;
//   serial: the adapter's serial number (for 'device', the device key's name
//     after VID_0403+PID_6001+), or '';
//   stage: 'map', 'tree' or 'list', the scan it stopped in; before 'list'
//     the driver's list, where adapters get their ports, was never read;
//   listed: the ports of the adapters the table shows;
//   mapped: the ports of the serial-port map's FTDI entries (from a debug
//     run), or null;
//   collector: set by the caller, what the file's collector wrote about the
//     key (collectornote), or null.
function explainfailure(lines, at, context) {
  var m = /^(regopenkeyexa|regqueryvalueexa) ([0-9]) namebuf=\((.*)\) ret=([0-9]+)$/.exec(lines[at] || '');
  if (!m) return null;
  var call = m[1], n = Number(m[2]), name = m[3];
  var header = '';
  for (var i = at - 1; i >= 0; i--) {
    if (lines[i] === mapheader || lines[i] === busheader || lines[i] === lastheader) {
      header = lines[i];
      break;
    }
  }
  var stage = header === lastheader ? 'list' : header === busheader ? 'tree' : 'map';
  var e = {call: call, n: n, name: name, code: resultcode(Number(m[4])), step: 'other', key: '', serial: '', stage: stage,
           listed: [], mapped: context ? mapports(lines) : null, collector: null};
  var open = call === 'regopenkeyexa';
  if (open && n === 1 && stage === 'map') {
    e.step = 'map';
    e.key = name;
  } else if (open && n === 2 && stage !== 'map') {
    e.step = stage;
    e.key = name;
  } else if (open && n === 3 && stage === 'tree') {
    e.step = 'device';
    e.key = name;
    e.serial = serialof(name, '') || '';
  } else if (open && n === 3 && stage === 'list') {
    e.step = 'instance';
    e.key = name;
    e.serial = serialof(name, 'A\\0000') || '';
  } else if (open && (n === 4 || n === 5) && stage === 'tree') {
    e.step = n === 4 ? 'subkeys' : 'values';
    // The device key walked last: its pair line, path=name (debug only).
    for (var k = at - 1; context && k >= 0 && lines[k] !== busheader; k--) {
      var eq = lines[k].lastIndexOf('=');
      if (eq > 0 && lines[k].startsWith(busprefix) && serialof(lines[k].slice(0, eq), '') === lines[k].slice(eq + 1)) {
        e.key = lines[k].slice(0, eq);
        e.serial = lines[k].slice(eq + 1);
        break;
      }
    }
  } else if (!open && n === 4 && stage === 'list') {
    e.step = 'friendlyname';
    // A debug run prints the device instance path and serial just before.
    var before = context && at > 0 ? lines[at - 1] : '';
    var cut = before.indexOf(instancesuffix);
    if (before.startsWith(instanceprefix) && cut > 0) {
      e.key = before.slice(0, cut + instancesuffix.length - 1);
      e.serial = before.slice(cut + instancesuffix.length);
    }
  }
  if (stage === 'list')
    e.listed = adapters(lines, context, 1).map(function (a) {
      return a.port;
    });
  return e;
}

// What the explanation says, as sentences: {what, code, after}.
function failuretext(e) {
  var key = e.key ? shortname(e.key, 120) : '';
  var serial = shortname(e.serial, 24);
  var what = {
    map: 'comserial could not open the serial-port map, ' + key + '.',
    tree: 'comserial could not open the FTDI bus driver\u2019s device tree, ' + key + '.',
    list: 'comserial could not open the FTDI driver\u2019s list of the devices it enumerated, ' + key + '.',
    device: 'comserial could not open a device key in the FTDI device tree, ' + key + '.',
    instance: 'comserial could not open the device instance key of the adapter with serial number ' + serial + ', ' + key + '.',
    subkeys: 'comserial could not open instance key ' + shortname(e.name, 40) + ' of ' + (key ? 'device key ' + key : 'a device key') +
      ', to list its subkeys.',
    values: 'comserial could not open an instance key of ' + (key ? 'device key ' + key : 'a device key') +
      ' a second time, to read its values. The name in the line is what listing its subkeys left in the buffer, not the instance key\u2019s.',
    friendlyname: 'comserial could not read the FriendlyName, which names the COM port, of ' +
      (serial ? 'the adapter with serial number ' + serial + ' (its device instance key ' + key + ').' : 'the next adapter in the driver\u2019s list.'),
    other: 'comserial failed at ' + e.call + ' ' + e.n + ', on ' + shortname(e.name, 200) + '.',
  }[e.step];
  var code = 'ret=' + e.code.code + (e.code.name ? ' is ' + e.code.name + ', \u201c' + e.code.phrase + '\u201d: ' + e.code.meaning + '.'
                                                : ' is ' + e.code.meaning + '.');
  if (e.code.code === 206 && e.step === 'instance')
    code += ' The serial number is so long that the key\u2019s path does not fit in comserial\u2019s 8192-byte buffer; no key so named can exist on Windows.';
  else if (e.code.code === 206 && e.step === 'device')
    code += ' The device key\u2019s name is so long that its path does not fit in comserial\u2019s 8192-byte buffer; no key so named can exist on Windows.';
  var after;
  var count = e.listed.length;
  if (e.step === 'list') {
    after = 'The run stopped there: without the driver\u2019s list no adapter gets its port, so none is listed, though the machine may have some.';
  } else if (e.stage === 'list') {
    after = 'The run stopped there: adapters after that point in the driver\u2019s list are not listed. ' +
      (count ? 'The table shows the ' + (count === 1 ? 'one adapter' : count + ' adapters') + ' found before it, and may miss some.'
             : 'No adapter was found before it, so the table is empty, though the machine may have some.');
  } else {
    after = 'The run stopped there, before the driver\u2019s list, where adapters get their ports: no adapters are listed, though the machine may have some.';
  }
  var collected = e.collector;
  if (collected && collected.missing) {
    code += ' The collected file says so too: \u201c' + shortname(collected.line, 300) + '\u201d.';
  } else if (collected) {
    code += ' But the file\u2019s collector could not read it on the machine: \u201c' + shortname(collected.line, 300) +
      '\u201d. The key may well be there, left out of the file; comserial.exe, run there by the same user, would most likely fail here with that error instead.';
  }
  if (e.mapped && e.stage !== 'map') {
    var missing = e.mapped.filter(function (p) {
      return e.listed.indexOf(p) < 0;
    });
    if (e.mapped.length === 0) after += ' The serial-port map names no FTDI port.';
    else {
      after += ' The serial-port map names ' + (e.mapped.length === 1 ? 'one FTDI port, ' : e.mapped.length + ' FTDI ports, ') + listnames(e.mapped, 12);
      if (missing.length === 0) after += e.mapped.length === 1 ? ', which is in the table.' : ', all of them in the table.';
      else if (missing.length === e.mapped.length) after += '.';
      else after += ': ' + listnames(missing, 12) + (missing.length === 1 ? ' is' : ' are') + ' not in the table.';
    }
  }
  return {what: what, code: code, after: after};
}

// What comserial-collect.exe wrote in the file about the key path given (or
// a key above it): its comment line for a key not on the machine, or for one
// it could not read, and the reason. text is the export's text, decoded.
// Returns {line, missing} or null.
function collectornote(text, key) {
  if (!key) return null;
  var want = ('HKEY_LOCAL_MACHINE\\' + key).toLowerCase();
  var pattern = /^; (not on this machine, left out: (HKEY_LOCAL_MACHINE\\[^\r\n]*)|cannot [a-z ]+? (HKEY_LOCAL_MACHINE\\[^\r\n]*?): [^\r\n]*)$/gm;
  var m;
  while ((m = pattern.exec(text))) {
    var path = (m[2] || m[3]).toLowerCase();
    if (want === path || want.startsWith(path + '\\')) return {line: m[1], missing: !!m[2]};
  }
  return null;
}

// a, b and c; past max, the first ones and how many more.
function listnames(names, max) {
  if (names.length > max) return names.slice(0, max).join(', ') + ' and ' + (names.length - max) + ' more';
  if (names.length < 2) return names.join('');
  return names.slice(0, -1).join(', ') + ' and ' + names[names.length - 1];
}

// Where each line of a stream of joined files starts, counted as comserial's
// export reader counts them (src/registry/native/regfile.cpp): CR, LF and
// CR LF end a line, in UTF-16 too (two bytes to a unit); a byte-order mark
// at a line start, or an 8-bit header line there after UTF-16 or UTF-8 text,
// switches the encoding; a NUL ends the reading. Returns a function that
// gives, for the stream's line n, {file, line}: the index of the file the
// line starts in and its line number in that file, or null. sizes are the
// files' byte counts, in the stream's order; upto is the last line asked for.
function linemapper(bytes, sizes, upto) {
  var ENC8 = 0, UTF8 = 1, UTF16 = 2;
  var len = bytes.length, pos = 0, enc = ENC8, cr = false, ended = true, halt = false;
  // Per line: where its text starts, and whether it starts a file.
  var starts = [0], clean = [false];
  var headers = ['Windows Registry Editor Version 5.00', 'REGEDIT4'];
  var rawheader = function (at) {
    var i = at;
    while (i < len && (bytes[i] === 32 || bytes[i] === 9)) i++;
    var h = i < len && bytes[i] === 87 ? headers[0] : headers[1];
    if (len - i < h.length) return false;
    for (var k = 0; k < h.length; k++) if (bytes[i + k] !== h.charCodeAt(k)) return false;
    return true;
  };
  var ends = [], at = 0;
  for (var f = 0; f < sizes.length; f++) ends.push((at += sizes[f]));
  var isfilestart = function (p) {
    return p === 0 || ends.indexOf(p) >= 0;
  };
  while (!halt && starts.length - 1 < upto) {
    var w = enc === UTF16 ? 2 : 1;
    if (cr && len - pos >= w && bytes[pos] === 10 && (w === 1 || bytes[pos + 1] === 0)) pos += w;
    cr = false;
    // A line starts its file when the line before ended right at the file's
    // start, its CR LF's LF included.
    var fromstart = isfilestart(pos);
    if (!(len - pos >= 2 && bytes[pos + 1] === 0)) {
      var k = 0, next = ENC8;
      if (len - pos >= 2 && bytes[pos] === 0xff && bytes[pos + 1] === 0xfe) (k = 2), (next = UTF16);
      else if (len - pos >= 3 && bytes[pos] === 0xef && bytes[pos + 1] === 0xbb && bytes[pos + 2] === 0xbf) (k = 3), (next = UTF8);
      if (k !== 0 || (enc !== ENC8 && rawheader(pos))) {
        pos += k;
        enc = next;
      }
    }
    w = enc === UTF16 ? 2 : 1;
    var stop = pos;
    if (enc === UTF16) {
      while (stop + 1 < len && !((bytes[stop] === 13 || bytes[stop] === 10 || bytes[stop] === 0) && bytes[stop + 1] === 0)) stop += 2;
    } else {
      while (stop < len && bytes[stop] !== 13 && bytes[stop] !== 10 && bytes[stop] !== 0) stop++;
    }
    var n = stop - pos;
    var end = n + w <= len - pos;
    if (!end && n === 0) {
      // The odd last byte of UTF-16 cut short is reported on the line after
      // the last one, when that one had its line end.
      if (pos < len && ended) {
        starts.push(pos);
        clean.push(fromstart);
      }
      break;
    }
    starts.push(pos);
    clean.push(fromstart);
    var stopchar = end ? bytes[pos + n] : 10;
    pos += end ? n + w : n;
    cr = stopchar === 13;
    ended = end;
    if (stopchar === 0) halt = true;
  }
  var fileof = function (p) {
    for (var i = 0; i < ends.length; i++) if (p < ends[i]) return i;
    return -1;
  };
  // Each file's first line as the reader counts them.
  var firsts = ends.map(function () {
    return 0;
  });
  for (var l = starts.length - 1; l >= 1; l--) {
    var of = fileof(starts[l]);
    if (of >= 0) firsts[of] = l;
  }
  return function (line) {
    // Nothing read at all (the files are empty, or hold just a byte-order
    // mark): the reader's line 1 is the first file's, or the first with bytes.
    if (line === 1 && starts.length === 1) return {file: Math.max(0, fileof(0)), line: 1};
    if (line < 1 || line >= starts.length) return null;
    var file = fileof(starts[line]);
    if (file < 0) return null;
    // Its number in the file: 1 for the file's first line, or 2 where the
    // file starts inside a line of the one before it (or with the LF of its
    // CR LF).
    var first = firsts[file];
    return {file: file, line: line - first + (clean[first] ? 1 : 2)};
  };
}

// The notes on standard error: {line, text} each, line being the stream's
// line number of a "comserial: line N: ..." note, or 0.
function readnotes(errors) {
  return outputlines(errors).map(function (l) {
    var m = /^comserial: line ([0-9]+): (.*)$/.exec(l);
    return m ? {line: Number(m[1]), text: m[2]} : {line: 0, text: l.replace(/^comserial: /, '')};
  });
}

var noheader = "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'";

// Why a file is no export, from its first bytes: {kind, first}, kind one of
// 'empty', 'zip', 'utf16', 'binary', 'text' (first: its first line, cut).
function whynoexport(bytes) {
  if (bytes.length === 0) return {kind: 'empty', first: ''};
  if (bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b && bytes[2] === 3 && bytes[3] === 4) return {kind: 'zip', first: ''};
  var head = bytes.subarray(0, 400);
  var label = 'windows-1252', skip = 0;
  if (head[0] === 0xff && head[1] === 0xfe) (label = 'utf-16le'), (skip = 2);
  else if (head[0] === 0xef && head[1] === 0xbb && head[2] === 0xbf) (label = 'utf-8'), (skip = 3);
  else if (head.length >= 4 && head[1] === 0 && head[3] === 0 && head[0] !== 0) return {kind: 'utf16', first: ''};
  var text = new TextDecoder(label).decode(head.subarray(skip, label === 'utf-16le' ? head.length & ~1 : head.length));
  var first = text.split(/\r\n|\r|\n/)[0];
  // eslint-disable-next-line no-control-regex
  if (/[\x00-\x08\x0e-\x1f]/.test(first)) return {kind: 'binary', first: ''};
  return {kind: 'text', first: first.length > 80 ? first.slice(0, 80) + '…' : first};
}

// What an exit status means.
function statusmeaning(status) {
  if (status === 0) return 'the run completed';
  if (status === 1) return 'a key could not be opened or a FriendlyName read, and the run stopped there';
  if (status === 2) return 'the input is no registry export, and comserial printed nothing';
  return 'the run ended unexpectedly';
}

// comserial-<file name>.txt: the export's name without .reg, the names of
// several joined by '+'.
function downloadname(names) {
  var base = names.map(function (n) {
    return n.replace(/\.reg$/i, '');
  });
  var name = 'comserial-' + (base.join('+') || 'output') + '.txt';
  return name.replace(/[\\/:*?"<>|\x00-\x1f]/g, '_');
}

if (typeof module === 'object') {
  module.exports = {decoderlabel, outputlines, failureindex, adapters, mapports, resultcode, explainfailure, failuretext, collectornote,
                    linemapper, readnotes, noheader, whynoexport, statusmeaning, downloadname};
}
