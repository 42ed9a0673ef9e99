// Long lines of an -html5 page wrap inside their line, clear of the gutter
// the line numbers are drawn in. Parameters: wrap_width (width of the
// page's frame in px, default 420).

browserCheck('long lines wrap inside their line', async (doc, ctx) => {
  const frame = ctx.frame;
  const width = frame.style.width;
  frame.style.width = ctx.param('wrap_width', '420') + 'px';
  await ctx.settle();
  try {
    const win = ctx.window;
    const code = doc.querySelector('main.code');
    if (doc.scrollingElement.scrollWidth > win.innerWidth + 1) {
      throw new Error(`the page is ${doc.scrollingElement.scrollWidth}px wide in ${win.innerWidth}px`);
    }
    const lineHeight = parseFloat(win.getComputedStyle(code.querySelector('.b')).lineHeight);
    let wrapped = 0, previousBottom = -Infinity;
    for (const line of code.querySelectorAll('.b > [id]')) {
      const box = line.getBoundingClientRect();
      if (box.top < previousBottom - 0.5) throw new Error(`${line.id} overlaps the line before it`);
      previousBottom = box.bottom;
      if (box.height > lineHeight * 1.5) ++wrapped;
      const textLeft = box.left + parseFloat(win.getComputedStyle(line).paddingLeft);
      for (const piece of line.querySelectorAll(':scope > :not(.refs)')) {
        for (const r of piece.getClientRects()) {
          if (r.width === 0) continue;
          if (r.left < textLeft - 0.5 || r.right > box.right + 0.5) {
            throw new Error(`${line.id}: "${piece.textContent}" at ${r.left}..${r.right}, text box ${textLeft}..${box.right}`);
          }
        }
      }
    }
    if (wrapped === 0) throw new Error('no line wraps at this width');
  } finally {
    frame.style.width = width;
    await ctx.settle();
  }
});
