#!/bin/sh
# Writes a request capture file byte by byte, integers most significant byte
# first, independently of any build: the program must save it back unchanged.
# Usage: make-seed.sh OUTFILE
set -e
LC_ALL=C
export LC_ALL
[ $# -eq 1 ] || { echo "usage: make-seed.sh OUTFILE" >&2; exit 2; }

byte() { printf "\\$(printf %03o "$1")"; }
int() { byte $(($1 >> 24 & 255)); byte $(($1 >> 16 & 255)); byte $(($1 >> 8 & 255)); byte $(($1 & 255)); }
str() { int ${#1}; printf %s "$1"; }
# N bytes cycling through every byte value, starting at FIRST.
pattern() { i=0; while [ $i -lt "$1" ]; do byte $(((i + $2) & 255)); i=$((i + 1)); done; }

{
  str "ENVC2.0"
  # The 20 request variables, in file order; some empty as an absent one is.
  for v in "web/1.0" "dvr.local" "CGI/1.1" "HTTP/1.1" "80" "POST" "/live" \
           "/srv/live" "/cgi-bin/zelbrowser.cgi" "a=1&b=%41" "" "192.168.0.20" \
           "Basic" "admin" "" "multipart/form-data" "text/html" "probe" "" "lang=2"; do
    str "$v"
  done
  # Content length 0x01020304: all four bytes differ, so any swap shows.
  int 16909060
  # attr, value, file name, content type, value length, file flag [, contents]
  str "id";     str "0A1B2C3D4E5"; str "";         str "";                         int 11;   int 0
  str "upload"; str "";            str "clip.bin"; str "application/octet-stream"; int 1030; int 1
  pattern 1030 0
  str "upload"; str "";            str "b.txt";    str "text/plain";               int 3;    int 1
  pattern 3 200
  str "note";   str "a b&c";       str "";         str "";                         int 5;    int 0
} >"$1"
