// The measuring half of bench/web-cpu: arguments are the repository, the
// site, the seconds to measure, the module (threads or coop) and where the
// pictures are drawn (worker or page).
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const [repo, site, secondsText, build = 'threads', draw = 'worker'] = process.argv.slice(2);
const seconds = Number(secondsText);
const require = createRequire(path.join(repo, 'tests/web/package.json'));
const { chromium } = require('playwright-core');

const ticksPerSecond = 100;  // the kernel's USER_HZ on Linux

// Every process below pid, itself included.
function tree(pid) {
  const children = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name))
      continue;
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(parent))
        children.set(parent, []);
      children.get(parent).push(Number(name));
    } catch {
      // gone meanwhile
    }
  }
  const found = [];
  const todo = [pid];
  while (todo.length > 0) {
    const next = todo.pop();
    found.push(next);
    todo.push(...(children.get(next) || []));
  }
  return found;
}

// User and system CPU ticks of each process of the tree.
function cpuTicks(pids) {
  const ticks = new Map();
  for (const pid of pids) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      ticks.set(pid, Number(fields[11]) + Number(fields[12]));
    } catch {
      // gone meanwhile
    }
  }
  return ticks;
}

// User and system CPU ticks of each thread of the processes, by the
// thread's name (the game's threads, the page's, the compositor's...).
function threadTicks(pids) {
  const ticks = new Map();
  for (const pid of pids) {
    let tasks = [];
    try {
      tasks = fs.readdirSync(`/proc/${pid}/task`);
    } catch {
      continue;
    }
    for (const tid of tasks) {
      try {
        const stat = fs.readFileSync(`/proc/${pid}/task/${tid}/stat`, 'utf8');
        const name = stat.slice(stat.indexOf('(') + 1, stat.lastIndexOf(')'));
        const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
        ticks.set(`${pid}/${tid}`, { name, used: Number(fields[11]) + Number(fields[12]) });
      } catch {
        // gone meanwhile
      }
    }
  }
  return ticks;
}

// The browser: the child of this process that is not the server.
function browserPid(serverPid) {
  const mine = tree(process.pid).filter((pid) => pid !== process.pid);
  const server = new Set(tree(serverPid));
  for (const pid of mine) {
    if (server.has(pid))
      continue;
    const command = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
    if (/chrom/i.test(command.split('\0')[0]))
      return pid;
  }
  throw new Error('no browser process found');
}

// The share of the window the page's main thread spent in top-level tasks,
// nested ones counted once.
function mainThreadBusy(trace, windowUs) {
  const events = trace.traceEvents;
  const started = events.find((event) => event.name === 'TracingStartedInBrowser');
  const frame = started?.args?.data?.frames?.find((each) => !each.parent);
  const mains = events.filter((event) => event.ph === 'M' && event.name === 'thread_name' &&
    event.args.name === 'CrRendererMain');
  const main = mains.find((each) => each.pid === frame?.processId) || mains[0];
  if (!main)
    throw new Error('the trace has no page main thread');
  const tasks = events.filter((event) => event.ph === 'X' && event.pid === main.pid &&
    event.tid === main.tid && String(event.cat).split(',').includes('toplevel'))
    .map((event) => [event.ts, event.ts + (event.dur || 0)])
    .sort((a, b) => a[0] - b[0]);
  let busy = 0;
  let end = -Infinity;
  for (const [from, to] of tasks) {
    if (to <= end)
      continue;
    busy += to - Math.max(from, end);
    end = to;
  }
  return { busy: busy / windowUs, tasks: tasks.length };
}

const server = spawn('node', [path.join(repo, 'web/serve.mjs'), site, '0'], {
  stdio: ['ignore', 'pipe', 'inherit'],
});
const address = await new Promise((resolve, reject) => {
  server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
  server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
});
const browser = await chromium.launch({
  executablePath: process.env.VMX_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ],
});
try {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  await page.goto(`${address}?demo${build === 'coop' ? '&build=coop' : ''}${draw === 'page' ? '&draw=page' : ''}`);
  await page.waitForFunction(() => window.vmx && window.vmx.framesDrawn > 30, null, { timeout: 30000 });
  if (await page.evaluate(() => window.vmx.build) !== build)
    throw new Error(`the page did not load the ${build} module`);
  const pid = browserPid(server.pid);
  await browser.startTracing(page, { categories: ['toplevel', 'devtools.timeline', '__metadata'] });
  const framesBefore = await page.evaluate(() => window.vmx.framesDrawn);
  const before = cpuTicks(tree(pid));
  const threadsBefore = threadTicks(tree(pid));
  const startNs = process.hrtime.bigint();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const after = cpuTicks(tree(pid));
  const threadsAfter = threadTicks(tree(pid));
  const windowUs = Number(process.hrtime.bigint() - startNs) / 1000;
  const framesAfter = await page.evaluate(() => window.vmx.framesDrawn);
  const traceText = String(await browser.stopTracing());
  if (process.env.VMX_TRACE_OUT)
    fs.writeFileSync(process.env.VMX_TRACE_OUT, traceText);
  const trace = JSON.parse(traceText);
  let ticks = 0;
  const byKind = new Map();
  for (const [each, now] of after) {
    const used = now - (before.get(each) || 0);
    ticks += used;
    let kind = 'browser';
    try {
      const type = fs.readFileSync(`/proc/${each}/cmdline`, 'utf8').match(/--type=([a-z-]+)/);
      kind = type ? type[1] : kind;
    } catch {
      kind = 'gone';
    }
    byKind.set(kind, (byKind.get(kind) || 0) + used);
  }
  const cpu = ticks / ticksPerSecond / (windowUs / 1e6);
  const main = mainThreadBusy(trace, windowUs);
  console.log(`site ${site}, the ${build} module, pictures drawn by the ${draw}`);
  console.log(`browser processes: ${after.size}, ${seconds} s of the demo, ` +
    `${((framesAfter - framesBefore) / (windowUs / 1e6)).toFixed(1)} frames drawn a second`);
  console.log(`whole browser CPU: ${(100 * cpu).toFixed(1)}% of one core`);
  console.log(`  by process: ${[...byKind].filter(([, used]) => used > 0)
    .map(([kind, used]) => `${kind} ${(100 * used / ticksPerSecond / (windowUs / 1e6)).toFixed(1)}%`).join(', ')}`);
  const byThread = new Map();
  for (const [key, now] of threadsAfter) {
    const used = now.used - (threadsBefore.get(key)?.used || 0);
    byThread.set(now.name, (byThread.get(now.name) || 0) + used);
  }
  const share = (used) => `${(100 * used / ticksPerSecond / (windowUs / 1e6)).toFixed(1)}%`;
  console.log(`  busiest threads: ${[...byThread].sort((a, b) => b[1] - a[1]).slice(0, 8)
    .filter(([, used]) => used > 0).map(([name, used]) => `${name} ${share(used)}`).join(', ')}`);
  console.log(`page main thread busy: ${(100 * main.busy).toFixed(1)}% (${main.tasks} top-level tasks)`);
} finally {
  await browser.close();
  server.kill();
}
