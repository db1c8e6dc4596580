// Converts the same text to LFS's code pages as our lfs_text_hex does, with
// unicode-to-lfs (node-insim's encoder), and compares the bytes: every
// character of the Basic Multilingual Plane but the caret (which we double)
// and the line feed (our line separator) alone, then runs of them, then mixed
// samples that switch code pages often.
//   node lfs_text_crosscheck.js PATH_TO_lfs_text_hex
'use strict';

const { execFileSync } = require('node:child_process');

let unicodeToLfs;
try {
  unicodeToLfs = require('unicode-to-lfs');
} catch (e) {
  console.error('unicode-to-lfs is not installed here; run scripts/install-deps');
  process.exit(77); // skipped
}
const program = process.argv[2];
if (!program) {
  console.error('usage: node lfs_text_crosscheck.js PATH_TO_lfs_text_hex');
  process.exit(2);
}

const theirs = (text) => Buffer.from(unicodeToLfs(text), 'latin1').toString('hex');
const ours = (lines) =>
  execFileSync(program, { input: lines.join('\n') + '\n', encoding: 'utf8', maxBuffer: 64 << 20, timeout: 60000 })
    .split('\n')
    .slice(0, lines.length);

// Our tables come from Windows' converter, which LFS uses; unicode-to-lfs
// differs from it in these classes, each checked for its exact shape.
const lead = (hex) => parseInt(hex.slice(4, 6), 16);
const known = [
  // Private use: Windows maps it to the code pages' user-defined areas.
  { name: 'private use', test: (u) => u >= 0xe000 && u <= 0xf8ff },
  // C1 controls: Windows passes them through single-byte pages.
  { name: 'C1 control', test: (u) => u >= 0x80 && u <= 0x9f },
  // CP932 has two codes for 360-odd characters; Windows encodes the IBM one.
  {
    name: 'CP932 IBM extension',
    test: (u, o, t) => o.startsWith('5e4a') && t.startsWith('5e4a') && lead(o) >= 0xfa && lead(t) >= 0xed && lead(t) <= 0xee,
  },
  // CP950 has two codes for four box-drawing characters; Windows encodes 0xF9xx.
  {
    name: 'CP950 box drawing',
    test: (u, o, t) => o.startsWith('5e48f9') && t.startsWith('5e48a2') && u >= 0x2550 && u <= 0x256a,
  },
];

let failures = 0;
let checks = 0;
function compare(text, o, t) {
  checks += 1;
  if (o === t) return true;
  if (++failures <= 30) {
    const points = Array.from(text).slice(0, 8).map((c) => 'U+' + c.codePointAt(0).toString(16).padStart(4, '0'));
    console.error(`FAIL ${points.join(' ')}\n  ours:   ${o}\n  theirs: ${t}`);
  }
  return false;
}

// Each character alone.
const singles = [];
for (let u = 0; u <= 0xffff; u++) {
  if ((u >= 0xd800 && u <= 0xdfff) || u === 0x5e || u === 0x0a) continue;
  singles.push(String.fromCharCode(u));
}
const counts = Object.fromEntries(known.map((k) => [k.name, 0]));
const agreed = [];
const singleOurs = ours(singles);
singles.forEach((c, i) => {
  const o = singleOurs[i];
  const t = theirs(c);
  const kind = o !== t && known.find((k) => k.test(c.charCodeAt(0), o, t));
  if (kind) counts[kind.name] += 1;
  else if (compare(c, o, t)) agreed.push(c);
});

// Runs of 64 neighbours, then mixed samples from a fixed generator, of the
// characters on which both agree alone: the code page switches must agree too.
const texts = [];
for (let i = 0; i < agreed.length; i += 64) texts.push(agreed.slice(i, i + 64).join(''));
let seed = 12345;
const random = (n) => {
  seed = (seed * 1103515245 + 12345) % 2147483648;
  return seed % n;
};
for (let i = 0; i < 3000; i++) {
  let text = '';
  const length = 1 + random(24);
  for (let j = 0; j < length; j++) text += agreed[random(agreed.length)];
  texts.push(text);
}
const textOurs = ours(texts);
texts.forEach((text, i) => compare(text, textOurs[i], theirs(text)));

console.log(`${checks} texts compared; where Windows' code pages differ from unicode-to-lfs:`, counts);
if (failures > 0) {
  console.error(`${failures} of ${checks} differ`);
  process.exit(1);
}
console.log(`all ${checks} agree`);
