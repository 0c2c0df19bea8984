// The page's own service worker: keeps the site's files, so that the game,
// once loaded, plays without a network. The network comes first, so a new
// build is seen as soon as it is served. The list of the site's files is
// written once, as the site is built (files.json).
'use strict';

const CACHE = 'vmxbrikon';

// A file that cannot be kept now (a host missing one, a network that
// drops) leaves the install whole: each is kept on its own, and the rest
// the next time the page fetches them.
self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    try {
      const cache = await caches.open(CACHE);
      const files = await (await fetch('files.json', { cache: 'no-cache' })).json();
      await Promise.allSettled(['./', ...files].map((file) => cache.add(file)));
    } catch (error) {
      // Kept as the page fetches them instead.
    }
    await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

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
      return response;
    } catch (error) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept)
        return kept;
      throw error;
    }
  })());
});
