#!/bin/sh
# Stands in for cmake/sign-binary.sh where the installer's own signing fails: any other file (the
# uninstaller inside it) passes, the installer is removed and the signing fails, as sign-binary.sh
# does with a binary it could not sign.
#   failing-signature.sh INSTALLER FILE
[ "$2" != "$1" ] && exit 0
rm -f "$2"
echo "failing-signature.sh: signing $2 failed" >&2
exit 1
