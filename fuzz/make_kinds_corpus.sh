#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes the seeds of fuzz_kinds into fuzz/corpus/kinds/ with Debian's own
# archivers (scripts/deps.sh --test installs them): small archives of each
# kind the reader reads, with the description at the root, in a folder,
# encrypted, or missing. Run it again after changing it and commit what it
# writes:  fuzz/make_kinds_corpus.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/corpus/kinds"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'GREAT GAME v1.0\r\n  for DOS\r\n' >FILE_ID.DIZ
printf 'read me\r\n' >readme.txt
mkdir -p sub
printf 'not the root one\r\n' >sub/file_id.diz
# Fixed times, so that the seeds come out the same on every run.
touch -d '1998-09-16 14:30:00' FILE_ID.DIZ readme.txt sub/file_id.diz sub

seed() { # name, then the command that writes "$work/seed"
  local name=$1
  shift
  rm -f seed seed.*
  "$@" >/dev/null
  cp "$(ls seed seed.* 2>/dev/null | head -1)" "$out/$name"
}
tarball() { tar --mtime='1998-09-16 14:30:00' --owner=0 --group=0 --numeric-owner "$@"; }

seed 7z 7z a -t7z -bd -y seed.7z FILE_ID.DIZ readme.txt
seed 7z-in-a-folder 7z a -t7z -bd -y seed.7z sub/file_id.diz readme.txt
seed 7z-encrypted 7z a -t7z -bd -y -psecret -mhe=off seed.7z FILE_ID.DIZ
seed 7z-encrypted-names 7z a -t7z -bd -y -psecret -mhe=on seed.7z FILE_ID.DIZ
seed lzh lha aq seed.lzh FILE_ID.DIZ readme.txt
seed lzh-no-description lha aq seed.lzh readme.txt
seed cab gcab -c seed.cab FILE_ID.DIZ readme.txt
seed cab-compressed gcab -c -z seed.cab FILE_ID.DIZ readme.txt
seed tar tarball -cf seed.tar FILE_ID.DIZ sub readme.txt
seed tar-gz tarball -czf seed.tgz FILE_ID.DIZ readme.txt
seed tar-bz2 tarball -cjf seed.tbz FILE_ID.DIZ readme.txt
seed tar-xz tarball -cJf seed.txz FILE_ID.DIZ readme.txt
