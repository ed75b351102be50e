// The page around the plug-in: files, sound, the canvas and keys, which only
// the browser has. The visualizer itself is the wasm module (web/host):
// this file hands it the canvas's size, the PCM heard now, the keys and the
// tracks' tags, and shows what it reports in window.lumenvortex.

const SAMPLE_RATE = 44100;     // the pipeline's rate (audio_constants.h)
const WINDOW_FRAMES = 1024;    // stereo frames each spectrum is computed from
// The native cover limits (lv/image.h): sides, pixels, and JPEGs scaled down
// by halves until they fit 1024 pixels, as libjpeg's scaled decode does.
// Other images are halved the same way: a cover is drawn a few hundred
// pixels wide, and an 8000-pixel PNG would hold gigabytes as it is copied
// into the module.
const COVER_MAX_SIDE = 32767;
const COVER_MAX_PIXELS = 1 << 26;
const COVER_FIT = 1024;
const JPEG_MAX_SCALE = 8;
// Keys the page keeps for itself; every other key goes to the plug-in, as
// the Linux player does.
const PAGE_KEYS = new Set(['f', 'F', 'n', 'N', ' ', 'v', 'V', 'd', 'D']);

const $ = (id) => document.getElementById(id);
const canvas = $('canvas');
const welcome = $('welcome');

const state = {
  module: null,
  audio: null,
  playlist: [],
  index: -1,
  source: null,        // the playing AudioBufferSourceNode (the demo song)
  buffer: null,        // its PCM
  startedAt: 0,        // AudioContext time of the buffer's frame 0
  media: null,         // files: {element, node}, one media element for every file
  playingMedia: false, // a file plays through it now
  load: 0,             // the latest track asked for: older loads give way
  heard: null,         // {ring, write}: the last second of what is heard, from the tap
  live: null,          // microphone or shared sound: {stream, input, startedAt}
  paused: false,
  fps: 0,
  title: '',
  artist: '',
  error: '',
  recorder: null,
  tags: undefined,     // the tag reader module, null when absent
};

function say(text, isError = false) {
  $('message').textContent = text;
  if (isError) {
    state.error = text;
    console.warn('lumenvortex: ' + text);
  }
}

// ---------------------------------------------------------------- the module

async function startModule() {
  if (typeof createLumenvortex !== 'function') throw new Error('lumenvortex.js did not load: serve out/web whole');
  const module = await createLumenvortex({ canvas, print: (t) => console.log(t), printErr: (t) => console.warn(t) });
  state.module = module;
  fitCanvas();
  applyStage(module, new URLSearchParams(location.search));
  if (module._lv_start(cstr('#canvas'), canvas.width, canvas.height) !== 0) {
    throw new Error('the visualizer could not start: this browser needs WebGL 2');
  }
  state.pcm = new Float32Array(module.HEAPF32.buffer, module._lv_pcm(), WINDOW_FRAMES * 2);
  readDrawingLimits();
  watchContext();
  requestAnimationFrame(frame);
}

// The largest drawing buffer WebGL gives here: a canvas beyond it would get
// a smaller buffer than its size, drawn stretched and off-centre. Asked of
// the context the module made (getContext hands back the same one).
function readDrawingLimits() {
  const gl = canvas.getContext('webgl2');
  if (!gl) return;
  const viewport = gl.getParameter(gl.MAX_VIEWPORT_DIMS);
  const buffer = gl.getParameter(gl.MAX_RENDERBUFFER_SIZE);
  state.drawingLimit = [Math.min(viewport[0], buffer), Math.min(viewport[1], buffer)];
  if (fitCanvas()) state.module._lv_resize(canvas.width, canvas.height);
}

// The browser may take the WebGL context (a GPU reset, a driver update,
// too many pages): the page waits for it to come back, drawing nothing, and
// then has the plug-in build what it draws with again.
function watchContext() {
  canvas.addEventListener('webglcontextlost', (e) => {
    e.preventDefault();   // without this the context never comes back
    state.contextLost = true;
    say('The graphics were lost (the GPU was reset): waiting for them to come back…', true);
  });
  canvas.addEventListener('webglcontextrestored', () => {
    state.contextLost = false;
    if (state.module._lv_restore(canvas.width, canvas.height) !== 0) {
      say('The graphics came back, but the visualizer could not start again on them: reload the page.', true);
      return;
    }
    say('');
    state.error = '';
  });
}

// A C string in the module's memory, freed by the caller (or kept: the
// canvas selector lives as long as the page).
function cstr(text) {
  const m = state.module;
  const size = m.lengthBytesUTF8(text) + 1;
  const p = m._malloc(size);
  m.stringToUTF8(text, p, size);
  return p;
}

function fitCanvas() {
  const ratio = window.devicePixelRatio || 1;
  let w = Math.max(64, Math.round(window.innerWidth * ratio));
  let h = Math.max(64, Math.round(window.innerHeight * ratio));
  if (state.drawingLimit) {
    // Scaled down whole, so that the page scales it back up undistorted.
    const scale = Math.min(1, state.drawingLimit[0] / w, state.drawingLimit[1] / h);
    w = Math.max(64, Math.floor(w * scale));
    h = Math.max(64, Math.floor(h * scale));
  }
  if (canvas.width === w && canvas.height === h) return false;
  canvas.width = w;
  canvas.height = h;
  return true;
}

let lastFpsTime = 0;
let framesSinceFps = 0;

function frame(now) {
  const m = state.module;
  requestAnimationFrame(frame);
  if (state.contextLost) return;
  if (fitCanvas()) m._lv_resize(canvas.width, canvas.height);
  // The heap may have grown: views on it are made again.
  if (state.pcm.buffer !== m.HEAPF32.buffer) {
    state.pcm = new Float32Array(m.HEAPF32.buffer, m._lv_pcm(), WINDOW_FRAMES * 2);
  }
  const position = fillPcm(state.pcm);
  m._lv_frame(Math.max(0, Math.round(position * 1000)));
  ++framesSinceFps;
  if (now - lastFpsTime >= 1000) {
    state.fps = lastFpsTime ? (framesSinceFps * 1000) / (now - lastFpsTime) : 0;
    lastFpsTime = now;
    framesSinceFps = 0;
  }
}

// The 2 x 512 spectrum bytes of a window of WINDOW_FRAMES interleaved
// stereo frames, as a frame would analyse it; the next frame writes its own
// window again.
function spectrumOf(window) {
  const m = state.module;
  new Float32Array(m.HEAPF32.buffer, m._lv_pcm(), WINDOW_FRAMES * 2).set(window);
  return Array.from(new Uint8Array(m.HEAPU8.buffer, m._lv_analyze(), 1024));
}

// ---------------------------------------------------------------- sound

function audioContext() {
  if (!state.audio) {
    // The pipeline's rate: files are resampled to it as they play, so the
    // spectrum's bins mean what they mean natively.
    state.audio = new AudioContext({ sampleRate: SAMPLE_RATE });
    // Every track plays into one node, heard; it and live sound both reach
    // `heard`, which the analysis and the recorder follow across tracks and
    // sources (live sound is not played back: no echo of the microphone).
    state.output = state.audio.createGain();
    state.output.connect(state.audio.destination);
    state.heardNode = state.audio.createGain();
    state.output.connect(state.heardNode);
  }
  if (state.audio.state === 'suspended' && !state.paused) state.audio.resume();
  return state.audio;
}

// The WINDOW_FRAMES stereo frames that end at the sound heard now, into
// pcm (interleaved); returns the track position in seconds.
function fillPcm(pcm) {
  const heard = state.heard;
  if (!heard || !state.audio || !(state.source || state.playingMedia || state.live)) {
    pcm.fill(0);
    return 0;
  }
  const ring = heard.ring;
  const frames = ring.length / 2;
  for (let i = 0; i < WINDOW_FRAMES; ++i) {
    const f = (heard.write + frames - WINDOW_FRAMES + i) % frames;
    pcm[2 * i] = ring[2 * f];
    pcm[2 * i + 1] = ring[2 * f + 1];
  }
  if (state.playingMedia) return state.media.element.currentTime;
  return state.audio.currentTime - (state.live ? state.live.startedAt : state.startedAt);
}

// What is heard (files, the demo song, live sound), copied by an audio
// worklet into a ring of the last second, read at each frame. The ring is
// all the PCM the page keeps: a file of any length streams through the
// media element and never lies decoded in memory.
const TAP_WORKLET = `
class LvTap extends AudioWorkletProcessor {
  process(inputs) {
    const input = inputs[0];
    if (input && input.length) this.port.postMessage([input[0], input[1] || input[0]]);
    return true;
  }
}
registerProcessor('lv-tap', LvTap);`;

async function startTap() {
  const ctx = audioContext();
  if (state.heard) return;
  if (!ctx.audioWorklet) throw new Error('this browser has no audio worklets: use a current browser to hear music');
  if (!state.tapLoading) {
    const url = URL.createObjectURL(new Blob([TAP_WORKLET], { type: 'text/javascript' }));
    state.tapLoading = ctx.audioWorklet.addModule(url).finally(() => URL.revokeObjectURL(url));
  }
  await state.tapLoading;
  if (state.heard) return;
  const node = new AudioWorkletNode(ctx, 'lv-tap', { numberOfOutputs: 0 });
  const heard = { ring: new Float32Array(SAMPLE_RATE * 2), write: 0, node };
  node.port.onmessage = (e) => {
    const [l, r] = e.data;
    const frames = heard.ring.length / 2;
    for (let i = 0; i < l.length; ++i) {
      heard.ring[2 * heard.write] = l[i];
      heard.ring[2 * heard.write + 1] = r[i];
      heard.write = (heard.write + 1) % frames;
    }
  };
  state.heardNode.connect(node);
  state.heard = heard;
}

function stopSound() {
  if (state.source) {
    state.source.onended = null;
    try { state.source.stop(); } catch (e) { /* never started */ }
    state.source.disconnect();
    state.source = null;
  }
  if (state.playingMedia) {
    state.playingMedia = false;
    state.media.element.pause();
  }
  if (state.live) {
    state.live.input.disconnect();
    state.live.stream.getTracks().forEach((t) => t.stop());
    state.live = null;
  }
  state.buffer = null;
  state.file = '';
  if (state.heard) state.heard.ring.fill(0);
}

// A new sound plays, so the page is not paused, whatever space did before.
function unpause() {
  if (!state.paused) return;
  state.paused = false;
  if (state.audio) state.audio.resume();
  state.module._lv_pause(0);
}

async function playBuffer(buffer) {
  const ctx = audioContext();
  await startTap();
  stopSound();
  unpause();
  const source = ctx.createBufferSource();
  source.buffer = buffer;
  source.connect(state.output);
  source.onended = () => { if (source === state.source) next(); };
  state.startedAt = ctx.currentTime + 0.05;
  source.start(state.startedAt);
  state.source = source;
  state.buffer = buffer;
}

// The one media element files play through, routed into the page's graph
// (a media element can have one source node, for good).
function mediaElement() {
  if (!state.media) {
    const ctx = audioContext();
    const element = new Audio();
    element.preload = 'auto';
    const node = ctx.createMediaElementSource(element);
    node.connect(state.output);
    element.addEventListener('ended', () => { if (state.playingMedia) next(); });
    state.media = { element, node };
  }
  return state.media;
}

// Why a media element gave up on `name`, as a sentence.
function mediaError(element, name) {
  const error = element.error;
  const detail = error && error.message ? ` (${error.message})` : '';
  if (!error) return `${name} stopped loading`;
  switch (error.code) {
    case MediaError.MEDIA_ERR_SRC_NOT_SUPPORTED:
      return `${name} is not sound this browser decodes${detail}; skipped`;
    case MediaError.MEDIA_ERR_DECODE:
      return `${name} is damaged: decoding failed${detail}; skipped`;
    case MediaError.MEDIA_ERR_NETWORK:
      return `${name} could not be read to the end${detail}: check the connection or the file; skipped`;
    default:
      return `${name} stopped loading${detail}; skipped`;
  }
}

// Opens `src` in the media element and starts it once it knows its length;
// resolves to the duration in seconds, or rejects with a sentence.
// `isCurrent` tells whether the visitor still wants this track.
// `source` is a URL of this site or a File.
async function openMedia(source, name, isCurrent) {
  const { element } = mediaElement();
  await startTap();
  if (!isCurrent()) return null;
  stopSound();
  if (element.src.startsWith('blob:')) URL.revokeObjectURL(element.src);
  const src = typeof source === 'string' ? source : URL.createObjectURL(source);
  element.src = src;
  await new Promise((resolve, reject) => {
    const done = () => {
      element.removeEventListener('loadedmetadata', ok);
      element.removeEventListener('error', failed);
    };
    const ok = () => { done(); resolve(); };
    const failed = () => { done(); reject(new Error(mediaError(element, name))); };
    element.addEventListener('loadedmetadata', ok);
    element.addEventListener('error', failed);
  });
  if (!isCurrent()) return null;
  unpause();
  state.playingMedia = true;
  state.file = name;
  element.play().catch((e) => {
    if (e.name === 'NotAllowedError') say('Click or press a key to start the sound.');
    else if (e.name !== 'AbortError') say(`${name} cannot play: ${e.message}`, true);
  });
  element.onerror = () => {
    if (state.playingMedia && element.src === src) {
      say(mediaError(element, name), true);
      next();
    }
  };
  return Number.isFinite(element.duration) ? element.duration : 0;
}

async function playLive(stream, title) {
  const ctx = audioContext();
  await startTap();
  stopSound();
  unpause();
  const input = ctx.createMediaStreamSource(stream);
  input.connect(state.heardNode);
  state.live = { stream, input, startedAt: ctx.currentTime };
  state.playlist = [];
  state.index = -1;
  ++state.load;
  await announce({ title, artist: '', album: '', cover: null }, 0);
}

async function useMicrophone() {
  try {
    const stream = await navigator.mediaDevices.getUserMedia({ audio: true, video: false });
    await playLive(stream, 'Microphone');
    hideWelcome();
  } catch (e) {
    say('No microphone: ' + e.message + ' (allow the page to use it, or open music files)', true);
  }
}

async function shareSound() {
  try {
    const stream = await navigator.mediaDevices.getDisplayMedia({ audio: true, video: true });
    stream.getVideoTracks().forEach((t) => t.stop());
    if (!stream.getAudioTracks().length) throw new Error('the shared tab or screen has no sound (tick "share audio")');
    await playLive(stream, 'Shared sound');
    hideWelcome();
  } catch (e) {
    say('No shared sound: ' + e.message, true);
  }
}

// ---------------------------------------------------------------- tracks

// The JavaScript modules bundled beside the page (js/modules.json, written
// by scripts/web): asking for one that is not there would put a failed
// request on the console.
let bundled = null;
async function bundledModule(name) {
  if (!bundled) {
    try {
      bundled = new Set(await (await fetch('js/modules.json')).json());
    } catch (e) {
      bundled = new Set();
    }
  }
  return bundled.has(name) ? import('./js/' + name) : null;
}

async function tagReader() {
  if (state.tags === undefined) {
    // Without the tag reader, file names stand in for titles.
    const module = await bundledModule('tags.js').catch(() => null);
    state.tags = module ? module.readTags : null;
  }
  return state.tags;
}

function titleFromName(name) {
  const base = name.replace(/^.*[\\/]/, '');
  const dot = base.lastIndexOf('.');
  return dot > 0 ? base.slice(0, dot) : base;
}

async function readTags(bytes, name) {
  const read = await tagReader();
  let tags = null;
  if (read) {
    try {
      tags = await read(bytes, name);
    } catch (e) {
      console.warn('lumenvortex: no tags in ' + name + ': ' + e.message);
    }
  }
  return {
    title: (tags && tags.title) || titleFromName(name),
    artist: (tags && tags.artist) || '',
    album: (tags && tags.album) || '',
    cover: (tags && tags.cover) || null,
  };
}

// The cover's pixels for the plug-in, decoded by the browser within the
// native limits; false when there is none or it cannot be decoded.
async function prepareCover(cover) {
  state.coverSize = null;
  if (!cover || !cover.bytes || !cover.bytes.length) return false;
  try {
    const blob = new Blob([cover.bytes], { type: cover.mime || '' });
    let bitmap = await createImageBitmap(blob);
    let { width, height } = bitmap;
    if (width > COVER_MAX_SIDE || height > COVER_MAX_SIDE || width * height > COVER_MAX_PIXELS) {
      bitmap.close();
      console.warn('lumenvortex: the cover is larger than a cover may be');
      return false;
    }
    const isJpeg = cover.bytes[0] === 0xff && cover.bytes[1] === 0xd8;
    let scale = 1;
    while ((!isJpeg || scale < JPEG_MAX_SCALE) && Math.max(width, height) / scale > COVER_FIT) scale *= 2;
    if (scale > 1) {
      width = Math.ceil(width / scale);
      height = Math.ceil(height / scale);
      const scaled = await createImageBitmap(bitmap, { resizeWidth: width, resizeHeight: height, resizeQuality: 'high' });
      bitmap.close();
      bitmap = scaled;
    }
    const c = new OffscreenCanvas(width, height);
    const g = c.getContext('2d');
    g.drawImage(bitmap, 0, 0);
    bitmap.close();
    const rgba = g.getImageData(0, 0, width, height).data;
    const m = state.module;
    const bytes = m._malloc(cover.bytes.length);
    const pixels = m._malloc(rgba.length);
    if (!bytes || !pixels) {
      m._free(bytes);
      m._free(pixels);
      console.warn(`lumenvortex: no memory for a ${width} x ${height} cover: shown without it`);
      return false;
    }
    m.HEAPU8.set(cover.bytes, bytes);
    m.HEAPU8.set(rgba, pixels);
    m._lv_web_image_prepare(bytes, cover.bytes.length, pixels, width, height);
    m._free(bytes);
    m._free(pixels);
    state.coverSize = [width, height];
    return true;
  } catch (e) {
    console.warn('lumenvortex: the cover cannot be decoded: ' + e.message);
    return false;
  }
}

// "vply" or "ctrk" with the track's tags and cover; the page's title follows.
async function announce(tags, durationMs) {
  const m = state.module;
  const hasCover = await prepareCover(tags.cover);
  const strings = [tags.title, tags.artist, tags.album].map(cstr);
  let cover = 0;
  let coverSize = 0;
  if (hasCover) {
    cover = m._malloc(tags.cover.bytes.length);
    if (cover) {
      coverSize = tags.cover.bytes.length;
      m.HEAPU8.set(tags.cover.bytes, cover);
    }
  }
  m._lv_track(strings[0], strings[1], strings[2], cover, coverSize, durationMs);
  strings.forEach((p) => m._free(p));
  if (cover) m._free(cover);
  state.title = tags.title;
  state.artist = tags.artist;
  document.title = tags.artist ? `${tags.title} – ${tags.artist} · Lumenvortex` : `${tags.title} · Lumenvortex`;
}

// The bytes the tags are read from: a file's tags sit in its first
// megabytes (ID3v2, Vorbis comments, FLAC blocks, MP4's moov when it comes
// first); the rest of a long file streams through the media element.
const TAG_HEAD_BYTES = 4 * 1024 * 1024;

// The first TAG_HEAD_BYTES of a file of this site, asked for as a range and
// cut there when the server sends all of it. Resolves to {bytes, url}
// with the URL it came from after redirects; rejects with a sentence.
async function fetchHead(url) {
  const response = await fetch(url, { headers: { Range: `bytes=0-${TAG_HEAD_BYTES - 1}` } });
  const landed = new URL(response.url || url);
  if (landed.origin !== location.origin) {
    response.body?.cancel();
    throw new Error(`it is sent on to ${landed.origin}, another site: ?play= takes files of this site`);
  }
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`.trim());
  const reader = response.body.getReader();
  const parts = [];
  let size = 0;
  while (size < TAG_HEAD_BYTES) {
    const { value, done } = await reader.read();
    if (done) break;
    parts.push(value);
    size += value.length;
  }
  reader.cancel().catch(() => {});
  const bytes = new Uint8Array(Math.min(size, TAG_HEAD_BYTES));
  let at = 0;
  for (const part of parts) {
    const take = Math.min(part.length, bytes.length - at);
    bytes.set(part.subarray(0, take), at);
    at += take;
  }
  return { bytes, url: landed.href };
}

// Plays one entry of the play list; false when it cannot be played (said),
// null when a later track was asked for meanwhile.
async function playEntry(entry) {
  const load = ++state.load;
  const isCurrent = () => load === state.load;
  state.error = '';
  say(`opening ${entry.name}…`);
  let tags;
  let src;
  try {
    if (entry.file) {
      tags = await readTags(entry.file, entry.name);
      src = entry.file;
    } else {
      const head = await fetchHead(entry.url);
      if (!isCurrent()) return null;
      tags = await readTags(head.bytes, entry.name);
      src = head.url;
    }
  } catch (e) {
    if (isCurrent()) say(`${entry.name} cannot be read: ${e.message}`, true);
    return isCurrent() ? false : null;
  }
  if (!isCurrent()) return null;
  let seconds;
  try {
    seconds = await openMedia(src, entry.name, isCurrent);
  } catch (e) {
    if (isCurrent()) say(e.message, true);
    return isCurrent() ? false : null;
  }
  if (seconds === null || !isCurrent()) return null;
  await announce(tags, seconds * 1000);
  if (isCurrent()) say('');
  return true;
}

async function playIndex(index) {
  // Files that cannot be played are passed over, each once.
  for (let tries = 0; tries < state.playlist.length; ++tries) {
    state.index = (index + tries) % state.playlist.length;
    const played = await playEntry(state.playlist[state.index]);
    if (played !== false) return;
  }
}

function next() {
  if (state.playlist.length) playIndex(state.index + 1);
  else if (state.demo) playDemo();
}

async function playFiles(entries) {
  entries = entries.filter((e) => !e.file || /^(audio|video)\//.test(e.file.type) || /\.(mp3|m4a|aac|ogg|oga|opus|flac|wav|webm|mp4)$/i.test(e.name));
  if (!entries.length) {
    say('No music among those files: open or drop audio files (MP3, AAC, Ogg, Opus, FLAC, WAV).', true);
    return;
  }
  entries.sort((a, b) => a.name.localeCompare(b.name, undefined, { numeric: true }));
  state.demo = false;
  state.playlist = entries;
  hideWelcome();
  await playIndex(0);
}

async function playDemo() {
  const m = state.module;
  ++state.load;
  const samples = m._lv_demo_samples();
  const frames = m._lv_demo_frames();
  const ctx = audioContext();
  const buffer = ctx.createBuffer(2, frames, SAMPLE_RATE);
  const pcm = new Float32Array(m.HEAPF32.buffer, samples, frames * 2);
  const left = buffer.getChannelData(0);
  const right = buffer.getChannelData(1);
  for (let i = 0; i < frames; ++i) {
    left[i] = pcm[2 * i];
    right[i] = pcm[2 * i + 1];
  }
  state.demo = true;
  state.playlist = [];
  hideWelcome();
  await playBuffer(buffer);
  await announce({ title: m.UTF8ToString(m._lv_demo_title()), artist: m.UTF8ToString(m._lv_demo_artist()),
             album: m.UTF8ToString(m._lv_demo_album()), cover: null }, buffer.duration * 1000);
}

// ---------------------------------------------------------------- files and folders

async function entriesFromDrop(items) {
  const out = [];
  const walk = async (entry, path) => {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      out.push({ file, name: path + file.name });
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (!batch.length) break;
        for (const child of batch) await walk(child, path + entry.name + '/');
      }
    }
  };
  const roots = [...items].map((i) => (i.webkitGetAsEntry ? i.webkitGetAsEntry() : null));
  for (let i = 0; i < roots.length; ++i) {
    if (roots[i]) await walk(roots[i], '');
    else if (items[i].getAsFile()) out.push({ file: items[i].getAsFile(), name: items[i].getAsFile().name });
  }
  return out;
}

// A URL's path as a visitor wrote it; a stray '%' ("100%.ogg") is shown as
// it stands rather than refused.
function readablePath(path) {
  try {
    return decodeURIComponent(path);
  } catch (e) {
    return path;
  }
}

function filesToEntries(files) {
  return [...files].map((file) => ({ file, name: file.webkitRelativePath || file.name }));
}

// ---------------------------------------------------------------- page

function hideWelcome() {
  welcome.hidden = true;
  canvas.focus();
}

function toggleWelcome() {
  welcome.hidden = !welcome.hidden;
  if (!welcome.hidden) $('open-files').focus();
}

// Only what plays can pause: space on the first screen, before any sound,
// would leave the page paused under the music that follows.
function togglePause() {
  if (!state.paused && !isPlaying()) return;
  state.paused = !state.paused;
  if (state.audio) state.paused ? state.audio.suspend() : state.audio.resume();
  if (state.playingMedia) state.paused ? state.media.element.pause() : state.media.element.play().catch(() => {});
  state.module._lv_pause(state.paused ? 1 : 0);
}

function isPlaying() {
  return !!(state.source || state.playingMedia || state.live);
}

// The status object on screen, refreshed twice a second while it shows: for
// a visitor who wants the frame rate, or a bug report.
function toggleStats() {
  let panel = document.getElementById('stats');
  if (panel) {
    clearInterval(state.statsTimer);
    panel.remove();
    return;
  }
  panel = document.createElement('pre');
  panel.id = 'stats';
  document.body.appendChild(panel);
  const show = () => {
    const s = window.lumenvortex;
    panel.textContent = `${s.fps} fps, frame ${s.frames}\n${s.renderer}\nmode ${s.mode}, palette ${s.palette}, ` +
      `${s.alive} of ${s.particles} particles\n${s.title || ''}${s.artist ? ' – ' + s.artist : ''}`;
  };
  show();
  state.statsTimer = setInterval(show, 500);
}

function toggleFullscreen() {
  if (document.fullscreenElement) document.exitFullscreen();
  else document.documentElement.requestFullscreen().catch((e) => say('No full screen: ' + e.message));
}

// v: starts or stops the recording. Presses while one starts or stops are
// ignored: each would start an encoder of its own.
async function toggleRecording() {
  if (state.recordingBusy) return;
  state.recordingBusy = true;
  try {
    if (state.recorder) await stopRecording();
    else await startRecording();
  } catch (e) {
    state.recorder = null;
    say(e.message, true);
  } finally {
    state.recordingBusy = false;
  }
}

async function stopRecording() {
  const recorder = state.recorder;
  state.recorder = null;
  const blob = await recorder.stop();
  const cut = recorder.truncated ? ` It stopped at ${describeBound(recorder)}.` : '';
  if (!blob) {
    say(`Recording saved to ${state.recordingFile}.${cut}`);
    return;
  }
  state.lastRecording = blob;
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = blob.type.includes('mp4') ? 'lumenvortex.mp4' : 'lumenvortex.webm';
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  say('Recording saved.' + cut);
}

function describeBound(recorder) {
  const mib = recorder.maxBytes / (1024 * 1024);
  return `the ${mib >= 1 ? Math.round(mib) : mib.toFixed(2)} MiB a recording may hold in memory`;
}

function minutesText(seconds) {
  const m = Math.floor(seconds / 60);
  const s = Math.round(seconds % 60);
  return m ? `${m} min${s ? ` ${s} s` : ''}` : `${s} s`;
}

// Where the browser can write files (File System Access), the visitor picks
// one and the recording streams into it, bounded by the disk; elsewhere it
// is held in memory under the recorder's bound. null when the visitor
// cancels the picker.
async function recordingTarget(container) {
  if (typeof window.showSaveFilePicker !== 'function') return { writable: null };
  const mp4 = container === 'mp4';
  const handle = await window.showSaveFilePicker({
    suggestedName: mp4 ? 'lumenvortex.mp4' : 'lumenvortex.webm',
    types: [{ description: mp4 ? 'MP4 video' : 'WebM video',
              accept: mp4 ? { 'video/mp4': ['.mp4'] } : { 'video/webm': ['.webm'] } }],
  }).catch((e) => {
    if (e.name === 'AbortError') return null;
    // A picker this browser cannot show (a headless one, or a policy):
    // the recording is held in memory instead.
    console.warn('lumenvortex: no file to record into: ' + e.message);
    return undefined;
  });
  if (handle === null) return null;
  if (!handle) return { writable: null };
  state.recordingFile = handle.name;
  return { writable: await handle.createWritable() };
}

async function startRecording() {
  const module = await bundledModule('recorder.js').catch(() => null);
  if (!module) {
    say('Recording is not part of this build of the page.', true);
    return;
  }
  const { Recorder, recordingSeconds } = module;
  const ctx = audioContext();
  const can = await Recorder.supported({ width: canvas.width, height: canvas.height, sampleRate: ctx.sampleRate });
  if (!can.supported) {
    say('This browser cannot record the page: ' + can.reason, true);
    return;
  }
  const target = await recordingTarget(can.container);
  if (!target) return;
  const recorder = new Recorder(canvas, ctx, state.heardNode, {
    writable: target.writable, container: can.container,
    onLimit: () => {
      if (state.recorder !== recorder) return;
      say(`Recording stopped at ${describeBound(recorder)}: press v to save it.`, true);
    },
  });
  await recorder.start();
  state.recorder = recorder;
  if (target.writable) {
    say(`Recording into ${state.recordingFile}: press v again to stop.`);
  } else {
    const seconds = recordingSeconds(canvas.width, canvas.height, recorder.maxBytes);
    say(`Recording: press v again to stop. At this size it stops by itself after about ${minutesText(seconds)} ` +
        '(this browser cannot write to a file as it records).');
  }
}

function onKey(e) {
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  if (e.target instanceof HTMLButtonElement && (e.key === ' ' || e.key === 'Enter')) return;
  if (e.key === 'Escape') {
    toggleWelcome();
    return;
  }
  if (e.key.length !== 1) return;
  e.preventDefault();
  if (PAGE_KEYS.has(e.key)) {
    if (e.repeat) return;
    if (e.key === 'f' || e.key === 'F') toggleFullscreen();
    else if (e.key === 'n' || e.key === 'N') next();
    else if (e.key === ' ') togglePause();
    else if (e.key === 'd' || e.key === 'D') toggleStats();
    else toggleRecording();
    return;
  }
  state.module._lv_key(e.key.charCodeAt(0), e.repeat ? 1 : 0);
}

function statusObject() {
  const read = () => (state.module ? JSON.parse(state.module.UTF8ToString(state.module._lv_status())) : {});
  const status = {};
  for (const key of ['frames', 'renderer', 'mode', 'modes', 'palette', 'particles', 'alive', 'flow', 'cycle', 'gain',
                     'help', 'trackShownAt', 'antialias', 'fieldTarget']) {
    Object.defineProperty(status, key, { enumerable: true, get: () => read()[key] });
  }
  Object.defineProperty(status, 'fps', { enumerable: true, get: () => Math.round(state.fps * 10) / 10 });
  // coverSize: the cover's pixels as handed to the plug-in, [width, height];
  // file: the name of the file heard.
  // build: which build of the module runs.
  for (const key of ['title', 'artist', 'paused', 'error', 'coverSize', 'file', 'build']) {
    Object.defineProperty(status, key, { enumerable: true, get: () => state[key] });
  }
  // The loudness of the window analysed last (RMS), and the sound's state.
  Object.defineProperty(status, 'level', { enumerable: true, get: () => {
    if (!state.pcm) return 0;
    let sum = 0;
    for (let i = 0; i < state.pcm.length; ++i) sum += state.pcm[i] * state.pcm[i];
    return Math.sqrt(sum / state.pcm.length);
  } });
  Object.defineProperty(status, 'audioState', { enumerable: true, get: () => (state.audio ? state.audio.state : 'none') });
  Object.defineProperty(status, 'recording', { enumerable: true,
    get: () => !!state.recorder && !state.recorder.truncated });
  // For the tests (not in the JSON form): the stereo window analysed last,
  // and the spectrum bytes the plug-in gets for any window.
  Object.defineProperty(status, 'heardWindow', { get: () => Float32Array.from(state.pcm || []) });
  Object.defineProperty(status, 'spectrumOf', { get: () => spectrumOf });
  // The last recording's file, for the tests (not in the JSON form).
  Object.defineProperty(status, 'lastRecording', { get: () => state.lastRecording || null });
  Object.defineProperty(status, 'playing', { enumerable: true,
    get: () => isPlaying() && !state.paused });
  return status;
}

function wire() {
  $('open-files').onclick = () => $('file-input').click();
  $('open-folder').onclick = () => $('folder-input').click();
  $('file-input').onchange = (e) => playFiles(filesToEntries(e.target.files));
  $('folder-input').onchange = (e) => playFiles(filesToEntries(e.target.files));
  $('use-mic').onclick = useMicrophone;
  $('play-demo').onclick = playDemo;
  if (navigator.mediaDevices && navigator.mediaDevices.getDisplayMedia) $('share-sound').onclick = shareSound;
  else $('share-sound').hidden = true;
  if (!('webkitdirectory' in $('folder-input'))) $('open-folder').hidden = true;
  window.addEventListener('keydown', onKey);
  // Browsers start sound only after the visitor's first gesture.
  const wake = () => {
    if (state.paused) return;
    if (state.audio && state.audio.state === 'suspended') state.audio.resume();
    if (state.playingMedia && state.media.element.paused) state.media.element.play().catch(() => {});
  };
  window.addEventListener('pointerdown', wake);
  window.addEventListener('keydown', wake);
  canvas.addEventListener('dblclick', toggleFullscreen);
  window.addEventListener('dragover', (e) => {
    e.preventDefault();
    document.body.classList.add('dragging');
  });
  window.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  window.addEventListener('drop', async (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    playFiles(await entriesFromDrop(e.dataTransfer.items));
  });
}

// ?scripted: the shared scripted run instead of the plug-in, for the tests
// (web/host/scripted.cpp): window.lumenvortexScripted.hash(...) and
// .snapshot(...) on a canvas of the size asked.
async function scripted(params) {
  const module = await createLumenvortex({ canvas });
  state.module = module;
  welcome.hidden = true;
  canvas.style.width = 'auto';
  canvas.style.height = 'auto';
  canvas.width = Number(params.get('width')) || 1120;
  canvas.height = Number(params.get('height')) || 700;
  if (module._lv_scripted_start(cstr('#canvas'), params.get('multisample') === '0' ? 0 : 1) !== 0) {
    throw new Error('no WebGL 2 context for the scripted run');
  }
  window.lumenvortexScripted = {
    fieldTarget: module.UTF8ToString(module._lv_field_target()),
    hash: (fast, frames) => module.UTF8ToString(module._lv_scripted_hash(fast ? 1 : 0, frames, canvas.width, canvas.height)),
    snapshot: (mode, frame) => module._lv_scripted_snapshot(mode, frame, canvas.width, canvas.height),
  };
}

async function main() {
  const params = new URLSearchParams(location.search);
  registerServiceWorker();
  try {
    await loadModuleScript(params);
  } catch (e) {
    window.lumenvortex = statusObject();
    say(e.message, true);
    console.error('lumenvortex: ' + e.message);
    return;
  }
  if (params.get('bench') === 'field') {
    await benchField(params).catch((e) => console.error('lumenvortex: ' + e.message));
    return;
  }
  if (params.has('scripted')) {
    await scripted(params).catch((e) => console.error('lumenvortex: ' + e.message));
    return;
  }
  window.lumenvortex = statusObject();
  wire();
  try {
    await startModule();
  } catch (e) {
    say(e.message, true);
    console.error('lumenvortex: ' + e.message);
    return;
  }
  $('open-files').focus();
  openLaunchedFiles();
  const play = new URLSearchParams(location.search).get('play');
  if (play) {
    const url = new URL(play, location.href);
    if (url.origin !== location.origin) {
      say(`?play= takes a file of this site, not ${url.origin}: download it and drop it here`, true);
      return;
    }
    state.playlist = [{ url: url.href, name: readablePath(url.pathname).replace(/^.*\//, '') }];
    hideWelcome();
    await playIndex(0);
    if (state.audio && state.audio.state === 'suspended') say('Click or press a key to start the sound.');
  }
}

// ---------------------------------------------------------------- the app

// The module's build: with WebAssembly SIMD where the browser validates it
// (every current one), else the scalar one; with SIMD and the field step's
// helper thread where the page is cross-origin isolated (shared memory:
// the service worker makes it so from the second visit on, or the host's
// headers from the first). All draw the same frames. ?simd=0 takes the
// scalar build anyway and ?threads=0 the one without threads, to compare.
// The probe is a function returning i8x16.popcnt(i8x16.splat(0)), as the
// wasm-feature-detect package checks SIMD; it must run before any module
// loads, so it cannot wait for an optional bundle.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0,
                                   65, 0, 253, 15, 253, 98, 11]);

function loadModuleScript(params) {
  const simd = params.get('simd') !== '0' && WebAssembly.validate(SIMD_PROBE);
  const threads = simd && window.crossOriginIsolated === true && params.get('threads') !== '0';
  state.build = threads ? 'simd-mt' : simd ? 'simd' : 'scalar';
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = threads ? 'lumenvortex-simd-mt.js' : simd ? 'lumenvortex-simd.js' : 'lumenvortex.js';
    script.onload = resolve;
    script.onerror = () => reject(new Error(`${script.src} did not load: serve out/web whole`));
    document.head.appendChild(script);
  });
}

// ?background=transparent clears the frames to transparent over the page
// (OBS's browser source lays them over its scene); ?overlay=off leaves out
// the track's name and cover, for clean captures. Before the plug-in starts:
// the canvas's alpha channel is chosen with its context.
function applyStage(module, params) {
  const transparent = params.get('background') === 'transparent';
  document.documentElement.classList.toggle('transparent', transparent);
  module._lv_stage(transparent ? 1 : 0, params.get('overlay') === 'off' ? 0 : 1);
}

// The service worker (sw.js) keeps the site for offline starts. A page
// without one (a file: address, an old browser) works as before.
function registerServiceWorker() {
  if (!('serviceWorker' in navigator) || !window.isSecureContext) return;
  navigator.serviceWorker.register('sw.js').catch((e) => console.warn('lumenvortex: no offline copy: ' + e.message));
}

// Files opened with the installed app from the desktop (the manifest's
// file_handlers) arrive through the launch queue, as a play list.
function openLaunchedFiles() {
  if (!('launchQueue' in window)) return;
  window.launchQueue.setConsumer(async (launch) => {
    if (!launch.files || !launch.files.length) return;
    const files = await Promise.all(launch.files.map((handle) => handle.getFile()));
    playFiles(files.map((file) => ({ file, name: file.name })));
  });
}

// ?bench=field&particles=N[&flow=1][&frames=F]: the field's step without
// drawing, timed frame by frame; the median goes to
// window.lumenvortex.stepMs. Each frame in its own task, so the page stays
// responsive between them. The first frames are stepped untimed: the
// browser first runs WebAssembly from its baseline compiler and swaps in the
// optimised code only once a function is hot, and the helper thread starts.
const BENCH_FRAMES = 100;
const BENCH_WARMUP_FRAMES = 20;

async function benchField(params) {
  const module = await createLumenvortex({ canvas });
  welcome.hidden = true;
  const particles = Number(params.get('particles')) || 5000;
  const frames = Number(params.get('frames')) || BENCH_FRAMES;
  module._lv_bench_field_start(particles, params.get('flow') === '1' ? 1 : 0);
  for (let i = 0; i < BENCH_WARMUP_FRAMES; ++i) {
    module._lv_bench_field_frame();
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  const times = [];
  while (times.length < frames) {
    times.push(module._lv_bench_field_frame());
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  times.sort((a, b) => a - b);
  const middle = times.length >> 1;
  window.lumenvortex = {
    stepMs: times.length % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2,
    particles,
    frames,
    build: state.build,
    fieldTarget: module.UTF8ToString(module._lv_field_target()),
    threads: module._lv_field_threads(),
    hash: module.UTF8ToString(module._lv_bench_field_hash()),
  };
  console.log('lumenvortex: field step ' + JSON.stringify(window.lumenvortex));
}

main();
