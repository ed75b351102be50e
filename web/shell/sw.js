// The page's service worker: every file of the site is kept in a cache at
// install, so that a visitor who came once can start the page offline (and
// install it as an app). Files are fetched from the network first while it
// answers, so a new build shows at once; the cache answers when it does not.
// Anything else (the music given by ?play=, say) passes through untouched:
// keeping songs would fill the visitor's disk.
//
// scripts/web writes the list of files and the cache's name (a digest of
// the files) in place of the two markers below (web/shell/write_sw.py).
const CACHE = '@CACHE@';
const FILES = @FILES@;

const scope = new URL(self.registration.scope);
const kept = new Set(FILES.map((f) => new URL(f, scope).pathname));

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const name of await caches.keys()) {
      if (name !== CACHE) await caches.delete(name);
    }
    await self.clients.claim();
  })());
});

async function networkFirst(request) {
  const cache = await caches.open(CACHE);
  try {
    const response = await fetch(request);
    if (response.ok) await cache.put(request, response.clone());
    return response;
  } catch (e) {
    // Offline: the page's address may carry ?play= or ?bench=, the file is
    // the same.
    const hit = await cache.match(request, { ignoreSearch: request.mode === 'navigate' });
    if (hit) return hit;
    throw e;
  }
}

self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== 'GET' || url.origin !== scope.origin) return;
  if (event.request.mode === 'navigate' || kept.has(url.pathname)) event.respondWith(networkFirst(event.request));
});
