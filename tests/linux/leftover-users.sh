#!/bin/sh
# Runs after the tests that make throw-away users, however they ended: removes
# the users (bwcu<pid>) and groups (bwcg<pid>) of test processes that are gone, with their homes,
# cgroups and namespaces, and fails if there were any.
[ "$(id -u)" = 0 ] || { echo "not root: nothing was made"; exit 0; }
left=""
for name in $(getent passwd | cut -d: -f1 | grep -E '^bwcu[0-9]+$'); do
  pid=${name#bwcu}
  [ -d "/proc/$pid" ] && continue
  pkill -KILL -u "$name" 2>/dev/null
  userdel --force "$name" 2>/dev/null
  rm -rf --one-file-system "/home/$name"
  ip netns del "$name" 2>/dev/null
  left="$left $name"
done
# Groups the access tests make (bwcg<pid>).
for name in $(getent group | cut -d: -f1 | grep -E '^bwcg[0-9]+$'); do
  pid=${name#bwcg}
  [ -d "/proc/$pid" ] && continue
  groupdel "$name" 2>/dev/null
  left="$left $name"
done
[ -z "$left" ] || { echo "left behind (now removed):$left"; exit 1; }
echo "nothing left"
