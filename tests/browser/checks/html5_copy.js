// Line numbers of an -html5 page are left out of what a reader selects.
// Parameters: expect (the script as UTF-8 with LF line ends), copy_from and
// copy_to (line numbers, from 1, of the lines to select), numbers (1 when
// the page shows line numbers).

browserCheck('line numbers cannot be selected', (doc, ctx) => {
  const numbers = [...doc.querySelectorAll('pre.code .l > a.n')];
  const lines = doc.querySelectorAll('pre.code .l').length;
  if (ctx.param('numbers') !== '1') {
    ctx.expectEqual(numbers.length, 0, 'line numbers on a page without them');
    return;
  }
  ctx.expectEqual(numbers.length, lines, 'line numbers');
  for (const number of numbers) {
    const style = ctx.window.getComputedStyle(number);
    const select = style.userSelect || style.webkitUserSelect;
    if (select !== 'none') throw new Error(`number of ${number.parentNode.id} has user-select ${select}`);
  }
});

browserCheck('a selection over several lines is their text alone', async (doc, ctx) => {
  const from = parseInt(ctx.param('copy_from'), 10), to = parseInt(ctx.param('copy_to'), 10);
  const expected = (await ctx.readText(ctx.param('expect'))).split('\n').slice(from - 1, to).join('\n');
  const first = doc.getElementById('L' + from), last = doc.getElementById('L' + to);
  if (!first || !last) throw new Error(`no line L${from} or L${to}`);
  const range = doc.createRange();
  range.setStart(first, 0);
  range.setEnd(last, last.childNodes.length);
  const selection = ctx.window.getSelection();
  selection.removeAllRanges();
  selection.addRange(range);
  const copied = selection.toString();
  selection.removeAllRanges();
  if (copied !== expected) throw new Error(ctx.firstDifference(copied, expected));
});
