// Records what the canvas draws, with the sound the page plays, into a video
// file held in memory or streamed into a file the visitor picked: WebCodecs
// encodes, webm-muxer or mp4-muxer writes the container. Where the browser
// has media stream processors (Chromium) the frames come from the canvas's
// capture stream, as the compositor shows them; elsewhere from the canvas
// after each animation frame. The sound comes from an AudioWorklet.
import { Muxer as WebmMuxer, ArrayBufferTarget as WebmTarget,
         FileSystemWritableFileStreamTarget as WebmFileTarget } from 'webm-muxer';
import { Muxer as Mp4Muxer, ArrayBufferTarget as Mp4Target,
         FileSystemWritableFileStreamTarget as Mp4FileTarget } from 'mp4-muxer';

// Without a file to stream to, the file stays in memory until stop(); the
// muxer's buffer grows by doubling and the Blob is one more copy, so at most
// about three times this is held at once (recordingSeconds says how long).
export const DEFAULT_MAX_BYTES = 128 * 1024 * 1024;
const FRAME_RATE = 30;
const KEY_FRAME_INTERVAL_US = 2_000_000;
const AUDIO_BITRATE = 128_000;
// Frames waiting for a software encoder that falls behind are dropped
// rather than queued: a queue of raw frames grows by megabytes each.
const MAX_VIDEO_QUEUE = 3;

// H.264 needs a level that admits the frame size: 3.1 up to 1280x720,
// 4.0 up to 2048x1024, 5.1 beyond (in 16x16 macroblocks per frame).
function avcCodec(width, height) {
  const blocks = Math.ceil(width / 16) * Math.ceil(height / 16);
  const level = blocks <= 3600 ? '1F' : blocks <= 8192 ? '28' : '33';
  return `avc1.42E0${level}`;
}

// In order of preference: WebM with VP9 and Opus, else MP4 with H.264 and
// AAC, else the pairs a browser without one of those still has.
function candidates(width, height) {
  const webm = { container: 'webm', mime: 'video/webm' };
  const mp4 = { container: 'mp4', mime: 'video/mp4' };
  return [
    { ...webm, video: 'vp09.00.10.08', audio: 'opus', muxVideo: 'V_VP9', muxAudio: 'A_OPUS' },
    { ...mp4, video: avcCodec(width, height), audio: 'mp4a.40.2', muxVideo: 'avc', muxAudio: 'aac' },
    { ...mp4, video: avcCodec(width, height), audio: 'opus', muxVideo: 'avc', muxAudio: 'opus' },
    { ...webm, video: 'vp8', audio: 'opus', muxVideo: 'V_VP8', muxAudio: 'A_OPUS' },
  ];
}

// Encoders want even sizes (4:2:0 halves both); frames of another size are
// scaled by the encoder.
const even = (n) => Math.max(2, Math.floor(n / 2) * 2);

function videoBitrate(width, height) {
  return Math.round(Math.min(8e6, Math.max(1e6, width * height * FRAME_RATE * 0.08)));
}

/**
 * About how many seconds of a width x height recording fit in maxBytes, at
 * the bit rates the recorder asks of its encoders.
 */
export function recordingSeconds(width, height, maxBytes = DEFAULT_MAX_BYTES) {
  return (maxBytes * 8) / (videoBitrate(even(width), even(height)) + AUDIO_BITRATE);
}

function videoConfig(format, width, height) {
  return { codec: format.video, width, height, bitrate: videoBitrate(width, height), framerate: FRAME_RATE,
           latencyMode: 'realtime', ...(format.muxVideo === 'avc' ? { avc: { format: 'avc' } } : {}) };
}

function audioConfig(format, sampleRate, numberOfChannels) {
  return { codec: format.audio, sampleRate, numberOfChannels, bitrate: AUDIO_BITRATE };
}

// Where the page can take the canvas's own stream (Chromium), frames come
// as the compositor shows them; elsewhere the recorder takes the canvas
// after each animation frame.
function streamCapture() {
  return typeof MediaStreamTrackProcessor !== 'undefined' && typeof HTMLCanvasElement !== 'undefined' &&
         !!HTMLCanvasElement.prototype.captureStream;
}

function missingApi() {
  const needed = ['VideoEncoder', 'AudioEncoder', 'VideoFrame', 'AudioData', 'AudioWorkletNode'];
  return needed.filter((name) => typeof globalThis[name] === 'undefined');
}

// Copies blocks of the sound to the page, 8 render quanta (1024 frames) a
// message, planar, each with the audio clock's frame it starts at.
const TAP_WORKLET = `
registerProcessor('lumenvortex-recorder-tap', class extends AudioWorkletProcessor {
  constructor({ processorOptions }) {
    super();
    this.channels = processorOptions.channels;
    this.size = 1024;
    this.fill = 0;
    this.block = new Float32Array(this.size * this.channels);
    this.start = 0;
    this.done = false;
    this.port.onmessage = () => { this.done = true; };
  }
  process(inputs) {
    if (this.done) return false;
    const input = inputs[0];
    const frames = input.length ? input[0].length : 128;
    if (this.fill === 0) this.start = currentFrame;
    for (let c = 0; c < this.channels; c++) {
      const from = input[Math.min(c, input.length - 1)];
      if (from) this.block.set(from, c * this.size + this.fill);
    }
    this.fill += frames;
    if (this.fill >= this.size) {
      this.port.postMessage({ frame: this.start, samples: this.block }, [this.block.buffer]);
      this.block = new Float32Array(this.size * this.channels);
      this.fill = 0;
    }
    return true;
  }
});`;

// `container` ('webm' or 'mp4') narrows the choice; null takes the first
// that works.
async function pickFormat(width, height, sampleRate, channels, container) {
  const missing = missingApi();
  if (missing.length)
    return { supported: false, reason: `this browser lacks ${missing.join(', ')}: recording needs WebCodecs ` +
                                       '(Chromium-based browsers and current Firefox and Safari have it)' };
  const tried = [];
  for (const format of candidates(width, height)) {
    if (container && format.container !== container) continue;
    const [v, a] = await Promise.all([
      VideoEncoder.isConfigSupported(videoConfig(format, width, height)).catch(() => ({ supported: false })),
      AudioEncoder.isConfigSupported(audioConfig(format, sampleRate, channels)).catch(() => ({ supported: false })),
    ]);
    if (v.supported && a.supported)
      return { supported: true, container: format.container, mime: format.mime, videoCodec: format.video,
               audioCodec: format.audio, format };
    tried.push(`${format.video} ${v.supported ? 'yes' : 'no'}, ${format.audio} ${a.supported ? 'yes' : 'no'}`);
  }
  const into = container ? ` into ${container}` : '';
  return { supported: false,
           reason: `no encoder pair here${into} for ${width}x${height} at ${sampleRate} Hz (${tried.join('; ')})` };
}

// A processor's name can be registered once per context, by however many
// recorders.
const tapModules = new WeakMap();
function tapModule(context) {
  if (!tapModules.has(context)) {
    const url = URL.createObjectURL(new Blob([TAP_WORKLET], { type: 'text/javascript' }));
    const added = context.audioWorklet.addModule(url).finally(() => URL.revokeObjectURL(url));
    added.catch(() => tapModules.delete(context));
    tapModules.set(context, added);
  }
  return tapModules.get(context);
}

export class Recorder {
  /**
   * Whether this browser can record, and into what.
   * @param {{width?: number, height?: number, sampleRate?: number, container?: 'webm'|'mp4'|null}} [what]
   *        defaults 1280x720 at 48 kHz, into whichever container works
   * @returns {Promise<{supported: true, container: 'webm'|'mp4', mime: string, videoCodec: string,
   *                    audioCodec: string} | {supported: false, reason: string}>}
   */
  static async supported({ width = 1280, height = 720, sampleRate = 48000, container = null } = {}) {
    const { format, ...answer } = await pickFormat(even(width), even(height), sampleRate, 2, container);
    return answer;
  }

  /**
   * @param {HTMLCanvasElement} canvas what is drawn
   * @param {AudioContext} audioContext the context the sound plays in
   * @param {AudioNode} sourceNode the node whose output is the sound to record (it stays connected where it is)
   * @param {{maxBytes?: number, onLimit?: () => void, container?: 'webm'|'mp4'|null,
   *          capture?: 'stream'|'page'|null, writable?: FileSystemWritableFileStream|null}} [options]
   *        maxBytes bounds the file's size; onLimit is called once when it is reached (recording stops
   *        taking samples; stop() still returns the file so far); container picks one (default: WebM
   *        where VP9 and Opus encode, else MP4); capture 'page' takes frames and sound without media
   *        streams even where the browser has them (default: streams where there are); writable streams
   *        the file into it as it is made (then maxBytes bounds nothing unless given, stop() closes it
   *        and returns null)
   */
  constructor(canvas, audioContext, sourceNode, { maxBytes = undefined, onLimit = null,
                                                  container = null, capture = null, writable = null } = {}) {
    this.canvas = canvas;
    this.audioContext = audioContext;
    this.sourceNode = sourceNode;
    // A file on disk is bounded by the disk.
    this.maxBytes = maxBytes ?? (writable ? Infinity : DEFAULT_MAX_BYTES);
    this.onLimit = onLimit;
    this.writable = writable;
    this.container = container;
    this.capture = capture;
    this.state = 'inactive';   // then 'starting', 'recording', 'stopping', 'inactive' again
    this.bytes = 0;            // encoded bytes so far
    this.droppedFrames = 0;    // frames the encoder could not keep up with
    this.truncated = false;    // true once maxBytes stopped the recording
    this.mime = null;
  }

  /** Starts recording; rejects with a sentence when this browser cannot. */
  async start() {
    if (this.state !== 'inactive') throw new Error(`the recorder is already ${this.state}: stop() it first`);
    this.state = 'starting';
    const width = even(this.canvas.width), height = even(this.canvas.height);
    const sampleRate = this.audioContext.sampleRate, channels = 2;
    const pick = await pickFormat(width, height, sampleRate, channels, this.container);
    if (!pick.supported) {
      this.state = 'inactive';
      throw new Error(`cannot record: ${pick.reason}`);
    }
    this.mime = pick.format.mime;
    this._size = [width, height];
    this._letterbox = null;
    this.bytes = 0;
    this.droppedFrames = 0;
    this.truncated = false;
    this._lastKey = undefined;
    this._error = null;
    this._stopping = false;
    this._startMs = performance.now();
    try {
      await this._open(pick.format, width, height, sampleRate, channels);
    } catch (e) {
      await this._close();
      for (const enc of [this._videoEncoder, this._audioEncoder]) if (enc && enc.state !== 'closed') enc.close();
      this._muxer = null;
      this.state = 'inactive';
      throw new Error(`cannot record: ${e?.message ?? e}`);
    }
    this.state = 'recording';
  }

  async _open(format, width, height, sampleRate, channels) {
    const webm = format.container === 'webm';
    const target = this.writable ? new (webm ? WebmFileTarget : Mp4FileTarget)(this.writable)
                                 : new (webm ? WebmTarget : Mp4Target)();
    this._muxer = new (webm ? WebmMuxer : Mp4Muxer)({
      target,
      // No frame rate: mp4-muxer would round each time to it, and frames
      // come as the page draws them, not on a grid.
      video: { codec: format.muxVideo, width, height },
      audio: { codec: format.muxAudio, sampleRate, numberOfChannels: channels },
      // Both tracks are already on one clock from start(); neither muxer
      // may shift one against the other.
      ...(webm ? { firstTimestampBehavior: 'permissive' }
               : { firstTimestampBehavior: 'cross-track-offset', fastStart: this.writable ? false : 'in-memory' }),
    });
    const fail = (what) => (e) => { this._error ??= `the ${what} encoder failed: ${e?.message ?? e}`; };
    this._videoEncoder = new VideoEncoder({ output: (c, m) => this._add(c, m, true), error: fail('video') });
    this._videoEncoder.configure(videoConfig(format, width, height));
    this._audioEncoder = new AudioEncoder({ output: (c, m) => this._add(c, m, false), error: fail('audio') });
    this._audioEncoder.configure(audioConfig(format, sampleRate, channels));

    const encodeSound = (samples, frames, ts) => this._encodeAudio(samples, frames, ts, sampleRate, channels);
    // The sound always comes through the worklet, on the audio clock: a
    // media stream's reader drops what a busy page does not read in time,
    // and its track's clock then falls behind the picture.
    if (this.capture !== 'page' && streamCapture()) {
      this._videoStream = this.canvas.captureStream(FRAME_RATE);
      this._video = this._track(this._videoStream.getVideoTracks()[0], (frame, ts) => this._encodeVideo(frame, ts));
    } else {
      this._video = this._canvasFrames();
    }
    this._audio = await this._soundTap(channels, encodeSound);
  }

  // Takes the canvas after each animation frame: the recorder's callback
  // was asked for after the page's drawing loop started, so it runs after
  // the page has drawn, while a WebGL drawing buffer still holds the frame.
  _canvasFrames() {
    let handle = 0, last = -1;
    const tick = () => {
      handle = requestAnimationFrame(tick);
      if (this._stopping || this.truncated || this._error) return;
      const ts = Math.round((performance.now() - this._startMs) * 1000);
      if (ts - last < 1e6 / FRAME_RATE - 2000) return;   // a 120 Hz display still records 30 fps
      last = ts;
      let frame;
      try {
        frame = new VideoFrame(this.canvas, { timestamp: ts });
      } catch {
        return;   // a canvas with nothing drawn yet, or of no size
      }
      this._encodeVideo(frame, ts);
    };
    handle = requestAnimationFrame(tick);
    return { stop: async () => cancelAnimationFrame(handle) };
  }

  async _soundTap(channels, encode) {
    await tapModule(this.audioContext);
    const node = new AudioWorkletNode(this.audioContext, 'lumenvortex-recorder-tap', {
      numberOfInputs: 1, numberOfOutputs: 0, channelCount: channels, channelCountMode: 'explicit',
      processorOptions: { channels } });
    const rate = this.audioContext.sampleRate;
    let first = null, offset = 0;
    node.port.onmessage = ({ data }) => {
      if (this._stopping || this.truncated || this._error) return;
      if (first === null) {
        first = data.frame;
        offset = Math.round((performance.now() - this._startMs) * 1000);
      }
      const frames = data.samples.length / channels;
      encode(data.samples, frames, Math.round(((data.frame - first) / rate) * 1e6) + offset);
    };
    this.sourceNode.connect(node);
    return { stop: async () => {
      node.port.postMessage('stop');
      node.port.onmessage = null;
      try { this.sourceNode.disconnect(node); } catch { /* gone with the graph */ }
    } };
  }

  // Undoes whatever part of _open() happened: the source stays connected
  // where the page had it, only the recording's branch goes.
  async _close() {
    this._stopping = true;
    await Promise.all([this._video?.stop(), this._audio?.stop()]);
    for (const t of this._videoStream?.getTracks() ?? []) t.stop();
    this._video = this._audio = this._videoStream = null;
  }

  /**
   * Stops and returns the file.
   * @returns {Promise<Blob|null>} of type video/webm or video/mp4; null when it went to `writable`
   *          (closed here)
   */
  async stop() {
    if (this.state !== 'recording') throw new Error('the recorder is not recording: start() it first');
    this.state = 'stopping';
    await this._close();
    try {
      await Promise.all([this._videoEncoder.flush(), this._audioEncoder.flush()]);
    } catch (e) {
      this._error ??= `the encoders could not finish: ${e?.message ?? e}`;
    } finally {
      for (const enc of [this._videoEncoder, this._audioEncoder]) if (enc.state !== 'closed') enc.close();
      this.state = 'inactive';
    }
    const muxer = this._muxer;
    this._muxer = null;
    if (this._error) {
      await this.writable?.abort().catch(() => {});
      throw new Error(`recording failed: ${this._error}`);
    }
    muxer.finalize();
    if (this.writable) {
      await this.writable.close();
      return null;
    }
    return new Blob([muxer.target.buffer], { type: this.mime });
  }

  // Reads a track's samples until stop(); each sample's timestamp becomes
  // microseconds since start(): its own track's clock from the first
  // sample on, placed where that first sample arrived on the page's clock.
  _track(track, encode) {
    const reader = new MediaStreamTrackProcessor({ track }).readable.getReader();
    let first = null, offset = 0;
    const done = (async () => {
      for (;;) {
        const { value, done: end } = await reader.read().catch(() => ({ done: true }));
        if (end) return;
        if (this._stopping || this.truncated || this._error) { value.close(); continue; }
        if (first === null) {
          first = value.timestamp;
          offset = Math.round((performance.now() - this._startMs) * 1000);
        }
        encode(value, Math.max(0, value.timestamp - first + offset));
      }
    })();
    return { stop: async () => { await reader.cancel().catch(() => {}); track.stop(); await done; } };
  }

  _encodeVideo(frame, timestamp) {
    if (this._videoEncoder.encodeQueueSize >= MAX_VIDEO_QUEUE) {
      this.droppedFrames++;
      frame.close();
      return;
    }
    const keyFrame = this._lastKey === undefined || timestamp - this._lastKey >= KEY_FRAME_INTERVAL_US;
    if (keyFrame) this._lastKey = timestamp;
    const stamped = this._fitted(frame, timestamp);
    frame.close();
    this._videoEncoder.encode(stamped, { keyFrame });
    stamped.close();
  }

  // The frame in the recording's size. A canvas resized while recording
  // keeps its shape, with black bars, rather than being stretched to the
  // size the encoder was set up for (an odd side is one pixel off: even()).
  _fitted(frame, timestamp) {
    const { displayWidth: w, displayHeight: h } = frame;
    const [width, height] = this._size;
    if (Math.abs(w - width) <= 1 && Math.abs(h - height) <= 1) return new VideoFrame(frame, { timestamp });
    this._letterbox ??= new OffscreenCanvas(width, height);
    const g = this._letterbox.getContext('2d');
    const scale = Math.min(width / w, height / h);
    const dw = Math.round(w * scale), dh = Math.round(h * scale);
    g.fillStyle = '#000';
    g.fillRect(0, 0, width, height);
    g.drawImage(frame, Math.floor((width - dw) / 2), Math.floor((height - dh) / 2), dw, dh);
    return new VideoFrame(this._letterbox, { timestamp });
  }

  _encodeAudio(samples, frames, timestamp, sampleRate, channels) {
    const format = 'f32-planar';
    const stamped = new AudioData({ format, sampleRate, numberOfFrames: frames, numberOfChannels: channels,
                                    timestamp, data: samples });
    this._audioEncoder.encode(stamped);
    stamped.close();
  }

  _add(chunk, meta, isVideo) {
    // Past the bound nothing more goes in, not even a small chunk that would
    // fit: it could depend on one left out.
    if (!this._muxer || this.truncated) return;
    if (this.bytes + chunk.byteLength > this.maxBytes) {
      if (!this.truncated) {
        this.truncated = true;
        this.onLimit?.();
      }
      return;
    }
    this.bytes += chunk.byteLength;
    // Thrown here, in the encoder's callback, it would only reach the
    // console; stop() reports it instead.
    try {
      if (isVideo) this._muxer.addVideoChunk(chunk, meta);
      else this._muxer.addAudioChunk(chunk, meta);
    } catch (e) {
      this._error ??= `the ${this.mime} writer refused a ${isVideo ? 'video' : 'sound'} packet: ${e?.message ?? e}`;
    }
  }
}
