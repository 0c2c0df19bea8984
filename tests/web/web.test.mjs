// The web page in headless Chromium (Debian's, never a downloaded one),
// against the site served as scripts/web serves it. Run by scripts/test:
//   VMX_SITE=build/web/site VMX_SIM=build/dev/sim/vmxbrikon-sim npm test
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { PNG } from 'pngjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
const site = path.resolve(repo, process.env.VMX_SITE || 'build/web/site');
const sim = path.resolve(repo, process.env.VMX_SIM || 'build/dev/sim/vmxbrikon-sim');
const shotDir = path.resolve(repo, process.env.VMX_WEB_SHOTS || 'build/web/test-shots');

const PHASE = { title: 0, serve: 1, play: 2, gameOver: 4 };

const servers = [];
let address;
let browser;
const consoleErrors = [];

// Serves the site as scripts/web does (or, with --plain, as a host that
// sends no headers of its own); answers its address.
async function serve(...extra) {
  const server = spawn('node', [path.join(repo, 'web/serve.mjs'), site, '0', ...extra], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  servers.push(server);
  return new Promise((resolve, reject) => {
    server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
    server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
  });
}

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
async function open(query = '', { context = null, gamepad = false, touch = false, at = address } = {}) {
  // A touch screen is a phone held sideways.
  const owner = context || await browser.newContext({
    viewport: touch ? { width: 915, height: 412 } : { width: 1280, height: 800 },
    deviceScaleFactor: touch ? 2 : 1,
    hasTouch: touch,
    isMobile: touch,
  });
  const page = await owner.newPage();
  page.on('console', (message) => {
    if (message.type() === 'error')
      consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => consoleErrors.push(String(error)));
  if (gamepad) {
    // A stand-in for the Gamepad API: the test moves its buttons and stick.
    await page.addInitScript(() => {
      const buttons = Array.from({ length: 17 }, () => ({ pressed: false, value: 0 }));
      window.testPad = { id: 'test pad', connected: true, mapping: 'standard', buttons, axes: [0, 0, 0, 0] };
      navigator.getGamepads = () => [window.testPad];
    });
  }
  await page.goto(at + query);
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  return page;
}

const glance = (page) => page.evaluate(() => vmx.glance);

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

function decode(bytes) {
  const image = PNG.sync.read(Buffer.from(bytes));
  return { width: image.width, height: image.height, data: image.data };
}

// Runs the desktop simulator headless in virtual time; answers the folder
// of its screenshots.
function runNative(simArgs, script) {
  const native = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-native-'));
  const args = ['--headless', '--virtual-time', ...simArgs.split(' '), '--out', native];
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
async function compareWithNative(name, simArgs, script) {
  const native = runNative(simArgs, script);

  let query = '?sim=' + encodeURIComponent(`--virtual-time ${simArgs} --out /shots`);
  if (script)
    query += '&script=' + encodeURIComponent(script);
  const page = await open(query);
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 120000 });
  assert.equal(await page.evaluate(() => vmx.ended), 0, `${name}: the game's exit status`);
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

test('the page loads, isolated, and shows the title screen', async () => {
  const page = await open();
  const loadMs = await page.evaluate(() => vmx.firstFrameMs);
  assert.equal(await page.evaluate(() => crossOriginIsolated), true);
  assert.equal((await glance(page)).phase, PHASE.title);
  // The canvas shows the game's picture, not an empty one.
  const lit = await page.evaluate(() => {
    const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 1280, 720).data;
    let count = 0;
    for (let i = 0; i < data.length; i += 4)
      count += data[i] + data[i + 1] + data[i + 2] > 300 ? 1 : 0;
    return count;
  });
  assert.ok(lit > 2000, `only ${lit} bright pixels on the title screen`);
  // And it is the game's picture as the simulator shows it, colours and
  // all: only the moving stars and the blinking prompt may differ.
  const native = runNative('--seconds 1 --screenshot-at 800');
  const want = decode(fs.readFileSync(path.join(native, 'frame-000800.png'))).data;
  fs.rmSync(native, { recursive: true, force: true });
  const url = await page.evaluate(() => document.getElementById('screen').toDataURL('image/png'));
  const got = decode(Buffer.from(url.slice(url.indexOf(',') + 1), 'base64')).data;
  let same = 0;
  for (let i = 0; i < want.length; i += 4)
    same += want[i] === got[i] && want[i + 1] === got[i + 1] && want[i + 2] === got[i + 2] ? 1 : 0;
  assert.ok(same > 0.95 * 1280 * 720, `only ${same} of the canvas's pixels are the simulator's`);
  await page.screenshot({ path: path.join(shotDir, 'page.png') });
  console.log(`the first frame was on screen ${Math.round(loadMs)} ms after the page was asked for`);
  await page.context().close();
});

test('a host without the headers: the page isolates itself, and plays offline once loaded', async () => {
  const plain = await serve('--plain');
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await open('', { context, at: plain });
  assert.equal(await page.evaluate(() => crossOriginIsolated), true);
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  await context.setOffline(true);
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  assert.equal((await glance(page)).phase, PHASE.title);
  await context.close();
});

test('the same frames as the desktop simulator', async () => {
  await compareWithNative('autoplay', '--autoplay --seconds 60 --screenshot-at 800,4000,12000,30000,59000');
  await compareWithNative('script', '--seconds 9 --screenshot-at 900,3000,5500,8500', [
    '600 MIDDLE 150', '1500 LEFT 700', '2400 MIDDLE 150', '3200 RIGHT 900',
    '4300 MIDDLE 1200', '6000 BACK 150', '7000 MIDDLE 150', '',
  ].join('\n'));
});

// Start a game, move the paddle, launch, pause and resume, with one kind of
// input; hold(button, ms) and tap(button) are that input's own.
async function playThrough(page, hold, tap) {
  await tap('middle');
  const serving = await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await hold('left', 600);
  await until(page, 'the paddle to move left', (now) => now.paddleX < serving.paddleX);
  await tap('middle');
  await until(page, 'the ball in play', (now) => now.phase === PHASE.play);
  await tap('back');
  await until(page, 'the pause', (now) => now.paused);
  await tap('back');
  await until(page, 'the game going on', (now) => !now.paused);
}

async function endByHoldingPlay(page, hold) {
  await hold('play', 3600);
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 10000 });
  assert.equal(await page.evaluate(() => vmx.ended), 0);
  assert.match(await page.textContent('#notice'), /ended/);
}

test('the keyboard plays', async () => {
  const page = await open();
  const KEY = { left: 'ArrowLeft', right: 'ArrowRight', middle: 'Space', back: 'Escape', play: 'KeyQ' };
  const hold = async (button, ms) => {
    await page.keyboard.down(KEY[button]);
    await page.waitForTimeout(ms);
    await page.keyboard.up(KEY[button]);
    await page.waitForTimeout(200);
  };
  // A quick tap: the page holds it long enough for the game to see it.
  const tap = async (button) => {
    await page.keyboard.press(KEY[button]);
    await page.waitForTimeout(250);
  };
  await playThrough(page, hold, tap);
  await endByHoldingPlay(page, hold);
  await page.context().close();
});

test('the on-screen buttons play on a touch screen', async () => {
  const page = await open('?touch', { touch: true });
  const LABEL = { left: 'LEFT', right: 'RIGHT', middle: 'MIDDLE', back: 'BACK', play: 'PLAY' };
  const centre = async (button) => {
    const box = await page.locator(`#touch button[aria-label="${LABEL[button]}"], #touch button:text-is("${LABEL[button]}")`).first().boundingBox();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  };
  const hold = async (button, ms) => {
    const at = await centre(button);
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.waitForTimeout(ms);
    await page.mouse.up();
    await page.waitForTimeout(200);
  };
  const tap = async (button) => {
    const at = await centre(button);
    await page.touchscreen.tap(at.x, at.y);
    await page.waitForTimeout(250);
  };
  await playThrough(page, hold, tap);
  await page.screenshot({ path: path.join(shotDir, 'page-touch.png') });
  await endByHoldingPlay(page, hold);
  await page.context().close();
});

test('a gamepad plays', async () => {
  const page = await open('', { gamepad: true });
  const set = (button, down) => page.evaluate(([name, on]) => {
    if (name === 'left')
      testPad.axes[0] = on ? -1 : 0;
    else
      testPad.buttons[{ middle: 0, back: 9, right: 15 }[name]].pressed = on;
  }, [button, down]);
  const hold = async (button, ms) => {
    await set(button, true);
    await page.waitForTimeout(ms);
    await set(button, false);
    await page.waitForTimeout(200);
  };
  const tap = async (button) => {
    await set(button, true);
    await page.waitForTimeout(40);
    await set(button, false);
    await page.waitForTimeout(250);
  };
  await playThrough(page, hold, tap);
  await page.context().close();
});

test('the demo plays until a key takes over', async () => {
  const page = await open('?demo');
  assert.equal(await page.getAttribute('#demo', 'aria-pressed'), 'true');
  await until(page, 'the built-in player to score', (now) => now.score > 0, 20000);
  await page.keyboard.down('ArrowLeft');
  await page.waitForFunction(() => document.getElementById('demo').getAttribute('aria-pressed') === 'false');
  await page.waitForTimeout(400);
  await page.keyboard.up('ArrowLeft');
  // Nobody moves the paddle now but the player.
  await page.waitForTimeout(300);
  const still = await glance(page);
  await page.waitForTimeout(1500);
  assert.equal((await glance(page)).paddleX, still.paddleX);
  await page.context().close();
});

test('the buzzer sounds after the first key, and not while muted', async () => {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  let page = await open('', { context });
  await page.keyboard.press('Space');
  await page.waitForFunction(() => vmx.audioState === 'running');
  // Starting a game and launching the ball both beep.
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  await page.keyboard.press('Space');
  let peak = 0;
  for (let i = 0; i < 40 && peak === 0; i += 1) {
    await page.waitForTimeout(100);
    peak = await page.evaluate(() => vmx.soundPeak());
  }
  assert.ok(peak > 0.05, `the loudest sample after the first keys was ${peak}`);

  await page.click('#mute');
  await page.evaluate(() => vmx.soundPeak());
  const before = (await glance(page)).buzzerChanges;
  await page.keyboard.press('Escape');  // pausing beeps, and so does going on
  await page.waitForTimeout(400);
  await page.keyboard.press('Escape');
  await page.waitForTimeout(600);
  const after = (await glance(page)).buzzerChanges;
  assert.ok(after > before, 'the game changed the buzzer while muted');
  assert.equal(await page.evaluate(() => vmx.soundPeak()), 0, 'muted, yet a sample was heard');

  // The choice is remembered.
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.started);
  assert.equal(await page.getAttribute('#mute', 'aria-pressed'), 'true');
  await context.close();
});

test('the best score survives a reload', async () => {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await open('', { context });
  // Lose every ball: launch, then stay in the far left corner.
  await page.keyboard.press('Space');
  await until(page, 'the serve', (now) => now.phase === PHASE.serve);
  for (let ball = 0; ball < 12; ball += 1) {
    const now = await glance(page);
    if (now.phase === PHASE.gameOver)
      break;
    if (now.phase === PHASE.serve) {
      await page.keyboard.press('Space');
      await until(page, 'the launch', (state) => state.phase !== PHASE.serve, 5000);
    }
    await page.keyboard.down('ArrowLeft');
    await until(page, 'the ball lost', (state) => state.phase !== PHASE.play, 30000);
    await page.keyboard.up('ArrowLeft');
    await page.waitForTimeout(300);
  }
  const over = await until(page, 'the game over', (now) => now.phase === PHASE.gameOver, 30000);
  assert.ok(over.score > 0, 'the game scored nothing to keep');
  await page.waitForFunction((score) => localStorage.getItem('vmxbrikon.best') === `${score}\n`,
    over.score, { timeout: 5000 });
  await page.reload();
  await page.waitForFunction(() => window.vmx && vmx.glance && vmx.glance.frames > 0);
  assert.equal((await glance(page)).best, over.score);
  await context.close();
});

test('real time: about 30 frames a second, and a hidden tab pauses play', async () => {
  const page = await open();
  const first = await glance(page);
  await page.waitForTimeout(5000);
  const second = await glance(page);
  const rate = ((second.frames - first.frames) * 1000) / (second.elapsedMs - first.elapsedMs);
  const drawn = await page.evaluate(() => ({ frames: vmx.framesDrawn, ms: vmx.drawMs }));
  console.log(`${rate.toFixed(1)} frames a second; the page's thread spent ` +
    `${(drawn.ms / drawn.frames).toFixed(2)} ms a frame drawing (${drawn.frames} frames)`);
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
  await page.waitForTimeout(600);
  assert.equal((await glance(page)).paused, false, 'hiding the tab paused a serve');
  await show();
  await page.keyboard.press('Space');
  await until(page, 'the ball in play', (now) => now.phase === PHASE.play);
  await hide();
  await until(page, 'the pause', (now) => now.paused);
  await show();
  await page.context().close();
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

  // A game that ends in the page is offered for download; its replay ends
  // where the game did.
  const steps = ['1500 MIDDLE 150'];
  for (let ms = 2000; ms < 40000; ms += 2000)
    steps.push(`${ms} MIDDLE 150`, `${ms + 300} LEFT 700`, `${ms + 1100} RIGHT 700`);
  page = await open('?sim=' + encodeURIComponent('--virtual-time --seconds 41 --frame-log /rec/frames.txt') +
    '&script=' + encodeURIComponent(steps.join('\n') + '\n'));
  await page.waitForFunction(() => vmx.lastReplay !== undefined, null, { timeout: 60000 });
  assert.match(await page.getAttribute('#replay-save', 'download'), /^vmxbrikon-.*\.vmxr$/);
  const game = Buffer.from(await page.evaluate(() => Array.from(vmx.lastReplay)));
  await page.waitForFunction(() => vmx.ended !== null, null, { timeout: 60000 });
  const allFrames = (await pageFiles(page, '/rec'))['frames.txt'].toString();
  await page.context().close();
  const native = replayNative(game);
  assert.match(native.stderr, /the replay ended before the game/);
  assert.ok(lines(native.frames) > 300 && native.frames.length < allFrames.length);
  assert.ok(allFrames.startsWith(native.frames), 'the replay shows the run\'s first frames');
});

// Every page opened above was watched for errors in its console.
test('no page wrote an error to its console', () => {
  assert.deepEqual(consoleErrors, []);
});
