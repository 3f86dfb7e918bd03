#!/bin/sh
# Stands in for the slicing engine in the slicing-process tests. FAKE_ENGINE_MODE picks the
# behaviour: ok, fail, crash, hang, nom25.
here=$(dirname "$0")
printf '%s\n' "$@" > "$here/args.txt"
out=
while [ $# -gt 0 ]; do
  if [ "$1" = "-o" ]; then out=$2; fi
  shift
done
mode=${FAKE_ENGINE_MODE:-ok}

printf 'P:DiameterCompensation:0:120\n'
if [ "$mode" = hang ]; then exec sleep 120; fi
# A progress line cut in two by the pipe.
printf 'P:sk'
sleep 0.05
printf 'in:30:120\n'
if [ "$mode" = fail ]; then printf 'BrevEngine failed - the mesh is empty\n'; exit 3; fi
if [ "$mode" = crash ]; then kill -9 $$; fi
last=M25
if [ "$mode" = nom25 ]; then last=M84; fi
printf ';Print time:\t0:01:00\n;Filament:\t12.5mm\n;Start GCode\nM104 S{temperature}\nM140 S{temperature}\nM109 S{temperature}\nM190 S{temperature}\nG1 X10 Y10 Z0.2 F1200\n;End GCode\n%s\n' "$last" > "$out"
printf 'P:export:120:120\n'
