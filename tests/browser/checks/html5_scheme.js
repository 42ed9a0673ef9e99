// The colour scheme of an -html5 page: the light one by default, the dark
// one under prefers-color-scheme: dark, every piece of the page readable in
// both. Parameters: scheme ("light" or "dark", the scheme the browser asks for).

// [r, g, b, a] of a computed colour ("rgb(1, 2, 3)" or "rgba(1, 2, 3, 0.5)").
function rgbaOf(colour) {
  const m = /^rgba?\(([\d.]+), ([\d.]+), ([\d.]+)(?:, ([\d.]+))?\)$/.exec(colour);
  if (!m) throw new Error('not a computed colour: ' + colour);
  return [+m[1], +m[2], +m[3], m[4] === undefined ? 1 : +m[4]];
}

function luminance(colour) {
  const [r, g, b] = rgbaOf(colour).map((v) => v / 255);
  const linear = (v) => (v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4));
  return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

// The WCAG contrast ratio of two opaque colours.
function contrastRatio(a, b) {
  const la = luminance(a), lb = luminance(b);
  return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05);
}

// The first opaque background at or above element.
function backgroundOf(win, element) {
  for (let e = element; e; e = e.parentElement) {
    const colour = win.getComputedStyle(e).backgroundColor;
    if (rgbaOf(colour)[3] === 1) return colour;
  }
  return 'rgb(255, 255, 255)';
}

// The pieces of text the page draws: every class of the code (one made on a
// line where the page has none), the references and their links, the bar
// and the label index.
const codeClasses = ['c', 'lt', 'nv', 'sv', 'av', 'dc', 'ec', 'cc', 'co', 'sc', 'ru', 'tg', 'tb',
                     'tl', 'gl', 'gl u', 'uc', 'uk', 'al', 'al u', 'ad', 'dy', 'j', 'refs', 'refs none'];

function pieces(doc) {
  const line = doc.querySelector('main.code .b > [id]');
  const found = [];
  for (const name of codeClasses) {
    const selector = '.' + name.replace(/ /g, '.');
    let element = doc.querySelector('main.code ' + selector);
    if (!element) {
      element = doc.createElement('span');
      element.className = name;
      element.textContent = 'x';
      line.appendChild(element);
    }
    found.push([selector, element]);
  }
  if (!doc.querySelector('main.code .refs a')) {
    const refs = doc.createElement('span');
    refs.className = 'refs';
    refs.innerHTML = '1 reference: <a href="#L1">1</a>';
    line.appendChild(refs);
  }
  for (const selector of ['main.code .refs a', '.bar a', '.bar b', '.idx summary', '.idx a', '.idx .ln', 'button.unfold']) {
    const element = doc.querySelector(selector);
    if (element) found.push([selector, element]);
  }
  return found;
}

browserCheck('colour scheme and contrast of every piece', async (doc, ctx) => {
  const scheme = ctx.param('scheme');
  const win = ctx.window;
  ctx.expectEqual(win.matchMedia('(prefers-color-scheme: dark)').matches, scheme === 'dark',
                  'prefers-color-scheme: dark');
  const background = win.getComputedStyle(doc.body).backgroundColor;
  const dark = luminance(background) < 0.2;
  if (dark !== (scheme === 'dark')) throw new Error(`the ${scheme} scheme has the background ${background}`);

  // Against its own background, and a line of code against a targeted line's highlight.
  const target = doc.querySelector('main.code .b > [id]');
  await ctx.goTo(target.id);
  const highlight = win.getComputedStyle(target).backgroundColor;
  if (highlight === background || rgbaOf(highlight)[3] === 0) throw new Error('a targeted line is not marked');
  const failures = [];
  for (const [selector, element] of pieces(doc)) {
    const colour = win.getComputedStyle(element).color;
    const behind = [backgroundOf(win, element)];
    if (element.closest('main.code')) behind.push(highlight);
    for (const back of behind) {
      const ratio = contrastRatio(colour, back);
      if (ratio < 4.5) failures.push(`${selector} ${colour} on ${back}: ${ratio.toFixed(2)}`);
    }
  }
  if (failures.length) throw new Error('contrast below 4.5: ' + failures.join('; '));
});
