// A game's site opened from file://: a label link into another file of the
// game, and the "go to" box of the front page.
// Parameters: page (a page with a label link into another file),
// front_page (path of index.html), go_to ("query=>file.html#Ln" pairs,
// separated by ";"), go_nowhere (a query that names no place).

browserCheck('a label link into another file lands on the label', async (doc, ctx) => {
  await ctx.followLabelLinkOut(doc, 'another file');
});

// Types query into the box and submits it as a reader would.
async function goTo(ctx, front, query) {
  const box = front.querySelector('form#go input');
  box.value = query;
  front.getElementById('go').requestSubmit();
  await ctx.settle();
}

browserCheck('the go to box opens an engine place', async (doc, ctx) => {
  for (const pair of ctx.param('go_to').split(';')) {
    const [query, place] = pair.split('=>');
    const [file, line] = place.split('#');
    const front = await ctx.load(ctx.param('front_page'));
    await goTo(ctx, front, query);
    const there = await ctx.arrivedAt(file);
    ctx.expectEqual(ctx.window.location.hash, '#' + line, `location after going to ${query}`);
    ctx.expectLineAtTop(there.getElementById(line), `${query} (${place})`);
  }
  const front = await ctx.load(ctx.param('front_page'));
  await goTo(ctx, front, ctx.param('go_nowhere'));
  if (front.getElementById('nowhere').hidden) throw new Error(`${ctx.param('go_nowhere')} is not said to be nowhere`);
  ctx.expectEqual(decodeURIComponent(ctx.window.location.pathname.split('/').pop()), 'index.html', 'page after a place that is nowhere');
});

browserCheck('the label filter keeps the labels that match', async (doc, ctx) => {
  const front = await ctx.load(ctx.param('front_page'));
  const filter = front.getElementById('filter');
  filter.value = ctx.param('filter_text');
  filter.dispatchEvent(new ctx.window.Event('input'));
  const shown = () => [...front.querySelectorAll('#labels li')].filter((li) => !li.hidden).map((li) => li.textContent.split(' ')[0]);
  const expected = ctx.param('filter_shows');
  await ctx.waitFor(() => shown().join(',') === expected, `the labels ${expected} (shown: ${shown().join(',')})`, 3000);
});
