// Line and label links of an -html5 page land on their line.
// Parameters: fragment (the page is opened at #fragment; optional),
// top_lines (comma-separated line ids to go to, e.g. "L60,L104"),
// label_links (how many label links to click; without it the page must
// have at least one).

browserCheck('the page opened at a line shows it at the top', (doc, ctx) => {
  const fragment = ctx.param('fragment', '');
  if (!fragment) return;
  const line = doc.getElementById(fragment);
  if (!line) throw new Error('no element #' + fragment);
  ctx.expectLineAtTop(line, 'opened at #' + fragment);
});

browserCheck('#Ln puts line n at the top', async (doc, ctx) => {
  const ids = ctx.param('top_lines').split(',').filter((id) => id);
  if (ids.length === 0) throw new Error('no top_lines given');
  for (const id of ids) {
    const line = doc.getElementById(id);
    if (!line) throw new Error('no element #' + id);
    await ctx.goTo(id);
    ctx.expectLineAtTop(line, '#' + id);
  }
});

browserCheck('a label link lands on the line of its definition', async (doc, ctx) => {
  const links = [...doc.querySelectorAll('main.code a.gl[href^="#"]')];
  const wanted = ctx.param('label_links', '');
  if (links.length === 0 && !wanted) throw new Error('no label link on the page');
  const count = wanted ? Math.min(links.length, parseInt(wanted, 10)) : links.length;
  // Spread over the page, so that far links are followed too.
  const step = Math.max(1, Math.floor(links.length / Math.max(count, 1)));
  for (let i = 0; i < count; ++i) {
    const link = links[i * step];
    const id = link.getAttribute('href').slice(1);
    link.click();
    await ctx.settle();
    ctx.expectEqual(ctx.window.location.hash, '#' + id, 'after clicking ' + link.textContent);
    const definition = doc.getElementById(id);
    if (!definition) throw new Error(`${link.textContent} links to #${id}, which is not on the page`);
    ctx.expectEqual(definition.textContent.toLowerCase(), link.textContent.toLowerCase(),
                    `definition of ${link.textContent}`);
    ctx.expectLineAtTop(definition, 'clicked ' + link.textContent);
  }
});

browserCheck('a label reference is a link exactly when its label is defined', (doc, ctx) => {
  const defined = new Set();
  for (const label of doc.querySelectorAll('main.code a.tl[id]')) defined.add(label.textContent.toLowerCase());
  for (const reference of doc.querySelectorAll('main.code .gl')) {
    const name = reference.textContent.toLowerCase();
    const line = reference.closest('.b > [id]').id;
    if (reference.matches('span.gl.u')) {
      if (defined.has(name)) throw new Error(`${reference.textContent} on ${line} is shown undefined`);
      if (!reference.title) throw new Error(`undefined ${reference.textContent} on ${line} has no title`);
      continue;
    }
    const href = reference.getAttribute('href') || '';
    if (!href.startsWith('#')) continue;  // another page of the run
    if (!doc.getElementById(href.slice(1))) throw new Error(`${reference.textContent} on ${line}: no ${href}`);
  }
});
