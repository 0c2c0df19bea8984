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

const root = path.resolve(process.argv[2] || '.');
const port = Number(process.argv[3] || 8080);
const plain = process.argv[4] === '--plain';
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

const server = http.createServer((request, response) => {
  const url = new URL(request.url, 'http://localhost');
  let name = decodeURIComponent(url.pathname);
  if (name.endsWith('/'))
    name += 'index.html';
  const file = path.join(root, path.normalize(name));
  if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404, { 'Content-Type': 'text/plain' });
    response.end('not found\n');
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

server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/`);
});
