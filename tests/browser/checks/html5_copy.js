// Line numbers of an -html5 page are left out of what a reader selects.
// Parameters: expect (the script as UTF-8 with LF line ends), copy_lines
// (comma-separated ranges of lines to select, e.g. "10-14,250-260"),
// numbers (1 when the page shows line numbers).

browserCheck('line numbers count the lines and cannot be selected', (doc, ctx) => {
  const blocks = [...doc.querySelectorAll('main.code pre.b')];
  if (blocks.length === 0) throw new Error('no block of lines');
  for (const block of blocks) {
    const first = block.firstElementChild;
    const before = ctx.window.getComputedStyle(first, '::before');
    if (ctx.param('numbers') !== '1') {
      if (before.content !== 'none' && before.content !== 'normal') throw new Error(`${first.id} shows ${before.content}`);
      continue;
    }
    ctx.expectEqual(before.content, 'counter(n)', 'number of ' + first.id);
    ctx.expectEqual(before.userSelect || before.webkitUserSelect, 'none', 'user-select of the number of ' + first.id);
    // A block is laid out on its own: its first line sets the count.
    ctx.expectEqual(first.style.counterSet, 'n ' + first.id.slice(1), 'counter of ' + first.id);
  }
});

browserCheck('a selection over several lines is their text alone', async (doc, ctx) => {
  const script = (await ctx.readText(ctx.param('expect'))).split('\n');
  for (const lines of ctx.param('copy_lines').split(',')) {
    const [from, to] = lines.split('-').map((n) => parseInt(n, 10));
    const expected = script.slice(from - 1, to).join('\n');
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
    if (copied !== expected) throw new Error(`lines ${lines}: ${ctx.firstDifference(copied, expected)}`);
  }
});
