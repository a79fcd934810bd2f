// The page's worker: one run of comserial, then it is done (the page makes a
// new worker for each run, so each starts from a fresh registry). parse.js
// comes after this, and then the core (comserial.js, with its WebAssembly
// inlined) after it, in the same script. Posted in: {input: Uint8Array,
// args: [], debug}; posted back: the run's status, stdout (the bytes),
// codepage and ms, and what the page shows of it: errors (decoded with the
// code page), adapters, failure (the failure line's start and end in the
// decoded stdout, or null), blocks (where every blocklines-th line starts) and
// lines (how many).
/* global comserialstreams, decoderlabel, outputlines, failureindex, adapters */

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
  job = e.data;
  start();
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
  var blocks = [];
  var failure = null;
  for (var i = 0, at = 0; i < lines.length; i++) {
    if (i % job.blocklines === 0) blocks.push(at);
    if (i === fail) failure = [at, at + lines[i].length];
    at += lines[i].length + 1;
  }
  self.postMessage(
    {
      status: status,
      stdout: stdout,
      codepage: codepage,
      ms: ms,
      errors: decoder.decode(joined(err)),
      adapters: adapters(lines, job.debug, status),
      failure: failure,
      blocks: blocks,
      lines: lines.length,
    },
    [stdout.buffer]
  );
}
