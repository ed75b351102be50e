// The page around the plug-in: files, sound, the canvas and keys, which only
// the browser has. The visualizer itself is the wasm module (web/host):
// this file hands it the canvas's size, the PCM heard now, the keys and the
// tracks' tags, and shows what it reports in window.lumenvortex.

const SAMPLE_RATE = 44100;     // the pipeline's rate (audio_constants.h)
const WINDOW_FRAMES = 1024;    // stereo frames each spectrum is computed from
// The native cover limits (lv/image.h): sides, pixels, and JPEGs scaled down
// by halves until they fit 1024 pixels, as libjpeg's scaled decode does.
const COVER_MAX_SIDE = 32767;
const COVER_MAX_PIXELS = 1 << 26;
const COVER_JPEG_FIT = 1024;
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
  source: null,        // the playing AudioBufferSourceNode
  buffer: null,        // its decoded PCM
  startedAt: 0,        // AudioContext time of the buffer's frame 0
  live: null,          // microphone or shared sound: {ring, write, stream}
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
  requestAnimationFrame(frame);
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
  const w = Math.max(64, Math.round(window.innerWidth * ratio));
  const h = Math.max(64, Math.round(window.innerHeight * ratio));
  if (canvas.width === w && canvas.height === h) return false;
  canvas.width = w;
  canvas.height = h;
  return true;
}

let lastFpsTime = 0;
let framesSinceFps = 0;

function frame(now) {
  const m = state.module;
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
  requestAnimationFrame(frame);
}

// ---------------------------------------------------------------- sound

function audioContext() {
  if (!state.audio) {
    // The pipeline's rate: decodeAudioData resamples every file to it, so
    // the spectrum's bins mean what they mean natively.
    state.audio = new AudioContext({ sampleRate: SAMPLE_RATE });
    // Every track plays into one node: the recorder follows it across tracks.
    state.output = state.audio.createGain();
    state.output.connect(state.audio.destination);
  }
  if (state.audio.state === 'suspended' && !state.paused) state.audio.resume();
  return state.audio;
}

// The WINDOW_FRAMES stereo frames that end at the sound heard now, into
// pcm (interleaved); returns the track position in seconds.
function fillPcm(pcm) {
  if (state.live) return fillFromRing(pcm, state.live);
  const buffer = state.buffer;
  if (!buffer || !state.audio) {
    pcm.fill(0);
    return 0;
  }
  const position = state.audio.currentTime - state.startedAt;
  const end = Math.round(position * buffer.sampleRate);
  const left = buffer.getChannelData(0);
  const right = buffer.numberOfChannels > 1 ? buffer.getChannelData(1) : left;
  for (let i = 0, f = end - WINDOW_FRAMES; i < WINDOW_FRAMES; ++i, ++f) {
    const inside = f >= 0 && f < buffer.length;
    pcm[2 * i] = inside ? left[f] : 0;
    pcm[2 * i + 1] = inside ? right[f] : 0;
  }
  return position;
}

function fillFromRing(pcm, live) {
  const ring = live.ring;
  const frames = ring.length / 2;
  for (let i = 0; i < WINDOW_FRAMES; ++i) {
    const f = (live.write + frames - WINDOW_FRAMES + i) % frames;
    pcm[2 * i] = ring[2 * f];
    pcm[2 * i + 1] = ring[2 * f + 1];
  }
  return state.audio ? state.audio.currentTime - live.startedAt : 0;
}

function stopSound() {
  if (state.source) {
    state.source.onended = null;
    try { state.source.stop(); } catch (e) { /* never started */ }
    state.source.disconnect();
    state.source = null;
  }
  if (state.live) {
    state.live.node.disconnect();
    state.live.input.disconnect();
    state.live.stream.getTracks().forEach((t) => t.stop());
    state.live = null;
  }
  state.buffer = null;
}

function playBuffer(buffer) {
  const ctx = audioContext();
  stopSound();
  const source = ctx.createBufferSource();
  source.buffer = buffer;
  source.connect(state.output);
  source.onended = () => { if (source === state.source) next(); };
  state.startedAt = ctx.currentTime + 0.05;
  source.start(state.startedAt);
  state.source = source;
  state.buffer = buffer;
}

// Live sound (microphone or a shared tab): an audio worklet copies what it
// hears into a ring of the last second, read at each frame.
const TAP_WORKLET = `
class LvTap extends AudioWorkletProcessor {
  process(inputs) {
    const input = inputs[0];
    if (input && input.length) this.port.postMessage([input[0], input[1] || input[0]]);
    return true;
  }
}
registerProcessor('lv-tap', LvTap);`;

async function playLive(stream, title) {
  const ctx = audioContext();
  if (!ctx.audioWorklet) throw new Error('this browser has no audio worklets for live sound');
  if (!state.tapLoaded) {
    const url = URL.createObjectURL(new Blob([TAP_WORKLET], { type: 'text/javascript' }));
    await ctx.audioWorklet.addModule(url);
    URL.revokeObjectURL(url);
    state.tapLoaded = true;
  }
  stopSound();
  const input = ctx.createMediaStreamSource(stream);
  const node = new AudioWorkletNode(ctx, 'lv-tap', { numberOfOutputs: 0 });
  const live = { ring: new Float32Array(SAMPLE_RATE * 2), write: 0, stream, input, node, startedAt: ctx.currentTime };
  node.port.onmessage = (e) => {
    const [l, r] = e.data;
    const frames = live.ring.length / 2;
    for (let i = 0; i < l.length; ++i) {
      live.ring[2 * live.write] = l[i];
      live.ring[2 * live.write + 1] = r[i];
      live.write = (live.write + 1) % frames;
    }
  };
  input.connect(node);
  state.live = live;
  state.playlist = [];
  state.index = -1;
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
    while (isJpeg && scale < 8 && Math.max(width, height) / scale > COVER_JPEG_FIT) scale *= 2;
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
    m.HEAPU8.set(cover.bytes, bytes);
    m.HEAPU8.set(rgba, pixels);
    m._lv_web_image_prepare(bytes, cover.bytes.length, pixels, width, height);
    m._free(bytes);
    m._free(pixels);
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
    coverSize = tags.cover.bytes.length;
    cover = m._malloc(coverSize);
    m.HEAPU8.set(tags.cover.bytes, cover);
  }
  m._lv_track(strings[0], strings[1], strings[2], cover, coverSize, durationMs);
  strings.forEach((p) => m._free(p));
  if (cover) m._free(cover);
  state.title = tags.title;
  state.artist = tags.artist;
  document.title = tags.artist ? `${tags.title} – ${tags.artist} · Lumenvortex` : `${tags.title} · Lumenvortex`;
}

async function playEntry(entry) {
  const ctx = audioContext();
  let bytes;
  try {
    bytes = entry.file ? await entry.file.arrayBuffer() : await fetchBytes(entry.url);
  } catch (e) {
    say(`${entry.name} cannot be read: ${e.message}`, true);
    return false;
  }
  // decodeAudioData detaches its argument: the tags are read first.
  const tags = await readTags(bytes.slice(0), entry.name);
  let buffer;
  try {
    buffer = await ctx.decodeAudioData(bytes);
  } catch (e) {
    say(`${entry.name} is not sound this browser decodes (${e.message || e}); skipped`, true);
    return false;
  }
  playBuffer(buffer);
  await announce(tags, buffer.duration * 1000);
  return true;
}

async function fetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

async function playIndex(index) {
  // Files that cannot be played are passed over, each once.
  for (let tries = 0; tries < state.playlist.length; ++tries) {
    state.index = (index + tries) % state.playlist.length;
    if (await playEntry(state.playlist[state.index])) return;
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

function playDemo() {
  const m = state.module;
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
  playBuffer(buffer);
  announce({ title: m.UTF8ToString(m._lv_demo_title()), artist: m.UTF8ToString(m._lv_demo_artist()),
             album: m.UTF8ToString(m._lv_demo_album()), cover: null }, buffer.duration * 1000);
  hideWelcome();
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

function togglePause() {
  state.paused = !state.paused;
  if (state.audio) state.paused ? state.audio.suspend() : state.audio.resume();
  state.module._lv_pause(state.paused ? 1 : 0);
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

async function toggleRecording() {
  const module = await bundledModule('recorder.js').catch(() => null);
  if (!module) {
    say('Recording is not part of this build of the page.', true);
    return;
  }
  const { Recorder } = module;
  try {
    if (state.recorder) {
      const recorder = state.recorder;
      state.recorder = null;
      const blob = await recorder.stop();
      state.lastRecording = blob;
      const a = document.createElement('a');
      a.href = URL.createObjectURL(blob);
      a.download = blob.type.includes('mp4') ? 'lumenvortex.mp4' : 'lumenvortex.webm';
      a.click();
      say('Recording saved.');
      return;
    }
    const ctx = audioContext();
    const can = await Recorder.supported({ width: canvas.width, height: canvas.height, sampleRate: ctx.sampleRate });
    if (!can.supported) {
      say('This browser cannot record the page: ' + can.reason, true);
      return;
    }
    state.recorder = new Recorder(canvas, ctx, state.live ? state.live.input : state.output);
    await state.recorder.start();
    say('Recording: press v again to stop.');
  } catch (e) {
    state.recorder = null;
    say(e.message, true);
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
  for (const key of ['title', 'artist', 'paused', 'error', 'build']) {
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
  Object.defineProperty(status, 'recording', { enumerable: true, get: () => !!state.recorder });
  // The last recording's file, for the tests (not in the JSON form).
  Object.defineProperty(status, 'lastRecording', { get: () => state.lastRecording || null });
  Object.defineProperty(status, 'playing', { enumerable: true,
    get: () => !!(state.source || state.live) && !state.paused });
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
  const wake = () => { if (state.audio && state.audio.state === 'suspended' && !state.paused) state.audio.resume(); };
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
    state.playlist = [{ url: url.href, name: decodeURIComponent(url.pathname) }];
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
// responsive between them.
const BENCH_FRAMES = 100;

async function benchField(params) {
  const module = await createLumenvortex({ canvas });
  welcome.hidden = true;
  const particles = Number(params.get('particles')) || 5000;
  const frames = Number(params.get('frames')) || BENCH_FRAMES;
  module._lv_bench_field_start(particles, params.get('flow') === '1' ? 1 : 0);
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
