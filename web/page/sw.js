// The page's own service worker. It gives every response of the site the
// headers that let the game's threads share memory with the page (for hosts
// that cannot send them), and keeps the site's files so that the game, once
// loaded, plays without a network. The network comes first, so a new build
// is seen as soon as it is served.
'use strict';

const CACHE = 'vmxbrikon';
const FILES = [
  './', 'index.html', 'style.css', 'contract.js', 'app.js', 'picture.js', 'replay.js', 'worker.js',
  'audio.js',
  'vmxbrikon.js', 'vmxbrikon.wasm', 'vmxbrikon.worker.js', 'vmxbrikon-coop.js', 'vmxbrikon-coop.wasm',
  'manifest.webmanifest', 'icon.svg', 'icon-192.png', 'icon-512.png',
];

// Isolation must never wait on the cache: a file that cannot be kept now
// (a host missing one, a network that drops) leaves the install whole, and
// the file is kept the next time the page fetches it.
self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE)
    .then((cache) => Promise.allSettled(FILES.map((file) => cache.add(file))))
    .catch(() => {})
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

function isolated(response) {
  if (response.status === 0)
    return response;
  const headers = new Headers(response.headers);
  headers.set('Cross-Origin-Opener-Policy', 'same-origin');
  headers.set('Cross-Origin-Embedder-Policy', 'require-corp');
  headers.set('Cross-Origin-Resource-Policy', 'same-origin');
  return new Response(response.body, {
    status: response.status,
    statusText: response.statusText,
    headers,
  });
}

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin)
    return;
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    try {
      const response = await fetch(request);
      if (response.ok)
        cache.put(request, response.clone());
      return isolated(response);
    } catch (error) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept)
        return isolated(kept);
      throw error;
    }
  })());
});
