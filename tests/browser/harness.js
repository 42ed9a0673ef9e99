// Loads the page under test into the iframe, runs the check files named in
// the query string against its document and writes one line per check into
// #results: "PASS name" or "FAIL name: reason", then "DONE". The runner reads
// them from Chromium's --dump-dom output.
//
// Query parameters: page (absolute path of the page), checks (comma-separated
// check names, files under checks/), and any further name=value pairs, which
// the checks read with ctx.param(name).
'use strict';

const registered = [];

// Called by the check files: fn(doc, ctx) passes by returning and fails by throwing.
function browserCheck(name, fn) {
  registered.push({ file: browserCheck.currentFile, name, fn });
}

const results = document.getElementById('results');
function report(line) {
  results.textContent += line + '\n';
}

function fileUrl(path) {
  if (/^[a-z]+:/.test(path)) return path;
  return 'file://' + path.split('/').map(encodeURIComponent).join('/');
}

function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error('cannot load ' + src));
    document.head.appendChild(script);
  });
}

function loadFrame(frame, url) {
  return new Promise((resolve, reject) => {
    frame.onload = () => resolve(frame.contentDocument);
    frame.onerror = () => reject(new Error('cannot load ' + url));
    frame.src = url;
  });
}

// A file read as UTF-8 text (needs --allow-file-access-from-files for file://).
function readText(path) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('GET', fileUrl(path));
    request.overrideMimeType('text/plain; charset=utf-8');
    request.onload = () => resolve(request.responseText);
    request.onerror = () => reject(new Error('cannot read ' + path));
    request.send();
  });
}

// Lets pending layout, scrolling and events happen. A timer, not
// requestAnimationFrame: headless Chromium may dump the DOM before a frame is drawn.
// The harness's own timer: one of a page that navigates away never fires.
function settle() {
  return new Promise((resolve) => setTimeout(resolve, 50));
}

// Where the first difference of two texts is, line by line, for a failure message.
function firstDifference(actual, expected) {
  const a = actual.split('\n'), e = expected.split('\n');
  for (let i = 0; i < Math.max(a.length, e.length); ++i) {
    if (a[i] !== e[i]) {
      return `line ${i + 1}: got ${JSON.stringify(a[i])}, expected ${JSON.stringify(e[i])}` +
             ` (${a.length} lines, expected ${e.length})`;
    }
  }
  return 'texts are equal';
}

// "#rgb" or "#rrggbb" as the "rgb(r, g, b)" form getComputedStyle gives.
function cssRgb(hex) {
  let digits = hex.replace(/^#/, '');
  if (digits.length === 3) digits = digits.split('').map((d) => d + d).join('');
  if (!/^[0-9a-fA-F]{6}$/.test(digits)) throw new Error('not a hex colour: ' + hex);
  const n = parseInt(digits, 16);
  return `rgb(${(n >> 16) & 255}, ${(n >> 8) & 255}, ${n & 255})`;
}

// The line (an element with an id L<n> right inside a block of an -html5
// page, or an element .l of an older page) that holds target.
function lineOf(target) {
  return target.closest('.b > [id^="L"], .l');
}

// Throws unless target is at the top of the window, below its scroll margin
// and clear of the page's sticky bar, or, near the end of the page, fully in
// view with the page scrolled as far as it goes; and so is its line.
function expectLineAtTop(win, target, what) {
  const line = lineOf(target);
  if (!line) throw new Error(`${what}: #${target.id} is in no line`);
  const margin = parseFloat(win.getComputedStyle(target).scrollMarginTop) || 0;
  const box = target.getBoundingClientRect();
  const lineBox = line.getBoundingClientRect();
  const scroller = win.document.scrollingElement;
  const atEnd = win.scrollY >= scroller.scrollHeight - win.innerHeight - 1;
  const inView = box.top >= 0 && lineBox.bottom <= win.innerHeight;
  if (Math.abs(box.top - lineBox.top) > 2) throw new Error(`${what}: #${target.id} is not on the first row of ${line.id}`);
  const bar = win.document.querySelector('.bar');
  if (bar && bar.getBoundingClientRect().bottom > box.top + 0.5) {
    throw new Error(`${what}: ${line.id} at ${box.top}px is under the bar (bottom ${bar.getBoundingClientRect().bottom}px)`);
  }
  if (Math.abs(box.top - margin) <= 2 || (atEnd && inView)) return;
  throw new Error(`${what}: ${line.id} is at ${box.top}px (scroll margin ${margin}px, scrolled to ${win.scrollY})`);
}

// Waits until test() gives a true value (checked every 50 ms), and returns it.
async function waitFor(test, what, milliseconds = 10000) {
  const end = Date.now() + milliseconds;
  for (;;) {
    let value;
    try {
      value = test();
    } catch (error) {
      value = undefined;
    }
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function makeContext(params, frame) {
  return {
    frame,
    get window() { return frame.contentWindow; },
    get document() { return frame.contentDocument; },
    param(name, fallback) {
      if (params.has(name)) return params.get(name);
      if (fallback !== undefined) return fallback;
      throw new Error('missing parameter ' + name);
    },
    readText,
    cssRgb,
    firstDifference,
    settle: () => settle(),
    waitFor,
    expectLineAtTop: (target, what) => expectLineAtTop(frame.contentWindow, target, what),
    // Opens the page at path (absolute, or a URL) in the frame.
    load: (path) => loadFrame(frame, fileUrl(path)),
    // Waits until the frame holds a loaded page whose file name is name
    // (after a link or a script took it there) and returns its document.
    async arrivedAt(name) {
      const doc = await waitFor(() => {
        const d = frame.contentDocument;
        const file = decodeURIComponent(frame.contentWindow.location.pathname.split('/').pop());
        return file === name && d.readyState === 'complete' ? d : null;
      }, 'the page ' + name);
      await settle();
      return doc;
    },
    // Clicks the first label link of doc into another page and checks that
    // the page it opens shows that label at the top.
    async followLabelLinkOut(doc, what) {
      const link = doc.querySelector('main.code a.gl[href*=".html#l-"]');
      if (!link) throw new Error('no label link into ' + what);
      const [file, id] = link.getAttribute('href').split('#');
      link.click();
      const there = await this.arrivedAt(decodeURIComponent(file));
      const label = there.getElementById(id);
      if (!label) throw new Error(`no #${id} in ${file}`);
      this.expectEqual(label.textContent.toLowerCase(), link.textContent.toLowerCase(), 'label reached');
      this.expectLineAtTop(label, link.textContent + ' in ' + file);
    },
    // Go to "#fragment" inside the page and wait for it to be laid out.
    async goTo(fragment) {
      frame.contentWindow.location.hash = fragment;
      await settle();
    },
    expectEqual(actual, expected, what) {
      if (actual !== expected) {
        throw new Error(`${what}: got ${JSON.stringify(actual)}, expected ${JSON.stringify(expected)}`);
      }
    },
  };
}

async function runChecks() {
  const params = new URLSearchParams(location.search);
  const frame = document.getElementById('page');
  const checkNames = (params.get('checks') || '').split(',').filter((n) => n);
  if (!params.get('page')) throw new Error('no page= given');
  if (checkNames.length === 0) throw new Error('no checks= given');

  for (const name of checkNames) {
    browserCheck.currentFile = name;
    await loadScript('checks/' + encodeURIComponent(name) + '.js');
  }
  if (registered.length === 0) throw new Error('the check files registered no checks');

  const url = fileUrl(params.get('page')) + (params.has('fragment') ? '#' + params.get('fragment') : '');
  await loadFrame(frame, url);
  if (!frame.contentDocument) throw new Error('page document not readable: ' + url);
  await settle();

  const ctx = makeContext(params, frame);
  for (const check of registered) {
    const label = `${check.file}: ${check.name}`;
    try {
      await check.fn(frame.contentDocument, ctx);
      report('PASS ' + label);
    } catch (error) {
      report('FAIL ' + label + ': ' + (error && error.message ? error.message : String(error)));
    }
  }
}

window.addEventListener('error', (event) => report('FAIL harness: ' + event.message));
window.addEventListener('load', () => {
  runChecks()
    .catch((error) => report('FAIL harness: ' + error.message))
    .finally(() => report('DONE'));
});
