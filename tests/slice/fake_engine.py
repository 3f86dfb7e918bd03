#!/usr/bin/env python3
"""Stands in for the slicing engine in the slicing-process tests. FAKE_ENGINE_MODE picks the
behaviour: ok, fail, crash, hang, nom25."""
import os
import signal
import sys
import time

args = sys.argv[1:]
mode = os.environ.get('FAKE_ENGINE_MODE', 'ok')
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, 'args.txt'), 'w') as f:
    f.write('\n'.join(args))
out = args[args.index('-o') + 1]


def say(text):
    sys.stdout.write(text)
    sys.stdout.flush()


say('P:DiameterCompensation:0:120\n')
if mode == 'hang':
    time.sleep(120)
# A progress line cut in two by the pipe.
say('P:sk')
time.sleep(0.05)
say('in:30:120\n')
if mode == 'fail':
    say('BrevEngine failed - the mesh is empty\n')
    sys.exit(3)
if mode == 'crash':
    os.kill(os.getpid(), signal.SIGKILL)
last = 'M84' if mode == 'nom25' else 'M25'
with open(out, 'w') as f:
    f.write(';Print time:\t0:01:00\n;Filament:\t12.5mm\n;Start GCode\n'
            'M104 S{temperature}\nM140 S{temperature}\nM109 S{temperature}\nM190 S{temperature}\n'
            'G1 X10 Y10 Z0.2 F1200\n;End GCode\n' + last + '\n')
say('P:export:120:120\n')
