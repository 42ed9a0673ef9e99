// Line and label links of an -html5 page land on their line.
// Parameters: fragment (the page is opened at #fragment; optional),
// top_lines (comma-separated line ids to go to, e.g. "L60,L104"),
// label_links (how many label links to click; without it the page must
// have at least one).

// The element a link went to is at the top of the window (below its
// scroll margin), or, near the end of the page, fully in view with the
// page scrolled as far as it goes; and so is the line that holds it.
function expectLineAtTop(ctx, target, what) {
  const win = ctx.window;
  const line = target.closest('.l');
  if (!line) throw new Error(`${what}: #${target.id} is in no line`);
  const margin = parseFloat(win.getComputedStyle(target).scrollMarginTop) || 0;
  const box = target.getBoundingClientRect();
  const lineTop = line.getBoundingClientRect().top;
  const scroller = win.document.scrollingElement;
  const atEnd = win.scrollY >= scroller.scrollHeight - win.innerHeight - 1;
  const inView = box.top >= 0 && line.getBoundingClientRect().bottom <= win.innerHeight;
  if (Math.abs(box.top - lineTop) > 2) throw new Error(`${what}: #${target.id} is not on the first row of ${line.id}`);
  if (Math.abs(box.top - margin) <= 2 || (atEnd && inView)) return;
  throw new Error(`${what}: ${line.id} is at ${box.top}px (scroll margin ${margin}px, scrolled to ${win.scrollY})`);
}

browserCheck('the page opened at a line shows it at the top', (doc, ctx) => {
  const fragment = ctx.param('fragment', '');
  if (!fragment) return;
  const line = doc.getElementById(fragment);
  if (!line) throw new Error('no element #' + fragment);
  expectLineAtTop(ctx, line, 'opened at #' + fragment);
});

browserCheck('#Ln puts line n at the top', async (doc, ctx) => {
  const ids = ctx.param('top_lines').split(',').filter((id) => id);
  if (ids.length === 0) throw new Error('no top_lines given');
  for (const id of ids) {
    const line = doc.getElementById(id);
    if (!line) throw new Error('no element #' + id);
    await ctx.goTo(id);
    expectLineAtTop(ctx, line, '#' + id);
  }
});

browserCheck('a label link lands on the line of its definition', async (doc, ctx) => {
  const links = [...doc.querySelectorAll('pre.code a.gl[href^="#"]')];
  const wanted = ctx.param('label_links', '');
  if (links.length === 0 && !wanted) throw new Error('no label link on the page');
  const count = wanted ? Math.min(links.length, parseInt(wanted, 10)) : links.length;
  for (const link of links.slice(0, count)) {
    const id = link.getAttribute('href').slice(1);
    link.click();
    await ctx.settle();
    ctx.expectEqual(ctx.window.location.hash, '#' + id, 'after clicking ' + link.textContent);
    const definition = doc.getElementById(id);
    if (!definition) throw new Error(`${link.textContent} links to #${id}, which is not on the page`);
    ctx.expectEqual(definition.textContent.toLowerCase(), link.textContent.toLowerCase(),
                    `definition of ${link.textContent}`);
    expectLineAtTop(ctx, definition, 'clicked ' + link.textContent);
  }
});

browserCheck('a label reference is linked exactly when its label is on the page', (doc, ctx) => {
  const defined = new Set();
  for (const label of doc.querySelectorAll('pre.code a.sl[id], pre.code a.tl[id]')) {
    defined.add(label.textContent.toLowerCase());
  }
  for (const reference of doc.querySelectorAll('pre.code a.gl')) {
    const name = reference.textContent.toLowerCase();
    const href = reference.getAttribute('href');
    if (defined.has(name) !== (href !== null)) {
      throw new Error(`${reference.textContent} on ${reference.closest('.l').id}: href ${href}, defined ${defined.has(name)}`);
    }
    if (href !== null && !doc.getElementById(href.slice(1))) throw new Error(`${reference.textContent}: no ${href}`);
  }
});
