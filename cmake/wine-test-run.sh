#!/bin/sh
# Runs a Windows test program under Wine in the build's own prefix: quiet, without the Mono and
# Gecko prompts. The files it makes are their owner's only (umask 077), as a Windows profile's
# files are: Wine keeps no access lists on files and reports one made from the Unix mode bits,
# in which a file others may read by its mode is one Everyone may read (and a password file is
# refused). Wine's server makes the files, with its own umask: this one when it starts the
# server, else the one scripts/test-windows.sh starts the same way.
# Usage: wine-test-run.sh PREFIX WINE PROGRAM [ARGUMENTS...]
prefix=$1
shift
umask 077
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= exec "$@"
