// The text a reader sees in the page is the script's text.
// Parameters: expect (path of the script as UTF-8 with LF line ends),
// text_in (CSS selector of the element holding the lines, default "pre").
browserCheck('visible text equals the script', async (doc, ctx) => {
  const selector = ctx.param('text_in', 'pre');
  const element = doc.querySelector(selector);
  if (!element) throw new Error('no ' + selector + ' in the page');
  const expected = await ctx.readText(ctx.param('expect'));
  const actual = element.innerText;
  if (actual !== expected) throw new Error(ctx.firstDifference(actual, expected));
});
