#!/bin/sh
# The strip that cpack runs on the packaged programs: as Debian's dh_strip does, it also drops
# the .comment and .note sections, which nothing reads at run time.
exec strip --remove-section=.comment --remove-section=.note "$@"
