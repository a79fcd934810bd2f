// The page: the chosen exports, in order, go to a worker that runs comserial
// on them as one standard input; its output, exit status, standard error
// and the adapters found are shown. Everything stays in this page.
/* global decoderlabel, statusmeaning, downloadname */
'use strict';

(function () {
  var $ = function (id) {
    return document.getElementById(id);
  };
  // Lines of output in a block laid out on its own, and table rows added
  // at a time.
  var blocklines = 500;
  var aheadblocks = 8;
  var moreblocks = null;
  var tablebatch = 1000;
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
          if (id === runid) show(e.data, names, t0, id);
        };
        worker.onerror = function (e) {
          if (id !== runid) return;
          setstate('failed', 'The run failed in this browser: ' + (e.message || 'unknown error'));
        };
        worker.postMessage({input: input, args: args, debug: !args.length, blocklines: blocklines}, [input.buffer]);
      },
      function (e) {
        if (id === runid) setstate('failed', 'A file could not be read: ' + e.message);
      }
    );
  }

  function show(res, names, t0, id) {
    // Decoded here again: a big text comes quicker so than as a message.
    var text = new TextDecoder(decoderlabel(res.codepage)).decode(res.stdout);
    last = {bytes: res.stdout, text: text, names: names};
    $('status').textContent = String(res.status);
    $('meaning').textContent = statusmeaning(res.status) + '.';
    $('codepage').textContent = res.status === 2 ? '' : 'Text shown in code page ' + res.codepage + '.';
    document.body.dataset.status = String(res.status);

    // Rows and lines go in blocks that the browser lays out only when they
    // are scrolled to: a big export's table and dump stay quick to show.
    var found = res.adapters;
    var table = $('adapters');
    table.querySelectorAll('.rows').forEach(function (g) {
      g.remove();
    });
    table.setAttribute('aria-rowcount', String(found.length + 1));
    var groups = [];
    for (var r = 0; r < found.length; r += blocklines) {
      var group = document.createElement('div');
      group.className = 'rows';
      group.setAttribute('role', 'rowgroup');
      group.dataset.first = String(r);
      group.style.containIntrinsicSize = 'auto ' + (Math.min(r + blocklines, found.length) - r) * 1.9 + 'em';
      groups.push(group);
    }
    // A group's rows are made as it is added, a few groups at a time.
    var fillgroup = function (group) {
      var first = Number(group.dataset.first);
      var end = Math.min(first + blocklines, found.length);
      for (var k = first; k < end; k++) {
        var row = document.createElement('div');
        row.setAttribute('role', 'row');
        var port = document.createElement('span');
        port.setAttribute('role', 'cell');
        port.textContent = found[k].port;
        var serial = document.createElement('span');
        serial.setAttribute('role', 'cell');
        serial.textContent = found[k].serial;
        row.append(port, serial);
        group.append(row);
      }
      table.append(group);
    };
    table.hidden = found.length === 0;
    $('none').hidden = found.length !== 0;

    var out = $('output');
    out.textContent = '';
    var fail = res.failure;
    var makeblock = function (i) {
      var start = res.blocks[i];
      var stop = i + 1 < res.blocks.length ? res.blocks[i + 1] : text.length;
      var block = document.createElement('div');
      block.className = 'block';
      if (fail && fail[0] >= start && fail[0] < stop) {
        var mark = document.createElement('mark');
        mark.id = 'failure';
        mark.title = 'The run stopped here';
        mark.textContent = text.slice(fail[0], fail[1]);
        block.append(text.slice(start, fail[0]), mark, text.slice(fail[1], stop));
      } else {
        block.textContent = text.slice(start, stop);
      }
      var n = Math.min(blocklines, res.lines - i * blocklines);
      block.style.containIntrinsicSize = 'auto ' + n * 1.4 + 'em';
      return block;
    };
    // A long output is put on the page as it is scrolled to, a few blocks
    // ahead: tens of megabytes of text at once would stall the page.
    if (moreblocks) moreblocks.disconnect();
    moreblocks = null;
    var shown = 0;
    var more = function () {
      for (var end = Math.min(shown + aheadblocks, res.blocks.length); shown < end; shown++)
        out.insertBefore(makeblock(shown), sentinel);
      if (shown === res.blocks.length && moreblocks) {
        moreblocks.disconnect();
        sentinel.remove();
      }
    };
    var sentinel = document.createElement('div');
    out.append(sentinel);
    more();
    if (shown < res.blocks.length) {
      moreblocks = new IntersectionObserver(
        function (seen) {
          if (seen.some((e) => e.isIntersecting)) more();
        },
        {root: out, rootMargin: '0px 0px 2000px 0px'}
      );
      moreblocks.observe(sentinel);
    }
    $('failureline').hidden = !fail;
    $('failuretext').textContent = fail ? text.slice(fail[0], fail[1]) : '';
    $('errors').textContent = res.errors;
    $('errors').hidden = res.errors === '';
    $('noerrors').hidden = res.errors !== '';
    $('copied').textContent = '';
    $('result').hidden = false;

    // Done once the result is on screen: after the next frame is painted.
    document.body.dataset.runms = String(Math.round(res.ms));
    var done = function () {
      requestAnimationFrame(function () {
        setTimeout(function () {
          if (id !== runid) return;
          var ms = Math.round(performance.now() - t0);
          document.body.dataset.ms = String(ms);
          setstate(
            'done',
            'Read ' + names.join(', ') + ': exit status ' + res.status + ', ' + found.length +
              (found.length === 1 ? ' adapter' : ' adapters') + ', in ' + ms + ' ms.'
          );
        }, 0);
      });
    };
    var next = 0;
    var fill = function () {
      if (id !== runid) return;
      for (var end = Math.min(next + 8, groups.length); next < end; ) fillgroup(groups[next++]);
      if (next < groups.length) {
        setstate('running', 'Showing the adapters: ' + next * blocklines + ' of ' + found.length + '…');
        setTimeout(fill, 0);
      } else {
        done();
      }
    };
    fill();
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
