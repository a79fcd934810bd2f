// The page's worker: one run of comserial, then it is done (the page makes a
// new worker for each run, so each starts from a fresh registry). parse.js
// comes after this, and then the core (comserial.js, with its WebAssembly
// inlined) after it, in the same script.
//
// Posted in: {files: [File, in the order they are read], args: [], debug,
// blocklines, context}. Posted back ({error} if the files cannot be read):
// the run's status, stdout (the bytes), codepage and ms, and what the page
// shows of it:
//   notes: what standard error says, [{line, file, fileline, text}] (line,
//     the stream's line number, 0 for a note about no line; file and
//     fileline, where that line is in the files, or -1 and 0);
//   adapters; failure (the failure line's start and end in the decoded
//   stdout, or null) and explained (what it means, parse.js's
//   explainfailure); noexport (for exit status 2: {files: the indexes of the
//   files that hold no export, kind, first}, or null);
//   blocks (where every blocklines-th line starts) and lines (how many).
// With context set (a debug run made to explain a quiet run's failure) only
// status and explained come back.
/* global comserialstreams, decoderlabel, outputlines, failureindex, adapters, explainfailure, linemapper,
   readnotes, noheader, whynoexport, collectornote */

// The core would fetch its own inlined WebAssembly as a data: URL where it
// can fetch; without fetch it decodes it in place.
var fetch = undefined; // eslint-disable-line no-unused-vars, no-global-assign

var Module = {
  noInitialRun: true,
  onRuntimeInitialized: function () {
    ready = true;
    start();
  },
};
var ready = false;
var job = null;

self.onmessage = function (e) {
  var files = e.data.files;
  // The files' bytes, joined in their order.
  new Blob(files).arrayBuffer().then(
    function (buffer) {
      job = e.data;
      job.input = new Uint8Array(buffer);
      job.sizes = files.map(function (f) {
        return f.size;
      });
      start();
    },
    function (err) {
      self.postMessage({error: err.message || String(err)});
    }
  );
};

function joined(chunks) {
  var n = 0;
  chunks.forEach(function (c) {
    n += c.length;
  });
  var all = new Uint8Array(n);
  var at = 0;
  chunks.forEach(function (c) {
    all.set(c, at);
    at += c.length;
  });
  return all;
}

// The export's text, for the collector's comments in it: UTF-16 where it
// starts with its mark, else 8-bit (the comments are ASCII).
function exporttext(input) {
  var utf16 = input.length >= 2 && input[0] === 0xff && input[1] === 0xfe;
  return new TextDecoder(utf16 ? 'utf-16le' : 'windows-1252').decode(utf16 ? input.subarray(0, input.length & ~1) : input);
}

// The notes, each placed in its file.
function placednotes(errors, input, sizes) {
  var notes = readnotes(errors);
  var upto = notes.reduce(function (n, note) {
    return Math.max(n, note.line);
  }, 0);
  var where = upto ? linemapper(input, sizes, upto) : null;
  return notes.map(function (note) {
    var at = note.line && where ? where(note.line) : null;
    return {line: note.line, file: at ? at.file : -1, fileline: at ? at.line : 0, text: note.text};
  });
}

// The files that hold no export: the first one with any bytes (all of them
// when none has), with the empty ones before it.
function noexport(notes, input, sizes) {
  var first = notes.find(function (n) {
    return n.line === 1;
  });
  if (!first || first.text !== noheader) return null;
  var files = [], at = 0, i = 0;
  for (; i < sizes.length; at += sizes[i++]) {
    files.push(i);
    if (sizes[i] > 0) break;
  }
  var own = i < sizes.length ? input.subarray(at, at + sizes[i]) : new Uint8Array(0);
  var why = whynoexport(own);
  return {files: files, kind: why.kind, first: why.first};
}

function start() {
  if (!ready || !job) return;
  var t0 = performance.now();
  var out = [], err = [];
  comserialstreams(
    job.input,
    function (b) {
      out.push(b.slice());
    },
    function (b) {
      err.push(b.slice());
    }
  );
  var status = Module.callMain(job.args);
  var ms = performance.now() - t0;
  var codepage = status === 2 ? 1252 : Module._comserial_codepage();
  var stdout = joined(out);
  var decoder = new TextDecoder(decoderlabel(codepage));
  var text = decoder.decode(stdout);
  var lines = outputlines(text);
  var fail = failureindex(lines, status);
  var explained = fail >= 0 ? explainfailure(lines, fail, job.debug) : null;
  if (explained && explained.key) explained.collector = collectornote(exporttext(job.input), explained.key);
  if (job.context) {
    self.postMessage({status: status, explained: explained});
    return;
  }
  var blocks = [];
  var failure = null;
  for (var i = 0, at = 0; i < lines.length; i++) {
    if (i % job.blocklines === 0) blocks.push(at);
    if (i === fail) failure = [at, at + lines[i].length];
    at += lines[i].length + 1;
  }
  var notes = placednotes(decoder.decode(joined(err)), job.input, job.sizes);
  self.postMessage(
    {
      status: status,
      stdout: stdout,
      codepage: codepage,
      ms: ms,
      notes: notes,
      adapters: adapters(lines, job.debug, status),
      failure: failure,
      explained: explained,
      noexport: status === 2 ? noexport(notes, job.input, job.sizes) : null,
      blocks: blocks,
      lines: lines.length,
    },
    [stdout.buffer]
  );
}
