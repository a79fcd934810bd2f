// The run's standard streams, as bytes. emscripten's own decode standard
// input as UTF-8 and hand standard output over as text a line at a time;
// comserial reads UTF-16 and 8-bit exports and prints the bytes of a code
// page. So, once the runtime is up and before main runs:
//   fd 0: the export, a file in memory (left as it is when there is none);
//   fd 1 and fd 2: devices whose writes go to a callback in blocks.
// Under node the runner does this itself (runnode below); in the page's
// worker, worker.js calls comserialstreams before it calls main.

/* global FS, Module */

function comserialstreams(input, out, err) {
  var n = 0;
  function device(write) {
    var dev = FS.makedev(90 + n, 0);
    var path = '/dev/comserial' + n++;
    FS.registerDevice(dev, {
      open: function (stream) {
        stream.seekable = false;
      },
      close: function () {},
      read: function () {
        return 0;
      },
      write: function (stream, buffer, offset, length) {
        if (length > 0) write(new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length));
        return length;
      },
    });
    FS.mkdev(path, dev);
    return path;
  }
  var outpath = device(out), errpath = device(err);
  FS.close(FS.getStream(1));
  FS.close(FS.getStream(2));
  FS.open(outpath, 'w');
  FS.open(errpath, 'w');
  if (input === 'closed') {
    FS.close(FS.getStream(0));
  } else if (input !== 'tty') {
    FS.writeFile('/export.reg', input);
    FS.close(FS.getStream(0));
    FS.open('/export.reg', 'r');
  }
}

// node comserial.js [ARG] < export.reg
function runnode() {
  var fs = require('fs');
  var tty = require('tty');
  var input;
  try {
    fs.fstatSync(0);
    input = tty.isatty(0) ? 'tty' : fs.readFileSync(0);
  } catch (e) {
    if (e.code !== 'EBADF') throw e;
    input = 'closed';
  }
  function writer(fd) {
    return function (bytes) {
      var done = 0;
      while (done < bytes.length) {
        try {
          done += fs.writeSync(fd, bytes, done, bytes.length - done);
        } catch (e) {
          if (e.code !== 'EAGAIN') throw e;
        }
      }
    };
  }
  Module.onRuntimeInitialized = function () {
    comserialstreams(input, writer(1), writer(2));
  };
}

if (typeof process === 'object' && typeof require === 'function' && typeof importScripts !== 'function') runnode();
