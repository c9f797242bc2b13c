'use strict';

// Builds the addon against the headers of the Node.js that runs this script, never downloaded
// ones: they ship with Node in <prefix>/include/node (Debian's nodejs-dev puts them in
// /usr/include/node). QUORIX_NODEDIR overrides the prefix.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

const prefix = process.env.QUORIX_NODEDIR || path.dirname(path.dirname(process.execPath));
const header = path.join(prefix, 'include', 'node', 'node_api.h');
if (!fs.existsSync(header)) {
  console.error(`quorix-sql-parser: no Node.js headers at ${path.dirname(header)}; install them ` +
    '(Debian: apt-get install nodejs-dev or libnode-dev) or set QUORIX_NODEDIR to the prefix ' +
    'that holds include/node');
  process.exit(1);
}

const gyp = require.resolve('node-gyp/bin/node-gyp.js');
const args = [gyp, 'rebuild', `--nodedir=${prefix}`, '-j', process.env.QUORIX_JOBS || '2'];
if (!process.argv.includes('--verbose')) args.push('--silent');
const r = spawnSync(process.execPath, args, { cwd: path.join(__dirname, '..'), stdio: 'inherit' });
process.exit(r.status === null ? 1 : r.status);
