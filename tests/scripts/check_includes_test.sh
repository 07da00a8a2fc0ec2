#!/usr/bin/env bash
# The include check on small trees: each case adds one include to a file of a clean tree and
# says whether the check must refuse it, and the reason it must give.
set -uo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_tree() {
  rm -rf "$work/src"
  for f in core/Clock interfaces/Session sim/Rig datalog/LogFormat cli/Cli gui/kit/Application \
           gui/dialogs/frmPort gui/windows/frmAlarms gui/windows/fmCalibration gui/main/frmForm1; do
    mkdir -p "$work/src/$(dirname "$f")"
    printf '#pragma once\n' > "$work/src/$f.h"
    printf '#include "%s.h"\n' "$f" > "$work/src/$f.cpp"
  done
}

failed=0
# file | line added | expected exit | expected text in the output
while IFS='|' read -r file added status text; do
  make_tree
  printf '%s\n' "$added" >> "$work/src/$file"
  out=$("$check" "$work/src" 2>&1); got=$?
  if [ "$got" != "$status" ] || [[ $out != *"$text"* ]]; then
    echo "FAIL: $file + '$added': exit $got (want $status), output: $out (want: $text)"
    failed=1
  fi
done <<'CASES'
gui/windows/frmAlarms.cpp|#include "gui/main/frmForm1.h"|1|src/gui/windows/frmAlarms.cpp:2: includes "gui/main/frmForm1.h": gui/windows may not include gui/main
gui/kit/Application.cpp|#include "gui/dialogs/frmPort.h"|1|gui/kit may not include gui/dialogs
gui/dialogs/frmPort.cpp|#include "gui/windows/frmAlarms.h"|1|gui/dialogs may not include gui/windows
gui/windows/fmCalibration.cpp|#include "gui/windows/frmAlarms.h"|1|a window includes another window
core/Clock.cpp|#include "interfaces/Session.h"|1|core may not include interfaces
interfaces/Session.cpp|#include "sim/Rig.h"|1|interfaces may not include sim
datalog/LogFormat.cpp|#include <QString>|1|src/datalog/LogFormat.cpp:2: includes "QString": Qt in a folder
cli/Cli.cpp|#include <QtCore/QString>|1|Qt in a folder
gui/main/frmForm1.cpp|#include "gui/windows/frmAlarms.h"|0|
gui/windows/frmAlarms.cpp|#include "gui/kit/Application.h"|0|
sim/Rig.cpp|#include "interfaces/Session.h"|0|
gui/kit/Application.cpp|#include <QWidget>|0|
CASES

# A new folder must be given its place before anything in it is accepted.
make_tree
mkdir -p "$work/src/extra" && printf '#include "core/Clock.h"\n' > "$work/src/extra/X.cpp"
out=$("$check" "$work/src" 2>&1) && { echo "FAIL: a folder outside the layers was accepted"; failed=1; }
[[ $out == *"folder extra has no place in the layers"* ]] || { echo "FAIL: $out"; failed=1; }
exit $failed
