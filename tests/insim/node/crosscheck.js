// Packs the same packets as our insim_packet_hex with node-insim, an independent
// InSim implementation, and compares the bytes.
//   node crosscheck.js PATH_TO_insim_packet_hex
'use strict';

const { execFileSync } = require('node:child_process');

let packets;
try {
  packets = require('node-insim/packets');
} catch (e) {
  console.error('node-insim is not installed here; run scripts/install-deps');
  process.exit(77); // skipped
}
const { IS_ISI, IS_MST, IS_BTN, InSimFlags, ButtonStyle } = packets;

const program = process.argv[2];
if (!program) {
  console.error('usage: node crosscheck.js PATH_TO_insim_packet_hex');
  process.exit(2);
}

const ours = (args) => execFileSync(program, args, { encoding: 'utf8', timeout: 10000 }).trim();
const theirs = (packet) => Buffer.from(packet.pack()).toString('hex');

let failures = 0;
let checks = 0;
function expectEqual(name, actual, expected) {
  checks += 1;
  if (actual !== expected) {
    failures += 1;
    console.error(`FAIL ${name}\n  ours:   ${actual}\n  theirs: ${expected}`);
  }
}

// node-insim itself against the vectors in our notes, so that a change on its
// side shows as such and not as a fault of ours.
expectEqual(
  'node-insim IS_ISI vector',
  theirs(new IS_ISI({ ReqI: 1, Admin: 'secret', IName: 'Lumaflick', Flags: InSimFlags.ISF_LOCAL, InSimVer: 9 })),
  '0b0101000000040009000000736563726574000000000000000000004c756d61666c69636b00000000000000',
);

const initCases = [
  { flags: InSimFlags.ISF_LOCAL, admin: 'secret', name: 'Lumaflick' },
  { flags: 0, admin: '', name: 'Lumaflick' },
  { flags: InSimFlags.ISF_LOCAL, admin: 'abcdefghijklmno', name: 'Lumaflick' },
  { flags: InSimFlags.ISF_LOCAL | InSimFlags.ISF_HLV, admin: 'P4ss w0rd!', name: 'x' },
];
for (const c of initCases) {
  expectEqual(
    `IS_ISI ${JSON.stringify(c)}`,
    ours(['isi', String(c.flags), c.admin, c.name]),
    theirs(new IS_ISI({ ReqI: 1, Flags: c.flags, Admin: c.admin, IName: c.name, InSimVer: 9 })),
  );
}

const messageCases = [
  'Read bytes: 70kB, Skipped 0 frames (0%)',
  'Read bytes: 123456kB, Skipped 4242 frames (12.5%)',
  '',
  'm'.repeat(63),
  '/msg hello',
];
for (const msg of messageCases) {
  expectEqual(`IS_MST ${JSON.stringify(msg)}`, ours(['mst', msg]), theirs(new IS_MST({ Msg: msg })));
}

// node-insim shortens IS_BTN to its text, with Size to match: compare the head
// after Size, and the text as far as node-insim sends it.
const buttonCases = [
  { clickId: 1, t: 0, text: '^0_^3_^6_^7_' },
  { clickId: 30, t: 174, text: '^7_'.repeat(80) },
  { clickId: 6, t: 30, text: '' },
  { clickId: 239, t: 200, text: 'x'.repeat(239) },
];
for (const c of buttonCases) {
  const mine = Buffer.from(ours(['btn', String(c.clickId), String(c.t), c.text]), 'hex');
  const other = new IS_BTN({
    ReqI: 1, UCID: 255, ClickID: c.clickId, BStyle: ButtonStyle.ISB_DARK, T: c.t, W: 240, H: 6, Text: c.text,
  }).pack();
  const name = `IS_BTN ${c.clickId}/${c.t}/${c.text.length} bytes`;
  expectEqual(`${name} length`, String(mine.length), '252');
  expectEqual(`${name} Size`, String(mine[0]), '63');
  expectEqual(`${name} head`, mine.subarray(1, 12).toString('hex'), Buffer.from(other.subarray(1, 12)).toString('hex'));
  const otherText = Buffer.from(other.subarray(12));
  expectEqual(`${name} text`, mine.subarray(12, 12 + otherText.length).toString('hex'), otherText.toString('hex'));
}

// Packed at its shortest, our button must be node-insim's byte for byte: Size,
// the text cut at 240 bytes, and 1 to 4 zeros after it unless it fills 240.
// (Texts stay clear of ^L-style code-page markers, which node-insim rewrites.)
for (const length of [0, 1, 3, 4, 237, 239, 240, 300]) {
  const text = '^7_'.repeat(100).slice(0, length);
  expectEqual(
    `short IS_BTN ${length} bytes`,
    ours(['sbtn', '9', '54', text]),
    theirs(new IS_BTN({
      ReqI: 1, UCID: 255, ClickID: 9, BStyle: ButtonStyle.ISB_DARK, T: 54, W: 240, H: 6, Text: text,
    })),
  );
}

console.log(`${checks - failures} of ${checks} byte comparisons with node-insim agree`);
process.exit(failures === 0 ? 0 : 1);
