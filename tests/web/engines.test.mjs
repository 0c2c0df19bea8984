// The web page in two more browser engines, each on a host that isolates
// the page and on one that sends no headers of its own:
// - Firefox (Debian's firefox-esr, headless), driven by puppeteer-core over
//   WebDriver BiDi;
// - WebKit (WebKitGTK's MiniBrowser on a virtual X display), driven by
//   WebKitWebDriver over plain W3C WebDriver.
// In each: the title as the desktop simulator shows it, a key that starts a
// game and moves the paddle, no error, twenty loads in a row that all
// start, and the canvas at the end of a run in virtual time, pixel for
// pixel the simulator's last frame; a replay watched: paused, sent forward
// and back and a frame on, the canvas is the simulator's frame each time;
// at 4× it plays four game seconds a second; as a link it plays in a fresh
// browser with its host gone, and cut short it is refused.
// An engine whose browser is not installed is skipped, saying so.
//   VMX_SITE=build/web/site VMX_SIM=build/dev/sim/vmxbrikon-sim npm test
import { test, describe, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';
import { PNG } from 'pngjs';
import { frameHash, gameRate, serve as serveSite } from './support.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
const site = path.resolve(repo, process.env.VMX_SITE || 'build/web/site');
const sim = path.resolve(repo, process.env.VMX_SIM || 'build/dev/sim/vmxbrikon-sim');
const { CONTRACT } = await import(pathToFileURL(path.join(site, 'contract.js')).href);
const PHASE = CONTRACT.phases;
const LOADS = 20;
const START_MS = 15000;

const FIREFOX = process.env.VMX_FIREFOX || '/usr/bin/firefox-esr';
const WEBKIT_DRIVER = process.env.VMX_WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';
// WebKitGTK keeps its MiniBrowser beside its libraries, under the API
// version's folder (4.1 on Debian 12, 4.0 or 6.0 elsewhere).
function miniBrowser() {
  const lib = '/usr/lib';
  for (const arch of fs.existsSync(lib) ? fs.readdirSync(lib) : []) {
    for (const api of ['webkit2gtk-4.1', 'webkit2gtk-4.0', 'webkitgtk-6.0']) {
      const file = path.join(lib, arch, api, 'MiniBrowser');
      if (fs.existsSync(file))
        return file;
    }
  }
  return null;
}

const children = [];

function spawnKept(command, args, options) {
  const child = spawn(command, args, options);
  children.push(child);
  return child;
}

after(() => children.forEach((child) => child.kill()));

// The site served as scripts/web serves it, or (--plain) as a host that
// sends no headers of its own; answers its address.
const serve = (...extra) => serveSite(repo, site, children, ...extra);

const hosts = {};
let titleWanted;
let endWanted;
const END_RUN = '--virtual-time --autoplay --seconds 4';
// A recorded game for the watch, served from the site; the moments it is
// sent to (forward, then back) and the simulator's pictures there.
const WATCHED = `test-engines-${process.pid}.vmxr`;
const WATCHED_MS = 16000;
const WATCH_MOMENTS = [7000, 2500];
// Game time over which 4× is timed, from the last of those moments.
const RATE_OVER_MS = 8000;
const watchWanted = {};
// The replay's frames, as the simulator's frame log fingerprints them.
let watchLog;

before(async () => {
  hosts.isolated = await serve();
  hosts.plain = await serve('--plain');
  // The simulator's title screen, 0.8 s in.
  const native = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-engines-native-'));
  execFileSync(sim, ['--headless', '--virtual-time', '--seconds', '1', '--screenshot-at', '800', '--out', native],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  titleWanted = PNG.sync.read(fs.readFileSync(path.join(native, 'frame-000800.png'))).data;
  // A run's last frame, as the simulator's frame log fingerprints it.
  execFileSync(sim, ['--headless', ...END_RUN.split(' '), '--frame-log', path.join(native, 'frames.txt')],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  const log = fs.readFileSync(path.join(native, 'frames.txt'), 'utf8').trim().split('\n');
  endWanted = log[log.length - 1].split(' ')[1];
  const run = path.join(site, WATCHED);
  execFileSync(sim, ['--headless', '--virtual-time', '--autoplay', '--seconds', String(WATCHED_MS / 1000), '--record', run],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  execFileSync(sim, ['--headless', '--replay', run, '--frame-log', path.join(native, 'watched.txt'),
    '--screenshot-at', [...WATCH_MOMENTS].sort((a, b) => a - b).join(','), '--out', native],
  { stdio: ['ignore', 'ignore', 'pipe'] });
  watchLog = new Map(fs.readFileSync(path.join(native, 'watched.txt'), 'utf8').trim().split('\n')
    .map((line) => line.split(' ')));
  for (const ms of WATCH_MOMENTS)
    watchWanted[ms] = PNG.sync.read(fs.readFileSync(path.join(native, `frame-${String(ms).padStart(6, '0')}.png`))).data;
  fs.rmSync(native, { recursive: true, force: true });
});

after(() => fs.rmSync(path.join(site, WATCHED), { force: true }));

// ---- Firefox, over WebDriver BiDi ---------------------------------------

async function firefox() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-firefox-'));
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: FIREFOX,
    headless: true,
    userDataDir: profile,
    protocolTimeout: 60000,
  });
  const page = await browser.newPage();
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error')
      errors.push(message.text());
  });
  page.on('pageerror', (error) => errors.push(String(error)));
  const KEYS = { left: 'ArrowLeft', middle: ' ' };
  return {
    goto: (url) => page.goto(url),
    run: (fn, ...args) => page.evaluate(fn, ...args),
    down: (key) => page.keyboard.down(KEYS[key]),
    up: (key) => page.keyboard.up(KEYS[key]),
    errors: () => errors,
    async close() {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// ---- WebKit, over classic WebDriver -------------------------------------

// A virtual X display of our own, unless one is given: answers its name.
function xDisplay() {
  if (process.env.DISPLAY)
    return Promise.resolve(process.env.DISPLAY);
  const server = spawnKept('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
  });
  return new Promise((resolve, reject) => {
    server.stdio[3].once('data', (chunk) => resolve(`:${String(chunk).trim()}`));
    server.once('error', (error) => reject(new Error(`Xvfb (package xvfb) cannot start: ${error.message}`)));
    server.once('exit', (code) => reject(new Error(`Xvfb ended with ${code}`)));
  });
}

async function webkit() {
  const display = await xDisplay();
  // The driver says nothing of its port: it is given a free one.
  const port = await new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = probe.address();
      probe.close(() => resolve(free));
    });
  });
  const driver = spawnKept(WEBKIT_DRIVER, [`--port=${port}`, '--host=127.0.0.1'], {
    stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, DISPLAY: display },
  });
  let driverEnded = null;
  driver.once('exit', (code) => { driverEnded = code; });
  const base = `http://127.0.0.1:${port}`;
  async function call(method, where, body) {
    const response = await fetch(base + where, {
      method,
      headers: { 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const answer = await response.json();
    if (answer.value && answer.value.error)
      throw new Error(`WebDriver ${method} ${where}: ${answer.value.error}: ${answer.value.message}`);
    return answer.value;
  }
  const start = Date.now();
  for (;;) {
    if (driverEnded !== null)
      throw new Error(`WebKitWebDriver ended with ${driverEnded}`);
    if (await fetch(`${base}/status`).then((response) => response.ok, () => false))
      break;
    if (Date.now() - start > 10000)
      throw new Error(`WebKitWebDriver did not answer on port ${port}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  const session = await call('POST', '/session', {
    capabilities: {
      alwaysMatch: {
        browserName: 'MiniBrowser',
        'webkitgtk:browserOptions': { binary: miniBrowser(), args: ['--automation'] },
      },
    },
  });
  const at = `/session/${session.sessionId}`;
  await call('POST', `${at}/window/rect`, { width: 1280, height: 800 });
  const KEYS = { left: '\uE012', middle: '\uE00D' };
  const key = (type, name) => call('POST', `${at}/actions`, {
    actions: [{ type: 'key', id: 'keyboard', actions: [{ type, value: KEYS[name] }] }],
  });
  return {
    // Now and then WebKitGTK's web process crashes as a navigation swaps
    // it (MiniBrowser says "WebProcess CRASHED"; the driver answers an
    // unknown error with no message): that load is asked for once more, and
    // said. Our page's own faults fail the checks on the load that follows.
    goto: (url) => call('POST', `${at}/url`, { url }).catch((error) => {
      if (!/: unknown error: $/.test(error.message))
        throw error;
      console.log(`WebKit: the web process was lost loading ${url}; loading it again`);
      return call('POST', `${at}/url`, { url });
    }),
    run: (fn, ...args) => call('POST', `${at}/execute/sync`, { script: `return (${fn})(...arguments);`, args }),
    down: (name) => key('keyDown', name),
    up: (name) => key('keyUp', name),
    // Classic WebDriver has no console: the page keeps its uncaught errors.
    errors: () => [],
    async close() {
      await call('DELETE', at).catch(() => {});
      driver.kill();
    },
  };
}

// ---- The checks, the same in each engine ---------------------------------

async function until(browser, what, fn, arg, timeoutMs = 10000) {
  const start = Date.now();
  for (;;) {
    // A page that loads itself once more (to be isolated by its service
    // worker) may be gone between two looks.
    const now = await browser.run(fn, arg).catch(() => null);
    if (now)
      return now;
    if (Date.now() - start > timeoutMs) {
      const seen = await browser.run(() => window.vmx && ({
        started: vmx.started, frames: vmx.framesDrawn, notice: vmx.notice,
        glance: vmx.glance, logs: vmx.logs.slice(-5),
      })).catch((error) => String(error));
      assert.fail(`waited ${timeoutMs} ms for ${what}; the page: ${JSON.stringify(seen)}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// The canvas's RGBA bytes, read inside the page (the engine's own scaling
// of the canvas plays no part). The picture may be drawn by the game's
// worker: the page asks it, and keeps the answer as a PNG for the next look.
async function canvasPixels(browser) {
  await browser.run(() => {
    window.canvasShot = null;
    vmx.picture().then((data) => {
      const canvas = document.createElement('canvas');
      canvas.width = data.length / 4 / 720;
      canvas.height = 720;
      canvas.getContext('2d').putImageData(new ImageData(data, canvas.width, 720), 0, 0);
      window.canvasShot = canvas.toDataURL('image/png');
    });
  });
  const url = await until(browser, 'the canvas\'s picture', () => window.canvasShot);
  return PNG.sync.read(Buffer.from(url.slice(url.indexOf(',') + 1), 'base64')).data;
}

// The share of the canvas's pixels that are the simulator's title.
async function titleLikeSimulator(browser) {
  const got = await canvasPixels(browser);
  let same = 0;
  for (let i = 0; i < titleWanted.length; i += 4)
    same += titleWanted[i] === got[i] && titleWanted[i + 1] === got[i + 1] && titleWanted[i + 2] === got[i + 2] ? 1 : 0;
  return same / (titleWanted.length / 4);
}

const ENGINES = [
  { name: 'Firefox', binaries: [FIREFOX], open: firefox },
  { name: 'WebKit', binaries: [WEBKIT_DRIVER, miniBrowser()], open: webkit },
];

for (const engine of ENGINES) {
  const missing = engine.binaries.find((file) => !file || !fs.existsSync(file));
  const skip = missing === undefined ? false
    : `${engine.name}: ${missing || 'its MiniBrowser'} is not installed (scripts/setup installs it)`;
  describe(engine.name, { skip }, () => {
    for (const host of ['isolated', 'plain']) {
      test(`on a host ${host === 'isolated' ? 'that isolates the page' : 'without the headers'}: the title, a key plays, ${LOADS} loads start, the canvas ends on the last frame`, { timeout: 300000 }, async () => {
        const browser = await engine.open();
        try {
          const firstFrames = [];
          for (let load = 0; load < LOADS; load += 1) {
            await browser.goto(hosts[host]);
            await until(browser, `load ${load + 1} of ${LOADS} to start`,
              () => !!(window.vmx && vmx.started && vmx.framesDrawn > 0 && vmx.glance), undefined, START_MS);
            firstFrames.push(await browser.run(() => vmx.firstFrameMs));
            if (load > 0 && load < LOADS - 1)
              continue;
            const seen = await browser.run(() => ({
              drawnBy: vmx.drawnBy, soundPath: vmx.soundPath, notice: vmx.notice, faults: vmx.faults,
              phase: vmx.glance.phase, isolated: crossOriginIsolated,
            }));
            if (load === 0)
              console.log(`${engine.name}, ${host} host: isolated ${seen.isolated}, ` +
                `pictures drawn by the ${seen.drawnBy}, sound played by the ${seen.soundPath}`);
            assert.equal(seen.notice, '');
            assert.equal(seen.phase, PHASE.title);
            if (load === 0) {
              // Only the moving stars and the blinking prompt may differ.
              const share = await titleLikeSimulator(browser);
              assert.ok(share > 0.95, `only ${(share * 100).toFixed(1)} % of the canvas is the simulator's title`);
            }
          }
          // The last load plays: a key starts a game, another moves the paddle.
          await browser.down('middle');
          await browser.up('middle');
          const serving = await until(browser, 'the serve', (serve) => vmx.glance.phase === serve && vmx.glance, PHASE.serve);
          await browser.down('left');
          await until(browser, 'the paddle to move left', (x) => vmx.glance.paddleX < x - 20, serving.paddleX);
          await browser.up('left');
          // A run in virtual time: once it ends, the canvas shows its last frame.
          await browser.goto(hosts[host] + '?sim=' + encodeURIComponent(END_RUN));
          await until(browser, 'the run to end', () => window.vmx && vmx.ended !== null, undefined, 60000);
          assert.equal(await browser.run(() => vmx.ended), 0);
          assert.equal(frameHash(await canvasPixels(browser)), endWanted, 'the canvas at the end is not the game\'s last frame');
          const faults = await browser.run(() => vmx.faults);
          assert.deepEqual([...browser.errors(), ...faults], [], 'errors in the page');
          firstFrames.sort((a, b) => a - b);
          console.log(`${engine.name}, ${host} host: ${LOADS} of ${LOADS} loads started; the first frame ` +
            `${Math.round(firstFrames[0])} to ${Math.round(firstFrames[LOADS - 1])} ms after the page was asked for ` +
            `(median ${Math.round(firstFrames[LOADS >> 1])})`);
        } finally {
          await browser.close();
        }
      });
    }

    test('a replay watched: paused, sent on, stepped, at 4×, as a link; the canvas is the simulator\'s', { timeout: 120000 }, async () => {
      const browser = await engine.open();
      try {
        await browser.goto(`${hosts.isolated}?replay=${WATCHED}`);
        await until(browser, 'the replay\'s length', () => window.vmx && vmx.watch && vmx.watch.lengthMs > 0);
        const settled = (what) => until(browser, what, () => vmx.watch.settled && vmx.watch, undefined, 30000);
        await browser.run(() => document.getElementById('watch-pause').click());
        assert.equal((await settled('the pause')).paused, true);
        for (const ms of WATCH_MOMENTS) {
          await browser.run((to) => {
            const timeline = document.getElementById('watch-time');
            timeline.value = String(to);
            timeline.dispatchEvent(new Event('change'));
          }, ms);
          await settled(`the seek to ${ms} ms`);
          assert.ok((await canvasPixels(browser)).equals(watchWanted[ms]),
            `after a seek to ${ms} ms the canvas is not the simulator's frame`);
        }

        // A step shows the next frame, the simulator's, and no more.
        const before = await browser.run(() => vmx.glance.frames);
        await browser.run(() => document.getElementById('watch-step').click());
        await settled('the step');
        const stepped = await browser.run(() => vmx.glance.frames);
        assert.equal(stepped, before + 1);
        assert.equal(frameHash(await canvasPixels(browser)), watchLog.get(String(stepped)),
          'after a step the canvas is not the simulator\'s frame');

        // From there, at 4×: four game seconds a second, read
        // from the glances as they come.
        await browser.run(() => {
          document.getElementById('watch-speed').click();
          document.getElementById('watch-speed').click();
          document.getElementById('watch-pause').click();
        });
        assert.equal((await settled('4×, playing')).speed, 4);
        await browser.run(gameRate, RATE_OVER_MS);
        const rate = await until(browser, `${RATE_OVER_MS / 1000} game seconds at 4×`, () => window.rateSeen);
        assert.ok(Math.abs(rate - 4) < 0.4, `4× played ${rate.toFixed(2)} game seconds a second`);

        // The replay as a link, opened in a fresh browser that has had the
        // page once, from another host, with that host gone.
        await browser.run(() => document.getElementById('watch-link').click());
        const link = await until(browser, 'the link', () => vmx.link);
        assert.match(link, /#watch=[A-Za-z0-9_-]+$/);
        const servers = [];
        const host = (await serveSite(repo, site, servers)).replace(/\/?$/, '/');
        const elsewhere = await engine.open();
        try {
          await elsewhere.goto(host);
          await until(elsewhere, 'the page kept by its service worker',
            () => !!(window.vmx && vmx.started && navigator.serviceWorker.controller), undefined, START_MS);
          servers[0].kill();
          await elsewhere.goto(host + link.slice(link.indexOf('#')));
          await until(elsewhere, 'the linked replay to play, offline',
            () => window.vmx && vmx.watch && vmx.watch.lengthMs > 0 && vmx.glance && vmx.glance.elapsedMs > 1000, undefined, 30000);
          const length = await elsewhere.run(() => vmx.watch.lengthMs);
          assert.ok(Math.abs(length - WATCHED_MS) < 100, `the linked replay lasts ${length} ms`);
          // Cut short, it is refused in words, with the way back.
          await elsewhere.goto('about:blank');
          await elsewhere.goto(host + link.slice(link.indexOf('#'), link.length - 12));
          await until(elsewhere, 'the refusal', () => window.vmx && vmx.notice !== '' && vmx.notice, undefined, 20000);
          assert.match(await elsewhere.run(() => document.getElementById('notice').textContent), /damaged or cut short/);
          assert.equal(await elsewhere.run(() => document.getElementById('again').textContent), 'Play a game');
          await elsewhere.run(() => document.getElementById('again').click());
          await until(elsewhere, 'a game of one\'s own', () => vmx.started && vmx.glance && vmx.glance.frames > 0 && vmx.watch === null);
        } finally {
          await elsewhere.close();
          servers[0].kill();
        }
      } finally {
        await browser.close();
      }
    });
  });
}
