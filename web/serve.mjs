// Serves the built site with the headers that let the game's threads share
// memory with the page (cross-origin isolation), compressed where the
// browser takes gzip. Usage: node serve.mjs SITE_DIR [PORT] [--plain]
// [--host ADDR] (PORT 0: any free port; --plain: without those headers, as
// a static host that cannot set them serves the site; --host: the address
// to listen on, 127.0.0.1 unless told, 0.0.0.0 for every network the
// machine is on). Prints the addresses to open once it listens. Whatever
// the address, it answers only for files inside SITE_DIR.
import http from 'node:http';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.json': 'application/json',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};
const USAGE = 'usage: node serve.mjs SITE_DIR [PORT] [--plain] [--host ADDR]';

// A mistake on the command line or a port already taken is one line and
// status 2, never a stack trace.
function refuse(text) {
  console.error(`serve: ${text}`);
  process.exit(2);
}

const root = path.resolve(process.argv[2] || '.');
const portText = process.argv[3] || '8080';
if (!/^\d{1,5}$/.test(portText) || Number(portText) > 65535)
  refuse(`the port must be a number from 0 to 65535, not "${portText}"`);
const port = Number(portText);
let plain = false;
let host = '127.0.0.1';
for (let i = 4; i < process.argv.length; ++i) {
  const word = process.argv[i];
  if (word === '--plain') {
    plain = true;
  } else if (word === '--host') {
    host = process.argv[++i];
    if (!host || net.isIP(host) === 0)
      refuse(`--host needs an IP address, such as 127.0.0.1 or 0.0.0.0; ${USAGE}`);
  } else {
    refuse(`unknown option "${word}"; ${USAGE}`);
  }
}
if (!fs.existsSync(root) || !fs.statSync(root).isDirectory())
  refuse(`no site folder at ${root}`);
const compressed = new Map();

function gzipped(file) {
  const stat = fs.statSync(file);
  const kept = compressed.get(file);
  if (kept && kept.mtimeMs === stat.mtimeMs)
    return kept.bytes;
  const bytes = zlib.gzipSync(fs.readFileSync(file), { level: 9 });
  compressed.set(file, { mtimeMs: stat.mtimeMs, bytes });
  return bytes;
}

function answer(response, status, text) {
  response.writeHead(status, { 'Content-Type': 'text/plain' });
  response.end(text + '\n');
}

const server = http.createServer((request, response) => {
  // A static site: nothing to post, put or ask about.
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    response.writeHead(405, { 'Content-Type': 'text/plain', Allow: 'GET, HEAD' });
    response.end('method not allowed\n');
    return;
  }
  let name;
  try {
    name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  } catch (error) {
    answer(response, 400, 'bad request');
    return;
  }
  if (name.includes('\0')) {
    answer(response, 400, 'bad request');
    return;
  }
  if (name.endsWith('/'))
    name += 'index.html';
  const file = path.join(root, path.normalize(name));
  if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    answer(response, 404, 'not found');
    return;
  }
  const headers = {
    'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
    'Cache-Control': 'no-cache',
  };
  if (!plain) {
    headers['Cross-Origin-Opener-Policy'] = 'same-origin';
    headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
    headers['Cross-Origin-Resource-Policy'] = 'same-origin';
  }
  let body;
  if (/\bgzip\b/.test(request.headers['accept-encoding'] || '')) {
    headers['Content-Encoding'] = 'gzip';
    body = gzipped(file);
  } else {
    body = fs.readFileSync(file);
  }
  headers['Content-Length'] = body.length;
  response.writeHead(200, headers);
  response.end(request.method === 'HEAD' ? undefined : body);
});

server.on('error', (error) => {
  if (error.code === 'EADDRINUSE')
    refuse(`port ${port} on ${host} is already in use; give another port number`);
  refuse(`cannot serve: ${error.message}`);
});

// The addresses a browser opens: the one listened on, or for 0.0.0.0
// (every network), this machine's own on each network it is on.
function addresses() {
  if (host !== '0.0.0.0')
    return [host.includes(':') ? `[${host}]` : host];
  const own = Object.values(os.networkInterfaces()).flat()
    .filter((entry) => !entry.internal && entry.family === 'IPv4')
    .map((entry) => entry.address);
  return ['127.0.0.1', ...own];
}

server.listen(port, host, () => {
  const bound = server.address().port;
  for (const address of addresses())
    console.log(`http://${address}:${bound}/`);
});
