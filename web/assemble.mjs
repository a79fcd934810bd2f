// Inlines the page: page.html with page.css, parse.js and page.js, and the
// worker (worker.js and parse.js before the core, comserial.js with its
// WebAssembly) as a text script the page starts from a blob. The Content-Security-Policy
// names the inline script and style by hash and allows no connection.
//
//   node assemble.mjs <web source dir> <comserial.js> <comserial.html>
import {createHash} from 'node:crypto';
import {readFileSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';

const [dir, core, out] = process.argv.slice(2);
const read = (p) => readFileSync(p, 'utf8');
const hash = (s) => `'sha256-${createHash('sha256').update(s, 'utf8').digest('base64')}'`;

const style = read(join(dir, 'page.css'));
const script = read(join(dir, 'parse.js')) + '\n' + read(join(dir, 'page.js'));
// One function scope for the worker and the core: worker.js's own fetch
// then hides the worker's.
const worker = '(function () {\n' + read(join(dir, 'worker.js')) + '\n' + read(join(dir, 'parse.js')) + '\n' + read(core) + '\n})();\n';
for (const [name, text] of [['page script', script], ['worker', worker], ['style', style]]) {
  if (/<\/(script|style)|<!--/i.test(text)) throw new Error(`the ${name} holds text that would end its element`);
}
const csp = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  'worker-src blob:',
  `style-src ${hash(style)}`,
  "connect-src 'none'",
  "img-src 'none'",
  "form-action 'none'",
  "base-uri 'none'",
].join('; ');
let page = read(join(dir, 'page.html'));
for (const [key, text] of [['@CSP@', csp], ['@STYLE@', style], ['@SCRIPT@', script], ['@WORKER@', worker]]) {
  const at = page.indexOf(key);
  if (at < 0) throw new Error(`page.html has no ${key}`);
  page = page.slice(0, at) + text + page.slice(at + key.length);
}
writeFileSync(out, page);
