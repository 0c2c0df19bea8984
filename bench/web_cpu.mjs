// The measuring half of bench/web-cpu (its options are listed there): the
// game's page with ?demo and the floor (bench/web-floor: a worker changing a
// few small places of a 1280 x 720 canvas 30 times a second, and an audio
// worklet making its own beeps), each in a fresh headless Chromium, taking
// turns, without sound and with it. For each: the CPU time of the browser's
// whole process tree, its wake-ups (voluntary context switches of every
// thread), the page's main thread's busy share (a Chrome trace), and for the
// game's page with sound, the output samples that found nothing to play.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

const USAGE = 'usage: bench/web-cpu [--site DIR] [--seconds N] [--rounds R] [--sound | --no-sound] ' +
  '[--load N] [--draw worker|page]';

function refuse(text) {
  console.error(`web-cpu: ${text}`);
  process.exit(2);
}

const repo = process.argv[2];
let options;
try {
  options = parseArgs({
    args: process.argv.slice(3),
    options: {
      site: { type: 'string', default: path.join(repo, 'build/web/site') },
      seconds: { type: 'string', default: '20' },
      rounds: { type: 'string', default: '2' },
      sound: { type: 'boolean', default: false },
      'no-sound': { type: 'boolean', default: false },
      load: { type: 'string', default: '0' },
      draw: { type: 'string', default: 'worker' },
    },
  }).values;
} catch (error) {
  refuse(`${error.message}; ${USAGE}`);
}
const seconds = Number(options.seconds);
const rounds = Number(options.rounds);
const load = Number(options.load);
if (!(seconds > 0))
  refuse(`--seconds needs a number of seconds above 0, not "${options.seconds}"`);
if (!Number.isInteger(rounds) || rounds < 1)
  refuse(`--rounds needs a whole number from 1, not "${options.rounds}"`);
if (!Number.isInteger(load) || load < 0)
  refuse(`--load needs a whole number of busy processes from 0, not "${options.load}"`);
if (options.draw !== 'worker' && options.draw !== 'page')
  refuse('--draw is worker or page');
if (options.sound && options['no-sound'])
  refuse('--sound and --no-sound together measure nothing; give neither to measure both');
const site = path.resolve(options.site);
if (!fs.existsSync(path.join(site, 'index.html')))
  refuse(`no site in ${site} (build one with scripts/web --out ${site})`);
const floorSite = path.join(repo, 'bench/web-floor');
const soundModes = options.sound ? [true] : options['no-sound'] ? [false] : [false, true];

const require = createRequire(path.join(repo, 'tests/web/package.json'));
const { chromium } = require('playwright-core');

const ticksPerSecond = 100;  // the kernel's USER_HZ on Linux
// After the first pictures, each page has a while to finish starting (the
// module's optimising compile runs in the background, and the game's page
// listens for gamepads for its first 15 s) before the window: what is
// measured is the page as it plays on.
const SETTLE_MS = 16000;
const START_TIMEOUT_MS = 30000;

const children = [];  // the servers and the busy processes, ended on the way out
process.on('exit', () => {
  for (const child of children)
    child.kill('SIGKILL');
});
for (const signal of ['SIGINT', 'SIGTERM'])
  process.on(signal, () => process.exit(130));

// ---- /proc -------------------------------------------------------------------

// Every process below pid, itself included.
function tree(pid) {
  const below = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name))
      continue;
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!below.has(parent))
        below.set(parent, []);
      below.get(parent).push(Number(name));
    } catch {
      // gone meanwhile
    }
  }
  const found = [];
  const todo = [pid];
  while (todo.length > 0) {
    const next = todo.pop();
    found.push(next);
    todo.push(...(below.get(next) || []));
  }
  return found;
}

// What each thread of the processes has used: its name, its user and system
// CPU ticks and its voluntary context switches (each one a sleep, so each
// one a wake-up after it), keyed by process and thread; and each process's
// kind (Chromium's --type: renderer, gpu-process, utility; the browser).
function snapshot(pids) {
  const threads = new Map();
  const kinds = new Map();
  for (const pid of pids) {
    let tasks = [];
    try {
      const type = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').match(/--type=([a-z-]+)/);
      kinds.set(pid, type ? type[1] : 'browser');
      tasks = fs.readdirSync(`/proc/${pid}/task`);
    } catch {
      continue;
    }
    for (const tid of tasks) {
      try {
        const stat = fs.readFileSync(`/proc/${pid}/task/${tid}/stat`, 'utf8');
        const status = fs.readFileSync(`/proc/${pid}/task/${tid}/status`, 'utf8');
        const name = stat.slice(stat.indexOf('(') + 1, stat.lastIndexOf(')'));
        const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
        const wakes = Number(/^voluntary_ctxt_switches:\s*(\d+)/m.exec(status)[1]);
        threads.set(`${pid}/${tid}`, { pid, name, ticks: Number(fields[11]) + Number(fields[12]), wakes });
      } catch {
        // gone meanwhile
      }
    }
  }
  return { threads, kinds };
}

// What each thread used between two snapshots; a thread that began meanwhile
// counts from nothing, one that ended meanwhile is lost.
function used(before, after) {
  const each = [];
  for (const [key, now] of after.threads) {
    const then = before.threads.get(key);
    each.push({
      name: now.name,
      kind: after.kinds.get(now.pid) || 'gone',
      ticks: now.ticks - (then?.ticks || 0),
      wakes: now.wakes - (then?.wakes || 0),
    });
  }
  return each;
}

function sumBy(list, key, value) {
  const sums = new Map();
  for (const item of list)
    sums.set(item[key], (sums.get(item[key]) || 0) + item[value]);
  return [...sums].sort((a, b) => b[1] - a[1]);
}

// ---- The trace -----------------------------------------------------------------

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

// ---- Serving, loading, measuring ---------------------------------------------------

async function serve(folder) {
  const server = spawn('node', [path.join(repo, 'web/serve.mjs'), folder, '0'], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  children.push(server);
  return new Promise((resolve, reject) => {
    server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
    server.once('exit', (code) => reject(new Error(`the server of ${folder} ended with ${code}`)));
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The browser just launched: the child of this process running Chromium
// (the servers and the busy processes are node).
const browsersSeen = new Set();
function browserPid() {
  for (const pid of tree(process.pid)) {
    if (pid === process.pid || browsersSeen.has(pid))
      continue;
    try {
      const command = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (/chrom/i.test(command.split('\0')[0])) {
        browsersSeen.add(pid);
        return pid;
      }
    } catch {
      // gone meanwhile
    }
  }
  throw new Error('no browser process found');
}

// What each page answers, through the page: its pictures drawn so far, its
// audio's state, and (the game's page only) its output samples' counts.
const PAGES = {
  page: {
    ready: () => window.vmx && window.vmx.framesDrawn > 30,
    frames: () => window.vmx.framesDrawn,
    audioState: () => window.vmx.audioState,
    running: () => window.vmx.audioState === 'running',
    soundStats: () => window.vmx.soundStats(),
  },
  floor: {
    ready: async () => Boolean(window.floor) && await window.floor.frames() > 30,
    frames: () => window.floor.frames(),
    audioState: () => window.floor.audioState,
    running: () => window.floor.audioState === 'running',
    soundStats: null,
  },
};

async function waitFor(page, predicate, what) {
  const until = Date.now() + START_TIMEOUT_MS;
  while (!await page.evaluate(predicate)) {
    if (Date.now() > until)
      throw new Error(`${what} after ${START_TIMEOUT_MS / 1000} s`);
    await sleep(200);
  }
}

// An answer of the page and when it was given, taken as the middle of its
// round trip (which a busy machine makes slow).
async function answered(page, question) {
  const sent = process.hrtime.bigint();
  const value = await page.evaluate(question);
  const back = process.hrtime.bigint();
  return { value, atS: Number(sent + back) / 2e9 };
}

async function measure(which, sound, address) {
  const asks = PAGES[which];
  const args = [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ];
  // Without it the audio stays suspended until a gesture, which nothing here
  // makes: the runs without sound.
  if (sound)
    args.push('--autoplay-policy=no-user-gesture-required');
  const browser = await chromium.launch({
    executablePath: process.env.VMX_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args,
  });
  try {
    const pid = browserPid();
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    const page = await context.newPage();
    await page.goto(which === 'page' ? `${address}?demo${options.draw === 'page' ? '&draw=page' : ''}` : address);
    await waitFor(page, asks.ready, `the ${which} drew no pictures`);
    if (which === 'page' && await page.evaluate(() => window.vmx.drawnBy) !== options.draw)
      throw new Error(`the page's pictures are not drawn by the ${options.draw}`);
    if (sound)
      await waitFor(page, asks.running, `the ${which}'s audio did not start`);
    await sleep(SETTLE_MS);
    const audioState = await page.evaluate(asks.audioState);
    if ((audioState === 'running') !== sound)
      throw new Error(`the ${which}'s audio is ${audioState}, ${sound ? 'not running' : 'running without a gesture'}`);

    await browser.startTracing(page, { categories: ['toplevel', 'devtools.timeline', '__metadata'] });
    const statsBefore = sound && asks.soundStats ? await page.evaluate(asks.soundStats) : null;
    const framesBefore = await answered(page, asks.frames);
    const before = snapshot(tree(pid));
    const startNs = process.hrtime.bigint();
    await sleep(seconds * 1000);
    const after = snapshot(tree(pid));
    const windowS = Number(process.hrtime.bigint() - startNs) / 1e9;
    const framesAfter = await answered(page, asks.frames);
    const statsAfter = statsBefore ? await page.evaluate(asks.soundStats) : null;
    const traceText = String(await browser.stopTracing());
    if (process.env.VMX_TRACE_OUT) {
      fs.mkdirSync(process.env.VMX_TRACE_OUT, { recursive: true });
      fs.writeFileSync(path.join(process.env.VMX_TRACE_OUT,
        `${which}-${sound ? 'sound' : 'quiet'}-${measurements.length + 1}.json`), traceText);
    }
    const threads = used(before, after);
    const ticks = threads.reduce((sum, each) => sum + each.ticks, 0);
    const wakes = threads.reduce((sum, each) => sum + each.wakes, 0);
    const main = mainThreadBusy(JSON.parse(traceText), windowS * 1e6);
    return {
      which,
      sound,
      windowS,
      processes: new Set([...after.threads.values()].map((each) => each.pid)).size,
      cpu: ticks / ticksPerSecond / windowS,
      wakes: wakes / windowS,
      main: main.busy,
      tasks: main.tasks,
      frames: (framesAfter.value - framesBefore.value) / (framesAfter.atS - framesBefore.atS),
      byKind: sumBy(threads, 'kind', 'ticks'),
      byThread: sumBy(threads, 'name', 'ticks'),
      wakesByThread: sumBy(threads, 'name', 'wakes'),
      samples: statsAfter && {
        played: statsAfter.played - statsBefore.played,
        empty: statsAfter.empty - statsBefore.empty,
      },
    };
  } finally {
    await browser.close();
  }
}

// ---- Printing --------------------------------------------------------------------

const percent = (share, digits = 1) => `${(100 * share).toFixed(digits)}%`;
const soundName = (sound) => (sound ? 'with sound' : 'without sound');

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function emptyShare(samples) {
  return samples.played + samples.empty > 0 ? samples.empty / (samples.played + samples.empty) : 0;
}

function printMeasurement(round, m) {
  const share = (ticks) => percent(ticks / ticksPerSecond / m.windowS);
  console.log(`round ${round}, ${soundName(m.sound)}, the ${m.which}: CPU ${percent(m.cpu)} of one core, ` +
    `${m.wakes.toFixed(0)} wake-ups a second, main thread busy ${percent(m.main)} ` +
    `(${m.tasks} top-level tasks), ${m.frames.toFixed(1)} frames drawn a second, ${m.processes} processes`);
  console.log(`  by process: ${m.byKind.filter(([, ticks]) => ticks > 0)
    .map(([kind, ticks]) => `${kind} ${share(ticks)}`).join(', ')}`);
  console.log(`  busiest threads: ${m.byThread.slice(0, 8).filter(([, ticks]) => ticks > 0)
    .map(([name, ticks]) => `${name} ${share(ticks)}`).join(', ')}`);
  console.log(`  most wake-ups a second: ${m.wakesByThread.slice(0, 8).filter(([, wakes]) => wakes > 0)
    .map(([name, wakes]) => `${name} ${(wakes / m.windowS).toFixed(0)}`).join(', ')}`);
  if (m.samples)
    console.log(`  sound: ${m.samples.played} samples played, ${m.samples.empty} found nothing to play ` +
      `(${percent(emptyShare(m.samples), 3)})`);
}

function printSummary() {
  const rows = [];
  const cell = (text, width) => String(text).padStart(width);
  const head = ['', '', 'CPU (one core)', 'wake-ups/s', 'main thread', 'frames/s'];
  const widths = [14, 11, 15, 11, 12, 9];
  for (const sound of soundModes) {
    const of = (which) => measurements.filter((m) => m.which === which && m.sound === sound);
    const figures = {};
    for (const which of ['page', 'floor']) {
      const list = of(which);
      figures[which] = {
        cpu: median(list.map((m) => m.cpu)),
        wakes: median(list.map((m) => m.wakes)),
        main: median(list.map((m) => m.main)),
        frames: median(list.map((m) => m.frames)),
      };
      const f = figures[which];
      rows.push([which === 'page' ? soundName(sound) : '', which, percent(f.cpu), f.wakes.toFixed(0),
        percent(f.main), f.frames.toFixed(1)]);
    }
    rows.push(['', 'page/floor', (figures.page.cpu / figures.floor.cpu).toFixed(2),
      (figures.page.wakes / figures.floor.wakes).toFixed(2), '', '']);
  }
  console.log();
  console.log(`Medians of ${rounds} round${rounds > 1 ? 's' : ''} of ${seconds} s each; site ${site}, ` +
    `its pictures drawn by the ${options.draw}; ${load} busy process${load === 1 ? '' : 'es'} beside the browser.`);
  for (const row of [head, ...rows])
    console.log(row.map((text, i) => (i < 2 ? String(text).padEnd(widths[i]) : cell(text, widths[i]))).join(' ').trimEnd());
  const sounded = measurements.filter((m) => m.samples);
  if (sounded.length > 0) {
    const played = sounded.reduce((sum, m) => sum + m.samples.played, 0);
    const empty = sounded.reduce((sum, m) => sum + m.samples.empty, 0);
    const worst = Math.max(...sounded.map((m) => emptyShare(m.samples)));
    console.log(`The page's sound: ${empty} of ${played + empty} output samples found nothing to play ` +
      `(${percent(emptyShare({ played, empty }), 3)}; the worst round ${percent(worst, 3)}).`);
  }
  console.log('Goals: the page at most 1.3 x the floor\'s CPU and wake-ups, with and without sound; ' +
    'its main thread at most 2% busy; no empty sample in 60 s on a quiet machine, at most 1% with --load 2.');
}

// ---- The run ---------------------------------------------------------------------------

for (let i = 0; i < load; i += 1)
  children.push(spawn(process.execPath, ['-e', 'for (;;) {}'], { stdio: 'ignore' }));
const addresses = { page: await serve(site), floor: await serve(floorSite) };
const measurements = [];
for (let round = 1; round <= rounds; round += 1) {
  for (const sound of soundModes) {
    for (const which of ['page', 'floor']) {
      const m = await measure(which, sound, addresses[which]);
      measurements.push(m);
      printMeasurement(round, m);
    }
  }
}
printSummary();
process.exit(0);
