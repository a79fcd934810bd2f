// The page: the chosen exports, in order, go to a worker that runs comserial
// on them as one standard input; its output, exit status, notes (standard
// error) and the adapters found are shown, and a failure is said in words.
// Everything stays in this page.
/* global decoderlabel, statusmeaning, downloadname, failuretext */
'use strict';

(function () {
  var $ = function (id) {
    return document.getElementById(id);
  };
  // Lines of output in a block (laid out only when on screen), blocks put
  // on the page at a time, and table rows in a group.
  var blocklines = 500;
  var blockbatch = 100;
  var tablebatch = 500;
  var files = [];
  // The files the last run found no export in: the next choice replaces them.
  var replacing = null;
  var worker = null;
  var helper = null;
  var runid = 0;
  var chosenat = 0;
  var last = null; // the shown run: {bytes, text, names}
  var coreurl = URL.createObjectURL(new Blob([$('core').textContent], {type: 'text/javascript'}));

  function debugmode() {
    return document.querySelector('input[name=mode]:checked').value === 'debug';
  }

  function sizetext(n) {
    if (n < 1024) return n + (n === 1 ? ' byte' : ' bytes');
    if (n < 1 << 20) return (n / 1024).toFixed(1) + ' KB';
    return (n / (1 << 20)).toFixed(1) + ' MB';
  }

  // a, b and c.
  function names(list) {
    var n = list.map(function (f) {
      return f.name;
    });
    return n.length < 2 ? n.join('') : n.slice(0, -1).join(', ') + ' and ' + n[n.length - 1];
  }

  function button(text, label, onclick) {
    var b = document.createElement('button');
    b.type = 'button';
    b.textContent = text;
    // The name starts with the words shown, then says which file.
    b.setAttribute('aria-label', text + ': ' + label);
    b.addEventListener('click', onclick);
    return b;
  }

  function say(text) {
    $('listsay').textContent = text;
  }

  function move(i, by, focusclass) {
    var j = i + by;
    if (j < 0 || j >= files.length) return;
    var f = files[i];
    files[i] = files[j];
    files[j] = f;
    say('Moved ' + f.name + (by < 0 ? ' up' : ' down') + '.');
    changed();
    var moved = $('chosen').children[j].querySelector('.' + focusclass);
    if (moved && !moved.disabled) moved.focus();
    else $('chosen').children[j].querySelector('button').focus();
  }

  // The list, and what the next choice does.
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
      if (replacing && replacing.indexOf(f) >= 0) {
        var bad = document.createElement('span');
        bad.className = 'bad';
        bad.textContent = f.size === 0 ? 'empty ' : 'no export ';
        li.append(bad);
      }
      var up = button('Move up', f.name, function () {
        move(i, -1, 'up');
      });
      up.className = 'up';
      up.disabled = i === 0;
      var down = button('Move down', f.name, function () {
        move(i, 1, 'down');
      });
      down.className = 'down';
      down.disabled = i === files.length - 1;
      var remove = button('Remove', f.name, function () {
        files.splice(i, 1);
        say('Removed ' + f.name + '.');
        changed();
        var left = $('chosen').querySelector('button:not([disabled])');
        (left || $('choose')).focus();
      });
      remove.className = 'remove';
      li.append(up, down, remove);
      list.append(li);
    });
    $('list').hidden = files.length === 0;
    var choose = $('choose'), next = $('nextchoice');
    if (files.length === 0) {
      choose.textContent = 'Choose files…';
      next.textContent = 'Several files are read one after another, in the order listed.';
    } else if (replacing) {
      choose.textContent = 'Choose another file…';
      next.textContent = 'A file chosen or dropped now replaces ' + names(replacing) +
        (replacing.length === 1 ? ', which holds no registry export.' : ', which hold no registry export.');
    } else {
      choose.textContent = 'Add files…';
      next.textContent = 'Files chosen or dropped now are added after ' + files[files.length - 1].name +
        ', and read after it. Clear empties the list.';
    }
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
    replacing = null;
    showlist();
    run();
  }

  // A choice or a drop: it replaces the files that held no export, or is
  // added after the others.
  function add(list) {
    var added = Array.prototype.slice.call(list);
    if (added.length === 0) return;
    if (replacing) {
      var at = files.indexOf(replacing[0]);
      var gone = replacing;
      files = files.filter(function (f) {
        return gone.indexOf(f) < 0;
      });
      files.splice(at, 0, ...added);
      say('Replaced ' + names(gone) + ' with ' + names(added) + '.');
    } else {
      if (files.length) say('Added ' + names(added) + ' after ' + files[files.length - 1].name + '.');
      else say('');
      files = files.concat(added);
    }
    changed();
  }

  function stopworkers() {
    [worker, helper].forEach(function (w) {
      if (w) w.terminate();
    });
    worker = helper = null;
  }

  function run() {
    var id = ++runid;
    stopworkers();
    if (files.length === 0) {
      $('result').hidden = true;
      $('output').textContent = '';
      last = null;
      setstate('idle', 'Choose an export to read.');
      return;
    }
    var list = files.slice();
    var total = list.reduce(function (n, f) {
      return n + f.size;
    }, 0);
    setstate('running', 'Reading ' + names(list) + ' (' + sizetext(total) + ')…');
    var t0 = chosenat;
    var debug = debugmode();
    // The worker reads the files itself: tens of megabytes copied here would
    // hold the page up.
    worker = new Worker(coreurl);
    worker.onmessage = function (e) {
      worker.terminate();
      worker = null;
      if (id !== runid) return;
      if (e.data.error) setstate('failed', 'A file could not be read: ' + e.data.error);
      else show(e.data, list, debug, t0, id);
    };
    worker.onerror = function (e) {
      if (id !== runid) return;
      setstate('failed', 'The run failed in this browser: ' + (e.message || 'unknown error'));
    };
    worker.postMessage({files: list, args: debug ? [] : ['-q'], debug: debug, blocklines: blocklines});
  }

  // A quiet run's failure line does not say which adapter it was about: a
  // debug run of the same files does, just before it.
  function withcontext(list, id, then) {
    helper = new Worker(coreurl);
    helper.onmessage = function (e) {
      helper.terminate();
      helper = null;
      if (id === runid) then(e.data.explained || null);
    };
    helper.onerror = function () {
      if (id === runid) then(null);
    };
    helper.postMessage({files: list, args: [], debug: true, blocklines: blocklines, context: true});
  }

  function showfailure(explained, line, notes) {
    var said = failuretext(explained);
    $('failwhat').textContent = said.what;
    $('failuretext').textContent = line.length > 400 ? line.slice(0, 300) + '… (' + line.length + ' characters; all of it in the output)' : line;
    $('failcode').textContent = said.code;
    var cut = notes.some(function (n) {
      return n.text.indexOf('(nothing from here on is read)') >= 0;
    });
    $('failafter').textContent = said.after + (cut ? ' The export was not read to its end (see the notes): what the run looked for may be in the part not read.' : '');
  }

  function shownoexport(res, list) {
    var info = res.noexport;
    var note = res.notes.find(function (n) {
      return n.line === 1;
    }) || res.notes[0] || {line: 0, text: ''};
    $('noexportline').textContent = 'comserial: ' + (note.line ? 'line ' + note.line + ': ' : '') + note.text;
    if (!info) {
      $('noexportwhat').textContent = 'comserial read nothing: ' + note.text + '.';
      $('noexportnext').textContent = '';
      return;
    }
    var bad = info.files.map(function (i) {
      return list[i];
    });
    var culprit = bad[bad.length - 1];
    var what;
    if (info.kind === 'empty') what = names(bad) + (bad.length === 1 ? ' is empty' : ' are empty') + ': there is nothing to read.';
    else if (info.kind === 'zip') what = culprit.name + ' is a zip archive, not a registry export: unpack it and choose the .reg file inside.';
    else if (info.kind === 'utf16') what = culprit.name + ' is no registry export comserial can read: it looks like UTF-16 text without the byte-order mark such an export starts with.';
    else if (info.kind === 'binary') what = culprit.name + ' is no registry export: it does not start with text.';
    else what = culprit.name + ' is no registry export: its first line is “' + info.first + '”, where an export’s is “Windows Registry Editor Version 5.00” or “REGEDIT4”.';
    if (info.kind !== 'empty' && bad.length > 1) what += ' (' + names(bad.slice(0, -1)) + ' before it ' + (bad.length === 2 ? 'is' : 'are') + ' empty.)';
    $('noexportwhat').textContent = what;
    var rest = list.length - info.files.length;
    $('noexportnext').textContent = 'Nothing was read' + (rest > 0 ? ', not even the ' + (rest === 1 ? 'file' : rest + ' files') + ' after it' : '') +
      '. A file chosen or dropped now replaces ' + names(bad) + '.';
  }

  function shownotes(notes, list) {
    var ol = $('notes');
    ol.textContent = '';
    notes.forEach(function (n) {
      var li = document.createElement('li');
      li.dataset.line = String(n.line);
      if (n.line) {
        var where = document.createElement('span');
        where.className = 'where';
        where.textContent = n.file >= 0 ? list[n.file].name + ', line ' + n.fileline : 'line ' + n.line + ' of the files joined';
        li.append(where, ': ');
      }
      var text = document.createElement('span');
      text.className = 'text';
      text.textContent = n.text;
      li.append(text);
      ol.append(li);
    });
    $('notesbox').hidden = notes.length === 0;
    $('nonotes').hidden = notes.length !== 0;
  }

  function show(res, list, debug, t0, id) {
    // Decoded here again: a big text comes quicker so than as a message.
    var text = new TextDecoder(decoderlabel(res.codepage)).decode(res.stdout);
    last = {bytes: res.stdout, text: text, names: list.map((f) => f.name)};
    var st = res.status;
    $('status').textContent = String(st);
    $('meaning').textContent = statusmeaning(st) + '.';
    $('codepage').textContent = st === 2 ? '' : 'Text shown in code page ' + res.codepage + '.';
    document.body.dataset.status = String(st);

    if (st === 2 && res.noexport) {
      replacing = res.noexport.files.map(function (i) {
        return list[i];
      });
      showlist();
    }

    // Rows and lines go in blocks that the browser lays out only when they
    // are scrolled to: a big export's table and output stay quick to show.
    var found = res.adapters;
    var table = $('adapters');
    table.querySelectorAll('.rows').forEach(function (g) {
      g.remove();
    });
    table.setAttribute('aria-rowcount', String(found.length + 1));
    var groups = [];
    for (var r = 0; r < found.length; r += tablebatch) {
      var group = document.createElement('div');
      group.className = 'rows';
      group.setAttribute('role', 'rowgroup');
      group.dataset.first = String(r);
      group.style.containIntrinsicSize = 'auto ' + (Math.min(r + tablebatch, found.length) - r) * 1.9 + 'em';
      groups.push(group);
    }
    var fillgroup = function (group) {
      var first = Number(group.dataset.first);
      var end = Math.min(first + tablebatch, found.length);
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
    $('adapterpart').hidden = st === 2;
    $('tablebox').hidden = found.length === 0;
    $('none').hidden = found.length !== 0;
    $('partial').hidden = st !== 1;

    var out = $('output');
    out.textContent = '';
    resize = null;
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
      // The first block and the last two are always laid out: the page
      // opens on the first, and End lands on the last ones, whose height is
      // then their own and not an estimate that changes once they are seen.
      if (i > 0 && i < res.blocks.length - 2) block.className = 'block later';
      return block;
    };
    // The height a block not yet laid out is given: its lines, each as many
    // rows as it wraps to, the text being in one monospace font and a line's
    // rows after its first indented by two characters.
    var sizeblocks = function () {
      var width = out.clientWidth - parseFloat(getComputedStyle(out).paddingLeft) - parseFloat(getComputedStyle(out).paddingRight);
      var probe = document.createElement('span');
      probe.textContent = '0'.repeat(64);
      out.append(probe);
      var charwidth = probe.getBoundingClientRect().width / 64;
      probe.remove();
      var lineheight = parseFloat(getComputedStyle(out).lineHeight);
      if (!(width > 0 && charwidth > 0 && lineheight > 0)) return;
      var perrow = Math.max(1, Math.floor(width / charwidth));
      var blocks = out.children;
      for (var i = 1; i < blocks.length - 2; i++) {
        var at = res.blocks[i], stop = i + 1 < res.blocks.length ? res.blocks[i + 1] : text.length, rows = 0;
        while (at < stop) {
          var nl = text.indexOf('\n', at);
          if (nl < 0 || nl > stop) nl = stop;
          rows += nl - at <= perrow ? 1 : 1 + Math.ceil((nl - at - perrow) / Math.max(1, perrow - 2));
          at = nl + 1;
        }
        blocks[i].style.containIntrinsicSize = 'auto ' + rows * lineheight + 'px';
      }
    };
    var empty = text === '';
    out.hidden = empty;
    $('outbuttons').hidden = empty;
    $('nooutput').hidden = !empty;

    $('explain').hidden = !res.explained;
    if (res.explained) showfailure(res.explained, text.slice(fail[0], fail[1]), res.notes);
    $('noexport').hidden = st !== 2;
    if (st === 2) shownoexport(res, list);
    shownotes(res.notes, list);
    $('copied').textContent = '';
    $('result').hidden = false;

    // Done once the result is on screen: after the next frame is painted.
    document.body.dataset.runms = String(Math.round(res.ms));
    var ms = 0;
    var summary = function () {
      var head = 'Read ' + names(list) + ': ';
      if (st === 2) return head + (res.noexport ? (res.noexport.kind === 'empty' ? 'nothing to read' : 'no registry export') : 'nothing read') + ', exit status 2.';
      var count = found.length + (found.length === 1 ? ' adapter' : ' adapters');
      return head + 'exit status ' + st + (st === 1 ? ', stopped early; ' + count + ' found before it' : ', ' + count) + ', in ' + ms + ' ms.';
    };
    var finish = function () {
      document.body.dataset.ms = String(ms);
      setstate('done', summary());
    };
    var done = function () {
      requestAnimationFrame(function () {
        setTimeout(function () {
          if (id !== runid) return;
          ms = Math.round(performance.now() - t0);
          if (!debug && res.explained && res.explained.stage !== 'map') {
            setstate('running', 'Finding which key and adapter the failure concerns…');
            withcontext(list, id, function (more) {
              if (more) showfailure(more, text.slice(fail[0], fail[1]), res.notes);
              finish();
            });
          } else {
            finish();
          }
        }, 0);
      });
    };
    // The output's blocks go on the page a batch at a time, and the table's
    // row groups likewise, so the page answers meanwhile; all of the output is
    // there in the end, for find in page and for scrolling to its end.
    var nextblock = 0, nextgroup = 0, sized = false;
    var fill = function () {
      if (id !== runid) return;
      var frag = document.createDocumentFragment();
      for (var end = Math.min(nextblock + blockbatch, res.blocks.length); nextblock < end; nextblock++)
        frag.append(makeblock(nextblock));
      out.append(frag);
      for (var gend = Math.min(nextgroup + 4, groups.length); nextgroup < gend; ) fillgroup(groups[nextgroup++]);
      if (nextblock === res.blocks.length && !sized) {
        sized = true;
        sizeblocks();
        resize = sizeblocks;
      }
      if (nextblock < res.blocks.length || nextgroup < groups.length) {
        setstate('running', 'Showing the output: ' + Math.min(nextblock * blocklines, res.lines) + ' of ' + res.lines + ' lines…');
        setTimeout(fill, 0);
      } else {
        done();
      }
    };
    fill();
  }

  // A new width wraps the lines anew: the blocks not laid out get new heights.
  var resize = null, width = 0;
  new ResizeObserver(function (seen) {
    var w = seen[seen.length - 1].contentRect.width;
    if (w === width) return;
    width = w;
    if (resize) resize();
  }).observe($('output'));

  // End and Home in the output jump there at once: a smooth scroll across
  // blocks laid out as it passes them stops short (Firefox).
  $('output').addEventListener('keydown', function (e) {
    if (e.altKey || e.shiftKey || e.metaKey || (e.key !== 'End' && e.key !== 'Home')) return;
    e.preventDefault();
    var out = e.currentTarget;
    out.scrollTop = e.key === 'End' ? out.scrollHeight : 0;
  });

  $('choose').addEventListener('click', function () {
    $('files').click();
  });
  $('files').addEventListener('change', function (e) {
    add(e.target.files);
    e.target.value = '';
  });
  $('clear').addEventListener('click', function () {
    files = [];
    say('Cleared the list.');
    changed();
    $('choose').focus();
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
  showlist();
})();
