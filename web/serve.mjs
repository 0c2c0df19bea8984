// Serves the built site on 127.0.0.1 with the headers that let the game's
// threads share memory with the page (cross-origin isolation), compressed
// where the browser takes gzip. Usage: node serve.mjs SITE_DIR [PORT] [--plain]
// (PORT 0: any free port; --plain: without those headers, as a static host
// that cannot set them serves the site). Prints the address once it listens.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};

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
const extra = process.argv.slice(4);
if (extra.some((word) => word !== '--plain'))
  refuse(`unknown option "${extra.find((word) => word !== '--plain')}"; usage: node serve.mjs SITE_DIR [PORT] [--plain]`);
const plain = extra.includes('--plain');
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
    refuse(`port ${port} on 127.0.0.1 is already in use; try --port with another number`);
  refuse(`cannot serve: ${error.message}`);
});

server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/`);
});
