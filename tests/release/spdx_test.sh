#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# scripts/spdx.sh on a small repository of its own: --check lists exactly the
# files without the header and fails; a run adds it in each file's comment
# syntax, "#!" and "<?xml" lines first; a second run changes nothing; binary,
# data and document files are left alone; a file of an unknown kind fails.
# Run by the package stage (needs git).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT
fail() { echo "spdx_test: $*" >&2; exit 1; }

cd "$repo"
git init -q .
mkdir -p scripts src fuzz/corpus
cp "$here/scripts/spdx.sh" scripts/
printf 'int main() { return 0; }\n' >src/main.cpp
printf '#!/bin/sh\necho hi\n' >scripts/hello.sh
printf '#!/usr/bin/env bash\ntrue\n' >scripts/noext
chmod +x scripts/noext
printf 'add_library(x x.cpp)\n' >src/CMakeLists.txt
printf '<?xml version="1.0"?>\n<svg/>\n' >src/icon.svg
printf '# SPDX-License-Identifier: GPL-3.0-or-later\nset(A 1)\n' >src/half.cmake
printf '// SPDX-License-Identifier: GPL-3.0-or-later\n// Copyright (C) 2026 The ZELK developers\n#pragma once\n' >src/done.h
printf '# Title\n' >README.md
printf 'seed text\n' >fuzz/corpus/seed1
printf '\0\1\2binary' >src/blob.rom
git add -A

out=$(scripts/spdx.sh --check 2>&1) && fail "--check passed with files lacking the header"
expected="scripts/hello.sh scripts/noext src/CMakeLists.txt src/half.cmake src/icon.svg src/main.cpp"
[ "$(grep -v '^spdx:' <<<"$out" | sort | tr '\n' ' ' | sed 's/ $//')" = "$expected" ] \
  || fail "--check listed: $out"

before_done=$(cat src/done.h)
scripts/spdx.sh >/dev/null
scripts/spdx.sh --check >/dev/null || fail "--check still fails after adding the headers"
[ "$(head -n 2 src/main.cpp)" = $'// SPDX-License-Identifier: GPL-3.0-or-later\n// Copyright (C) 2026 The ZELK developers' ] \
  || fail "src/main.cpp: $(head -n 3 src/main.cpp)"
[ -z "$(sed -n 3p src/main.cpp)" ] || fail "src/main.cpp: no blank line after the header"
[ "$(sed -n 4p src/main.cpp)" = 'int main() { return 0; }' ] || fail "src/main.cpp lost its code"
[ "$(head -n 3 scripts/hello.sh)" = $'#!/bin/sh\n# SPDX-License-Identifier: GPL-3.0-or-later\n# Copyright (C) 2026 The ZELK developers' ] \
  || fail "scripts/hello.sh: $(head -n 3 scripts/hello.sh)"
[ "$(sed -n 2p scripts/noext)" = '# SPDX-License-Identifier: GPL-3.0-or-later' ] || fail "scripts/noext: $(cat scripts/noext)"
[ -x scripts/noext ] || fail "scripts/noext lost its execute bit"
[ "$(sed -n 2p src/icon.svg)" = '<!-- SPDX-License-Identifier: GPL-3.0-or-later -->' ] || fail "src/icon.svg: $(cat src/icon.svg)"
[ "$(head -n 1 src/icon.svg)" = '<?xml version="1.0"?>' ] || fail "the XML declaration must stay first"
[ "$(cat src/half.cmake)" = $'# SPDX-License-Identifier: GPL-3.0-or-later\n# Copyright (C) 2026 The ZELK developers\nset(A 1)' ] \
  || fail "src/half.cmake: $(cat src/half.cmake)"
[ "$(cat src/done.h)" = "$before_done" ] || fail "a file with the header was changed"
[ "$(cat README.md)" = '# Title' ] || fail "a document got a header"
[ "$(cat fuzz/corpus/seed1)" = 'seed text' ] || fail "a corpus file got a header"
sum=$(git ls-files | sort | xargs cat | sha256sum)
scripts/spdx.sh >/dev/null
[ "$(git ls-files | sort | xargs cat | sha256sum)" = "$sum" ] || fail "a second run changed files"

printf 'some text\n' >src/notes.weird
git add src/notes.weird
scripts/spdx.sh --check >/dev/null 2>&1 && fail "--check passed a file of an unknown kind"
scripts/spdx.sh >/dev/null 2>&1 && fail "a run passed a file of an unknown kind"
echo "spdx_test: passed"
