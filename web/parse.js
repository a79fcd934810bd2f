// What the page reads out of a run: the text's code page, the adapters from
// the port mapping lines, the failure line, what the exit status means and
// the download's name. Plain functions, shared by the page and its tests.
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

var lastheader = '>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum';
var instanceprefix = 'SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\';
var instancesuffix = 'A\\0000=';
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

// What an exit status means.
function statusmeaning(status) {
  if (status === 0) return 'the run completed';
  if (status === 1) return 'a key could not be opened or a FriendlyName read; the marked line says which';
  if (status === 2) return 'the input is no registry export; standard error says why';
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
  module.exports = {decoderlabel, outputlines, failureindex, adapters, statusmeaning, downloadname};
}
