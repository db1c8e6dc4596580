// The Windows program end to end: lumaflick.exe under wine and the tests' fake
// LFS (the Linux program fake-lfs) on 127.0.0.1. The decoder is scripted-decoder.exe
// where a test needs exact timing, and the real ffmpeg.exe (from the npm
// package @ffmpeg-installer/win32-x64) on clips made by the Linux ffmpeg (wine
// cannot connect a Windows pipe to a Linux program). With --package, the
// download's zip is unpacked and its exe run too.
//
// node end_to_end.mjs --wine WINE --lumaflick lumaflick.exe --decoder scripted-decoder.exe
//   --fake-lfs fake-lfs --ffmpeg-exe ffmpeg.exe --clip-maker ffmpeg
//   [--package lumaflick-VERSION-win64.zip --cmake CMAKE]

import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const RUN_TIMEOUT_MS = 60_000;
const ISP_ISI = 1, ISP_MST = 13, ISP_BTN = 45;

function options() {
  const out = {};
  const argv = process.argv.slice(2);
  for (let i = 0; i + 1 < argv.length; i += 2) out[argv[i].replace(/^--/, '')] = argv[i + 1];
  for (const name of ['wine', 'lumaflick', 'decoder', 'fake-lfs', 'ffmpeg-exe', 'clip-maker']) {
    if (!out[name]) throw new Error(`missing --${name}`);
  }
  if (out.package && !out.cmake) {
    throw new Error('--package needs --cmake');
  }
  if (!existsSync(out['ffmpeg-exe'])) {
    throw new Error(`${out['ffmpeg-exe']} is missing: scripts/install-deps installs it`);
  }
  return out;
}

// Wine shows the Linux root as drive Z:.
const windowsPath = (p) => 'Z:' + path.resolve(p).replaceAll('/', '\\');

// The steady clock (CLOCK_MONOTONIC) in milliseconds, as fake-lfs stamps its lines.
const steadyMs = () => Number(process.hrtime.bigint()) / 1e6;

// The fake LFS, started with fake-lfs's options (see tests/support/fake_lfs_main.cpp).
// It takes one connection and ends when that has ended; `accepted` resolves
// with its stamp of the accept, finish() with every byte it received and its
// closing line.
async function startLfs(opts, flags = []) {
  const dir = mkdtempSync(path.join(os.tmpdir(), 'lumaflick-fake-lfs-'));
  const portFile = path.join(dir, 'port'), receivedFile = path.join(dir, 'received');
  const child = spawn(opts['fake-lfs'], ['--port-file', portFile, '--received', receivedFile, ...flags],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  const err = [];
  child.stderr.on('data', (d) => err.push(d));
  let onAccepted, pending = '', closedLine = null;
  const accepted = new Promise((resolve) => { onAccepted = resolve; });
  child.stdout.on('data', (d) => {
    pending += d;
    for (let end; (end = pending.indexOf('\n')) >= 0; pending = pending.slice(end + 1)) {
      const line = pending.slice(0, end);
      if (line.startsWith('accepted ')) onAccepted(Number(line.split(' ')[1]));
      if (line.startsWith('closed ')) closedLine = line;
    }
  });
  let exit = null;
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => { exit = { code, signal }; resolve(exit); }));
  for (let i = 0; i < 400 && !existsSync(portFile) && !exit; i++) await sleep(25);
  check(existsSync(portFile), `fake-lfs did not start: ${exit && exit.code} ${Buffer.concat(err)}`);
  const port = Number(readFileSync(portFile, 'utf8'));
  // Waits (bounded) for its end; a fake still running is stopped.
  const finish = async (timeoutMs = 5000) => {
    if (!await Promise.race([exited, sleep(timeoutMs)])) child.kill('SIGTERM');
    await exited;
    let received = null;
    try { received = readFileSync(receivedFile); } catch { /* nothing connected */ }
    rmSync(dir, { recursive: true, force: true });
    return { ...exit, received, closedLine, err: Buffer.concat(err).toString() };
  };
  return { port, accepted, finish };
}

// A port on which nothing listens: bound, then released.
async function closedPort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

function run(opts, args, env = {}, { exe = opts.lumaflick, started = () => {} } = {}) {
  return new Promise((resolve) => {
    const child = spawn(opts.wine, [exe, ...args], {
      env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8', ...env },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    const out = [], err = [];
    child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    started(child);
    let timedOut = false;
    const timer = setTimeout(() => { timedOut = true; child.kill('SIGKILL'); }, RUN_TIMEOUT_MS);
    const finish = (status) => {
      clearTimeout(timer);
      resolve({ status, timedOut, out: Buffer.concat(out).toString(), err: Buffer.concat(err).toString() });
    };
    // Wine services that this run happens to start inherit its output pipes
    // and outlive it: after the exit, wait for the pipes only a little.
    child.on('exit', (status) => {
      const grace = setTimeout(() => {
        child.stdout.destroy();
        child.stderr.destroy();
        finish(status);
      }, 2000);
      child.on('close', () => { clearTimeout(grace); finish(status); });
    });
  });
}

function packets(bytes) {
  const list = [];
  for (let at = 0; at < bytes.length;) {
    const size = bytes[at] * 4;
    if (size === 0 || at + size > bytes.length) throw new Error(`malformed packet at byte ${at}`);
    list.push(bytes.subarray(at, at + size));
    at += size;
  }
  return list;
}

const zeroEnded = (bytes) => {
  const end = bytes.indexOf(0);
  return bytes.subarray(0, end < 0 ? bytes.length : end);
};

function check(condition, what) {
  if (!condition) throw new Error(what);
}

function unescapeLog(text) {
  return text.replace(/\\(.)/g, (_, c) => (c === 'n' ? '\n' : c === 'r' ? '\r' : c));
}

function loggedArguments(logFile, role) {
  let text = '';
  try { text = readFileSync(logFile, 'utf8'); } catch { return null; }
  const args = [];
  for (const line of text.split('\n')) {
    const m = /^(\w+) (\d+) arg (.*)$/.exec(line);
    if (m && m[1] === role) args.push(unescapeLog(m[3]));
  }
  return args;
}

const CLIP_RATE = 30;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function makeClip(opts, file, seconds, source = `testsrc=size=320x240:rate=${CLIP_RATE}`) {
  mkdirSync(path.dirname(file), { recursive: true });
  const made = spawnSync(opts['clip-maker'], ['-v', 'error', '-y', '-f', 'lavfi', '-i', source, '-t', String(seconds),
    '-c:v', 'libx264', '-pix_fmt', 'yuv420p', file]);
  check(made.status === 0, `making ${file}: ${made.stderr}`);
}

// Wine shows a Windows process's command line in /proc, the program first.
function processesOf(program) {
  return readdirSync('/proc').filter((pid) => {
    if (!/^\d+$/.test(pid)) return false;
    try { return readFileSync(`/proc/${pid}/cmdline`).toString().startsWith(program); } catch { return false; }
  });
}

async function checkNoneLeft(program) {
  for (let i = 0; i < 50 && processesOf(program).length; i++) await sleep(100);
  check(processesOf(program).length === 0, `left behind: ${program}`);
}

function residentKilobytes(pid) {
  try { return Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]); } catch { return NaN; }
}

// One playback to its end (exit 0 unless `status` says otherwise) on one
// connection: its output, its packets and what the fake said at its close.
// `accepted` is called with the accept's stamp.
async function play(opts, args, { env, exe, started, lfsFlags = [], accepted, status = 0 } = {}) {
  const lfs = await startLfs(opts, lfsFlags);
  if (accepted) lfs.accepted.then(accepted);
  const result = await run(opts, ['-a', `127.0.0.1:${lfs.port}`, '-p', 'secret', ...args], env, { exe, started });
  const ended = await lfs.finish();
  check(!result.timedOut, 'lumaflick.exe did not end in time');
  check(result.status === status, `exit status ${result.status}, stdout: ${result.out}, stderr: ${result.err}`);
  check(ended.code === 0 && ended.received, `the fake LFS ended with ${ended.code} ${ended.signal}: ${ended.err}`);
  return { result, list: packets(ended.received), closedLine: ended.closedLine };
}

const playWithFfmpeg = (opts, video, { extra = [], ...how } = {}) =>
  play(opts, ['-f', windowsPath(opts['ffmpeg-exe']), '-v', video, ...extra], how);

// The statistics must account for every frame of the clip, each shown one
// whole; the console and LFS get the same line. Returns the shown count.
function checkPlayback({ result, list }, frames, frameBytes = 2400) {
  check(list[0].length === 44 && list[0][1] === ISP_ISI, 'first packet is not IS_ISI');
  const mst = list[list.length - 1];
  check(mst.length === 68 && mst[1] === ISP_MST, 'last packet is not IS_MST');
  const line = zeroEnded(mst.subarray(4)).toString();
  const lines = result.out.split(/\r?\n/);
  check(lines.includes("Runnin'") && lines.includes(line), `stdout: ${result.out}`);
  const m = /^Read bytes: (\d+)kB, Skipped (\d+) frames \((\d+)%\)$/.exec(line);
  check(m, `statistics "${line}"`);
  const [kilobytes, skipped, percent] = m.slice(1).map(Number);
  const shown = frames - skipped;
  check(skipped < frames && kilobytes === Math.floor((shown * frameBytes) / 1024) &&
    percent === Math.floor((skipped * 100) / frames), `"${line}" is not ${frames} whole frames`);
  const buttons = list.slice(1, -1);
  check(buttons.every((b) => b.length === 252 && b[1] === ISP_BTN), 'packets between init and message are not IS_BTN');
  // The first frame changes every row: ClickID 1-30 in order, 6 units apart.
  buttons.slice(0, 30).forEach((b, i) => check(b[4] === i + 1 && b[9] === 6 * i, `first frame: button ${i} ClickID/T`));
  check(buttons.every((b) => b[4] >= 1 && b[4] <= 30), 'ClickID outside 1-30');
  check(buttons.length <= 30 * shown, `${buttons.length} buttons for ${shown} frames`);
  return shown;
}

const tests = [];
const test = (name, body) => tests.push({ name, body });

test('a whole playback: init packet, button blocks, statistics, exit 0', async (opts, dir) => {
  const plan = path.join(dir, 'plan');
  // Each frame well after the last, so that none is skipped as late.
  writeFileSync(plan, 'sleep 200\ngradient\nsleep 150\nframe 2400 0\nsleep 150\nframe 2400 0\nsleep 150\ngradient\n');
  const log = path.join(dir, 'decoder.log');
  const video = 'C:\\My Vid\u00e9os\\a "quoted" \u043a\u043b\u0438\u043f\\';
  const played = await play(opts, ['--ffmpeg', windowsPath(opts.decoder), '-v', video, '-s', '1.5', '-t', '0:02',
    '--subpixels', '^0\u00e9', '^3\u0436', '^6_', '^7_',
  ], { env: { SCRIPTED_DECODER_PLAN: windowsPath(plan), SCRIPTED_DECODER_LOG: windowsPath(log) } });
  checkPlayback(played, 4);
  const isi = played.list[0];
  check(isi[2] === 1 && zeroEnded(isi.subarray(12, 28)).toString() === 'secret', 'ReqI or admin password');
  check(zeroEnded(isi.subarray(28, 44)).toString() === 'Lumaflick', 'program name');
  // Three changing frames; glyphs from the wide command line reach LFS as UTF-8 bytes.
  const buttons = played.list.slice(1, -1);
  check(buttons.length >= 60, `${buttons.length} buttons for three changing frames`);
  const texts = Buffer.concat(buttons.map((b) => b.subarray(12)));
  check(texts.includes(Buffer.from('^0\u00e9')) && texts.includes(Buffer.from('^3\u0436')), 'non-ASCII glyphs');

  const args = loggedArguments(log, 'decoder');
  const expected = ['-re', '-ss', '1.5', '-i', video, '-t', '0:02', '-vf', 'scale=80:30,fps=30,format=gray',
    '-f', 'rawvideo', '-'];
  check(JSON.stringify(args) === JSON.stringify(expected), `decoder arguments ${JSON.stringify(args)}`);
});

// LFS answers the init with IS_VER and sends TINY_NONE every 30 s; here every second.
test('a talking LFS (IS_VER, a keep-alive every second): the same packets, exit 0', async (opts, dir) => {
  const plan = path.join(dir, 'plan');
  // 1.6 s of frames, each well after the last, so that keep-alives come in between.
  writeFileSync(plan, 'sleep 200\ngradient\nsleep 700\nframe 2400 0\nsleep 700\ngradient\n');
  const how = { env: { SCRIPTED_DECODER_PLAN: windowsPath(plan) } };
  const args = ['--ffmpeg', windowsPath(opts.decoder), '-v', 'clip.mp4'];
  const quiet = await play(opts, args, how);
  const talking = await play(opts, args, { ...how, lfsFlags: ['--answer-version', '--keepalive-every', '1000'] });
  checkPlayback(talking, 3);
  check(Buffer.concat(talking.list).equals(Buffer.concat(quiet.list)), "the packets differ from a quiet LFS's");
  const sent = Number((/ sent=(\d+)/.exec(talking.closedLine) || [])[1]);
  check(sent >= 20 + 4, `the fake did not talk: ${talking.closedLine}`);
});

// LFS closes without a word on a wrong admin password; the player must hear it
// during --delay, before it starts ffmpeg.
test('a wrong password: exit 1 at once, saying why; ffmpeg never starts', async (opts, dir) => {
  const log = path.join(dir, 'decoder.log');
  const lfs = await startLfs(opts, ['--password', 'A']);
  let acceptedAt = NaN, exitedAt = NaN;
  lfs.accepted.then((at) => { acceptedAt = at; });
  const result = await run(opts, ['-a', `127.0.0.1:${lfs.port}`, '-p', 'B', '--delay', '3000', '-v', 'clip.mp4',
    '--ffmpeg', windowsPath(opts.decoder)], { SCRIPTED_DECODER_LOG: windowsPath(log) },
  { started: (child) => child.on('exit', () => { exitedAt = steadyMs(); }) });
  const ended = await lfs.finish();
  check(result.status === 1, `exit status ${result.status}, stderr: ${result.err}`);
  const lines = result.err.split(/\r?\n/).filter((line) => line !== '');
  check(lines.length === 1 && /^Error: .*LFS closed the InSim connection.*admin password/.test(lines[0]),
    `stderr: ${result.err}`);
  check(ended.received && packets(ended.received)[0][1] === ISP_ISI && / sent=0 /.test(ended.closedLine),
    `the fake: ${ended.closedLine}`);
  check(exitedAt - acceptedAt < 2000, `exit ${exitedAt - acceptedAt} ms after the accept, with a delay of 3000 ms`);
  check(!existsSync(log), 'the decoder was started');
});

test('a refused connection: exit 1 with the Winsock error', async (opts) => {
  const port = await closedPort();
  const result = await run(opts, ['-a', `127.0.0.1:${port}`, '-p', 'secret', '-v', 'clip.mp4']);
  check(!result.timedOut, 'did not end in time');
  check(result.status === 1, `exit status ${result.status}`);
  check(/^Error: SystemError \{ code: 10061, kind: ConnectionRefused, message: ".+" \}\r?$/m.test(result.err),
    `stderr: ${result.err}`);
});

test('a decoder that cannot be started: exit 1, kind NotFound', async (opts, dir) => {
  const lfs = await startLfs(opts);
  const result = await run(opts, ['-a', `127.0.0.1:${lfs.port}`, '-p', 'secret', '-v', 'clip.mp4',
    '--ffmpeg', windowsPath(path.join(dir, 'no such ffmpeg.exe'))]);
  await lfs.finish();
  check(result.status === 1, `exit status ${result.status}, stderr: ${result.err}`);
  check(/^Error: SystemError \{ code: [23], kind: NotFound/m.test(result.err), `stderr: ${result.err}`);
});

test('usage errors: exit 2 and nothing else', async (opts) => {
  const lfs = await startLfs(opts);
  const address = `127.0.0.1:${lfs.port}`;
  for (const args of [[], ['-a', address, '-p', 'x'], ['-a', address, '-p', 'x', '-v', 'v', '-r', '-5'],
    ['-a', address, '-p', 'x', '-v', 'v', '--bogus'], ['-a', address, '-p', 'x', '-v', 'v', '--subpixels', 'a']]) {
    const result = await run(opts, args);
    check(result.status === 2, `${JSON.stringify(args)}: exit status ${result.status}`);
    check(/error/i.test(result.err) && result.out === '', `${JSON.stringify(args)}: stderr ${result.err}`);
  }
  check((await lfs.finish(0)).received === null, 'a usage error connected to LFS');
});

test('version and help: exit 0 on standard output', async (opts) => {
  const version = await run(opts, ['-V']);
  check(version.status === 0 && version.out.trim() === 'lumaflick 0.2.0', `-V: ${version.status} ${version.out}`);
  const help = await run(opts, ['--help']);
  check(help.status === 0 && help.out.includes('--password <PASSWORD>'), `--help: ${help.status}`);
});

test('ffmpeg.exe: a clip under a path with spaces and non-ASCII letters plays whole; nothing is left', async (opts, dir) => {
  const clip = path.join(dir, 'clip f\u00f6lder \u00e9', 'one \u043a\u043b\u0438\u043f.mp4');
  makeClip(opts, clip, 2);
  checkPlayback(await playWithFfmpeg(opts, windowsPath(clip)), 2 * CLIP_RATE);
  await checkNoneLeft(windowsPath(opts['ffmpeg-exe']));
});

// RGB frames of 7,200 bytes are more than a pipe write keeps whole.
test('ffmpeg.exe: --colour frames are assembled whole', async (opts, dir) => {
  const clip = path.join(dir, 'colour.mp4');
  makeClip(opts, clip, 2);
  checkPlayback(await playWithFfmpeg(opts, windowsPath(clip), { extra: ['--colour'] }), 2 * CLIP_RATE, 7200);
});

test('ffmpeg.exe: a missing video fails in order: ffmpeg says why, then the error, exit 1', async (opts, dir) => {
  const video = windowsPath(path.join(dir, 'no such cl\u00efp.mp4'));
  const { result, list } = await playWithFfmpeg(opts, video, { status: 1 });
  check(result.out.split(/\r?\n/).filter((line) => line !== '').join('|') === "Runnin'", `stdout: ${result.out}`);
  check(/\nError: "ffmpeg could not play the video \(exit status \d+\)"\r?\n$/.test(result.err), `stderr: ${result.err}`);
  check(list.length === 1 && list[0][1] === ISP_ISI, `${list.length} packets: no statistics for a failed run`);
  // ffmpeg.exe names the file in UTF-8; a pipe carries the bytes unchanged.
  check(result.err.includes(video), `stderr: ${result.err}`);
});

// Frames at 240/s, every row changing, outrun the TCP buffers (a few MB) in
// seconds: then the send waits, the pipe fills and ffmpeg.exe has to wait.
test('ffmpeg.exe: an LFS that stops reading holds the decoder back; memory stays flat', async (opts, dir) => {
  const rate = 240, seconds = 4, stallMs = 9000;
  const clip = path.join(dir, 'noise.mp4');
  makeClip(opts, clip, seconds, `nullsrc=s=160x60:r=${rate},geq=lum='random(1)*255':cb=128:cr=128`);
  let pid;
  const samples = [];
  const ffmpegAlive = [];
  // The fake stops reading at the init, which comes right after the accept.
  const stall = async () => {
    await sleep(stallMs - 4000);
    samples.push(residentKilobytes(pid));
    await sleep(4000);
    samples.push(residentKilobytes(pid));
    ffmpegAlive.push(processesOf(windowsPath(opts['ffmpeg-exe'])).length > 0);
  };
  const played = await playWithFfmpeg(opts, windowsPath(clip), {
    lfsFlags: ['--pause-after', '1', '--pause-for', String(stallMs)], accepted: stall,
    started: (child) => { pid = child.pid; }, extra: ['-r', String(rate)],
  });
  // Without the hold the clip would have ended seconds before the stall did.
  check(ffmpegAlive[0] === true, 'ffmpeg.exe ran ahead of a stalled LFS');
  check(samples.every(Number.isFinite) && samples[1] - samples[0] < 2048,
    `lumaflick.exe grew from ${samples[0]} kB to ${samples[1]} kB while LFS stalled`);
  // At this rate nothing is skipped, so every frame reached LFS after the stall.
  check(checkPlayback(played, seconds * rate) === seconds * rate, 'frames were lost');
});

test('the download: its zip unpacks to lumaflick.exe, README.txt and licences, and plays', async (opts, dir) => {
  if (!opts.package) throw new Error('no --package given');
  const unpacked = spawnSync(opts.cmake, ['-E', 'tar', 'xf', path.resolve(opts.package)], { cwd: dir });
  check(unpacked.status === 0, `unpacking: ${unpacked.stderr}`);
  const top = path.join(dir, path.basename(opts.package, '.zip'));
  const files = readdirSync(top, { recursive: true }).map((f) => f.replaceAll(path.sep, '/')).sort();
  for (const name of ['lumaflick.exe', 'README.txt', 'licences/asio.txt', 'licences/GPL-3.txt',
    'licences/gcc-libstdc++-runtime-exception.txt', 'licences/mingw-w64-runtime-and-winpthreads.txt']) {
    check(files.includes(name), `${name} not in the zip: ${files.join(' ')}`);
  }
  const exe = path.join(top, 'lumaflick.exe');
  const version = await run(opts, ['--version'], {}, { exe });
  check(version.status === 0 && version.out.trim() === `lumaflick ${/-(\d+\.\d+\.\d+)-win64/.exec(top)[1]}`,
    `--version: ${version.status} ${version.out}`);
  const clip = path.join(dir, 'short.mp4');
  makeClip(opts, clip, 1);
  checkPlayback(await playWithFfmpeg(opts, windowsPath(clip), { exe }), CLIP_RATE);
});

const opts = options();
let failed = 0;
for (const { name, body } of tests) {
  const dir = mkdtempSync(path.join(os.tmpdir(), 'lumaflick-e2e-'));
  const started = Date.now();
  try {
    await body(opts, dir);
    console.log(`ok - ${name} (${Date.now() - started} ms)`);
  } catch (e) {
    failed++;
    console.log(`not ok - ${name}: ${e.message}`);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}
console.log(`${tests.length - failed}/${tests.length} end-to-end checks passed`);
process.exit(failed ? 1 : 0);
