// The page's service worker: every file of the site is kept in a cache at
// install, so that a visitor who came once can start the page offline (and
// install it as an app). Files are fetched from the network first while it
// answers, so a new build shows at once; the cache answers when it does not.
// Anything else (the music given by ?play=, say) passes through untouched:
// keeping songs would fill the visitor's disk.
//
// The pages it serves are made cross-origin isolated (the two headers
// below), which gives them shared memory: the module's threaded build then
// runs the field step on two threads. Every file the page loads is its own
// site's, so requiring that of them costs nothing.
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

const ISOLATION = { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' };

function isolated(response) {
  const headers = new Headers(response.headers);
  for (const [name, value] of Object.entries(ISOLATION)) headers.set(name, value);
  return new Response(response.body, { status: response.status, statusText: response.statusText, headers });
}

async function networkFirst(request) {
  const cache = await caches.open(CACHE);
  // The page's address may carry ?play= or ?bench=: the file is the same,
  // kept once.
  const url = new URL(request.url);
  const key = url.origin + url.pathname;
  let response;
  try {
    response = await fetch(request);
    if (response.ok) await cache.put(key, response.clone());
  } catch (e) {
    response = await cache.match(key);
    if (!response) throw e;
  }
  // The page and the threads' worker script both: a worker of an isolated
  // page must be isolated itself, or it is not started.
  return isolated(response);
}

self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== 'GET' || url.origin !== scope.origin) return;
  if (kept.has(url.pathname)) event.respondWith(networkFirst(event.request));
});
