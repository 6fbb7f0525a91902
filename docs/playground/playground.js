'use strict';
// The playground page: files in tabs, the tool's arguments as controls, and a run of the tool in
// a Web Worker after every change. The state (files, arguments, environment) lives in the URL
// fragment, so that a link reopens it; model.js reads and writes it.

(function () {
  const model = self.playgroundModel;
  const graphs = self.playgroundGraph;
  const $ = (id) => document.getElementById(id);

  const kExample = {
    files: [
      ['in.xml', [
        '<config name="demo">',
        '  <!-- MODE comes from the macro list. -->',
        '  <define name="GREETING" value="Hello"/>',
        '  <if MODE="debug">',
        '    <log level="verbose"/>',
        '  </if>',
        '  <include filename="lib.xml" macros="ITEM=$(MODE)"/>',
        '  <message text="$(GREETING), $(MODE) mode"/>',
        '</config>',
        '',
      ].join('\n')],
      ['lib.xml', '<item name="$(ITEM)" greeting="$(GREETING)"/>\n'],
    ],
    args: ['--diagnostics=gnu', 'in.xml', 'out.xml', 'MODE=debug'],
    env: {},
  };
  const kDebounceMs = 300;
  // A run still going this long after it started gives way to a newer change.
  const kSupersedeMs = 1000;

  let state;
  let active = null; // the name of the file in the editor
  let writtenFragment = '';
  let workerUrl = null;
  let worker = null;
  let current = null; // the run in progress: { id, started, args }
  let queued = false;
  let timer = 0;
  let ticker = 0;
  let lastId = 0;
  let finishedRuns = 0;

  // ---- The state and the URL ----

  const visibleFiles = () => state.files.filter(([name]) => !model.isPageFile(name));
  const fileIndex = (name) => state.files.findIndex(([other]) => other === name);
  const findFile = (path) => state.files.find(([name]) => model.normalPath(name) === path);

  function showStateMessage(text) {
    $('state-message').textContent = text;
    $('state-message').hidden = !text;
  }

  function loadFragment() {
    showStateMessage('');
    state = null;
    if (location.hash.length > 1) {
      try {
        state = model.decodeState(location.hash);
      } catch (error) {
        showStateMessage(`This link's state cannot be read (${error.message}); the page shows its example instead.`);
      }
    }
    if (!state) state = JSON.parse(JSON.stringify(kExample));
    writtenFragment = location.hash.replace(/^#/, '');
    const input = findFile(model.normalPath(model.inputOf(state.args) || ''));
    const shown = visibleFiles();
    active = input && !model.isPageFile(input[0]) ? input[0] : shown.length > 0 ? shown[0][0] : null;
  }

  function writeFragment() {
    const fragment = model.encodeState(state);
    if (fragment.length > model.kFragmentLimit) {
      const size = Math.ceil(fragment.length / 1024);
      showStateMessage(`The state is too large to keep in the link (${size} KiB, the limit is ${model.kFragmentLimit / 1024} KiB): the address bar keeps an earlier state.`);
      return;
    }
    showStateMessage('');
    if (fragment === writtenFragment) return;
    history.replaceState(null, '', `#${fragment}`);
    writtenFragment = fragment;
  }

  // ---- Rendering the state ----

  function renderTabs() {
    const tabs = $('tabs');
    tabs.replaceChildren();
    const input = model.normalPath(model.inputOf(state.args) || '');
    for (const [name] of visibleFiles()) {
      const tab = document.createElement('button');
      tab.type = 'button';
      tab.setAttribute('role', 'tab');
      tab.setAttribute('aria-selected', String(name === active));
      tab.dataset.file = name;
      tab.textContent = name;
      if (model.normalPath(name) === input) {
        tab.classList.add('input');
        tab.title = 'The input file';
        const badge = document.createElement('span');
        badge.className = 'badge';
        badge.textContent = 'input';
        tab.append(' ', badge);
      }
      tabs.append(tab);
    }
    for (const id of ['rename-file', 'delete-file', 'make-input']) $(id).disabled = active === null;
  }

  function renderEditor() {
    const editor = $('input');
    const at = active === null ? -1 : fileIndex(active);
    const text = at >= 0 ? state.files[at][1] : '';
    if (editor.value !== text) editor.value = text;
    editor.disabled = at < 0;
  }

  const setValue = (element, value) => {
    if (element.value !== value) element.value = value;
  };

  function renderControls() {
    const args = state.args;
    setValue($('macros'), model.macrosOf(args));
    setValue($('outfile'), model.outputOf(args) || '');
    for (const box of document.querySelectorAll('[data-flags]')) box.checked = model.hasFlag(args, box.dataset.flags.split(' '));
    for (const box of document.querySelectorAll('[data-check]')) box.checked = model.checkEnabled(args, box.dataset.check, true);
    $('command').textContent = model.commandLine(args, state.env);
  }

  function renderAll() {
    renderTabs();
    renderEditor();
    renderControls();
  }

  // After any change of the state: shown at once, kept in the URL and run after a pause.
  function changed() {
    renderTabs();
    renderControls();
    clearTimeout(timer);
    // What the panes show is out of date until the next run.
    if (!current && workerUrl) $('status').dataset.state = 'pending';
    timer = setTimeout(() => {
      timer = 0;
      writeFragment();
      startRun();
    }, kDebounceMs);
  }

  // ---- Places: a message line that names a file and line opens it ----

  // `text` into `pre`, as it is, with each line that names a file of the state made a link.
  function renderWithPlaces(pre, text) {
    pre.replaceChildren();
    let plain = '';
    for (const piece of text.split(/(?<=\n)/)) {
      const line = piece.replace(/\n$/, '');
      const place = model.placeOf(line);
      if (!place || !findFile(place.file)) {
        plain += piece;
        continue;
      }
      if (plain) pre.append(plain);
      plain = piece.slice(line.length);
      const link = document.createElement('span');
      link.className = 'place';
      link.setAttribute('role', 'link');
      link.tabIndex = 0;
      link.dataset.file = place.file;
      link.dataset.line = String(place.line);
      link.textContent = line;
      pre.append(link);
    }
    if (plain) pre.append(plain);
  }

  function openPlace(path, line) {
    const file = findFile(path);
    if (!file || model.isPageFile(file[0])) return;
    active = file[0];
    renderTabs();
    renderEditor();
    const editor = $('input');
    const lines = editor.value.split('\n');
    const row = Math.min(Math.max(line, 1), lines.length) - 1;
    const start = lines.slice(0, row).reduce((sum, text) => sum + text.length + 1, 0);
    editor.focus();
    editor.setSelectionRange(start, start + lines[row].length);
    const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 18;
    editor.scrollTop = Math.max(0, row * lineHeight - editor.clientHeight / 3);
  }

  function onPlaceEvent(event) {
    if (event.type === 'keydown' && event.key !== 'Enter') return;
    const link = event.target.closest('.place');
    if (link) openPlace(link.dataset.file, Number(link.dataset.line));
  }

  // ---- Runs ----

  function setStatus(stateName, text, status) {
    const element = $('status');
    element.dataset.state = stateName;
    element.textContent = text;
    if (status === undefined) delete element.dataset.status;
    else element.dataset.status = String(status);
    $('stop').disabled = stateName !== 'running';
  }

  function startWorker() {
    if (worker) worker.terminate();
    worker = new Worker(workerUrl);
    worker.onmessage = (event) => finishRun(event.data);
    worker.onerror = (event) => {
      event.preventDefault();
      finishRun({ id: current && current.id, error: event.message || 'the worker failed' });
    };
  }

  function startRun() {
    if (!workerUrl) return; // the tool is still loading: it runs once loaded
    if (current) {
      const elapsed = performance.now() - current.started;
      if (elapsed < kSupersedeMs) {
        // Runs after this one, or instead of it if it is still going then.
        if (!queued) setTimeout(() => current && queued && ((queued = false), startRun()), kSupersedeMs - elapsed + 10);
        queued = true;
        return;
      }
      queued = false;
      startWorker();
    }
    const files = Object.fromEntries(state.files);
    const args = model.withPageOutputs(state.args);
    // The trace and graph files go into a folder of their own, which must exist.
    if (args.length > state.args.length) files[`${model.kPageFolder}.folder`] = '';
    current = { id: ++lastId, started: performance.now(), args };
    worker.postMessage({ id: current.id, files, args, env: state.env || {} });
    setStatus('running', 'running…');
    clearInterval(ticker);
    ticker = setInterval(() => {
      if (current) setStatus('running', `running… ${Math.floor((performance.now() - current.started) / 1000)} s`);
    }, 1000);
  }

  function endRun() {
    current = null;
    clearInterval(ticker);
    finishedRuns += 1;
    document.body.dataset.runs = String(finishedRuns);
    if (!document.body.dataset.firstOutputMs) document.body.dataset.firstOutputMs = String(Math.round(performance.now()));
  }

  function finishRun(reply) {
    if (!current || reply.id !== current.id) return;
    const { args } = current;
    endRun();
    if (reply.error) {
      setStatus(timer ? 'pending' : 'error', 'failed');
      $('messages').textContent = `The tool stopped with an internal error: ${reply.error}`;
      startWorker();
    } else {
      showResult(reply.result, args);
    }
    if (queued) {
      queued = false;
      startRun();
    }
  }

  function showResult(result, args) {
    const output = model.outputOf(args);
    const outputFile = output && output !== '-' ? model.normalPath(output) : null;
    $('output-name').textContent = outputFile ? `(${outputFile})` : '(standard output)';
    $('output').textContent = outputFile ? (result.files[outputFile] || '') : result.stdout;
    $('stdout').textContent = outputFile ? result.stdout : '';
    $('stdout-box').hidden = !(outputFile && result.stdout);
    renderWithPlaces($('messages'), result.stderr);
    setStatus(timer ? 'pending' : 'done', `exit status ${result.status}`, result.status);

    const trace = model.traceTarget(args);
    if (trace && trace.file) {
      const text = result.files[model.normalPath(trace.file)];
      renderWithPlaces($('trace'), text === undefined ? 'No trace: the run wrote none.' : text);
    } else {
      $('trace').textContent = 'The command line sends the trace to standard error: it is under Messages.';
    }

    const graphFile = model.optionFile(args, '--graph');
    showGraph(graphFile === undefined ? undefined : result.files[model.normalPath(graphFile)]);
  }

  function showGraph(dot) {
    const pane = $('graph');
    pane.replaceChildren();
    if (dot === undefined) {
      pane.textContent = 'No graph: the run ended before writing it.';
      return;
    }
    const graph = graphs.parseDot(dot);
    const svg = graphs.drawGraph(graph, (node) => {
      const lines = node.label.split('\n');
      const place = model.placeOf(`  at ${lines[lines.length - 1]}`);
      if (place) openPlace(place.file, place.line);
      else openPlace(model.normalPath(node.label), 1);
    });
    if (svg) {
      pane.append(svg);
      return;
    }
    const note = document.createElement('p');
    note.textContent = graph.nodes.length > graphs.kMaxNodes
      ? `The graph has ${graph.nodes.length} nodes, too many to draw here; its DOT text:`
      : 'The graph has a cycle, which this page does not draw; its DOT text:';
    const text = document.createElement('pre');
    text.textContent = dot;
    pane.append(note, text);
  }

  function stop() {
    if (!current) return;
    const seconds = ((performance.now() - current.started) / 1000).toFixed(1);
    current = null;
    queued = false;
    clearInterval(ticker);
    startWorker();
    setStatus('stopped', 'stopped');
    $('output').textContent = '';
    $('stdout-box').hidden = true;
    $('messages').textContent = `The run was stopped after ${seconds} s. A change to a file or an option runs the tool again.`;
  }

  // ---- Files ----

  function askName(question, proposal) {
    const name = prompt(question, proposal);
    if (name === null) return null;
    const clean = model.normalPath(name.trim());
    if (!clean || name.trim().startsWith('/') || name.includes('..')) {
      alert('A file name is a path inside the run\'s folder, such as "lib.xml" or "parts/a.xml".');
      return null;
    }
    if (model.isPageFile(clean)) {
      alert(`The folder ${model.kPageFolder} belongs to the page.`);
      return null;
    }
    if (findFile(clean)) {
      alert(`There is a file ${clean} already.`);
      return null;
    }
    return clean;
  }

  function newFile() {
    let n = 1;
    while (findFile(`file${n}.xml`)) n += 1;
    const name = askName('Name of the new file:', `file${n}.xml`);
    if (name === null) return;
    state.files.push([name, '']);
    active = name;
    renderEditor();
    changed();
    $('input').focus();
  }

  function renameFile() {
    const name = askName(`New name of ${active}:`, active);
    if (name === null) return;
    if (model.normalPath(model.inputOf(state.args) || '') === model.normalPath(active)) state.args = model.setInput(state.args, name);
    state.files[fileIndex(active)][0] = name;
    active = name;
    changed();
  }

  function deleteFile() {
    if (!confirm(`Delete ${active}?`)) return;
    state.files.splice(fileIndex(active), 1);
    const shown = visibleFiles();
    active = shown.length > 0 ? shown[0][0] : null;
    renderEditor();
    changed();
  }

  // ---- Wiring ----

  function wire() {
    $('tabs').addEventListener('click', (event) => {
      const tab = event.target.closest('[data-file]');
      if (!tab) return;
      active = tab.dataset.file;
      renderTabs();
      renderEditor();
    });
    $('input').addEventListener('input', () => {
      if (active === null) return;
      state.files[fileIndex(active)][1] = $('input').value;
      changed();
    });
    $('macros').addEventListener('input', () => {
      state.args = model.setMacros(state.args, $('macros').value);
      changed();
    });
    $('outfile').addEventListener('change', () => {
      state.args = model.setOutput(state.args, $('outfile').value.trim() || '-');
      changed();
    });
    for (const box of document.querySelectorAll('[data-flags]')) {
      box.addEventListener('change', () => {
        state.args = model.setFlag(state.args, box.dataset.flags.split(' '), box.checked);
        changed();
      });
    }
    for (const box of document.querySelectorAll('[data-check]')) {
      box.addEventListener('change', () => {
        state.args = model.setCheck(state.args, box.dataset.check, true, box.checked);
        changed();
      });
    }
    $('new-file').addEventListener('click', newFile);
    $('rename-file').addEventListener('click', renameFile);
    $('delete-file').addEventListener('click', deleteFile);
    $('make-input').addEventListener('click', () => {
      state.args = model.setInput(state.args, active);
      changed();
    });
    $('stop').addEventListener('click', stop);
    for (const pane of [$('messages'), $('trace')]) {
      pane.addEventListener('click', onPlaceEvent);
      pane.addEventListener('keydown', onPlaceEvent);
    }
    for (const button of document.querySelectorAll('[data-view]')) {
      button.addEventListener('click', () => {
        for (const other of document.querySelectorAll('[data-view]')) {
          other.setAttribute('aria-selected', String(other === button));
          $(other.dataset.view).hidden = other !== button;
        }
      });
    }
    // A link opened on this page (or typed into the address bar) replaces the state.
    window.addEventListener('hashchange', () => {
      if (location.hash.replace(/^#/, '') === writtenFragment) return;
      loadFragment();
      renderAll();
      clearTimeout(timer);
      startRun();
    });
  }

  // The worker is built from the three scripts it needs, fetched once, so that starting a new
  // one (after Stop) asks the server for nothing.
  async function loadTool() {
    const sources = await Promise.all(['xmlpp.js', 'run.js', 'worker.js'].map(async (name) => {
      const response = await fetch(name);
      if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
      return response.text();
    }));
    return URL.createObjectURL(new Blob([sources.join('\n;\n')], { type: 'text/javascript' }));
  }

  async function start() {
    wire();
    loadFragment();
    renderAll();
    if (location.hash.length <= 1) writeFragment();
    try {
      workerUrl = await loadTool();
    } catch (error) {
      setStatus('error', 'not loaded');
      $('messages').textContent = `The tool could not be loaded (${error.message}). The page needs xmlpp.js beside it (make playground) and a web server, e.g. python3 -m http.server in docs/playground.`;
      return;
    }
    startWorker();
    startRun();
  }

  start();
})();
