// The web page in headless Chromium (Debian's, never a downloaded one),
// against the site served as scripts/web serves it. Run by scripts/test:
//   VMX_SITE=build/web/site VMX_SIM=build/dev/sim/vmxbrikon-sim npm test
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync, execFileSync } from 'node:child_process';
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import zlib from 'node:zlib';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { PNG } from 'pngjs';
import { frameHash, gameRate, serve as serveSite } from './support.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
const site = path.resolve(repo, process.env.VMX_SITE || 'build/web/site');
const sim = path.resolve(repo, process.env.VMX_SIM || 'build/dev/sim/vmxbrikon-sim');
const shotDir = path.resolve(repo, process.env.VMX_WEB_SHOTS || 'build/web/test-shots');

// The numbers the page shares with the game, as the build wrote them from
// the game's headers: the tests expect what the page was told.
const { CONTRACT } = await import(pathToFileURL(path.join(site, 'contract.js')).href);
const PHASE = CONTRACT.phases;

const servers = [];
let address;
let browser;
const consoleErrors = [];

const serve = (...extra) => serveSite(repo, site, servers, ...extra);

before(async () => {
  address = await serve();
  browser = await chromium.launch({
    executablePath: process.env.VMX_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  fs.mkdirSync(shotDir, { recursive: true });
});

after(async () => {
  await browser?.close();
  servers.forEach((server) => server.kill());
});

// A fresh page (its own storage unless a context is given), watched for
// console errors, with the game started.
async function open(query = '', { context = null, gamepad = false, touch = false, at = address, viewport = null, started = true } = {}) {
  // A touch screen is a phone held sideways.
  const owner = context || await browser.newContext({
    viewport: viewport || (touch ? { width: 915, height: 412 } : { width: 1280, height: 800 }),
    deviceScaleFactor: touch ? 2 : 1,
    hasTouch: touch,
    isMobile: touch,
  });
  const page = await owner.newPage();
  // A page that is meant to fail may say so in its console.
  if (started) {
    page.on('console', (message) => {
      if (message.type() === 'error')
        consoleErrors.push(message.text());
    });
    page.on('pageerror', (error) => consoleErrors.push(String(error)));
  }
  if (gamepad) {
    // A stand-in for the Gamepad API: the test moves its buttons and stick.
    await page.addInitScript(() => {
      const buttons = Array.from({ length: 17 }, () => ({ pressed: false, value: 0 }));
      window.testPad = { id: 'test pad', connected: true, mapping: 'standard', buttons, axes: [0, 0, 0, 0] };
      navigator.getGamepads = () => [window.testPad];
      // As a browser says once a pad is used on the page.
      window.addEventListener('load', () => window.dispatchEvent(new Event('gamepadconnected')));
    });
  }
  await page.goto(at + query);
  if (started)
    await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  return page;
}

const glance = (page) => page.evaluate(() => vmx.glance);

// A replay's timeline moved to ms, as a drag on it ends.
const seekTo = (page, ms) => page.$eval('#watch-time', (timeline, to) => {
  timeline.value = String(to);
  timeline.dispatchEvent(new Event('change'));
}, ms);

async function until(page, what, test, timeoutMs = 10000) {
  const start = Date.now();
  for (;;) {
    const now = await glance(page);
    if (test(now))
      return now;
    if (Date.now() - start > timeoutMs)
      assert.fail(`waited ${timeoutMs} ms for ${what}; the game: ${JSON.stringify(now)}`);
    await page.waitForTimeout(50);
  }
}

// The canvas's picture (wherever it is drawn), as RGBA bytes.
async function pictureBytes(page) {
  const text = await page.evaluate(async () => {
    const data = await vmx.picture();
    let bytes = '';
    for (let i = 0; i < data.length; i += 0x8000)
      bytes += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return btoa(bytes);
  });
  return Buffer.from(text, 'base64');
}

function decode(bytes) {
  const image = PNG.sync.read(Buffer.from(bytes));
  return { width: image.width, height: image.height, data: image.data };
}

// Runs the desktop simulator headless in virtual time; answers the folder
// of its screenshots.
function runNative(simArgs, script) {
  const native = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-native-'));
  const args = ['--headless', '--virtual-time', ...simArgs.split(' '), '--out', native,
    '--frame-log', path.join(native, 'frames.txt')];
  if (script) {
    const file = path.join(native, 'script.txt');
    fs.writeFileSync(file, script);
    args.push('--script', file);
  }
  execFileSync(sim, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  return native;
}

// The same run in the desktop simulator and in the page, in virtual time:
// every screenshot must be the same picture, pixel for pixel.
async function compareWithNative(name, simArgs, script, extra = '') {
  const native = runNative(simArgs, script);

  let query = '?sim=' + encodeURIComponent(`--virtual-time ${simArgs} --out /shots`);
  if (extra)
    query += '&' + extra;
  if (script)
    query += '&script=' + encodeURIComponent(script);
  const page = await open(query);
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 120000 + samenessMinutes * 60000 });
  assert.equal(await page.evaluate(() => vmx.ended), 0, `${name}: the game's exit status`);
  // What the player sees once the run has ended: the game's last frame.
  const last = lastFrame(fs.readFileSync(path.join(native, 'frames.txt'), 'utf8'));
  const shown = frameHash(await pictureBytes(page));
  if (shown !== last) {
    fs.writeFileSync(path.join(shotDir, `${name}-canvas.png`), PNG.sync.write(rgbaImage(await pictureBytes(page))));
    assert.fail(`${name}: the canvas at the end (${shown}) is not the game's last frame (${last}); kept in ${shotDir}`);
  }
  const files = await page.evaluate(async () => {
    // As base64, which crosses to the test far faster than arrays of numbers.
    const base64 = (bytes) => new Promise((resolve) => {
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
      reader.readAsDataURL(new Blob([bytes]));
    });
    const found = await vmx.files('/shots');
    const out = {};
    for (const [key, bytes] of Object.entries(found))
      out[key] = await base64(bytes);
    return out;
  });
  for (const key of Object.keys(files))
    files[key] = Buffer.from(files[key], 'base64');
  const names = fs.readdirSync(native).filter((file) => file.endsWith('.png')).sort();
  assert.ok(names.length > 0, `${name}: the simulator saved no screenshot`);
  assert.deepEqual(Object.keys(files).sort(), names, `${name}: the same screenshots`);
  for (const file of names) {
    const want = decode(fs.readFileSync(path.join(native, file)));
    const got = decode(files[file]);
    assert.equal(got.width, want.width);
    assert.equal(got.height, want.height);
    if (!got.data.equals(want.data)) {
      fs.writeFileSync(path.join(shotDir, `${name}-web-${file}`), files[file]);
      fs.copyFileSync(path.join(native, file), path.join(shotDir, `${name}-native-${file}`));
      assert.fail(`${name}: ${file} differs from the simulator's (both kept in ${shotDir})`);
    }
  }
  await page.context().close();
  fs.rmSync(native, { recursive: true, force: true });
}

// The fingerprint on the frame log's last line ("count hash").
function lastFrame(log) {
  const lines = log.trim().split('\n');
  return lines[lines.length - 1].split(' ')[1];
}

function rgbaImage(rgba) {
  const image = new PNG({ width: CONTRACT.area.width, height: CONTRACT.area.height });
  Buffer.from(rgba).copy(image.data);
  return image;
}

test('the page loads and shows the title screen', async () => {
  const page = await open();
  const loadMs = await page.evaluate(() => vmx.firstFrameMs);
  assert.equal((await glance(page)).phase, PHASE.title);
  // The canvas shows the game's picture, not an empty one.
  const lit = await brightPixels(page);
  assert.ok(lit > 2000, `only ${lit} bright pixels on the title screen`);
  // And it is the game's picture as the simulator shows it, colours and
  // all: only the moving stars and the blinking prompt may differ.
  const native = runNative('--seconds 1 --screenshot-at 800');
  const want = decode(fs.readFileSync(path.join(native, 'frame-000800.png'))).data;
  fs.rmSync(native, { recursive: true, force: true });
  const got = await pictureBytes(page);
  let same = 0;
  for (let i = 0; i < want.length; i += 4)
    same += want[i] === got[i] && want[i + 1] === got[i + 1] && want[i + 2] === got[i + 2] ? 1 : 0;
  assert.ok(same > 0.95 * 1280 * 720, `only ${same} of the canvas's pixels are the simulator's`);
  await page.screenshot({ path: path.join(shotDir, 'page.png') });
  console.log(`the first frame was on screen ${Math.round(loadMs)} ms after the page was asked for`);
  await page.context().close();
});

test('a host without the headers: the page plays, and plays offline once loaded', async () => {
  const plain = await serve('--plain');
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await open('', { context, at: plain });
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  await context.setOffline(true);
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  assert.equal((await glance(page)).phase, PHASE.title);
  await context.close();
});

// VMX_SAMENESS_MINUTES=N (scripts/web-sameness) plays the autoplayed game
// for N minutes instead, with a screenshot every minute.
const samenessMinutes = Number(process.env.VMX_SAMENESS_MINUTES || 0);

test('the same frames as the desktop simulator, on the canvas too', { timeout: 600000 + samenessMinutes * 120000 }, async () => {
  if (samenessMinutes > 0) {
    const shots = Array.from({ length: samenessMinutes }, (_, minute) => (minute + 1) * 60000);
    await compareWithNative('autoplay', `--autoplay --seconds ${samenessMinutes * 60 + 1} --screenshot-at ${shots.join(',')}`, '');
    return;
  }
  await compareWithNative('autoplay', '--autoplay --seconds 60 --screenshot-at 800,4000,12000,30000,59000', '');
  // Runs that end at other moments: the canvas must show each one's end.
  for (const seconds of [3, 8, 13])
    await compareWithNative(`autoplay-${seconds}s`, `--autoplay --seconds ${seconds} --screenshot-at 700`, '');
  await compareWithNative('script', '--seconds 9 --screenshot-at 900,3000,5500,8500', [
    '600 MIDDLE 150', '1500 LEFT 700', '2400 MIDDLE 150', '3200 RIGHT 900',
    '4300 MIDDLE 1200', '6000 BACK 150', '7000 MIDDLE 150', '',
  ].join('\n'));
});

// Start a game, move the paddle, launch while RIGHT is held, pause while
// LEFT is held, and resume, with one kind of input: a press counts even
// while another button is down. input: down(button), up(button) of that
// input's own.
async function playThrough(page, input) {
  await tap(input, 'middle');
  const serving = await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await input.down('left');
  await until(page, 'the paddle to move left', (now) => now.paddleX < serving.paddleX - 20);
  await input.up('left');
  await input.down('right');
  await tap(input, 'middle');
  await until(page, 'the ball in play, launched while RIGHT is held', (now) => now.phase === PHASE.play);
  await input.up('right');
  await input.down('left');
  await tap(input, 'back');
  await until(page, 'the pause, asked for while LEFT is held', (now) => now.paused);
  await input.up('left');
  await tap(input, 'back');
  await until(page, 'the game going on', (now) => !now.paused);
}

// A quick tap: down and up at once; the game's session makes it a press.
async function tap(input, button) {
  await input.down(button);
  await input.up(button);
}

// The canvas's count of bright pixels: a picture of the game, not a black
// page.
function brightPixels(page) {
  return page.evaluate(async () => {
    const data = await vmx.picture();
    let count = 0;
    for (let i = 0; i < data.length; i += 4)
      count += data[i] + data[i + 1] + data[i + 2] > 300 ? 1 : 0;
    return count;
  });
}

// Holding PLAY for three seconds ends the game; the page keeps its last
// picture (not the console the game pans back to) and offers another game.
async function endByHoldingPlay(page, input) {
  await input.down('play');
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 10000 });
  await input.up('play');
  assert.equal(await page.evaluate(() => vmx.ended), 0);
  assert.match(await page.textContent('#notice'), /ended/);
  assert.ok(await brightPixels(page) > 2000, 'the picture went black when the game ended');
  await page.click('#again');
  await page.waitForFunction((title) => vmx.started && vmx.glance && vmx.glance.phase === title && vmx.ended === null, PHASE.title);
  assert.equal(await page.isHidden('#notice'), true);
}

const KEY = { left: 'ArrowLeft', right: 'ArrowRight', middle: 'Space', back: 'Escape', play: 'KeyQ' };

test('the keyboard plays', async () => {
  const page = await open();
  const input = {
    down: (button) => page.keyboard.down(KEY[button]),
    up: (button) => page.keyboard.up(KEY[button]),
  };
  await playThrough(page, input);
  // Two quick taps of BACK: two presses, the pause as it was after them.
  const before = await glance(page);
  await page.keyboard.press('Escape');
  await page.keyboard.press('Escape');
  await until(page, 'two presses from two quick taps', (now) => now.presses >= before.presses + 2);
  await until(page, 'the pause as it was', (now) => now.paused === before.paused);
  await endByHoldingPlay(page, input);
  await page.context().close();
});

// Fingers on a touch screen, through the browser's own touch events: any
// number at once, each on the centre of an element, or moved.
async function fingers(page) {
  const client = await page.context().newCDPSession(page);
  const down = new Map();
  const send = (type) => client.send('Input.dispatchTouchEvent', {
    type, touchPoints: [...down.values()],
  });
  const centre = async (selector) => {
    const box = await page.locator(selector).first().boundingBox();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  };
  return {
    async put(id, at) {
      down.set(id, { id, x: at.x, y: at.y });
      await send('touchStart');
    },
    async move(id, at) {
      down.set(id, { id, x: at.x, y: at.y });
      await send('touchMove');
    },
    async lift(id) {
      down.delete(id);
      await send('touchEnd');
    },
    centre,
  };
}

const TOUCH = {
  left: '#touch button[data-button="left"]', right: '#touch button[data-button="right"]',
  middle: '#touch button:text-is("MIDDLE")', back: '#touch button:text-is("BACK")',
  play: '#touch button:text-is("PLAY")',
};

test('the on-screen buttons play on a touch screen', async () => {
  const page = await open('?touch', { touch: true });
  const touch = await fingers(page);
  const ids = { left: 1, right: 2, middle: 3, back: 4, play: 5 };
  const input = {
    down: async (button) => touch.put(ids[button], await touch.centre(TOUCH[button])),
    up: (button) => touch.lift(ids[button]),
  };
  await playThrough(page, input);
  // A finger that slides from LEFT onto RIGHT moves the paddle right.
  const start = await glance(page);
  await touch.put(9, await touch.centre(TOUCH.left));
  await until(page, 'LEFT', (now) => now.paddleX < start.paddleX - 20);
  const turned = await glance(page);
  await touch.move(9, await touch.centre(TOUCH.right));
  await until(page, 'RIGHT after the slide', (now) => now.paddleX > turned.paddleX + 40);
  // A finger that slides off onto the playfield lets go: once a key has
  // moved the paddle left and been let go, the paddle stays where it is
  // (were RIGHT still held, the game would go back to it).
  await touch.move(9, await touch.centre('#screen'));
  const off = await glance(page);
  await page.keyboard.down('ArrowLeft');
  await until(page, 'LEFT from the keyboard', (now) => now.paddleX < off.paddleX - 40);
  await page.keyboard.up('ArrowLeft');
  await framesLater(page, 10);
  const stopped = await glance(page);
  await framesLater(page, 20);
  assert.equal((await glance(page)).paddleX, stopped.paddleX, 'the finger that slid off the button kept it held');
  await touch.lift(9);
  await page.screenshot({ path: path.join(shotDir, 'page-touch.png') });
  await endByHoldingPlay(page, input);
  await page.context().close();
});

test('a drag on the playfield steers the paddle, and a tap is MIDDLE', async () => {
  const page = await open('', { touch: true });
  const touch = await fingers(page);
  const box = await page.locator('#screen').boundingBox();
  const at = (x) => ({ x: box.x + (x / 1280) * box.width, y: box.y + box.height * 0.6 });
  await touch.put(1, at(640));
  await touch.lift(1);
  await until(page, 'the serve after a tap', (now) => now.phase === PHASE.serve);
  for (const target of [300, 1000, 560]) {
    await touch.put(1, at(640));
    await touch.move(1, at(target));
    // It comes to rest near the finger, and stays there.
    const rest = await until(page, `the paddle near ${target}`, (now) => Math.abs(now.paddleX - target) <= 30);
    await page.waitForFunction((frames) => vmx.glance.frames > frames + 15, rest.frames);
    assert.ok(Math.abs((await glance(page)).paddleX - target) <= 30, `the paddle hunts around ${target}`);
    await touch.lift(1);
  }
  assert.equal((await glance(page)).phase, PHASE.serve, 'a drag launched the ball');
  await page.context().close();
});

test('a gamepad plays', async () => {
  const page = await open('', { gamepad: true });
  // The stick just past a quarter of its travel moves the paddle.
  const input = {
    down: (button) => page.evaluate((name) => {
      if (name === 'left')
        testPad.axes[0] = -0.3;
      else
        testPad.buttons[{ middle: 0, back: 9, right: 15 }[name]].pressed = true;
    }, button),
    up: (button) => page.evaluate((name) => {
      if (name === 'left')
        testPad.axes[0] = 0;
      else
        testPad.buttons[{ middle: 0, back: 9, right: 15 }[name]].pressed = false;
    }, button),
  };
  // A pad's state is read once an animation frame: each change must last one.
  const frame = () => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
  const slow = {
    down: async (button) => { await input.down(button); await frame(); },
    up: async (button) => { await input.up(button); await frame(); },
  };
  await playThrough(page, slow);
  await page.context().close();
});

// Waits for this many more frames of the game: time for what should not
// happen to have happened.
async function framesLater(page, count) {
  const frames = await page.evaluate(() => vmx.glance.frames);
  await page.waitForFunction((want) => vmx.glance.frames >= want, frames + count, { timeout: 10000 });
}

// Loses every ball: launch, then run to one side and, if the ball is still
// caught there, to the other. Answers the game over's glance.
async function loseGame(page) {
  for (let turn = 0; turn < 80; turn += 1) {
    const now = await glance(page);
    if (now.phase === PHASE.gameOver)
      return now;
    if (now.phase === PHASE.serve) {
      await page.keyboard.press('Space');
      await until(page, 'the launch', (state) => state.phase !== PHASE.serve, 5000);
    } else if (now.phase === PHASE.play) {
      const key = turn % 2 === 0 ? 'ArrowLeft' : 'ArrowRight';
      await page.keyboard.down(key);
      await page.waitForFunction((lives) => vmx.glance.phase !== 2 || vmx.glance.lives < lives,
        now.lives, { timeout: 3000 }).catch(() => {});
      await page.keyboard.up(key);
    } else {
      await framesLater(page, 5);
    }
  }
  return until(page, 'the game over', (now) => now.phase === PHASE.gameOver, 30000);
}

const storedBest = (page) => page.evaluate(() => localStorage.getItem('vmxbrikon.best'));

test('the demo plays until a key takes over, and its game is not the best', async () => {
  const page = await open('?demo');
  assert.equal(await page.getAttribute('#demo', 'aria-pressed'), 'true');
  await until(page, 'the built-in player to score', (now) => now.score > 0 && now.phase === PHASE.play, 20000);
  await page.keyboard.down('ArrowLeft');
  await page.waitForFunction(() => document.getElementById('demo').getAttribute('aria-pressed') === 'false');
  await page.keyboard.up('ArrowLeft');
  // Nobody moves the paddle now but the player.
  await framesLater(page, 10);
  const still = await glance(page);
  await framesLater(page, 40);
  assert.equal((await glance(page)).paddleX, still.paddleX);
  const over = await loseGame(page);
  assert.ok(over.score > 0 && over.demoPlayed);
  await page.waitForFunction(() => /not kept/.test(document.getElementById('best').textContent));
  assert.equal(await storedBest(page), null, 'the built-in player\'s points became the best');
  await page.context().close();
});

// The first press of all (PLAY, whose rising tone starts at once) resumes
// the audio, and its tone is heard.
async function firstPressHeard(page) {
  await page.keyboard.press('KeyQ');
  await page.waitForFunction(() => vmx.audioState === 'running');
  let peak = 0;
  for (let i = 0; i < 100 && peak === 0; i += 1)
    peak = await page.evaluate(() => new Promise((resolve) => setTimeout(() => vmx.soundPeak().then(resolve), 50)));
  assert.ok(peak > 0.05, `the loudest sample after the first press was ${peak}`);
}

test('the buzzer sounds from the very first press, and not while muted', async () => {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  let page = await open('', { context });
  await firstPressHeard(page);

  await page.keyboard.press('Space');
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await page.keyboard.press('Space');
  await until(page, 'the ball in play', (now) => now.phase === PHASE.play);
  await page.click('#mute');
  await page.evaluate(() => vmx.soundPeak());
  const before = (await glance(page)).buzzerChanges;
  await page.keyboard.press('Escape');  // pausing beeps, and so does going on
  await until(page, 'the pause', (now) => now.paused);
  await page.keyboard.press('Escape');
  await until(page, 'the game going on, and its beeps', (now) => !now.paused && now.buzzerChanges > before);
  await framesLater(page, 10);
  assert.equal(await page.evaluate(() => vmx.soundPeak()), 0, 'muted, yet a sample was heard');

  // The output never ran dry while the game played.
  const stats = await page.evaluate(() => vmx.soundStats());
  console.log(`sound: ${stats.played} samples played, ${stats.empty} found nothing to play`);
  assert.ok(stats.played > 48000, `only ${stats.played} samples played`);
  assert.ok(stats.empty <= stats.played / 100, `${stats.empty} of ${stats.played} samples found nothing to play`);

  // The choice is remembered.
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.started);
  assert.equal(await page.getAttribute('#mute', 'aria-pressed'), 'true');
  await context.close();
});

test('sound at a network name over plain HTTP, where browsers offer no audio worklet', async () => {
  // A name that is not this machine's loopback name, mapped to 127.0.0.1:
  // a page there is not a secure one.
  const plain = new URL(await serve('--plain'));
  const other = await chromium.launch({
    executablePath: process.env.VMX_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--host-resolver-rules=MAP vmxbrikon.test 127.0.0.1',
    ],
  });
  try {
    const page = await (await other.newContext({ viewport: { width: 1280, height: 800 } })).newPage();
    page.on('pageerror', (error) => consoleErrors.push(String(error)));
    await page.goto(`http://vmxbrikon.test:${plain.port}/`);
    await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
    assert.equal(await page.evaluate(() => window.isSecureContext), false);
    assert.equal(await page.evaluate(() => vmx.soundPath), 'page');
    await firstPressHeard(page);
    const stats = await page.evaluate(() => vmx.soundStats());
    assert.ok(stats.played > 0 && stats.empty <= stats.played / 100, `sound: ${JSON.stringify(stats)}`);
  } finally {
    await other.close();
  }
});

test('the best score: kept across a reload, never lowered by another tab, never negative', async () => {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await open('', { context });
  // A stored line that is no plain number counts as no best.
  await page.evaluate(() => localStorage.setItem('vmxbrikon.best', '-5\n'));
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  assert.equal((await glance(page)).best, 0);
  assert.equal(await page.textContent('#best'), 'Best 0');

  // A second tab, started before the first one's best.
  const other = await open('', { context });
  await page.keyboard.press('Space');
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  const over = await loseGame(page);
  assert.ok(over.score > 0, 'the game scored nothing to keep');
  await page.waitForFunction((score) => localStorage.getItem('vmxbrikon.best') === `${score}\n`,
    over.score, { timeout: 5000 });
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  assert.equal((await glance(page)).best, over.score);

  // A best far above anything the other tab will make, kept meanwhile.
  await page.evaluate(() => localStorage.setItem('vmxbrikon.best', '999999\n'));
  await other.bringToFront();
  await other.keyboard.press('Space');
  await until(other, 'the serve', (now) => now.phase === PHASE.serve);
  const otherOver = await loseGame(other);
  assert.ok(otherOver.best < 999999 && otherOver.best > 0, 'the other tab\'s game wrote a best of its own');
  await framesLater(other, 10);
  assert.equal(await storedBest(other), '999999\n', 'another tab lowered the kept best');
  await other.waitForFunction(() => document.getElementById('best').textContent === 'Best 999999');
  await context.close();
});

test('real time: about 30 frames a second; a hidden tab or a lost focus pauses play and lets go', async () => {
  const page = await open();
  const first = await glance(page);
  await framesLater(page, 150);
  const second = await glance(page);
  const rate = ((second.frames - first.frames) * 1000) / (second.elapsedMs - first.elapsedMs);
  const drawn = await page.evaluate(() => ({ frames: vmx.framesDrawn, ms: vmx.drawMs }));
  console.log(`${rate.toFixed(1)} frames a second; the thread that draws the picture spent ` +
    `${(drawn.ms / drawn.frames).toFixed(2)} ms a frame drawing it (${drawn.frames} frames)`);
  assert.ok(rate > 27 && rate < 31, `${rate} frames a second`);

  const hide = () => page.evaluate(() => {
    Object.defineProperty(document, 'hidden', { value: true, configurable: true });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  const show = () => page.evaluate(() => {
    Object.defineProperty(document, 'hidden', { value: false, configurable: true });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  // Serving: BACK would pause here too, but no ball can be lost, so the
  // game is left as it is.
  await page.keyboard.press('Space');
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await hide();
  await framesLater(page, 20);
  assert.equal((await glance(page)).paused, false, 'hiding the tab paused a serve');
  await show();
  await page.keyboard.press('Space');
  await until(page, 'the ball in play', (now) => now.phase === PHASE.play);
  // Hidden with LEFT held down: paused, and LEFT let go.
  await page.keyboard.down('ArrowLeft');
  await hide();
  await until(page, 'the pause', (now) => now.paused);
  await show();
  await page.keyboard.press('Escape');
  await until(page, 'the game going on', (now) => !now.paused);
  const going = await glance(page);
  await framesLater(page, 20);
  assert.equal((await glance(page)).paddleX, going.paddleX, 'the hidden tab left LEFT held');
  await page.keyboard.up('ArrowLeft');
  // Another window takes the keyboard.
  await page.evaluate(() => window.dispatchEvent(new Event('blur')));
  await until(page, 'the pause on a lost focus', (now) => now.paused);
  await page.context().close();
});

test('keys that behave: dialogs, focused controls and the browser\'s own keys', async () => {
  const page = await open();
  const frames0 = (await glance(page)).frames;
  // The help holds the game's keys, and closes with Escape.
  const helpOpen = () => page.evaluate(() => document.getElementById('help').open);
  await page.click('#help-open');
  assert.equal(await helpOpen(), true);
  await page.click('#help h1');  // the keyboard on the help's text, not its button
  await page.keyboard.press('Space');
  await page.keyboard.press('Enter');
  await framesLater(page, 15);
  assert.equal((await glance(page)).phase, PHASE.title, 'a key went to the game behind the help');
  assert.equal(await helpOpen(), true);
  // Enter on its focused Close button closes it, and goes no further.
  await page.focus('#help form button');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !document.getElementById('help').open);
  await framesLater(page, 15);
  assert.equal((await glance(page)).phase, PHASE.title, 'Enter on Close went to the game too');
  await page.click('#help-open');
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.getElementById('help').open);
  // A bar button reached with Tab takes Enter and Space.
  for (let i = 0; i < 10 && await page.evaluate(() => document.activeElement.id) !== 'mute'; i += 1)
    await page.keyboard.press('Tab');
  const pressed = () => page.getAttribute('#mute', 'aria-pressed');
  const was = await pressed();
  await page.keyboard.press('Enter');
  assert.notEqual(await pressed(), was, 'Enter on the focused button');
  await page.keyboard.press('Space');
  assert.equal(await pressed(), was, 'Space on the focused button');
  for (let i = 0; i < 10 && await page.evaluate(() => document.activeElement.id) !== 'help-open'; i += 1)
    await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('help').open);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.getElementById('help').open);
  await page.evaluate(() => document.activeElement.blur());
  // Ctrl, Alt or Meta with a key: the browser's, never the game's.
  await page.evaluate(() => {
    window.vmxTaken = [];
    window.addEventListener('keydown', (event) => window.vmxTaken.push(event.defaultPrevented));
  });
  await page.keyboard.press('Control+KeyF');
  await page.keyboard.press('Alt+Space');
  assert.deepEqual(await page.evaluate(() => window.vmxTaken), [false, false, false, false]);
  assert.equal(await page.evaluate(() => document.fullscreenElement), null);
  assert.equal((await glance(page)).phase, PHASE.title);
  assert.ok((await glance(page)).frames > frames0);
  // The help pauses a ball in play.
  await page.keyboard.press('Space');
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await page.keyboard.press('Space');
  await until(page, 'the ball in play', (now) => now.phase === PHASE.play);
  await page.click('#help-open');
  await until(page, 'the pause while the help is open', (now) => now.paused);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.getElementById('help').open);
  await page.context().close();
});

test('every way the page cannot start ends in a notice that says why', async () => {
  // A copy of the site with one file missing, served as a host serves it.
  const without = (file) => {
    const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-site-'));
    fs.cpSync(site, copy, { recursive: true });
    fs.rmSync(path.join(copy, file));
    return copy;
  };
  const cases = [
    { what: 'opened from a file', url: 'file://' + path.join(site, 'index.html'), says: /from a file/ },
    { what: 'goggles in HDMI mode', query: '?sim=' + encodeURIComponent('--goggle-mode hdmi'), says: /HDMI video mode/ },
    { what: 'the module missing', site: without('vmxbrikon.wasm'), says: /could not start/ },
    { what: 'a script of the page missing', site: without('contract.js'), says: /could not load its files/ },
    { what: 'a script of the page throwing as it starts', says: /could not start/,
      route: ['**/storage.js', 'throw new Error("a broken script");'] },
  ];
  for (const c of cases) {
    let url = c.url;
    let server = null;
    if (!url) {
      const at = c.site ? await new Promise((resolve, reject) => {
        server = spawn('node', [path.join(repo, 'web/serve.mjs'), c.site, '0', ...(c.plain ? ['--plain'] : [])],
          { stdio: ['ignore', 'pipe', 'inherit'] });
        server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
        server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
      }) : address;
      url = at + (c.query || '');
    }
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    const page = await context.newPage();
    if (c.route)
      await page.route(c.route[0], (route) => route.fulfill({ contentType: 'text/javascript', body: c.route[1] }));
    await page.goto(url);
    await page.waitForFunction(() => !document.getElementById('notice').hidden, null, { timeout: 30000 })
      .catch(() => assert.fail(`${c.what}: no notice`));
    assert.match(await page.textContent('#notice'), c.says, c.what);
    assert.equal(await page.getAttribute('#notice', 'role'), 'alert');
    await page.screenshot({ path: path.join(shotDir, `notice-${c.what.replace(/\W+/g, '-')}.png`) });
    await context.close();
    if (server)
      server.kill();
    if (c.site)
      fs.rmSync(c.site, { recursive: true, force: true });
  }
  // Without JavaScript, the page says that it needs it.
  const noScript = await browser.newContext({ viewport: { width: 1280, height: 800 }, javaScriptEnabled: false });
  const bare = await noScript.newPage();
  await bare.goto(address);
  assert.match(await bare.textContent('.no-script'), /JavaScript/);
  assert.equal(await bare.isVisible('.no-script'), true);
  await bare.screenshot({ path: path.join(shotDir, 'notice-no-javascript.png') });
  await noScript.close();
  // Storage blocked (cookies refused): the game plays, and the bar says its
  // best is not kept.
  const blocked = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  await blocked.addInitScript(() => {
    for (const name of ['localStorage', 'sessionStorage'])
      Object.defineProperty(window, name, { get() { throw new DOMException('blocked', 'SecurityError'); } });
  });
  const page0 = await open('', { context: blocked });
  assert.match(await page0.textContent('#best'), /not kept/);
  await page0.keyboard.press('Space');
  await until(page0, 'the serve with storage blocked', (now) => now.phase === PHASE.serve);
  await blocked.close();
  // The watch over the start never speaks over a game that has started
  // (here it watches for 3 s, and the game has played for 4 s).
  const watched = await open('?start-wait=3000');
  await watched.waitForFunction(() => vmx.glance.elapsedMs > 4000, null, { timeout: 20000 });
  assert.equal(await watched.evaluate(() => vmx.notice), '', 'the start watch spoke over a started game');
  await watched.context().close();
  // A host that lacks one of the files kept for offline play: one file
  // that cannot be kept never keeps the others from being kept, and the
  // page plays offline.
  const partial = without('icon-512.png');
  const plain = await new Promise((resolve) => {
    const server = spawn('node', [path.join(repo, 'web/serve.mjs'), partial, '0', '--plain'], { stdio: ['ignore', 'pipe', 'inherit'] });
    servers.push(server);
    server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
  });
  const page = await open('', { at: plain });
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  await page.context().setOffline(true);
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0, null, { timeout: 20000 })
    .catch(() => assert.fail('a host missing one file: the page did not play offline'));
  await page.context().close();
  fs.rmSync(partial, { recursive: true, force: true });
});

test('phones: the buttons beside the playfield, the bar and the help within the screen', async () => {
  for (const viewport of [{ width: 667, height: 375 }, { width: 915, height: 412 }, { width: 390, height: 844 }, { width: 320, height: 568 }]) {
    const name = `${viewport.width}x${viewport.height}`;
    const page = await open('?touch', { touch: true, viewport });
    const screen = await page.locator('#screen').boundingBox();
    const field = {
      left: screen.x + (CONTRACT.walls.left / CONTRACT.area.width) * screen.width,
      right: screen.x + (CONTRACT.walls.right / CONTRACT.area.width) * screen.width,
      top: screen.y,
      bottom: screen.y + screen.height,
    };
    for (const button of await page.locator('#touch button').all()) {
      const box = await button.boundingBox();
      const apart = box.x + box.width <= field.left || box.x >= field.right ||
        box.y + box.height <= field.top || box.y >= field.bottom;
      assert.ok(apart, `${name}: ${await button.textContent()} covers the playfield`);
      assert.ok(box.x >= 0 && box.y >= 0 && box.x + box.width <= viewport.width && box.y + box.height <= viewport.height,
        `${name}: ${await button.textContent()} is off the screen`);
    }
    // As once a game has ended: the longest best and the replay to save.
    const bar = await page.evaluate(async () => {
      const { showBest, offerReplay } = await import('./bar.js');
      showBest(true);
      offerReplay(new Uint8Array(8), 'vmxbrikon-2026-12-10-1200.vmxr');
      const element = document.getElementById('bar');
      return { scroll: element.scrollWidth, client: element.clientWidth };
    });
    assert.ok(bar.scroll <= bar.client, `${name}: the bar overflows (${bar.scroll} > ${bar.client})`);
    for (const control of await page.locator('#bar button:visible, #bar a:visible').all()) {
      const box = await control.boundingBox();
      assert.ok(box.x >= 0 && box.x + box.width <= viewport.width, `${name}: ${await control.textContent()} is cut off`);
    }
    await page.click('#help-open');
    const help = await page.locator('#help').boundingBox();
    assert.ok(help.x >= 0 && help.y >= 0 && help.x + help.width <= viewport.width &&
      help.y + help.height <= viewport.height, `${name}: the help is cut off`);
    await page.screenshot({ path: path.join(shotDir, `phone-${name}-help.png`) });
    await page.keyboard.press('Escape');
    await page.screenshot({ path: path.join(shotDir, `phone-${name}.png`) });
    await page.context().close();
  }
});

test('the bar: one line, within the screen, at every width from 320 px', async () => {
  const page = await open('', { viewport: { width: 1280, height: 700 } });
  // As once a game has ended: the longest best and the replay to watch and save.
  await page.evaluate(async () => {
    const { showBest, offerReplay } = await import('./bar.js');
    localStorage.setItem('vmxbrikon.best', '999999999\n');
    showBest(true);
    offerReplay(new Uint8Array(8), 'vmxbrikon-2026-12-10-1200.vmxr');
  });
  for (let width = 320; width <= 1280; width += 10) {
    await page.setViewportSize({ width, height: 700 });
    const bar = await page.evaluate(() => {
      const element = document.getElementById('bar');
      const shown = [...element.querySelectorAll('button, a')].filter((control) => control.getClientRects().length > 0);
      const controls = shown.map((control) => {
        const box = control.getBoundingClientRect();
        const style = getComputedStyle(control);
        return { text: control.textContent, left: box.left, right: box.right, height: box.height,
          lines: Math.round(box.height / parseFloat(style.lineHeight || '20')) };
      });
      return { scroll: element.scrollWidth, client: element.clientWidth, controls };
    });
    assert.ok(bar.scroll <= bar.client, `${width} px: the bar overflows (${bar.scroll} > ${bar.client})`);
    assert.ok(bar.controls.some((control) => control.text === 'Watch'), `${width} px: no Watch`);
    const tallest = Math.max(...bar.controls.map((control) => control.height));
    for (const control of bar.controls) {
      assert.ok(control.left >= 0 && control.right <= width, `${width} px: ${control.text} is cut off`);
      assert.ok(control.height >= 44 && control.height === tallest, `${width} px: ${control.text} wraps or is too small (${control.height} px)`);
    }
  }
  await page.context().close();
});

test('the controls of a replay: within their row, at every width from 320 px', async () => {
  const served = `test-controls-${process.pid}.vmxr`;
  fs.copyFileSync(path.join(repo, 'tests/replays/real-autoplay.vmxr'), path.join(site, served));
  try {
    const page = await open(`?replay=${served}`, { viewport: { width: 1280, height: 700 } });
    await page.waitForFunction(() => vmx.watch);
    for (let width = 320; width <= 1280; width += 10) {
      await page.setViewportSize({ width, height: 700 });
      const row = await page.evaluate(() => {
        const box = document.getElementById('watch').getBoundingClientRect();
        const cut = [...document.querySelectorAll('#watch button, #watch input')].filter((control) => {
          const each = control.getBoundingClientRect();
          return each.left < 0 || each.right > box.right || each.top < box.top || each.bottom > box.bottom;
        }).map((control) => control.id);
        return { cut, screenBottom: document.getElementById('screen').getBoundingClientRect().bottom, top: box.top };
      });
      assert.deepEqual(row.cut, [], `${width} px: cut off`);
      assert.ok(row.screenBottom <= row.top + 1, `${width} px: the controls cover the picture`);
    }
    await page.context().close();
  } finally {
    fs.rmSync(path.join(site, served), { force: true });
  }
});

test('the development server: nothing outside the site, a bad address is a 400, a bad start one line and status 2', async () => {
  const get = (url) => new Promise((resolve, reject) => {
    http.get(url, (response) => {
      response.resume();
      response.on('end', () => resolve(response.statusCode));
    }).on('error', reject);
  });
  // A site with a file beside it that a way out of the site would reach.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-serve-'));
  fs.mkdirSync(path.join(dir, 'site'));
  fs.writeFileSync(path.join(dir, 'site', 'index.html'), 'the site\n');
  fs.writeFileSync(path.join(dir, 'beside.txt'), 'outside\n');
  const small = await new Promise((resolve, reject) => {
    const server = spawn('node', [path.join(repo, 'web/serve.mjs'), path.join(dir, 'site'), '0', '--host', '127.0.0.1'],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    servers.push(server);
    server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
    server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
  });
  assert.equal(await get(small + 'index.html'), 200);
  const deep = (step) => step.repeat(24);
  const escapes = [
    ['../beside.txt', 404], ['..%2fbeside.txt', 404], ['%2e%2e/beside.txt', 404], ['%2e%2e%2fbeside.txt', 404],
    ['%2E%2E%2Fbeside.txt', 404], ['.%2e/beside.txt', 404], ['a/../../beside.txt', 404],
    ['%252e%252e%252fbeside.txt', 404], ['%252e%252e/beside.txt', 404], ['..%252fbeside.txt', 404],
    ['..%5cbeside.txt', 404], ['..\\beside.txt', 404], ['%2e%2e%5cbeside.txt', 404],
    ['..%00/beside.txt', 400], ['index.html%00', 400], ['%', 400], ['%c0%ae%c0%ae/beside.txt', 400],
    [deep('../') + 'etc/passwd', 404], [deep('..%2f') + 'etc%2fpasswd', 404], [deep('%2e%2e%2f') + 'etc/passwd', 404],
  ];
  for (const [escape, status] of escapes)
    assert.equal(await get(small + escape), status, escape);
  assert.equal(await get(small + 'index.html'), 200, 'the server stopped serving');
  // A static site answers only GET and HEAD.
  for (const method of ['POST', 'PUT', 'DELETE', 'OPTIONS', 'PATCH']) {
    const status = await new Promise((resolve, reject) => {
      const request = http.request(small + 'index.html', { method }, (response) => {
        response.resume();
        response.on('end', () => resolve(response.statusCode));
      });
      request.on('error', reject);
      request.end();
    });
    assert.equal(status, 405, method);
  }
  fs.rmSync(dir, { recursive: true, force: true });
  const port = new URL(address).port;
  for (const args of [[site, port], [site, 'abc'], [site, '8080', '--bogus'], [site, '0', '--host'], [site, '0', '--host', 'here']]) {
    const run = spawnSync('node', [path.join(repo, 'web/serve.mjs'), ...args], { encoding: 'utf8', timeout: 10000 });
    assert.equal(run.status, 2, `${args.join(' ')}: ${run.stderr}`);
    assert.equal(run.stderr.trim().split('\n').length, 1, `${args.join(' ')}: ${run.stderr}`);
  }
});

// The files of a folder of the page's game, as Buffers by name.
async function pageFiles(page, dir) {
  const files = await page.evaluate(async (folder) => {
    const found = await vmx.files(folder);
    const out = {};
    for (const [key, bytes] of Object.entries(found))
      out[key] = Array.from(bytes);
    return out;
  }, dir);
  for (const key of Object.keys(files))
    files[key] = Buffer.from(files[key]);
  return files;
}

// Plays a replay in the desktop simulator, headless; answers its frame log
// (a fingerprint of every frame shown) and its standard error.
function replayNative(bytes) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-replay-'));
  fs.writeFileSync(path.join(dir, 'run.vmxr'), bytes);
  const run = spawnSync(sim, ['--headless', '--replay', path.join(dir, 'run.vmxr'),
    '--frame-log', path.join(dir, 'frames.txt')], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  const frames = fs.readFileSync(path.join(dir, 'frames.txt'), 'utf8');
  fs.rmSync(dir, { recursive: true, force: true });
  return { frames, stderr: run.stderr };
}

test('replays cross between the page and the simulator, frame for frame', async () => {
  const lines = (text) => text.split('\n').length - 1;
  // Recorded in the page in real time, played back by the simulator.
  let page = await open('?sim=' + encodeURIComponent(
    '--autoplay --seconds 5 --record /rec/run.vmxr --frame-log /rec/frames.txt'));
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 30000 });
  const recorded = await pageFiles(page, '/rec');
  await page.context().close();
  const pageFrames = recorded['frames.txt'].toString();
  assert.ok(lines(pageFrames) > 100, `the page showed ${lines(pageFrames)} frames`);
  assert.equal(replayNative(recorded['run.vmxr']).frames, pageFrames);

  // Recorded by the simulator in real time, played back in the page (from
  // ?replay=URL, at the speed it was played, and dropped on the page).
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-record-'));
  execFileSync(sim, ['--headless', '--autoplay', '--seconds', '5',
    '--record', path.join(dir, 'run.vmxr'), '--frame-log', path.join(dir, 'frames.txt')],
  { stdio: ['ignore', 'ignore', 'pipe'] });
  const served = `test-replay-${process.pid}.vmxr`;
  fs.copyFileSync(path.join(dir, 'run.vmxr'), path.join(site, served));
  try {
    page = await open(`?replay=${served}&sim=` + encodeURIComponent('--frame-log /rec/frames.txt'));
    await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 30000 });
    assert.equal(await page.evaluate(() => vmx.ended), 0);
    const want = fs.readFileSync(path.join(dir, 'frames.txt'), 'utf8');
    assert.equal((await pageFiles(page, '/rec'))['frames.txt'].toString(), want);
    await page.context().close();

    page = await open('?sim=' + encodeURIComponent('--frame-log /rec/frames.txt'));
    await page.evaluate((bytes) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], 'run.vmxr'));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, cancelable: true }));
    }, Array.from(fs.readFileSync(path.join(dir, 'run.vmxr'))));
    await page.waitForURL(/replay=dropped/);
    await page.waitForFunction(() => window.vmx && vmx.ended !== null, null, { timeout: 30000 });
    assert.equal((await pageFiles(page, '/rec'))['frames.txt'].toString(), want);
    await page.context().close();
  } finally {
    fs.rmSync(path.join(site, served), { force: true });
    fs.rmSync(dir, { recursive: true, force: true });
  }

  // A replay that does not fit is refused by its file's name, with the way
  // back to a game of one's own (whose best is kept again).
  // The file comes from the test itself, which a service worker's fetch
  // would pass by.
  const unkept = await browser.newContext({ viewport: { width: 1280, height: 800 }, serviceWorkers: 'block' });
  page = await open('', { context: unkept, started: false });
  await page.route('**/broken.vmxr', (route) => route.fulfill({ body: Buffer.from('not a replay at all') }));
  await page.goto(address + '?replay=broken.vmxr');
  await page.waitForFunction(() => vmx.notice !== '');
  assert.match(await page.textContent('#notice'), /broken\.vmxr cannot be played/);
  await page.screenshot({ path: path.join(shotDir, 'notice-replay-refused.png') });
  await page.click('#again');
  await page.waitForFunction(() => vmx.started && vmx.glance && vmx.glance.frames > 0);
  assert.doesNotMatch(page.url(), /replay=/);
  await page.keyboard.press('Space');
  await until(page, 'the serve after the way back', (now) => now.phase === PHASE.serve);
  const own = await loseGame(page);
  await page.waitForFunction((score) => localStorage.getItem('vmxbrikon.best') === `${score}\n`, own.score, { timeout: 5000 })
    .catch(() => assert.fail('a game after a replay did not keep its best'));
  // The saved replay is named by the day and time it was saved.
  await page.waitForSelector('#replay-save');
  const named = await page.evaluate(() => {
    const when = new Date();
    const two = (n) => String(n).padStart(2, '0');
    return { got: document.getElementById('replay-save').download,
      day: `${when.getFullYear()}-${two(when.getMonth() + 1)}-${two(when.getDate())}` };
  });
  assert.match(named.got, new RegExp(`^vmxbrikon-${named.day}-\\d{4}\\.vmxr$`));
  await page.context().close();

  // A game that ends in the page is offered for download and to watch; its
  // replay ends where the game did.
  const steps = ['1500 MIDDLE 150'];
  for (let ms = 2000; ms < 40000; ms += 2000)
    steps.push(`${ms} MIDDLE 150`, `${ms + 300} LEFT 700`, `${ms + 1100} RIGHT 700`);
  page = await open('?sim=' + encodeURIComponent('--virtual-time --seconds 41 --frame-log /rec/frames.txt') +
    '&script=' + encodeURIComponent(steps.join('\n') + '\n'));
  await page.waitForFunction(() => vmx.lastReplay !== undefined, null, { timeout: 60000 });
  assert.match(await page.getAttribute('#replay-save', 'download'), /^vmxbrikon-.*\.vmxr$/);
  const game = Buffer.from(await page.evaluate(() => Array.from(vmx.lastReplay)));
  // Watch: the same game as a link (which plays as any link does), in a
  // tab of its own.
  await page.waitForSelector('#replay-watch[href*="#watch="][target="_blank"]');
  const watchLink = await page.getAttribute('#replay-watch', 'href');
  assert.ok(zlib.gunzipSync(Buffer.from(watchLink.slice(watchLink.indexOf('#watch=') + 7), 'base64url')).equals(game),
    'Watch does not link to the game just played');
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 60000 });
  const allFrames = (await pageFiles(page, '/rec'))['frames.txt'].toString();
  await page.context().close();
  const native = replayNative(game);
  assert.match(native.stderr, /the replay ended before the game/);
  assert.ok(lines(native.frames) > 300 && native.frames.length < allFrames.length);
  assert.ok(allFrames.startsWith(native.frames), 'the replay shows the run\'s first frames');
});

// The replays pinned for ever (tests/replays) play in the page as every
// build must play them: the frames their expectations name, and the exit
// status.
test('the pinned replays play in the page as pinned', { timeout: 600000 }, async () => {
  const pinned = path.join(repo, 'tests/replays');
  const names = fs.readdirSync(pinned).filter((file) => file.endsWith('.vmxr')).sort();
  assert.ok(names.length >= 5, `only ${names.length} pinned replays`);
  for (const name of names) {
    const expect = fs.readFileSync(path.join(pinned, name.replace(/\.vmxr$/, '.expect')), 'utf8').split('\n');
    const served = `test-pinned-${process.pid}-${name}`;
    fs.copyFileSync(path.join(pinned, name), path.join(site, served));
    try {
      const page = await open(`?replay=${served}&sim=` + encodeURIComponent('--frame-log /rec/frames.txt'), { started: false });
      // Sent to its end, the replay runs there as fast as it can; the pace
      // changes no frame. (A replay refused by the goggles' mode gate ends
      // before it has a length.)
      await page.waitForFunction(() => window.vmx && (vmx.ended !== null || (vmx.watch && vmx.watch.lengthMs > 0)),
        null, { timeout: 30000 });
      if (await page.evaluate(() => vmx.ended === null))
        await seekTo(page, await page.evaluate(() => vmx.watch.lengthMs));
      await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 120000 });
      const status = expect.find((line) => line.startsWith('status ')).split(' ')[1];
      assert.equal(String(await page.evaluate(() => vmx.ended)), status, `${name}: the exit status`);
      const shown = new Set((await pageFiles(page, '/rec'))['frames.txt'].toString().split('\n'));
      for (const line of expect.filter((each) => each.startsWith('frame ')))
        assert.ok(shown.has(line.slice('frame '.length)), `${name}: ${line} was not shown`);
      await page.context().close();
    } finally {
      fs.rmSync(path.join(site, served), { force: true });
    }
  }
});

// A recorded game watched in the page: seeks forward and back each land on
// the simulator's screenshot at that moment, pause holds the picture, a
// step shows the next frame of the simulator's frame log, and 4× plays four
// game seconds a second.
test('a replay watched in the page seeks, pauses, steps and speeds up', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-watch-'));
  const run = path.join(dir, 'run.vmxr');
  execFileSync(sim, ['--headless', '--virtual-time', '--autoplay', '--seconds', '30', '--record', run],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  // Forward, back, forward past the last, and back again.
  const moments = [9000, 4000, 21000, 12500];
  execFileSync(sim, ['--headless', '--replay', run, '--frame-log', path.join(dir, 'frames.txt'),
    '--screenshot-at', [...moments].sort((a, b) => a - b).join(','), '--out', dir],
  { stdio: ['ignore', 'ignore', 'pipe'] });
  const frameLog = new Map(fs.readFileSync(path.join(dir, 'frames.txt'), 'utf8').trim().split('\n')
    .map((line) => line.split(' ')));
  const served = `test-watch-${process.pid}.vmxr`;
  fs.copyFileSync(run, path.join(site, served));
  const settled = (page) => page.waitForFunction(() => vmx.watch && vmx.watch.settled, null, { timeout: 30000 });
  try {
    const page = await open(`?replay=${served}`);
    await page.waitForFunction(() => vmx.watch && vmx.watch.lengthMs > 0, null, { timeout: 30000 });
    assert.ok(Math.abs(await page.evaluate(() => vmx.watch.lengthMs) - 30000) < 100);
    await page.keyboard.press('Space');
    await settled(page);
    assert.equal(await page.evaluate(() => vmx.watch.paused), true);

    for (const ms of moments) {
      await seekTo(page, ms);
      await settled(page);
      const shown = await pictureBytes(page);
      const want = decode(fs.readFileSync(path.join(dir, `frame-${String(ms).padStart(6, '0')}.png`)));
      if (!shown.equals(want.data)) {
        fs.writeFileSync(path.join(shotDir, `watch-${ms}-canvas.png`), PNG.sync.write(rgbaImage(shown)));
        assert.fail(`after a seek to ${ms} ms the canvas is not the simulator's frame (kept in ${shotDir})`);
      }
      assert.match(await page.textContent('#watch-where'), /score \d+ · level \d+/);
    }

    // Paused, the picture holds while the display goes on.
    const held = await pictureBytes(page);
    const framesHeld = (await glance(page)).frames;
    await page.evaluate(() => new Promise((resolve) => {
      let left = 30;
      const next = () => (--left > 0 ? requestAnimationFrame(next) : resolve());
      requestAnimationFrame(next);
    }));
    assert.ok((await pictureBytes(page)).equals(held), 'the picture moved while paused');
    assert.equal((await glance(page)).frames, framesHeld);

    // A step shows the next frame, the simulator's, and no more.
    await page.keyboard.press('Period');
    await settled(page);
    const stepped = await glance(page);
    assert.equal(stepped.frames, framesHeld + 1);
    assert.equal(frameHash(await pictureBytes(page)), frameLog.get(String(stepped.frames)));

    // At 4×, four game seconds a second, read from the glances as they come.
    await page.keyboard.press('Equal');
    await page.keyboard.press('Equal');
    await page.keyboard.press('Space');
    await settled(page);
    assert.equal(await page.textContent('#watch-speed'), '4×');
    const rate = await page.evaluate(gameRate, 12000);
    assert.ok(Math.abs(rate - 4) < 0.4, `4× played ${rate.toFixed(2)} game seconds a second`);
    // Playing, the game is ahead of the last glance the page has: the
    // moment of that glance, which the page takes to be ahead, is one the
    // game has passed, and is still reached (the replay played again from
    // its start).
    const soon = await page.evaluate(() => vmx.watch.atMs);
    await seekTo(page, soon);
    await settled(page);
    assert.ok(Math.abs((await glance(page)).elapsedMs - soon) < 2000);

    // On a touch screen: a tap on Pause pauses, and a tap on the timeline
    // takes the game there (the game's own buttons are not shown).
    const phone = await open(`?replay=${served}`, { touch: true });
    await phone.waitForFunction(() => vmx.watch.lengthMs > 0, null, { timeout: 30000 });
    assert.equal(await phone.isHidden('#touch'), true);
    await phone.tap('#watch-pause');
    await settled(phone);
    assert.equal(await phone.evaluate(() => vmx.watch.paused), true);
    const box = await phone.locator('#watch-time').boundingBox();
    await phone.touchscreen.tap(box.x + box.width * 0.75, box.y + box.height / 2);
    await phone.waitForFunction(() => vmx.watch.settled && vmx.watch.atMs > 15000, null, { timeout: 30000 });
    const tapped = await phone.evaluate(() => vmx.watch.atMs);
    assert.ok(Math.abs(tapped - 22500) < 2000, `a tap at three quarters of the timeline went to ${tapped} ms`);
    await phone.context().close();

    // Leaving the replay is a game of one's own.
    await page.click('#watch-leave');
    await page.waitForFunction((title) => vmx.started && vmx.glance && vmx.glance.phase === title && vmx.watch === null,
      PHASE.title);
    assert.doesNotMatch(page.url(), /replay=/);
    assert.equal(await page.isHidden('#watch'), true);
    await page.context().close();

    // A seek that takes a while (to the end of a 30-minute game, a couple
    // of seconds) says where it is going and how far it has come, and says
    // no more once it is there.
    execFileSync(sim, ['--headless', '--virtual-time', '--autoplay', '--seconds', '1800', '--record', run],
      { stdio: ['ignore', 'ignore', 'pipe'] });
    fs.copyFileSync(run, path.join(site, served));
    const long = await open(`?replay=${served}`);
    await long.waitForFunction(() => vmx.watch && vmx.watch.lengthMs > 0, null, { timeout: 60000 });
    const end = await long.evaluate(() => vmx.watch.lengthMs);
    await seekTo(long, end);
    await long.waitForFunction(() => !document.getElementById('watch-progress').hidden, null, { timeout: 30000 });
    const said = await long.textContent('#watch-progress');
    const to = `${Math.floor(end / 60000)}:${String(Math.floor(end / 1000) % 60).padStart(2, '0')}`;
    assert.match(said, new RegExp(`^Going to ${to}: \\d+:\\d\\d$`));
    await long.waitForFunction((first) => vmx.watch.settled ||
      document.getElementById('watch-progress').textContent !== first, said, { timeout: 30000 });
    assert.equal(await long.evaluate(() => vmx.watch.settled), false, 'the seek said nothing of how far it had come');
    await settled(long);
    assert.equal(await long.isHidden('#watch-progress'), true);
    assert.match(await long.textContent('#watch-where'), new RegExp(`^${to} / ${to} `));
    await long.context().close();
  } finally {
    fs.rmSync(path.join(site, served), { force: true });
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// A replay as a link: made in one page, it plays in a fresh browser that
// has the page offline; a link damaged, cut short or of another version is
// refused in words, with the way back to a game of one's own.
test('a replay shared as a link plays elsewhere, offline; a bad link is refused', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-link-'));
  const run = path.join(dir, 'run.vmxr');
  execFileSync(sim, ['--headless', '--virtual-time', '--autoplay', '--seconds', '12', '--record', run],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  const bytes = fs.readFileSync(run);
  const served = `test-link-${process.pid}.vmxr`;
  fs.copyFileSync(run, path.join(site, served));
  let link;
  try {
    const page = await open(`?replay=${served}`);
    await page.click('#watch-link');
    await page.waitForFunction(() => vmx.link !== null);
    link = await page.evaluate(() => vmx.link);
    assert.equal(page.url(), link);
    await page.context().close();
  } finally {
    fs.rmSync(path.join(site, served), { force: true });
  }
  assert.match(link, /#watch=[A-Za-z0-9_-]+$/);

  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await open('', { context });
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  await context.setOffline(true);
  await page.goto(link);
  await page.waitForFunction(() => window.vmx && vmx.watch && vmx.watch.lengthMs > 0 && vmx.glance && vmx.glance.elapsedMs > 1000,
    null, { timeout: 30000 });
  assert.ok(Math.abs(await page.evaluate(() => vmx.watch.lengthMs) - 12000) < 100);

  // Another version's replay, whole and with its check, as its link.
  const other = Buffer.from(bytes);
  const versionAt = 11;
  other[versionAt] = other[versionAt] === 0x39 ? 0x38 : 0x39;
  other.writeUInt32LE(zlib.crc32(other.subarray(0, other.length - 4)), other.length - 4);
  const otherLink = address.replace(/\/?$/, '/') + '#watch=' + zlib.gzipSync(other).toString('base64url');
  const fragment = link.slice(link.indexOf('#watch=') + 7);
  const middle = fragment.length >> 1;
  const cases = [
    { name: 'damaged', at: link.replace(/#.*/, '#watch=' + fragment.slice(0, middle) +
      (fragment[middle] === 'A' ? 'B' : 'A') + fragment.slice(middle + 1)), says: /damaged or cut short/ },
    { name: 'cut short', at: link.slice(0, link.length - 12), says: /damaged or cut short/ },
    { name: 'not base64url', at: link.replace(/#.*/, '#watch=%%%'), says: /damaged or cut short/ },
    { name: 'another version', at: otherLink, says: /cannot be played: recorded by vmxbrikon \S+; this is vmxbrikon/ },
  ];
  for (const { name, at, says } of cases) {
    await page.goto('about:blank');
    await page.goto(at);
    await page.waitForFunction(() => window.vmx && vmx.notice !== '', null, { timeout: 20000 });
    assert.match(await page.textContent('#notice'), says, name);
    assert.equal(await page.textContent('#again'), 'Play a game', name);
    await page.click('#again');
    await page.waitForFunction(() => vmx.started && vmx.glance && vmx.glance.frames > 0 && vmx.watch === null);
    assert.doesNotMatch(page.url(), /#/, name);
  }
  await context.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

// Every page opened above was watched for errors in its console.
test('no page wrote an error to its console', () => {
  assert.deepEqual(consoleErrors, []);
});
