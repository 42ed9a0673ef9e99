// Find-in-page reaches text of lines far off screen, in blocks the browser
// has not laid out. Parameters: find_word (a word found once in the page),
// find_line (the number of its line).
browserCheck('find-in-page finds text off screen and shows it', async (doc, ctx) => {
  const win = ctx.window;
  const word = ctx.param('find_word'), line = 'L' + ctx.param('find_line');
  win.scrollTo(0, 0);
  win.getSelection().removeAllRanges();
  await ctx.settle();
  if (!win.find(word, true, false, false)) throw new Error(`"${word}" not found`);
  await ctx.settle();
  const selection = win.getSelection();
  const found = selection.rangeCount ? selection.getRangeAt(0) : null;
  if (!found || found.toString() !== word) throw new Error(`found ${found ? JSON.stringify(found.toString()) : 'nothing'}`);
  const holder = (found.startContainer.nodeType === 1 ? found.startContainer : found.startContainer.parentElement)
    .closest('.b > [id]');
  ctx.expectEqual(holder && holder.id, line, 'line of the match');
  const box = found.getBoundingClientRect();
  if (box.height === 0 || box.top < 0 || box.bottom > win.innerHeight) {
    throw new Error(`the match is at ${box.top}..${box.bottom}px, out of the window of ${win.innerHeight}px`);
  }
});
