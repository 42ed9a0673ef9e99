// A script written in parts: a line asked of the first part opens in the
// part that holds it, and a label link into another part lands there.
// Parameters: page (the first part), fragment (L<n>, the page is opened
// at it), part_page (file name of the part holding line n).

browserCheck('a line of a later part opens there at the top', async (doc, ctx) => {
  const fragment = ctx.param('fragment');
  const there = await ctx.arrivedAt(ctx.param('part_page'));
  ctx.expectEqual(ctx.window.location.hash, '#' + fragment, 'location in the part');
  const line = there.getElementById(fragment);
  if (!line) throw new Error(`no ${fragment} in ${ctx.param('part_page')}`);
  ctx.expectLineAtTop(line, fragment + ' in ' + ctx.param('part_page'));
});

browserCheck('a label link into another part lands on the label', async (doc, ctx) => {
  const first = await ctx.load(ctx.param('page'));
  await ctx.settle();
  await ctx.followLabelLinkOut(first, 'another part');
});
