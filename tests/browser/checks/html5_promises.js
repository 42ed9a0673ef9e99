// What the links of an -html5 page promise a reader, one check each, on a
// page of a script with a user command, aliases, a label called from ten
// lines, an unknown command and a jumpf. Parameters: user_command,
// alias (names used in the script), busy_label (a label referred to from
// more than eight lines), dead_label (one referred to from none).

// Clicks link and checks that the page went to its target, and that the
// target is at the top of the window; returns the target.
async function follow(doc, ctx, link, what) {
  const href = link.getAttribute('href');
  link.click();
  await ctx.settle();
  ctx.expectEqual(ctx.window.location.hash, href, what + ': location');
  const target = doc.getElementById(href.slice(1));
  if (!target) throw new Error(`${what}: no ${href}`);
  ctx.expectLineAtTop(target, what);
  return target;
}

function hover(ctx, element) {
  element.dispatchEvent(new ctx.window.MouseEvent('mouseover', { bubbles: true }));
}

browserCheck('a user command call goes to its label and names it on hover', async (doc, ctx) => {
  const name = ctx.param('user_command');
  const call = [...doc.querySelectorAll('main.code a.uc')].find((a) => a.textContent === name &&
    !a.closest('.b > [id]').textContent.startsWith('defsub'));
  if (!call) throw new Error('no call of ' + name);
  hover(ctx, call);
  if (!/^user command .*defined at [^:]+:\d+$/.test(call.title)) throw new Error('tooltip ' + JSON.stringify(call.title));
  const label = await follow(doc, ctx, call, 'call of ' + name);
  ctx.expectEqual(label.textContent.toLowerCase(), '*' + name.toLowerCase(), 'label of the call');
});

browserCheck('an alias use goes to its definition and shows its value on hover', async (doc, ctx) => {
  const name = ctx.param('alias').toLowerCase();
  const use = doc.querySelector(`main.code a.al[href="#a-${name}"]`);
  if (!use) throw new Error('no use of ' + name);
  hover(ctx, use);
  const definition = doc.getElementById('a-' + name);
  if (!definition) throw new Error('no definition #a-' + name);
  const lineNumber = definition.closest('.b > [id]').id.slice(1);
  if (!use.title.includes(' = ') || !use.title.endsWith(':' + lineNumber)) {
    throw new Error(`tooltip ${JSON.stringify(use.title)} gives no value and place (line ${lineNumber})`);
  }
  ctx.expectEqual(use.title, definition.title, 'tooltips of the use and the definition');
  await follow(doc, ctx, use, 'use of ' + name);
});

browserCheck('the references of a label link back to the referring lines', async (doc, ctx) => {
  const name = ctx.param('busy_label').toLowerCase();
  const label = doc.getElementById('l-' + name);
  const refs = label && label.closest('.b > [id]').querySelector('.refs');
  if (!refs) throw new Error('no references on the line of *' + name);
  const callers = [...doc.querySelectorAll(`main.code a.gl[href="#l-${name}"]`)];
  const count = parseInt(refs.textContent, 10);
  ctx.expectEqual(count, callers.length, 'the count of references');
  const shown = () => [...refs.querySelectorAll('a')].filter((a) => a.getClientRects().length > 0);
  ctx.expectEqual(shown().length, 8, 'references shown before unfolding');
  refs.querySelector('button.unfold').click();
  await ctx.settle();
  ctx.expectEqual(shown().length, count, 'references shown after unfolding');
  const last = shown().pop();
  const line = await follow(doc, ctx, last, 'reference ' + last.textContent);
  if (!line.querySelector(`a.gl[href="#l-${name}"]`)) throw new Error(`${line.id} does not refer to *${name}`);
  const dead = doc.getElementById('l-' + ctx.param('dead_label').toLowerCase());
  const none = dead && dead.closest('.b > [id]').querySelector('.refs.none');
  // The words are generated content, so that a page of many dead labels stays small.
  const said = none && ctx.window.getComputedStyle(none, '::before').content;
  if (said !== '"no references"') throw new Error('a label without references does not say so: ' + said);
});

browserCheck('an unknown command is marked as one', (doc, ctx) => {
  const unknown = doc.querySelectorAll('main.code span.uk');
  if (unknown.length === 0) throw new Error('no unknown command marked');
  for (const word of unknown) ctx.expectEqual(word.title, 'unknown command', 'title of ' + word.textContent);
});

browserCheck('a jumpf goes to the line of the next ~', async (doc, ctx) => {
  const jump = doc.querySelector('main.code a.j');
  if (!jump) throw new Error('no jump link');
  const line = await follow(doc, ctx, jump, jump.textContent);
  if (!line.textContent.includes('~')) throw new Error(`${line.id} holds no ~`);
});

browserCheck('clicking a line number puts the line in the location', async (doc, ctx) => {
  const line = doc.getElementById('L4');
  const box = line.getBoundingClientRect();
  line.dispatchEvent(new ctx.window.MouseEvent('click', { bubbles: true, clientX: box.left + 2, clientY: box.top + 2 }));
  await ctx.settle();
  ctx.expectEqual(ctx.window.location.hash, '#L4', 'location after a click on the number');
});
