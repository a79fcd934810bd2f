// The page: the chosen exports, in order, go to a worker that runs comserial
// on them as one standard input; its output, exit status, standard error
// and the adapters found are shown. Everything stays in this page.
/* global decoderlabel, outputlines, failureindex, adapters, statusmeaning, downloadname */
'use strict';

(function () {
  var $ = function (id) {
    return document.getElementById(id);
  };
  // Past this many characters the output is shown cut; copy and download
  // still give all of it.
  var showlimit = 4 << 20;
  var files = [];
  var worker = null;
  var runid = 0;
  var chosenat = 0;
  var last = null; // the shown run: {bytes, text, names}
  var coreurl = URL.createObjectURL(new Blob([$('core').textContent], {type: 'text/javascript'}));

  function debugmode() {
    return document.querySelector('input[name=mode]:checked').value === 'debug';
  }

  function sizetext(n) {
    if (n < 1024) return n + ' bytes';
    if (n < 1 << 20) return (n / 1024).toFixed(1) + ' KB';
    return (n / (1 << 20)).toFixed(1) + ' MB';
  }

  function button(text, label, onclick) {
    var b = document.createElement('button');
    b.type = 'button';
    b.textContent = text;
    b.setAttribute('aria-label', label);
    b.addEventListener('click', onclick);
    return b;
  }

  function move(i, by, focusclass) {
    var j = i + by;
    if (j < 0 || j >= files.length) return;
    var f = files[i];
    files[i] = files[j];
    files[j] = f;
    changed();
    var moved = $('chosen').children[j].querySelector('.' + focusclass);
    if (moved && !moved.disabled) moved.focus();
    else $('chosen').children[j].querySelector('button').focus();
  }

  function showlist() {
    var list = $('chosen');
    list.textContent = '';
    files.forEach(function (f, i) {
      var li = document.createElement('li');
      var name = document.createElement('span');
      name.className = 'name';
      name.textContent = f.name;
      var size = document.createElement('span');
      size.className = 'size';
      size.textContent = ' (' + sizetext(f.size) + ') ';
      li.append(name, size);
      var up = button('Move up', 'Move ' + f.name + ' up', function () {
        move(i, -1, 'up');
      });
      up.className = 'up';
      up.disabled = i === 0;
      var down = button('Move down', 'Move ' + f.name + ' down', function () {
        move(i, 1, 'down');
      });
      down.className = 'down';
      down.disabled = i === files.length - 1;
      var remove = button('Remove', 'Remove ' + f.name, function () {
        files.splice(i, 1);
        changed();
        var left = $('chosen').querySelector('button:not([disabled])');
        (left || $('files')).focus();
      });
      remove.className = 'remove';
      li.append(up, down, remove);
      list.append(li);
    });
  }

  function setstate(state, text) {
    document.body.dataset.state = state;
    var p = $('state');
    p.textContent = text;
    if (state === 'running') {
      var bar = document.createElement('progress');
      bar.setAttribute('aria-label', 'Working');
      p.prepend(bar, ' ');
    }
  }

  function changed() {
    chosenat = performance.now();
    showlist();
    run();
  }

  function add(list) {
    for (var i = 0; i < list.length; i++) files.push(list[i]);
    changed();
  }

  function run() {
    var id = ++runid;
    if (worker) {
      worker.terminate();
      worker = null;
    }
    if (files.length === 0) {
      $('result').hidden = true;
      last = null;
      setstate('idle', 'Choose an export to read.');
      return;
    }
    var names = files.map(function (f) {
      return f.name;
    });
    var total = files.reduce(function (n, f) {
      return n + f.size;
    }, 0);
    setstate('running', 'Reading ' + names.join(', ') + ' (' + sizetext(total) + ')…');
    var t0 = chosenat;
    var args = debugmode() ? [] : ['-q'];
    Promise.all(
      files.map(function (f) {
        return f.arrayBuffer();
      })
    ).then(
      function (buffers) {
        if (id !== runid) return;
        var input = new Uint8Array(total);
        var at = 0;
        buffers.forEach(function (b) {
          input.set(new Uint8Array(b), at);
          at += b.byteLength;
        });
        worker = new Worker(coreurl);
        worker.onmessage = function (e) {
          worker.terminate();
          worker = null;
          if (id === runid) show(e.data, names, !args.length, t0);
        };
        worker.onerror = function (e) {
          if (id !== runid) return;
          setstate('failed', 'The run failed in this browser: ' + (e.message || 'unknown error'));
        };
        worker.postMessage({input: input, args: args}, [input.buffer]);
      },
      function (e) {
        if (id === runid) setstate('failed', 'A file could not be read: ' + e.message);
      }
    );
  }

  function show(res, names, debug, t0) {
    var decoder = new TextDecoder(decoderlabel(res.codepage));
    var text = decoder.decode(res.stdout);
    var errtext = decoder.decode(res.stderr);
    var lines = outputlines(text);
    var fail = failureindex(lines, res.status);
    var found = adapters(lines, debug, res.status);
    last = {bytes: res.stdout, text: text, names: names};

    $('status').textContent = String(res.status);
    $('meaning').textContent = statusmeaning(res.status) + '.';
    $('codepage').textContent = res.status === 2 ? '' : 'Text shown in code page ' + res.codepage + '.';
    document.body.dataset.status = String(res.status);

    var body = $('adapters').tBodies[0];
    body.textContent = '';
    found.forEach(function (a) {
      var tr = document.createElement('tr');
      var port = document.createElement('td');
      port.textContent = a.port;
      var serial = document.createElement('td');
      serial.textContent = a.serial;
      tr.append(port, serial);
      body.append(tr);
    });
    $('adapters').hidden = found.length === 0;
    $('none').hidden = found.length !== 0;

    var out = $('output');
    out.textContent = '';
    var shown = text;
    var cut = text.length > showlimit;
    if (cut) shown = text.slice(0, text.lastIndexOf('\n', showlimit) + 1);
    if (fail >= 0 && !cut) {
      var before = lines.slice(0, fail).join('\n');
      var mark = document.createElement('mark');
      mark.id = 'failure';
      mark.title = 'The run stopped here';
      mark.textContent = lines[fail];
      out.append(before + (fail ? '\n' : ''), mark, '\n');
    } else {
      out.textContent = shown;
    }
    $('shortened').hidden = !cut;
    $('shortened').textContent = cut
      ? 'The output is ' + sizetext(res.stdout.length) + '; the first ' + sizetext(shown.length) +
        ' are shown. Copy and Download give all of it.'
      : '';
    $('errors').textContent = errtext;
    $('errors').hidden = errtext === '';
    $('noerrors').hidden = errtext !== '';
    $('copied').textContent = '';
    $('result').hidden = false;

    // Done once the result is on screen: after the next frame is painted.
    requestAnimationFrame(function () {
      setTimeout(function () {
        var ms = Math.round(performance.now() - t0);
        document.body.dataset.ms = String(ms);
        setstate(
          'done',
          'Read ' + names.join(', ') + ': exit status ' + res.status + ', ' + found.length +
            (found.length === 1 ? ' adapter' : ' adapters') + ', in ' + ms + ' ms.'
        );
      }, 0);
    });
  }

  $('files').addEventListener('change', function (e) {
    add(e.target.files);
    e.target.value = '';
  });
  document.querySelectorAll('input[name=mode]').forEach(function (r) {
    r.addEventListener('change', function () {
      chosenat = performance.now();
      run();
    });
  });

  var drop = $('drop');
  ['dragenter', 'dragover'].forEach(function (t) {
    document.addEventListener(t, function (e) {
      e.preventDefault();
      drop.classList.add('over');
    });
  });
  ['dragleave', 'drop'].forEach(function (t) {
    document.addEventListener(t, function (e) {
      e.preventDefault();
      drop.classList.remove('over');
    });
  });
  document.addEventListener('drop', function (e) {
    if (e.dataTransfer && e.dataTransfer.files.length) add(e.dataTransfer.files);
  });

  $('copy').addEventListener('click', function () {
    if (!last) return;
    var done = function () {
      $('copied').textContent = 'Copied.';
    };
    var fallback = function () {
      var area = document.createElement('textarea');
      area.value = last.text;
      document.body.append(area);
      area.select();
      var ok = document.execCommand('copy');
      area.remove();
      $('copied').textContent = ok ? 'Copied.' : 'Copying is not allowed here; select the output instead.';
    };
    if (navigator.clipboard && navigator.clipboard.writeText)
      navigator.clipboard.writeText(last.text).then(done, fallback);
    else fallback();
  });

  $('download').addEventListener('click', function () {
    if (!last) return;
    var a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([last.bytes], {type: 'application/octet-stream'}));
    a.download = downloadname(last.names);
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(function () {
      URL.revokeObjectURL(a.href);
    }, 60000);
  });
})();
