// The colour scheme of an -html5 page: the light one by default, the dark
// one under prefers-color-scheme: dark, every token type readable in both.
// Parameters: scheme ("light" or "dark", the scheme the browser asks for).

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

// The rules of the page's sheet outside any @media, and inside the dark one.
function sheetRules(doc) {
  const light = [], dark = [];
  for (const sheet of doc.styleSheets) {
    for (const rule of sheet.cssRules) {
      if (rule.style) light.push(rule);
      if (rule.media && rule.media.mediaText.includes('prefers-color-scheme: dark')) dark.push(...rule.cssRules);
    }
  }
  return { light, dark };
}

// The value the sheet's last rule for selector gives property.
function declared(rules, selector, property) {
  const rule = rules.filter((r) => r.selectorText === selector && r.style[property]).pop();
  if (!rule) throw new Error(`no ${property} for ${selector}`);
  return rule.style[property];
}

// The computed colour of an element of each token class: one on the page
// where there is one, else one made for the purpose.
function tokenColours(doc, ctx, classes) {
  const code = doc.querySelector('pre.code');
  const colours = {};
  for (const name of classes) {
    let element = code.querySelector('.' + name);
    if (!element) {
      element = doc.createElement('span');
      element.className = name;
      element.textContent = 'x';
      code.appendChild(element);
    }
    colours[name] = ctx.window.getComputedStyle(element).color;
  }
  return colours;
}

browserCheck('colour scheme and contrast of every token type', async (doc, ctx) => {
  const scheme = ctx.param('scheme');
  const win = ctx.window;
  ctx.expectEqual(win.matchMedia('(prefers-color-scheme: dark)').matches, scheme === 'dark',
                  'prefers-color-scheme: dark');
  const rules = sheetRules(doc);
  // The token classes are the single classes the dark scheme colours.
  const classes = rules.dark.map((r) => r.selectorText).filter((s) => /^\.[a-z]+$/.test(s)).map((s) => s.slice(1));
  ctx.expectEqual(classes.length, 26, 'token classes in the dark scheme');
  for (const element of doc.querySelectorAll('pre.code [class]')) {
    for (const name of element.classList) {
      if (!classes.includes(name) && name !== 'l' && name !== 'n') throw new Error('class without a dark colour: ' + name);
    }
  }

  const background = win.getComputedStyle(doc.body).backgroundColor;
  const comment = tokenColours(doc, ctx, ['c']).c;
  const lightBody = declared(rules.light, 'body', 'backgroundColor');
  const lightComment = declared(rules.light, '.c', 'color');
  if (scheme === 'dark') {
    if (background === lightBody) throw new Error('the dark background is the light one: ' + background);
    if (comment === lightComment) throw new Error('a comment has its light colour: ' + comment);
  } else {
    ctx.expectEqual(background, lightBody, 'background');
    ctx.expectEqual(comment, lightComment, 'comment colour');
  }

  // Against the page and against a targeted line's highlight.
  const target = doc.querySelector('pre.code .l:last-of-type') || doc.querySelector('pre.code .l');
  await ctx.goTo(target.id);
  const highlight = win.getComputedStyle(target).backgroundColor;
  const backgrounds = [['background', background]];
  if (rgbaOf(highlight)[3] === 1) backgrounds.push(['targeted line', highlight]);
  const colours = tokenColours(doc, ctx, classes);
  for (const [name, colour] of Object.entries(colours)) {
    for (const [where, behind] of backgrounds) {
      const ratio = contrastRatio(colour, behind);
      if (ratio < 4.5) throw new Error(`.${name} ${colour} on the ${where} ${behind}: contrast ${ratio.toFixed(2)}`);
    }
  }
});
