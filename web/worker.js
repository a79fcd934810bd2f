// The page's worker: one run of comserial, then it is done (the page makes a
// new worker for each run, so each starts from a fresh registry). The core
// (comserial.js, with its WebAssembly inlined) follows this in the same
// script. Posted in: {input: Uint8Array, args: []}; posted back: {status,
// stdout, stderr, codepage, ms}.
/* global comserialstreams */

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
  var codepage = status === 2 ? 1252 : Module._comserial_codepage();
  var stdout = joined(out), stderr = joined(err);
  self.postMessage(
    {status: status, stdout: stdout, stderr: stderr, codepage: codepage, ms: performance.now() - t0},
    [stdout.buffer, stderr.buffer]
  );
}
