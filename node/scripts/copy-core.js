'use strict';

// prepack: a tarball has no repository around it, so it carries the library's sources in core/
// (binding.gyp prefers core/ when present). postpack (--clean) removes them again, so that
// builds in the source tree keep compiling the repository's own files.

const fs = require('fs');
const path = require('path');

const pkg = path.join(__dirname, '..');
const core = path.join(pkg, 'core');
const repo = path.join(pkg, '..');

fs.rmSync(core, { recursive: true, force: true });
if (process.argv.includes('--clean')) process.exit(0);

for (const dir of ['src', 'include']) {
  if (!fs.existsSync(path.join(repo, dir))) {
    console.error(`copy-core: ${path.join(repo, dir)} not found; pack from the repository's node/`);
    process.exit(1);
  }
}
const isSource = (file) => /\.(h|cpp|def)$/.test(file) || fs.statSync(file).isDirectory();
fs.cpSync(path.join(repo, 'src'), path.join(core, 'src'), { recursive: true, filter: isSource });
fs.cpSync(path.join(repo, 'include'), path.join(core, 'include'), { recursive: true, filter: isSource });
