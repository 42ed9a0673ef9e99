// The text a reader sees in the page is the script's text.
// Parameters: expect (path of the script as UTF-8 with LF line ends),
// text_in (CSS selector of the element holding the lines, default "pre"),
// text_skip (selector of elements inside it that are not script text, such
// as the reference lists of an -html5 page; optional).
browserCheck('visible text equals the script', async (doc, ctx) => {
  const selector = ctx.param('text_in', 'pre');
  const element = doc.querySelector(selector);
  if (!element) throw new Error('no ' + selector + ' in the page');
  const skip = ctx.param('text_skip', '');
  // Blocks off screen are not laid out, and innerText leaves them out: lay
  // them all out, as scrolling through the page would.
  const hide = doc.createElement('style');
  hide.textContent = selector + ' *{content-visibility:visible !important}' +
                     (skip ? skip + '{display:none !important}' : '');
  doc.head.appendChild(hide);
  let actual;
  try {
    actual = element.innerText;
  } finally {
    hide.remove();
  }
  // innerText leaves out empty lines at the end of a page: compare without
  // them, and count the lines of an -html5 page.
  const script = await ctx.readText(ctx.param('expect'));
  const expected = script.replace(/\n+$/, '');
  actual = actual.replace(/\n+$/, '');
  if (actual !== expected) throw new Error(ctx.firstDifference(actual, expected));
  const lines = element.querySelectorAll('.b > [id^="L"]').length;
  if (lines) ctx.expectEqual(lines, script.split('\n').length - 1, 'lines on the page');
});
