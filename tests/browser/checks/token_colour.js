// Tokens are drawn in the colour the colour file gives them.
// Parameters: colour (#rrggbb), and the tokens to look at: tokens (a CSS
// selector, e.g. "span.COMMENT") or tokens_prefix (spans whose text starts
// with it, for pages without classes).
browserCheck('computed colour of the tokens', (doc, ctx) => {
  const want = ctx.cssRgb(ctx.param('colour'));
  const selector = ctx.param('tokens', '');
  const prefix = ctx.param('tokens_prefix', '');
  let spans;
  if (selector) {
    spans = [...doc.querySelectorAll(selector)];
  } else if (prefix) {
    spans = [...doc.querySelectorAll('span')].filter((s) => s.textContent.startsWith(prefix));
  } else {
    throw new Error('give tokens= or tokens_prefix=');
  }
  if (spans.length === 0) throw new Error('no token matches ' + (selector || 'prefix ' + prefix));
  for (const span of spans) {
    const got = ctx.window.getComputedStyle(span).color;
    if (got !== want) {
      throw new Error(`${JSON.stringify(span.textContent)} is ${got}, expected ${want} (${spans.length} tokens)`);
    }
  }
});
