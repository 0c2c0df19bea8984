// A replay as a link: the replay itself, compressed (gzip, by the
// browser's CompressionStream) and in base64url, in the page address's
// fragment. A fragment never goes to the host, so the link plays on any
// host of the same version, and offline where the page is kept.
const KEY = 'watch=';

async function squeeze(bytes, stream) {
  const piped = new Blob([bytes]).stream().pipeThrough(stream);
  return new Uint8Array(await new Response(piped).arrayBuffer());
}

function toBase64Url(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text))
    return null;
  try {
    const raw = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i)
      bytes[i] = raw.charCodeAt(i);
    return bytes;
  } catch (error) {
    return null;
  }
}

// The address that plays this replay.
export async function linkFor(bytes) {
  const packed = await squeeze(bytes, new CompressionStream('gzip'));
  const address = new URL(location.href);
  address.search = '';
  address.hash = KEY + toBase64Url(packed);
  return address.href;
}

// The replay an address's fragment carries: null when it carries none,
// { bytes, name }, or an Error saying why it cannot be had. A replay of
// another version passes here and is refused by the game, in its words.
export async function linkedReplay(hash) {
  const fragment = hash.replace(/^#/, '');
  if (!fragment.startsWith(KEY))
    return null;
  const packed = fromBase64Url(fragment.slice(KEY.length));
  const damaged = new Error('the link is damaged or cut short; ask for it again');
  if (packed === null || packed.length === 0)
    return damaged;
  try {
    return { bytes: await squeeze(packed, new DecompressionStream('gzip')), name: 'The linked replay' };
  } catch (error) {
    return damaged;
  }
}

// Copies the link to the clipboard where the browser lets the page;
// answers the link either way.
export async function copyLink(bytes) {
  const link = await linkFor(bytes);
  try {
    await navigator.clipboard.writeText(link);
  } catch (error) {
    // Without the clipboard the link is still shown to be copied by hand.
  }
  return link;
}
