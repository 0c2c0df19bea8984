// The measuring half of bench/web-seek (its options are listed there).
import { execFileSync, spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';

const repo = process.argv[2];
const USAGE = 'usage: bench/web-seek [--minutes N] [--site DIR] [--sim FILE]';
let options;
try {
  options = parseArgs({
    args: process.argv.slice(3),
    options: {
      minutes: { type: 'string', default: '10' },
      site: { type: 'string', default: path.join(repo, 'build/web/site') },
      sim: { type: 'string', default: path.join(repo, 'build/dev/sim/vmxbrikon-sim') },
    },
  }).values;
} catch (error) {
  console.error(`web-seek: ${error.message}; ${USAGE}`);
  process.exit(2);
}
const minutes = Number(options.minutes);
if (!(minutes > 0)) {
  console.error(`web-seek: --minutes needs a number above 0, not "${options.minutes}"`);
  process.exit(2);
}
const site = path.resolve(options.site);
if (!fs.existsSync(path.join(site, 'index.html'))) {
  console.error(`web-seek: no site in ${site} (build one with scripts/web --out ${site})`);
  process.exit(2);
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vmx-web-seek-'));
const run = path.join(dir, 'run.vmxr');
execFileSync(options.sim, ['--headless', '--virtual-time', '--autoplay', '--seconds', String(minutes * 60),
  '--record', run], { stdio: ['ignore', 'ignore', 'pipe'] });
const bytes = fs.readFileSync(run);

let start = process.hrtime.bigint();
execFileSync(options.sim, ['--headless', '--mute', '--replay', run], { stdio: ['ignore', 'ignore', 'pipe'] });
const nativeS = Number(process.hrtime.bigint() - start) / 1e9;
fs.rmSync(dir, { recursive: true, force: true });

const server = spawn('node', [path.join(repo, 'web/serve.mjs'), site, '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
const address = await new Promise((resolve, reject) => {
  server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
  server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
});
const require = createRequire(path.join(repo, 'tests/web/package.json'));
const { chromium } = require('playwright-core');
const browser = await chromium.launch({
  executablePath: process.env.VMX_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run'],
});
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  // The replay as its link, so that the site needs no file of its own.
  await page.goto(`${address.replace(/\/?$/, '/')}#watch=${zlib.gzipSync(bytes).toString('base64url')}`);
  await page.waitForFunction(() => window.vmx && vmx.watch && vmx.glance && vmx.glance.frames > 0, null, { timeout: 60000 });
  await page.keyboard.press('Space');
  await page.waitForFunction(() => vmx.watch.settled && vmx.watch.paused);
  // The page learns the game's length by running it through unseen.
  await page.waitForFunction(() => vmx.watch.lengthMs > 0, null, { timeout: 600000 });
  const lengthMs = await page.evaluate(() => vmx.watch.lengthMs);
  const pageS = await page.evaluate(() => new Promise((resolve) => {
    const timeline = document.getElementById('watch-time');
    const begun = performance.now();
    timeline.value = timeline.max;
    timeline.dispatchEvent(new Event('change'));
    const look = () => (vmx.watch.settled ? resolve((performance.now() - begun) / 1000) : setTimeout(look, 5));
    look();
  }));
  console.log(`a game of ${(lengthMs / 60000).toFixed(1)} minutes, ${bytes.length} bytes of replay`);
  console.log(`natively, the replay run through headless: ${nativeS.toFixed(2)} s`);
  console.log(`in the page, a seek from the start to the end: ${pageS.toFixed(2)} s`);
} finally {
  await browser.close();
  server.kill();
}
