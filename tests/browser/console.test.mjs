// The web console in a real browser, against the real client and sorvana-server on
// loopback. Prints one line per check and closes with "N passed, N failed".
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const binDir = process.argv[2];
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'sorvana-browser-'));
const children = [];
let passed = 0;
let failed = 0;

function check(name, ok, detail = '') {
  if (ok) passed++; else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || !detail ? '' : ': ' + detail}`);
}

function portFree(port) {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.once('error', () => resolve(false));
    s.listen(port, '127.0.0.1', () => s.close(() => resolve(true)));
  });
}

// A server port P such that P and the console port P + 2 are both free.
async function freePorts() {
  for (let i = 0; i < 200; i++) {
    const p = 20000 + Math.floor(Math.random() * 30000);
    if (await portFree(p) && await portFree(p + 2)) return p;
  }
  throw new Error('no free ports');
}

function start(program, args, env) {
  const child = spawn(program, args, { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', (d) => { child.output += d; });
  children.push(child);
  return child;
}

async function until(what, probe, seconds = 20) {
  const end = Date.now() + seconds * 1000;
  while (Date.now() < end) {
    try { if (await probe()) return true; } catch { /* not yet */ }
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error(`timed out waiting for ${what}`);
}

async function stopAll() {
  for (const c of children) {
    if (c.exitCode === null) {
      c.kill('SIGTERM');
      await new Promise((r) => { c.once('exit', r); setTimeout(r, 3000); });
    }
  }
}

async function main() {
  const port = await freePorts();
  const consolePort = port + 2;
  const base = `http://127.0.0.1:${consolePort}`;

  // Server side: a project "drumel" with a folder and two files.
  const serverDir = path.join(root, 'server', 'drumel');
  fs.mkdirSync(path.join(serverDir, 'docs'), { recursive: true });
  fs.writeFileSync(path.join(serverDir, 'docs', 'a.txt'), 'abc\r\n');
  fs.writeFileSync(path.join(serverDir, 'plan.txt'), 'plan');

  // Client side: the program copied into its own folder with svClient.xml beside it.
  const clientDir = path.join(root, 'client');
  const workDir = path.join(root, 'work', 'drumel');
  fs.mkdirSync(clientDir, { recursive: true });
  fs.copyFileSync(path.join(binDir, 'sorvana-client'), path.join(clientDir, 'sorvana-client'));
  fs.chmodSync(path.join(clientDir, 'sorvana-client'), 0o755);
  const settingsFile = path.join(clientDir, 'svClient.xml');
  fs.writeFileSync(settingsFile, [
    '<xml>', '<serversettings>', '<serveradress>127.0.0.1</serveradress>',
    `<defaultport>${port}</defaultport>`, '<defaultpollinterval>60</defaultpollinterval>',
    '</serversettings>', '<projects>', '<project>', '<name>drumel</name>',
    `<path>${workDir}</path>`, '</project>', '</projects>', '</xml>'].join('\r\n') + '\r\n');
  const home = path.join(root, 'home');
  fs.mkdirSync(home);
  const env = { HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'), XDG_DATA_HOME: path.join(home, '.local/share') };

  // The client starts while no server listens: its first synchronisation fails.
  const client = start(path.join(clientDir, 'sorvana-client'), [], env);
  await until('the console', async () => (await fetch(`${base}/index.html`)).ok);

  const userDataDir = fs.mkdtempSync(path.join(root, 'chromium-'));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] || await context.newPage();
  const cell = (label) => page.locator(`tr:has(td > p:text-is("${label}")) td`).last().innerText();

  try {
    await page.goto(`${base}/index.html`);
    check('status page shows the server address', (await cell('Server')).trim() === '127.0.0.1');
    check('status page shows the server port', (await cell('Port')).trim() === String(port));
    check('status page shows the poll interval', (await cell('Poll interval')).includes('60'));
    check('status page shows the project root', (await cell('Korjenska mapa')).trim() === workDir);
    const never = await cell('Zadnja sinhronizacija');
    check('no synchronisation has succeeded yet', never.trim() === '(nije definirano)', never);

    // The server comes up; "Sinhroniziraj" leads to a synchronisation seen in the log.
    start(path.join(binDir, 'sorvana-server'), ['--listen', `127.0.0.1:${port}`, `drumel=${serverDir}`], env);
    await until('the server', () => new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1', () => { s.destroy(); resolve(true); });
      s.on('error', () => resolve(false));
    }));
    await page.click('input[type=submit][value="Sinhroniziraj"]');
    check('"Sinhroniziraj" returns to the status page', page.url().endsWith('/index.html'), page.url());
    await until('the synchronisation', async () => {
      await page.goto(`${base}/eventlog.html`);
      return (await page.content()).includes('Sinkronizacija projekta drumel završena, 3 izmjena');
    });
    check('the synchronisation is in the event log', true);
    check('the files arrived', fs.readFileSync(path.join(workDir, 'docs', 'a.txt'), 'latin1') === 'abc\r\n');
    await page.goto(`${base}/index.html`);
    const success = await cell('Zadnja sinhronizacija');
    check('status page shows the last success', /\d/.test(success), success);

    // The settings form changes the poll interval; the page and the file show it.
    await page.goto(`${base}/postavke.html`);
    await page.fill('input[name=pollinterval]', '5');
    await page.click('input[type=submit][value="Postavi"]');
    check('"Postavi" returns to the settings page', page.url().endsWith('/postavke.html'), page.url());
    check('settings page shows the new interval', (await page.inputValue('input[name=pollinterval]')) === '5');
    await page.goto(`${base}/index.html`);
    check('status page shows the new interval', (await cell('Poll interval')).includes('5'));
    check('the settings file holds the new interval',
      fs.readFileSync(settingsFile, 'latin1').includes('<defaultpollinterval>5</defaultpollinterval>'));

    // More entries, so that the log has several pages: each save logs four lines.
    for (let i = 0; i < 6; i++) {
      await page.goto(`${base}/postavke.html`);
      await page.click('input[type=submit][value="Postavi"]');
    }
    const rows = () => page.$$eval('tr', (trs) =>
      trs.map((tr) => Array.from(tr.querySelectorAll('td')).map((td) => td.innerText.trim()))
        .filter((cells) => cells.length === 3 && /^\d+$/.test(cells[0])));

    await page.goto(`${base}/eventlog.html`);
    const first = await rows();
    check('the first page shows 20 events numbered 1 to 20',
      first.length === 20 && first[0][0] === '1' && first[19][0] === '20', JSON.stringify(first.map((r) => r[0])));
    check('the newest event comes first', first[0][2] === 'Snimanje projekata', first[0][2]);
    await page.click('a:text-is(">")');
    const second = await rows();
    check('the next-page link shows events from 21 on', second.length > 0 && second[0][0] === '21',
      JSON.stringify(second.map((r) => r[0])));
    await page.click('a:text-is("<")');
    check('the previous-page link goes back', (await rows())[0]?.[0] === '1');

    // The filter keeps matching events only, case-insensitively, and survives paging.
    await page.fill('input[name=filter]', 'SINKRONIZ');
    await page.click('input[type=submit][value="Traži"]');
    const filtered = await rows();
    check('the filter keeps only matching events',
      filtered.length > 0 && filtered.every((r) => /sinkroniz/i.test(r[2])), JSON.stringify(filtered));
    check('filtered events are numbered from 1', filtered[0]?.[0] === '1');
    await page.click('a:text-is(">")');
    check('the paging link keeps the filter', new URL(page.url()).searchParams.get('filter') === 'SINKRONIZ', page.url());
    check('the second filtered page is empty', (await rows()).length === 0);
  } finally {
    await context.close();
  }
  check('the client is still running', client.exitCode === null, client.output);
}

try {
  await main();
} catch (e) {
  check('browser test', false, e.stack || String(e));
} finally {
  await stopAll();
  fs.rmSync(root, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
