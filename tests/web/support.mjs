// What both browser test files need: the site served as scripts/web serves
// it, a picture's fingerprint as the game's frame log writes it, and the
// pace of a replay as the page sees it.
import { spawn } from 'node:child_process';
import path from 'node:path';

// Serves site as scripts/web does (or, with --plain, as a host that sends no
// headers of its own); the server joins kept, for the caller to end.
// Answers its address.
export function serve(repo, site, kept, ...extra) {
  const server = spawn('node', [path.join(repo, 'web/serve.mjs'), site, '0', ...extra], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  kept.push(server);
  return new Promise((resolve, reject) => {
    server.stdout.once('data', (chunk) => resolve(String(chunk).trim()));
    server.once('exit', (code) => reject(new Error(`the server ended with ${code}`)));
  });
}

// The frame log's fingerprint of a picture, from its RGBA bytes: 64-bit
// FNV-1a over the pixels as 0xAARRGGBB words, as the game's session writes
// one for each frame shown.
export function frameHash(rgba) {
  const prime = 0x100000001b3n;
  const mask = (1n << 64n) - 1n;
  let hash = 0xcbf29ce484222325n;
  for (let i = 0; i < rgba.length; i += 4) {
    const word = (0xff000000 | (rgba[i] << 16) | (rgba[i + 1] << 8) | rgba[i + 2]) >>> 0;
    hash = ((hash ^ BigInt(word)) * prime) & mask;
  }
  return hash.toString(16).padStart(16, '0');
}

// Run inside the page: game seconds a second, from the glances as they
// come, over overMs of the game's time. Answers a promise of the rate, and
// leaves it in window.rateSeen for a driver that cannot wait on one.
export function gameRate(overMs) {
  window.rateSeen = null;
  return new Promise((resolve) => {
    let seen = vmx.glance;
    let first = null;
    const look = () => {
      if (vmx.glance !== seen) {
        seen = vmx.glance;
        const at = performance.now();
        if (first === null) {
          first = { at, ms: seen.elapsedMs };
        } else if (seen.elapsedMs - first.ms >= overMs) {
          window.rateSeen = (seen.elapsedMs - first.ms) / (at - first.at);
          resolve(window.rateSeen);
          return;
        }
      }
      setTimeout(look, 4);
    };
    look();
  });
}
