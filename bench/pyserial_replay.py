#!/usr/bin/python3
"""The simplest program that does the bridge's work on the line, for zelmo-latency to time beside
it: send a command, read the register's reply, send the next. The commands are those of a real
zelmo job, recorded by the harness, one per line in hex. Usage: pyserial_replay.py DEVICE FILE"""
import sys

import serial

with open(sys.argv[2]) as f:
    commands = [bytes.fromhex(line) for line in f.read().split()]
line = serial.Serial(sys.argv[1], 9600, rtscts=True, timeout=None)
for command in commands:
    line.write(command)
    line.read(1)  # the register's ACK
line.close()
