#!/bin/sh
# Stand-in for the site's share fix-up script: it only says what it was given.
echo "FixW2KShares.cmd: share=$1 path=$2 parent=$3"
