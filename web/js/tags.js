// Title, artist, album and cover of a dropped or fetched file, read in the
// page by music-metadata (the browser entry: no Node streams, no file system).
// What the native player shows for the same file: the tags when there are
// some, the file's name without its extension when there is no title.
import { parseBlob, parseBuffer } from 'music-metadata';

// The native player's bound on a cover's bytes: bigger than any scan of a
// sleeve, and a tag that claims more is damage, not art.
export const MAX_COVER_BYTES = 64 * 1024 * 1024;

// The file's name without folders and its last extension, as natively: a
// name that is only an extension (".mp3") stays whole.
export function titleFromFileName(fileName) {
  const base = String(fileName ?? '').split(/[\\/]/).pop();
  const dot = base.lastIndexOf('.');
  return dot > 0 ? base.slice(0, dot) : base;
}

// Tags often say "image/jpg" or nothing at all; the bytes do not lie.
function sniffImageMime(bytes, declared) {
  const starts = (...sig) => sig.every((b, i) => bytes[i] === b);
  if (starts(0xff, 0xd8, 0xff)) return 'image/jpeg';
  if (starts(0x89, 0x50, 0x4e, 0x47)) return 'image/png';
  if (starts(0x47, 0x49, 0x46, 0x38)) return 'image/gif';
  if (starts(0x52, 0x49, 0x46, 0x46) && bytes[8] === 0x57 && bytes[9] === 0x45) return 'image/webp';
  if (starts(0x42, 0x4d)) return 'image/bmp';
  const d = String(declared ?? '').toLowerCase();
  if (d === 'image/jpg') return 'image/jpeg';
  return d.startsWith('image/') ? d : 'application/octet-stream';
}

function pickCover(pictures, problems) {
  const picture = pictures?.[0];
  if (!picture?.data?.length) return null;
  if (picture.data.length > MAX_COVER_BYTES) {
    problems.push(`the cover is ${picture.data.length} bytes, more than the ${MAX_COVER_BYTES} a cover may have: ` +
                  'shown without it (re-save the cover smaller)');
    return null;
  }
  // A copy, so that the file's whole buffer is not kept alive by the cover.
  const bytes = picture.data.slice();
  return { bytes, mime: sniffImageMime(bytes, picture.format) };
}

/**
 * Reads the tags of a file.
 * @param {ArrayBuffer|Uint8Array|Blob} arrayBuffer the file's bytes, or the File itself (then only the parts
 *        with tags are read from it)
 * @param {string} fileName the file's name, the stand-in title
 * @returns {Promise<{title: string, artist: string, album: string,
 *           cover: {bytes: Uint8Array, mime: string} | null, problems: string[]}>}
 *   Never rejects: a file that cannot be parsed gives the stand-in title and
 *   says why in `problems`.
 */
export async function readTags(arrayBuffer, fileName) {
  const fallback = titleFromFileName(fileName);
  const problems = [];
  let common = {};
  try {
    const options = { duration: false };
    if (typeof Blob !== 'undefined' && arrayBuffer instanceof Blob) {
      ({ common } = await parseBlob(arrayBuffer, options));
    } else {
      const bytes = arrayBuffer instanceof Uint8Array ? arrayBuffer : new Uint8Array(arrayBuffer);
      // The name helps the parser tell a container without magic bytes (raw AAC, MP3 without ID3).
      const fileInfo = { path: String(fileName ?? ''), size: bytes.length };
      ({ common } = await parseBuffer(bytes, fileInfo, options));
    }
  } catch (e) {
    problems.push(`no tags read from ${fileName}: ${e?.message ?? e} (the file name stands in for the title)`);
  }
  const text = (v) => (typeof v === 'string' ? v.trim() : Array.isArray(v) ? v.filter(Boolean).join(', ') : '');
  return {
    title: text(common.title) || fallback,
    artist: text(common.artist) || text(common.artists),
    album: text(common.album),
    cover: pickCover(common.picture, problems),
    problems,
  };
}
