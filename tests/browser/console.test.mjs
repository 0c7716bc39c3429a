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
// Screenshots of the pages are written here when set, to look at.
const screenshots = process.env.SV_SCREENSHOTS;
// The refusal page's screenshot is always kept: here, or else beside BIN_DIR.
const keptShots = screenshots || path.resolve(binDir, '..');
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

async function launchBrowser() {
  const userDataDir = fs.mkdtempSync(path.join(root, 'chromium-'));
  return chromium.launchPersistentContext(userDataDir, {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The client's settings file: the server at 127.0.0.1:port and one project.
function settingsText(port, name, folder) {
  return [
    '<xml>', '<serversettings>', '<serveradress>127.0.0.1</serveradress>',
    `<defaultport>${port}</defaultport>`, '<defaultpollinterval>60</defaultpollinterval>',
    '</serversettings>', '<projects>', '<project>', `<name>${name}</name>`,
    `<path>${folder}</path>`, '</project>', '</projects>', '</xml>'].join('\r\n') + '\r\n';
}

// The client program copied into a folder of its own under root, with its settings beside it.
function installClient(folder, port, name, project) {
  fs.mkdirSync(folder, { recursive: true });
  fs.copyFileSync(path.join(binDir, 'sorvana-client'), path.join(folder, 'sorvana-client'));
  fs.chmodSync(path.join(folder, 'sorvana-client'), 0o755);
  fs.writeFileSync(path.join(folder, 'svClient.xml'), settingsText(port, name, project));
  return path.join(folder, 'sorvana-client');
}

function homeEnv(home) {
  fs.mkdirSync(path.join(home, 'run'), { recursive: true, mode: 0o700 });
  return {
    HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'), XDG_DATA_HOME: path.join(home, '.local/share'),
    XDG_RUNTIME_DIR: path.join(home, 'run'),
  };
}

// The address of the client's "Configure:" line, which logs a browser in to its console.
async function configureAddress(client) {
  let address = null;
  await until('the "Configure:" line', () => {
    address = /^Configure: (\S+)\n/m.exec(client.output)?.[1];
    return address;
  });
  return address;
}

async function main() {
  const port = await freePorts();
  const consolePort = port + 2;
  // The session cookie belongs to the host the login address names.
  const base = `http://localhost:${consolePort}`;

  // Server side: a project "drumel" with a folder and two files.
  const serverDir = path.join(root, 'server', 'drumel');
  fs.mkdirSync(path.join(serverDir, 'docs'), { recursive: true });
  fs.writeFileSync(path.join(serverDir, 'docs', 'a.txt'), 'abc\r\n');
  fs.writeFileSync(path.join(serverDir, 'plan.txt'), 'plan');

  // Client side: the program copied into its own folder with svClient.xml beside it.
  const clientDir = path.join(root, 'client');
  const workDir = path.join(root, 'work', 'drumel');
  const settingsFile = path.join(clientDir, 'svClient.xml');
  const program = installClient(clientDir, port, 'drumel', workDir);
  const env = homeEnv(path.join(root, 'home'));

  // The client starts while no server listens: its first synchronisation fails.
  const client = start(program, [], env);
  const login = await configureAddress(client);
  check('the "Configure:" line names the login address',
    new RegExp(`^http://localhost:${consolePort}/prijava\\?kljuc=[0-9a-f]{64}$`).test(login), login);

  const context = await launchBrowser();
  const page = context.pages()[0] || await context.newPage();
  const cell = (label) => page.locator(`tr:has(td > p:text-is("${label}")) td`).last().innerText();

  try {
    // Opened without the key, the console shows only how to open it.
    const refused = await page.goto(`${base}/index.html`);
    check('a page opened without the key is refused', refused.status() === 403, String(refused.status()));
    check('the refusal says how to open the console',
      (await page.content()).includes('Konzola se otvara samo iz izbornika programa'));
    check('the refusal shows no setting', !(await page.content()).includes('Korjenska mapa'));
    await page.screenshot({ path: path.join(keptShots, 'console-refused.png'), fullPage: true });
    // The console never shows inside another page's frame.
    const framing = await page.evaluate(async () => (await fetch('/style.css')).headers.get('x-frame-options'));
    check('answers forbid framing', framing === 'DENY', String(framing));

    // "Configure": the login address sets the cookie and shows the status page.
    await page.goto(login);
    check('the login address leads to the status page', page.url() === `${base}/index.html`, page.url());
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

    // TLS and a pin pasted with colons: the form and the file keep the pin's plain form,
    // and the status page and document say the last connection was not encrypted.
    const pin = 'ab'.repeat(32);
    await page.goto(`${base}/postavke.html`);
    await page.check('input[name=tls]');
    await page.fill('input[name=otisak]', pin.toUpperCase().match(/../g).join(':'));
    await page.click('input[type=submit][value="Postavi"]');
    check('settings page shows TLS and the pin', await page.isChecked('input[name=tls]') &&
      (await page.inputValue('input[name=otisak]')) === pin, await page.inputValue('input[name=otisak]'));
    check('the settings file holds TLS and the pin',
      fs.readFileSync(settingsFile, 'latin1').includes(`<tls>1</tls>\r\n<tlspin>${pin}</tlspin>\r\n`));
    await page.goto(`${base}/index.html`);
    check('status page says the connection was not encrypted', (await page.content()).includes('Veza nije šifrirana'));
    const connection = await page.evaluate(async () => (await (await fetch('/status.json')).json()).connection);
    check('status.json says the connection was not encrypted', JSON.stringify(connection) === '{"encrypted":false}',
      JSON.stringify(connection));
    await page.goto(`${base}/postavke.html`);
    await page.uncheck('input[name=tls]');
    await page.fill('input[name=otisak]', '');
    await page.click('input[type=submit][value="Postavi"]');
    check('cleared, TLS and the pin leave the file', !/<tls/.test(fs.readFileSync(settingsFile, 'latin1')));

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

// A proxy on 127.0.0.1:listenPort to targetPort that passes the server's bytes on
// slowly, `chunk` bytes every `pauseMs`, and keeps what the client sent on each
// connection.
function slowProxy(listenPort, targetPort, chunk, pauseMs) {
  const sent = [];
  const server = net.createServer((down) => {
    const index = sent.push('') - 1;
    const up = net.connect(targetPort, '127.0.0.1');
    const queue = [];
    let busy = false;
    let upEnded = false;
    const pump = () => {
      busy = queue.length > 0;
      if (!busy) {
        if (upEnded) down.end(); else up.resume();
        return;
      }
      down.write(queue.shift());
      setTimeout(pump, pauseMs);
    };
    down.on('data', (d) => { sent[index] += d.toString('latin1'); up.write(d); });
    up.on('data', (d) => {
      up.pause();
      for (let i = 0; i < d.length; i += chunk) queue.push(d.subarray(i, i + chunk));
      if (!busy) pump();
    });
    up.on('end', () => { upEnded = true; if (!busy) down.end(); });
    const drop = () => { up.destroy(); down.destroy(); };
    up.on('error', drop);
    down.on('error', drop);
    down.on('close', () => up.destroy());
  });
  server.listen(listenPort, '127.0.0.1');
  return { server, sent };
}

// Everything below a folder: relative path -> size and modification time.
function snapshot(dir) {
  const out = {};
  const walk = (d, rel) => {
    for (const e of fs.readdirSync(d, { withFileTypes: true })) {
      const st = fs.statSync(path.join(d, e.name));
      out[rel + e.name] = `${e.isDirectory() ? 'dir' : st.size} ${st.mtimeMs}`;
      if (e.isDirectory()) walk(path.join(d, e.name), rel + e.name + '/');
    }
  };
  if (fs.existsSync(dir)) walk(dir, '');
  return out;
}

// Progress, pause and preview of a synchronisation of a large folder, through a proxy
// that slows the server down so that a synchronisation lasts seconds.
async function synchronisationControls() {
  const port = await freePorts();
  let serverPort;
  do serverPort = await freePorts(); while (Math.abs(serverPort - port) <= 2);
  const base = `http://localhost:${port + 2}`;

  // The server's folder: 16 files of 384 KiB, a changed file and nothing of the client's
  // own old file and folder.
  const serverDir = path.join(root, 'server2', 'velik');
  const fileSize = 384 * 1024;
  const names = Array.from({ length: 16 }, (_, i) => `f${String(i + 1).padStart(2, '0')}.bin`);
  fs.mkdirSync(path.join(serverDir, 'podaci'), { recursive: true });
  for (const n of names) fs.writeFileSync(path.join(serverDir, 'podaci', n), Buffer.alloc(fileSize, n));
  fs.writeFileSync(path.join(serverDir, 'zajednicka.txt'), 'nova verzija');
  const workDir = path.join(root, 'work2', 'velik');
  fs.mkdirSync(path.join(workDir, 'mapa-stara'), { recursive: true });
  fs.writeFileSync(path.join(workDir, 'mapa-stara', 'x.txt'), 'x');
  fs.writeFileSync(path.join(workDir, 'stari.txt'), 'stari');
  fs.writeFileSync(path.join(workDir, 'zajednicka.txt'), 'stara verzija');
  fs.utimesSync(path.join(workDir, 'zajednicka.txt'), 1500000000, 1500000000);

  const env = homeEnv(path.join(root, 'home2'));
  const program = installClient(path.join(root, 'client2'), port, 'velik', workDir);
  const settingsFile = path.join(root, 'client2', 'svClient.xml');
  const login = await configureAddress(start(program, [], env));  // its first synchronisation finds no server
  start(path.join(binDir, 'sorvana-server'), ['--listen', `127.0.0.1:${serverPort}`, `velik=${serverDir}`], env);
  const proxy = slowProxy(port, serverPort, 32 * 1024, 40);

  const context = await launchBrowser();
  const page = context.pages()[0] || await context.newPage();
  const cell = async (label) => {
    const cells = page.locator(`tr:has(td > p:text-is("${label}")) td`);
    return (await cells.count()) ? (await cells.last().innerText()).trim() : null;
  };
  const refreshes = async () => (await page.locator('meta[http-equiv=refresh]').count()) > 0;
  const button = (value) => page.locator(`input[type=submit][value="${value}"]`);
  const events = async (filter) => {
    await page.goto(`${base}/eventlog.html?filter=${encodeURIComponent(filter)}`);
    return page.$$eval('tr', (trs) => trs.map((tr) => Array.from(tr.querySelectorAll('td')).map((td) => td.innerText.trim()))
      .filter((c) => c.length === 3 && /^\d+$/.test(c[0])).map((c) => c[2]));
  };
  const shoot = async (name) => { if (screenshots) await page.screenshot({ path: path.join(screenshots, name), fullPage: true }); };
  const arrived = () => names.filter((n) => fs.existsSync(path.join(workDir, 'podaci', n)));
  const setPollInterval = async (minutes) => {
    await page.goto(`${base}/postavke.html`);
    await page.fill('input[name=pollinterval]', String(minutes));
    await page.click('input[type=submit][value="Postavi"]');
  };

  try {
    await page.goto(login);
    check('the status page offers "Pauziraj" and "Pregled"', await button('Pauziraj').count() === 1 && await button('Pregled').count() === 1);
    check('no progress and no refresh while idle', await cell('Projekt') === null && !(await refreshes()));
    check('the state is shown', await cell('Stanje') === 'Aktivno', await cell('Stanje'));
    await shoot('status-idle.png');

    // The preview lists every change of the prepared folder and changes nothing.
    const before = snapshot(workDir);
    await button('Pregled').click();
    check('"Pregled" opens the preview page', page.url().endsWith('/pregled.html'), page.url());
    const listed = await page.$$eval('tr', (trs) => trs.map((tr) => Array.from(tr.querySelectorAll('td')).map((td) => td.innerText.trim())).filter((c) => c.length === 2));
    const has = (label, value) => listed.some(([l, v]) => l === label && v === value);
    check('the preview lists the new folder and files', has('Nova mapa', '\\podaci') && names.every((n) => has('Nova datoteka', `\\podaci\\${n}`)), JSON.stringify(listed));
    check('the preview lists the replaced file', has('Zamjena datoteke', '\\zajednicka.txt'));
    check('the preview lists the deleted file and folder', has('Brisanje datoteke', '\\stari.txt') && has('Brisanje mape', '\\mapa-stara'));
    check('the preview counts the changes', has('Broj izmjena', `${names.length + 4} (novo ${names.length + 1}, zamjena 1, brisanje 2)`), JSON.stringify(listed));
    check('the preview changed nothing on disk', JSON.stringify(snapshot(workDir)) === JSON.stringify(before));
    check('the server was asked for the task list and for no file', proxy.sent.some((t) => t.includes('Sync velik')) && !proxy.sent.some((t) => t.includes('GetFile')));
    await shoot('preview.png');

    // "Sinhroniziraj" from the preview: the status page refreshes itself and shows progress.
    await button('Sinhroniziraj').click();
    check('"Sinhroniziraj" on the preview returns to the status page', page.url().endsWith('/index.html'), page.url());
    await until('progress on the status page', async () => await cell('Primljeno') !== null, 60);
    check('the running synchronisation refreshes the page', await refreshes());
    check('progress names the project', await cell('Projekt') === 'velik (1 od 1)', await cell('Projekt'));
    check('progress names the task', /^\d+ od 20$/.test(await cell('Zadatak')), await cell('Zadatak'));
    check('progress names the file', (await cell('Putanja')).startsWith('\\podaci\\f'), await cell('Putanja'));
    check('progress counts the bytes', / od 393216 bajtova \(\d+ %\)$/.test(await cell('Primljeno')), await cell('Primljeno'));
    await shoot('status-progress.png');

    // Pause: the run ends after the file under way, and the button reads "Nastavi".
    await button('Pauziraj').click();
    check('"Pauziraj" becomes "Nastavi"', await button('Nastavi').count() === 1 && await button('Pauziraj').count() === 0);
    await until('the stop', async () => { await page.goto(`${base}/index.html`); return await cell('Stanje') === 'Pauzirano'; }, 60);
    check('after the stop the progress and the refresh are gone', await cell('Projekt') === null && !(await refreshes()));
    await shoot('status-paused.png');
    const part = arrived();
    check('the run stopped part way with whole files', part.length > 0 && part.length < names.length &&
      part.every((n) => fs.statSync(path.join(workDir, 'podaci', n)).size === fileSize), String(part));
    check('the event log says the run stopped', (await events('zaustavljena')).some((t) => t.startsWith('Sinhronizacija zaustavljena zbog pauze nakon')));

    // While paused neither the poll interval nor "Sinhroniziraj" starts a synchronisation.
    const connections = proxy.sent.length;
    await setPollInterval(0);
    await new Promise((r) => setTimeout(r, 2000));  // ten ticks of the poll loop
    check('a poll interval of 0 starts nothing while paused', proxy.sent.length === connections);
    await page.goto(`${base}/index.html`);
    await button('Sinhroniziraj').click();
    check('"Sinhroniziraj" is refused while paused', (await page.content()).includes('Sinhronizacija je pauzirana; za nastavak pritisnite Nastavi'));
    check('the refusal is in the event log', (await events('je pauzirana')).length === 1);

    // Resume: the overdue poll synchronises the rest at once.
    await page.goto(`${base}/index.html`);
    await button('Nastavi').click();
    check('"Nastavi" becomes "Pauziraj"', await button('Pauziraj').count() === 1);
    await until('the rest of the files', async () => arrived().length === names.length &&
      (await events('velik')).some((t) => t.startsWith('Sinkronizacija projekta velik')), 60);
    await setPollInterval(60);
    await until('the end of the synchronisations', async () => { await page.goto(`${base}/index.html`); return await cell('Stanje') === 'Aktivno'; }, 60);
    check('after the synchronisation the progress and the refresh are gone', await cell('Projekt') === null && !(await refreshes()));
    check('the folder mirrors the server', !fs.existsSync(path.join(workDir, 'stari.txt')) &&
      fs.readFileSync(path.join(workDir, 'zajednicka.txt'), 'latin1') === 'nova verzija');
    check('the settings file was written', fs.readFileSync(settingsFile, 'latin1').includes('<defaultpollinterval>60<'));
  } finally {
    await context.close();
    proxy.server.close();
  }
}

// The mass-deletion guard: a project whose server folder was emptied is held on the
// status page with its plan and "Potvrdi". Its screenshot stays in the build folder.
async function heldProject() {
  const port = await freePorts();
  // The session cookie belongs to the host the login address names.
  const base = `http://localhost:${port + 2}`;
  const serverDir = path.join(root, 'server3', 'drumel');
  fs.mkdirSync(serverDir, { recursive: true });
  const names = Array.from({ length: 60 }, (_, i) => `f${i}.txt`);
  for (const n of names) fs.writeFileSync(path.join(serverDir, n), n);
  const workDir = path.join(root, 'work3', 'drumel');
  const env = homeEnv(path.join(root, 'home3'));
  start(path.join(binDir, 'sorvana-server'), ['--listen', `127.0.0.1:${port}`, `drumel=${serverDir}`], env);
  await until('the server', () => new Promise((resolve) => {
    const s = net.connect(port, '127.0.0.1', () => { s.destroy(); resolve(true); });
    s.on('error', () => resolve(false));
  }));
  const login = await configureAddress(start(installClient(path.join(root, 'client3'), port, 'drumel', workDir), [], env));
  const local = () => (fs.existsSync(workDir) ? fs.readdirSync(workDir).length : 0);
  await until('the first synchronisation', async () => local() === names.length);
  for (const n of names) fs.rmSync(path.join(serverDir, n));

  const shots = screenshots || path.join(binDir, '..', 'browser');
  fs.mkdirSync(shots, { recursive: true });
  const context = await launchBrowser();
  const page = context.pages()[0] || await context.newPage();
  const heldForm = page.locator('form:has(input[name=projekt][value="drumel"])');
  try {
    await page.goto(login);
    await page.click('input[type=submit][value="Sinhroniziraj"]');
    await until('the held project', async () => { await page.goto(`${base}/index.html`); return await heldForm.count() === 1; }, 60);
    check('the held project has its row', await page.locator('p:text-is("Projekt drumel čeka potvrdu")').count() === 1);
    const removals = await page.locator('tr:has(td > p:text-is("Uklanjanje")) td').last().innerText();
    check('the row says how many files of how many', removals.trim() === '60 od 60 datoteka', removals);
    check('the row offers "Pregled" and "Potvrdi"', await heldForm.locator('input[value="Pregled"]').count() === 1 &&
      await heldForm.locator('input[value="Potvrdi"]').count() === 1);
    check('nothing was removed', local() === names.length);
    await page.screenshot({ path: path.join(shots, 'status-held.png'), fullPage: true });

    await heldForm.locator('input[value="Pregled"]').click();
    check('"Pregled" shows the held plan', page.url().endsWith('/zadrzano.html?projekt=drumel') &&
      await page.locator('td > p:text-is("Brisanje datoteke")').count() === names.length, page.url());
    await page.locator('input[value="Potvrdi"]').click();
    check('"Potvrdi" returns to the status page', page.url().endsWith('/index.html'), page.url());
    await until('the confirmed run', async () => local() === 0, 60);
    await page.goto(`${base}/index.html`);
    check('the held row is gone', await heldForm.count() === 0);
  } finally {
    await context.close();
  }
}

try {
  await main();
  await synchronisationControls();
  await heldProject();
} catch (e) {
  check('browser test', false, e.stack || String(e));
} finally {
  await stopAll();
  fs.rmSync(root, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
