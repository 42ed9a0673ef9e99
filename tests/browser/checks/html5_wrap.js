// Long lines of an -html5 page wrap inside their line, and the line number
// stays in its gutter, left of all the line's text.
// Parameters: wrap_width (width of the page's frame in px, default 420).

browserCheck('long lines wrap and numbers keep their gutter', async (doc, ctx) => {
  const frame = ctx.frame;
  const width = frame.style.width;
  frame.style.width = ctx.param('wrap_width', '420') + 'px';
  await ctx.settle();
  try {
    const win = ctx.window;
    const code = doc.querySelector('pre.code');
    if (code.scrollWidth > code.clientWidth + 1) {
      throw new Error(`the code is ${code.scrollWidth}px wide in ${code.clientWidth}px`);
    }
    const lineHeight = parseFloat(win.getComputedStyle(code).lineHeight);
    let wrapped = 0, previousBottom = -Infinity;
    for (const line of code.querySelectorAll('.l')) {
      const box = line.getBoundingClientRect();
      if (box.top < previousBottom - 0.5) throw new Error(`${line.id} overlaps the line before it`);
      previousBottom = box.bottom;
      if (box.height > lineHeight * 1.5) ++wrapped;
      const textLeft = box.left + parseFloat(win.getComputedStyle(line).paddingLeft);
      const number = line.querySelector(':scope > a.n');
      if (number) {
        const n = number.getBoundingClientRect();
        if (n.left < box.left - 0.5 || n.right > textLeft + 0.5) {
          throw new Error(`${line.id}: number at ${n.left}..${n.right}, gutter ${box.left}..${textLeft}`);
        }
        if (n.top > box.top + 0.5 + lineHeight) throw new Error(`${line.id}: number below the first row`);
      }
      for (const token of line.querySelectorAll(':scope > :not(a.n)')) {
        for (const r of token.getClientRects()) {
          if (r.width === 0) continue;
          if (r.left < textLeft - 0.5 || r.right > box.right + 0.5) {
            throw new Error(`${line.id}: "${token.textContent}" at ${r.left}..${r.right}, text box ${textLeft}..${box.right}`);
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
