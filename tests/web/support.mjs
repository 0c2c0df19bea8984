// What both browser test files need: the site served as scripts/web serves
// it.
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
